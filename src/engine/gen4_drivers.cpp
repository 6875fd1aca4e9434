// The generation-4 family below the user level: its mail hooks, its main process and pop-up
// wizard, its TDI and file-system drivers with their load-order entries, the virtual DOS driver
// hooks and the script scanner; and what its server editions hooked into the Microsoft server
// products. Every action runs whatever the others did; each toolkit operation logs its outcome.
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
#include "toolkit/mail_clients.h"
#include "toolkit/processes.h"
#include "toolkit/registry.h"
#include "toolkit/services.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

constexpr std::u16string_view kRunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kWebScanner = u"ostrel! Web Scanner";

std::u16string ServiceKey(std::u16string_view name) {
  return u"SYSTEM\\CurrentControlSet\\Services\\" + std::u16string(name);
}

void DeleteServiceKey(std::u16string_view name) {
  DeleteRegTree(HKEY_LOCAL_MACHINE, ServiceKey(name));
}

// Driver files are deleted under the redirection in force; one in use goes at the restart.
void DeleteDriverFile(const char16_t* macro, const char16_t* file) {
  DeleteSharedFile(g_setup.Expand(macro, file), true, false);
}

struct DriverFile {
  const char16_t* macro;
  const char16_t* file;
  std::u16string_view serviceKey;
};

constexpr DriverFile kDriverFiles[] = {
    {u"%SYS64%", u"drivers\\zavmker4.sys", u"Zavmker4"},
    {u"%SYS%", u"drivers\\zormon.sys", u"zormon"},
    {u"%SYS64%", u"drivers\\zormon2.sys", u"zormon2"},
    {u"%SYS64%", u"drivers\\zortdi.sys", u"zorTdi"},
    {u"%SYS64%", u"drivers\\zormonflt.sys", u"zormonflt"},
    {u"%SYS64%", u"drivers\\zorRdr.sys", u"zorRdr"},
};

constexpr std::u16string_view kMonitorServices[] = {u"Zavmker4", u"zormon", u"zormon2",
                                                    u"zormonflt"};

// The pop-up wizard, started from the product folder with "/a-". The program's path is quoted:
// unquoted, Windows would first try "C:\Program.exe" for a folder below "C:\Program Files".
std::u16string PopupWizardCommand(std::u16string_view productFolder, bool newNames) {
  const std::u16string program =
      PathJoin(productFolder, newNames ? u"zorPopWz.exe" : u"zohPopWz.exe");
  return u"\"" + program + u"\" /a-";
}

// What only the NT family has: the self-protection and blocker drivers (Windows 2000 and
// later), the virtual DOS driver hooks, the file-system monitors and the driver files.
void RemoveNtDrivers() {
  if (g_setup.osVersion.majorVersion >= 5) {
    DeleteDriverFile(u"%SYS64%", u"drivers\\zorSP.sys");
    DeleteServiceKey(u"zorSP");
    RemoveFromGroupOrderList(u"FSFilter Activity Monitor", u"zorFsBlk");
    DeleteDriverFile(u"%SYS64%", u"drivers\\zorFsBlk.sys");
    DeleteServiceKey(u"zorFsBlk");
  }

  RemoveVirtualDeviceDriver(PathJoin(g_product.productFolder, u"zorMonVd.dll"));
  RemoveLinesContaining(u"zormonds.sys", g_setup.Expand(u"%SYS64%", u"config.nt"));

  for (std::u16string_view service : kMonitorServices) RemoveService(service);
  RemoveMonitorFromFilterGroup();

  for (const DriverFile& driver : kDriverFiles) {
    DeleteDriverFile(driver.macro, driver.file);
    DeleteServiceKey(driver.serviceKey);
  }
}

// The Exchange store's virus-scan sink, unregistered by the product's own library.
void UnregisterExchangeSink(const std::u16string& library) {
  // No sink library (or no export): nothing was registered.
  std::optional<EntryPointCall> call = CallEntryPoint(library, "UnregisterCdoSink");
  if (!call) return;
  if (call->crashed)
    LogCaughtException(library, u"UnregisterCdoSink", call->exception, CAT_SYSTEM);
  else if (call->result == S_OK)
    g_log.Print(LOG_VRB, CAT_SYSTEM, u"UnregisterCdoSink success");
  else
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Error calling UnregisterCdoSink");
}

}  // namespace

void RemoveDriversGen4(bool newNames) {
  const std::u16string& productFolder = g_product.productFolder;
  const bool nt = g_setup.IsPlatform(PLAT_NT);

  // Mail client hooks
  RemoveTheBatPlugin();
  DeleteRegValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions",
                 u"ostrel! 4");
  DeleteOutlookExtendDat();
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    DeleteRegValue(root, kRunKey, newNames ? u"zorMaiSv" : u"zohMaiSv");

  // TDI driver, web scanner, redirector
  if (nt) RemoveFromGroupOrderList(u"PNP_TDI", u"zorTdi");
  RemoveService(u"zorTdi");
  DeleteServiceKey(u"zorTdi");
  if (nt) {
    StopService(kWebScanner);
    RemoveService(kWebScanner);
  } else {
    DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, kWebScanner);  // an autostart program there
  }
  RemoveService(u"zorRdr");

  // The product's main process and its pop-up wizard, which the step waits for
  if (!productFolder.empty()) {
    if (HWND main = Ui().FindWindowW(u"zorDispMainWndClass", nullptr))
      Ui().PostMessageW(main, WM_QUIT, 1, static_cast<LPARAM>(0x80000000u));
    DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"ostrel!");
    RunProcess(PopupWizardCommand(productFolder, newNames), true, nullptr);
  }

  if (nt) RemoveNtDrivers();
  RemoveScriptScanner();
}

HRESULT RemoveServerIntegrations() {
  const std::u16string& productFolder = g_product.productFolder;
  // The product's libraries are called only from its folder, never found along the search path.
  const bool folderKnown = !productFolder.empty();
  DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"zorSdWiz");

  // Exchange
  if (folderKnown) UnregisterExchangeSink(PathJoin(productFolder, u"qvSMTP2K.dll"));
  DeleteRegTree(HKEY_LOCAL_MACHINE,
                u"SYSTEM\\CurrentControlSet\\Services\\MSExchangeIS\\VirusScan");

  // ISA Server when its folder is known, otherwise the proxy filter
  const std::u16string isaFolder = ReadGen4Setting(u"Common", u"ISAFolder", u"");
  HRESULT result = S_OK;
  const std::u16string support = PathJoin(productFolder, u"QvIsaHlp.dll");
  if (folderKnown && PathPresent(support)) {
    result =
        CallDllExport(support, isaFolder.empty() ? "UnregisterProxyFilter" : "UnregisterIsaFilter");
    if (!isaFolder.empty()) DeleteSharedFile(PathJoin(isaFolder, u"QvPxyFtr.dll"), true, false);
  }

  // IIS
  DeleteRegTree(HKEY_LOCAL_MACHINE,
                u"Software\\Microsoft\\Shared Tools\\Web Server Extensions\\QVScanner");
  return result;
}

}  // namespace zp
