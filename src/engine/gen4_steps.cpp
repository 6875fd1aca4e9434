// The steps of the generation-4 family: its services, its shared components, the screensaver
// and the boot-time scanner, its registry keys and its program folder.
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/sequence_parts.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/processes.h"
#include "toolkit/registry.h"
#include "toolkit/services.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

// The helper services of the NT family, deleted without a word when that fails.
constexpr std::u16string_view kQuietServices[] = {u"ostrel! Antivirus", u"ostrel! Mail Scanner"};

// The run-time libraries the product installed as shared files; the folder deletion takes the
// files themselves.
constexpr std::u16string_view kSharedRuntimes[] = {u"MFC70.dll", u"MSVCI70.dll", u"MSVCP70.dll",
                                                   u"MSVCR70.dll"};

// The product's file types of HKEY_CLASSES_ROOT.
constexpr std::u16string_view kFileTypes[] = {u".csk", u".zors", u"zorsfile", u".zorcs",
                                              u"zorcsfile"};

constexpr std::u16string_view kOdbcDataSources = u"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";

}  // namespace

std::u16string ReadGen4Setting(std::u16string_view section, std::u16string_view key,
                               std::u16string_view fallback) {
  // Without a folder the file name alone would send the profile call to the Windows folder.
  if (g_product.productFolder.empty()) return std::u16string(fallback);
  const std::u16string file = PathJoin(g_product.productFolder, u"data\\ostrel4.ini");
  const std::u16string sectionName(section), keyName(key), fallbackText(fallback);
  char16_t value[260] = {};
  Files().GetPrivateProfileStringW(sectionName.c_str(), keyName.c_str(), fallbackText.c_str(),
                                   value, 260, file.c_str());
  return value;
}

void RemoveServicesGen4() {
  const bool nt = g_setup.IsPlatform(PLAT_NT);
  if (nt) {
    for (std::u16string_view service : kQuietServices) StopAndRemoveService(service, false);
  }
  // The main service once more, now with its failure shown; on Windows 9x under its old name,
  // where the services toolkit has nothing to do.
  StopAndRemoveService(nt ? u"ostrel! Antivirus" : u"ostrel!", true);
}

void UnregisterComponentsGen4(bool newNames) {
  const std::u16string& productFolder = g_product.productFolder;
  // The skin control goes only when no other program still counts it after our decrement.
  const std::u16string skinControl = g_setup.Expand(u"%SYS64%", u"actskin4.ocx");
  UnregisterServerDll(skinControl);
  DecrementSharedDllCount(skinControl);
  DeleteSharedFile(skinControl, true, false);

  // A bare name would be looked for along the DLL search path: only the product's own copy.
  if (!productFolder.empty())
    UnregisterServerDll(PathJoin(productFolder, newNames ? u"QvAScr.dll" : u"ZhAScr.dll"));
  for (std::u16string_view runtime : kSharedRuntimes)
    DecrementSharedDllCount(PathJoin(productFolder, runtime));
}

void RemoveScreensaverGen4(bool newNames) {
  const std::u16string paths[] = {
      g_setup.Expand(u"%SYS64%", newNames ? u"ostrelssw.scr" : u"ostrelss.scr"),
      g_setup.Expand(u"%SYS64%", u"zorBoot.exe"),
  };
  const bool canSwitch = CanSwitchFsRedirection();
  const BOOL remembered = canSwitch ? Files().Wow64EnableWow64FsRedirection(FALSE) : TRUE;
  for (const std::u16string& path : paths) Files().DeleteFileW(path.c_str());
  // Redirection is per thread: back on before the step returns.
  if (canSwitch && g_setup.IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64))
    Files().Wow64EnableWow64FsRedirection(remembered);
}

LONG RemoveRegistryEntriesGen4(bool newNames) {
  RemoveAppPath(newNames ? u"zorOstrel.exe" : u"zohOstrel.exe", g_product.productFolder);
  DeleteRegTree(HKEY_CURRENT_USER, g_product.productRegistryKey);
  DeleteRegTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrel");
  // The product's ODBC data source.
  DeleteRegTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ODBC\\ODBC.INI\\Ostrel4");
  DeleteRegValue(HKEY_LOCAL_MACHINE, kOdbcDataSources, u"ostrel4");
  for (std::u16string_view fileType : kFileTypes) DeleteRegTree(HKEY_CLASSES_ROOT, fileType);
  DeleteRegTree(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Antivirus");
  return DeleteMainProductKey(g_product.productRegistryKey);
}

void RemoveProgramFilesGen4() {
  if (DeleteProductFolder()) AppendProgressLine(IDS_PROGRESS_FILES);
}

}  // namespace zp
