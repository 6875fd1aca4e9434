// The product's in-process COM servers remove their own registrations while their DLLs are still
// on disk; the screensaver and the boot-time scanner leave the system folder, in both file-system
// views of a 64-bit Windows.
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/processes.h"

namespace zp {
namespace {

// In the order they are unregistered. This 32-bit process cannot load the 64-bit ones; their
// load fails and nothing happens.
constexpr std::u16string_view kComponents[] = {
    u"ZhAScr.dll",        // script scanner
    u"redemption.dll",    // mail library of the Outlook plug-in
    u"zorOtl64.dll",      // Outlook plug-in, 64-bit
    u"zorOtl.dll",        // Outlook plug-in
    u"zsOutExt64.dll",    // Outlook extension, 64-bit
    u"zsOutExt.dll",      // Outlook extension
    u"snxPlugins64.dll",  // sandbox plug-ins, 64-bit
    u"snxPlugins.dll",    // sandbox plug-ins
};

constexpr std::u16string_view kSystemFiles[] = {u"ostrelss.scr", u"zorBoot.exe"};

}  // namespace

bool CanSwitchFsRedirection() {
  HMODULE kernel32 = Sys().GetModuleHandleW(u"KERNEL32.DLL");
  BOOL wow64 = FALSE;
  if (kernel32 != nullptr && Sys().GetProcAddress(kernel32, "IsWow64Process") != nullptr)
    Sys().IsWow64Process(&wow64);
  return wow64 && Sys().GetProcAddress(kernel32, "Wow64EnableWow64FsRedirection") != nullptr;
}

void UnregisterComponents() {
  for (std::u16string_view component : kComponents)
    UnregisterServerDll(PathJoin(g_product.productFolder, component));
}

void RemoveScreensaverAndBootScanner() {
  const std::u16string systemFolder = g_setup.Expand(u"%SYS64%");
  std::u16string paths[std::size(kSystemFiles)];
  for (size_t i = 0; i < std::size(kSystemFiles); ++i)
    paths[i] = PathJoin(systemFolder, kSystemFiles[i]);

  const bool canSwitch = CanSwitchFsRedirection();

  // First through the redirection (the 32-bit system folder under WOW64), then past it.
  for (const std::u16string& path : paths) Files().DeleteFileW(path.c_str());
  const BOOL remembered = canSwitch ? Files().Wow64EnableWow64FsRedirection(FALSE) : TRUE;
  for (const std::u16string& path : paths) Files().DeleteFileW(path.c_str());
  // Redirection is per thread: back on before the step returns.
  if (canSwitch && g_setup.IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64))
    Files().Wow64EnableWow64FsRedirection(remembered);
}

}  // namespace zp
