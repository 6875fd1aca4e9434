// Integrations that live outside the product's folder and keys: the web-reputation plug-ins of
// the browsers and the Sidebar gadget, which only the product's own base library knows how to
// remove, and the configuration file of the home-server 2011 console add-in.
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/processes.h"

namespace zp {
namespace {

constexpr const char16_t* kBaseLibrary = u"zohBase.dll";

// The base library's exports, under the decorated names of the product's compiler.
constexpr const char* kIsBrowserInstalled = "_bas_hlp_WebRepIsBrowserInstalled@4";
constexpr const char* kUninstallPlugin = "_basWebRepUninstallPlugin@4";
constexpr const char* kKillSidebar = "_basKillSidebar@8";
constexpr const char* kUninstallGadget = "_basUninstallGadget@0";
constexpr const char* kStartSidebar = "_basStartSidebar@0";

using BrowserExport = DWORD(ZP_STDCALL*)(DWORD browser);
using KillSidebarExport = DWORD(ZP_STDCALL*)(DWORD zero, DWORD session);
using PlainExport = DWORD(ZP_STDCALL*)();

struct Browser {
  DWORD id;
  std::u16string_view name;
};

constexpr Browser kBrowsers[] = {
    {1, u"Internet Explorer"},
    {2, u"Firefox"},
    {3, u"Chrome"},
};
constexpr DWORD kBrowserInstalled = 2;

template <typename Fn>
Fn Export(const UniqueModule& library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<Fn>(const_cast<void*>(Sys().GetProcAddress(library.get(), name)));
}

std::u16string Widened(const char* name) {
  return std::u16string(name, name + std::char_traits<char>::length(name));
}

// One call into the base library under the exception guard; a crash is logged and the step goes
// on as if the call had answered `fallback`.
template <typename Invoke>
DWORD CallBase(const std::u16string& library, const char* name, DWORD fallback, Invoke invoke) {
  struct Guarded {
    Invoke invoke;
    DWORD result;
    void operator()() { result = invoke(); }
  } call{invoke, fallback};
  DWORD exception = 0;
  if (!CallProductCode(call, &exception)) {
    LogCaughtException(library, Widened(name), exception, CAT_GENERAL);
    return fallback;
  }
  return call.result;
}

}  // namespace

void RemoveBrowserPlugins() {
  const std::u16string path = PathJoin(g_product.productFolder, kBaseLibrary);
  UniqueModule library(Sys().LoadLibraryExW(path.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) return;  // the product's folder is gone: nothing to ask
  auto isInstalled = Export<BrowserExport>(library, kIsBrowserInstalled);
  auto uninstall = Export<BrowserExport>(library, kUninstallPlugin);
  if (isInstalled == nullptr || uninstall == nullptr) {
    g_log.Print(LOG_VRB, CAT_GENERAL,
                u"Couldn't find export of basWebRepUninstallPlugin or "
                u"bas_hlp_WebRepIsBrowserInstalled");
    return;
  }
  for (const Browser& browser : kBrowsers) {
    // Only 2 means installed.
    if (CallBase(path, kIsBrowserInstalled, 0, [&] { return isInstalled(browser.id); }) !=
        kBrowserInstalled) {
      g_log.Print(LOG_VRB, CAT_GENERAL, u"Browser \"%s\" not found", browser.name);
      continue;
    }
    DWORD result = CallBase(path, kUninstallPlugin, 0, [&] { return uninstall(browser.id); });
    if (result != 0)
      g_log.Print(LOG_VRB, CAT_GENERAL, u"basWebRepUninstallPlugin for \"%s\" returned 0x%08X",
                  browser.name, result);
  }
}

void RemoveSidebarGadget() {
  const std::u16string path = g_setup.Expand(u"%ROPATH%", kBaseLibrary);
  UniqueModule library(Sys().LoadLibraryExW(path.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
  auto uninstallGadget = Export<PlainExport>(library, kUninstallGadget);
  auto killSidebar = Export<KillSidebarExport>(library, kKillSidebar);
  auto startSidebar = Export<PlainExport>(library, kStartSidebar);
  if (library && (!uninstallGadget || !killSidebar || !startSidebar))
    g_log.Print(LOG_VRB, CAT_GENERAL, u"Couldn't find exports for gadget uninstalling");

  // Only the Sidebar of this process's session; a crashed stop counts as not stopped.
  DWORD stopped = 0;
  if (killSidebar != nullptr) {
    DWORD session = 0xFFFFFFFF;
    Sys().ProcessIdToSessionId(Sys().GetCurrentProcessId(), &session);
    stopped = CallBase(path, kKillSidebar, 0, [&] { return killSidebar(0, session); });
  }
  if (uninstallGadget != nullptr)
    CallBase(path, kUninstallGadget, 0, [&] { return uninstallGadget(); });

  // Also without the library: the proxy and the gadget's folder go anyway.
  if (g_setup.IsPlatform(PLAT_WIN64_X64))
    UnregisterServer64(PathJoin(g_product.productFolder, u"OstrelGUIProxy64.dll"));
  else
    UnregisterServerDll(PathJoin(g_product.productFolder, u"OstrelGUIProxy.dll"));
  DeleteTree(g_setup.Expand(u"%PRGFILES%", u"Windows Sidebar\\Shared Gadgets\\zorSidebar.gadget"),
             u"*.*", true, true, false);

  if (stopped != 0 && startSidebar != nullptr)
    CallBase(path, kStartSidebar, 0, [&] { return startSidebar(); });
}

void RemoveHomeServerAddin() {
  // No macro of ours: environment expansion, which leaves the text as it is where the variable
  // is unknown (32-bit Windows).
  constexpr const char16_t* kAddin =
      u"%ProgramW6432%\\Windows Server\\Bin\\Addins\\Primary\\OstrelWhsAddinConfig.addin";
  const std::u16string path = g_setup.Expand(kAddin);
  if (path.empty()) {
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Unable to expand the path to WHS 2011 server addin '%s'!",
                kAddin);
    return;
  }
  if (!Files().DeleteFileW(path.c_str()))
    g_log.Print(LOG_MIN, CAT_SYSTEM,
                u"Unable to delete WHS 2011 addin file '%s' with error 0x%08lx!", path,
                Sys().GetLastError());
}

}  // namespace zp
