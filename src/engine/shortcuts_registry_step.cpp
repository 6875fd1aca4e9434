// What the products put into the shell for the user (context menu, program groups, desktop
// shortcuts, autostart), and the products' own registry keys, whose removal gates the program
// files.
#include <string>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/paths.h"
#include "startup/run_settings.h"
#include "toolkit/files.h"
#include "toolkit/registry.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

struct Edition {
  std::u16string_view programGroup;
  std::u16string_view desktopShortcut;
};

constexpr Edition kEditions[] = {
    {u"ostrel! Free Antivirus", u"ostrel! Free Antivirus.lnk"},
    {u"ostrel! Pro Antivirus", u"ostrel! Pro Antivirus.lnk"},
    {u"ostrel! Premier", u"ostrel! Premier.lnk"},
    {u"ostrel! Internet Security", u"ostrel! Internet Security.lnk"},
    {u"ostrel! Endpoint Protection", u"ostrel! Endpoint Protection.lnk"},
    {u"ostrel! Endpoint Protection Plus", u"ostrel! Endpoint Protection Plus.lnk"},
    {u"ostrel! File Server Security", u"ostrel! File Server Security.lnk"},
    {u"ostrel! Email Server Security", u"ostrel! Email Server Security.lnk"},
    {u"ostrel! Server Security", u"ostrel! Server Security.lnk"},
    {u"ostrel! Endpoint Protection Suite", u"ostrel! Endpoint Protection Suite.lnk"},
    {u"ostrel! Endpoint Protection Suite Plus", u"ostrel! Endpoint Protection Suite Plus.lnk"},
    {u"ostrel! Business Protection Plus", u"ostrel! Business Protection Plus.lnk"},
    {u"ostrel! File Server Antivirus", u"ostrel! File Server Antivirus.lnk"},
    {u"ostrel! Email Server Antivirus", u"ostrel! Email Server Antivirus.lnk"},
    {u"ostrel! Server Antivirus", u"ostrel! Server Antivirus.lnk"},
    {u"ostrel! Server Business Protection", u"ostrel! Server Business Protection.lnk"},
    {u"ostrel! Server Business Protection Plus", u"ostrel! Server Business Protection Plus.lnk"},
};

constexpr std::u16string_view kRunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kLicenseFileExts =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.ostrellic";

struct ProductKey {
  HKEY root;
  std::u16string_view path;
};

// The product's fixed keys, deleted in this order after the two keys of the detection.
const ProductKey kFixedKeys[] = {
    {HKEY_CURRENT_USER, kLicenseFileExts},
    {HKEY_CURRENT_USER, kLicenseFileExts},
    {HKEY_CURRENT_USER, u"SOFTWARE\\OSTREL Software\\Ostrel"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrel"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\OSTREL Software\\Ostrel"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.ostrelconfig"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.ostrellic"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.ostrelvpn"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.ostrelsounds"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.ostreltheme"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrelconfigfile"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrellicfile"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrelvpnfile"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\OstrelPersistentStorage"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrelsoundsfile"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\ostrelthemefile"},
    {HKEY_LOCAL_MACHINE,
     u"SOFTWARE\\Classes\\AllFilesystemObjects\\shellex\\ContextMenuHandlers\\00ostrel"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\SystemCertificates\\ostrel! Mail Scanner Cache"},
    {HKEY_LOCAL_MACHINE,
     u"SOFTWARE\\Microsoft\\SystemCertificates\\ostrel! Mail Scanner Trusted"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Tracing\\ostrel_RASAPI32"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Tracing\\ostrel_RASMANCS"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OstrelUI.exe"},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                         u"ShellIconOverlayIdentifiers\\00ostrel"},
};

}  // namespace

LONG DeleteMainProductKey(std::u16string_view key) {
  if (key.empty()) return ERROR_SUCCESS;  // no key named: nothing is left behind
  DeleteRegTree(HKEY_LOCAL_MACHINE, key);
  // A preview deleted nothing: the key counts as gone, as the recorded deletion would leave it.
  if (g_run.preview) return ERROR_SUCCESS;
  std::u16string path(key);
  UniqueRegKey probe;
  LONG opened = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, probe.put());
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  return opened == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : opened;
}

void RemoveShortcuts() {
  RemoveContextMenuHandler(u"ostrel");
  std::u16string programs;
  if (GetProgramsFolder(&programs) == ERROR_SUCCESS && !programs.empty()) {
    for (const Edition& edition : kEditions)
      DeleteTree(PathJoin(programs, edition.programGroup), u"*.*", false, false, false);
  }
  for (const Edition& edition : kEditions) DeleteDesktopFile(edition.desktopShortcut);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    DeleteRegValue(root, kRunKey, u"ostrel5");
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    DeleteRegValue(root, kRunKey, u"ostrel");
}

LONG RemoveRegistryEntries() {
  RemoveAppPath(u"zohOstrel.exe", g_product.productFolder);
  DeleteRegTree(HKEY_CURRENT_USER, g_product.gen5RegistryKey);
  DeleteRegTree(HKEY_CURRENT_USER, g_product.productRegistryKey);
  for (const ProductKey& key : kFixedKeys) DeleteRegTree(key.root, key.path);
  DeleteRegValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Google\\No Drive Offer Until", u"OSTREL Software");
  DeleteRegTree(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Antivirus");

  const std::int32_t generation = g_product.detectedGeneration;
  LONG result = DeleteMainProductKey(g_product.gen5RegistryKey);
  if (generation == 6 || generation == 7)
    result = DeleteMainProductKey(g_product.productRegistryKey);
  return result;
}

}  // namespace zp
