// The sequences of the rescue-CD manager, the mail-server edition, the PDA edition and the older
// 32-bit product, and the folder deletion every side product shares.
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/legacy_steps.h"
#include "engine/removal_run.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "startup/strings.h"
#include "toolkit/files.h"
#include "toolkit/mail_clients.h"
#include "toolkit/processes.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"
#include "toolkit/services.h"
#include "toolkit/shell_registrations.h"
#include "toolkit/user_hives.h"

namespace zp {
namespace {

constexpr std::u16string_view kRunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kUninstallRoot =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void Progress(UINT id) { AppendProgress(LoadText(id)); }
void EmptyProgressLine() { AppendProgress(u""); }

std::u16string UninstallEntry(std::u16string_view name) {
  return std::u16string(kUninstallRoot).append(name);
}

// The product's own key of the current user and of the machine.
void RemoveProductKeys() {
  DeleteRegTree(HKEY_CURRENT_USER, g_product.productRegistryKey);
  DeleteRegTree(HKEY_LOCAL_MACHINE, g_product.productRegistryKey);
}

void StopAndRemoveService(std::u16string_view name) {
  if (IsServiceRunning(name)) StopService(name);
  RemoveService(name);
}

// The last steps of every side product: its uninstall entry gone, the last line, the files that
// wait for the restart handed to Windows.
void Finish(std::u16string_view uninstallEntry) {
  DeleteRegTree(HKEY_LOCAL_MACHINE, UninstallEntry(uninstallEntry));
  Progress(IDS_PROGRESS_DONE);
  CommitRestartOperations();
}

// Vista moved the rescue-CD manager's images out of its program folder.
void RemoveRescueCdImages() {
  if (g_setup.osVersion.majorVersion < 6) return;
  std::u16string commonData;
  if (GetSpecialFolder(&commonData, CSIDL_COMMON_APPDATA))
    DeleteTree(PathJoin(commonData, u"Keswin Software\\VORK"), u"*.*", true, true, false);
}

// The older 32-bit product.
std::u16string SystemFile(std::u16string_view name) {
  return g_setup.Expand(u"%SYS%", std::u16string(name).c_str());
}
std::u16string FolderFile(std::u16string_view name) {
  return PathJoin(g_product.productFolder, name);
}

constexpr std::u16string_view kOld32Drivers[] = {
    u"drivers\\zavmker.sys",
    u"drivers\\qvmon.sys",
    u"drivers\\qvmon2.sys",
};
constexpr std::u16string_view kOld32DriverKeys[] = {
    u"SYSTEM\\CurrentControlSet\\Services\\Zavmker",
    u"SYSTEM\\CurrentControlSet\\Services\\qvmon",
    u"SYSTEM\\CurrentControlSet\\Services\\qvmon2",
};
constexpr std::u16string_view kOld32Programs[] = {
    u"OSTREL32.EXE", u"astart32.exe", u"qvInv.exe", u"qvsinfo.exe", u"lguard32.exe", u"syncer.exe",
};
constexpr std::u16string_view kOld32FinalKeys[] = {
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OSTREL32",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvSetup32",
};
constexpr std::u16string_view kOld32OwnKey = u"Software\\Keswin Software\\Ostrel32";

// The resident protection of the NT family: the DOS hooks and the kernel drivers.
void RemoveOld32ResidentProtection() {
  RemoveVirtualDeviceDriver(FolderFile(u"ZARORUVO.DLL"));
  RemoveLinesContaining(u"QVMONDOS.SYS", SystemFile(u"config.nt"));
  for (std::u16string_view driver : kOld32Drivers)
    DeleteSharedFile(SystemFile(driver), true, false);
  for (std::u16string_view key : kOld32DriverKeys) DeleteRegTree(HKEY_LOCAL_MACHINE, key);
}

}  // namespace

void RemoveSideProductFolder(void (*alsoDeleted)()) {
  if (!DeleteProductFolder()) return;
  if (alsoDeleted != nullptr) alsoDeleted();
  Progress(IDS_PROGRESS_FILES);
}

bool RemoveRescueCdManager() {
  EmptyProgressLine();
  DeleteProgramsFolder(u"ostrel! VORK CD Manager");
  DeleteDesktopFile(u"ostrel! VORK CD Manager.lnk");
  Progress(IDS_PROGRESS_EXPLORER);
  RemoveProductKeys();
  Progress(IDS_PROGRESS_REGISTRY);
  RemoveSideProductFolder(RemoveRescueCdImages);
  Finish(u"VORK");
  return true;
}

bool RemoveKerioPlugin() {
  StopAndRemoveService(g_setup.IsPlatform(PLAT_NT) ? u"ostrel! for Kerio" : u"zorUpdScKerio");
  Progress(IDS_PROGRESS_SERVICE);
  DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"ostrel! Kerio Update");
  DeleteProgramsFolder(u"ostrel! for Kerio");
  Progress(IDS_PROGRESS_EXPLORER);
  RemoveProductKeys();
  Progress(IDS_PROGRESS_REGISTRY);
  RemoveSideProductFolder();
  Finish(u"ostrel!Kerio");
  return true;
}

bool RemovePdaEdition() {
  DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"ostrel! PDA Edition Updater");
  Progress(IDS_PROGRESS_SERVICE);
  DeleteProgramsFolder(u"ostrel! PDA Edition");
  Progress(IDS_PROGRESS_EXPLORER);
  RemoveProductKeys();
  Progress(IDS_PROGRESS_REGISTRY);
  RemoveSideProductFolder();
  Finish(u"ostrel! PDA Edition");
  return true;
}

bool RemoveOld32BitProduct() {
  const bool nt = g_setup.IsPlatform(PLAT_NT);
  StopAndRemoveService(nt ? u"Ostrel32 Start as Service" : u"ostrel32");
  if (nt) RemoveService(u"QvUpdSvc");  // the updater is never running on its own
  Progress(IDS_PROGRESS_SERVICE);

  DeleteRegValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions",
                 u"ostrel32");
  DeleteOutlookExtendDat();
  DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"QvMaiSrv");
  DeleteRegValue(HKEY_CURRENT_USER, kRunKey, u"QvMaiSrv");
  if (!g_product.productFolder.empty()) DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"Ostrel32");
  Progress(IDS_PROGRESS_RESIDENT);

  if (nt) RemoveOld32ResidentProtection();
  DeleteRegTreeAllUsers(u"AppEvents\\Schemes\\Apps\\Ostrel");
  UnregisterServerDll(FolderFile(u"webpro32.ocx"));
  DecrementSharedDllCount(SystemFile(u"vic32.dll"));
  DeleteSharedFile(SystemFile(u"qvss32.scr"), true, false);
  RemoveContextMenuHandler(u"Ostrel32");
  DeleteProgramsFolder(u"OSTREL32 Antivirus");
  DeleteDesktopFile(u"Ostrel32.lnk");
  Progress(IDS_PROGRESS_EXPLORER);

  for (std::u16string_view program : kOld32Programs)
    RemoveAppPath(program, g_product.productFolder);
  DeleteRegValue(HKEY_LOCAL_MACHINE, u"Software\\KESWIN Software\\qvSetup", u"ostrel32");
  DeleteRegTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\Applications\\ostrel32.exe");
  Progress(IDS_PROGRESS_REGISTRY);

  // The folder deletion compares without final backslashes, so the default folder written with
  // one still goes without a question.
  RemoveSideProductFolder();
  for (std::u16string_view key : kOld32FinalKeys) DeleteRegTree(HKEY_LOCAL_MACHINE, key);
  DeleteRegTree(HKEY_CURRENT_USER, kOld32OwnKey);
  DeleteRegTree(HKEY_LOCAL_MACHINE, kOld32OwnKey);
  Progress(IDS_PROGRESS_DONE);
  CommitRestartOperations();
  return true;
}

}  // namespace zp
