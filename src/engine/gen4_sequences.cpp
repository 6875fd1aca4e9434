// The generation-4 sequences: the desktop product and its server, managed-client and home-server
// editions. They share their steps; the desktop product passes the older component names, the
// server-side editions the newer ones, and only the desktop sequence lets its registry step's
// result gate the program files.
#include <span>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "engine/sequence_parts.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"
#include "toolkit/services.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

constexpr std::u16string_view kProgramGroup = u"ostrel! Antivirus";
constexpr std::u16string_view kHomeServerGroup = u"ostrel! Windows Home Server Edition";

struct RegistryEntry {
  HKEY root;
  std::u16string_view path;
};

const RegistryEntry kDesktopUninstall[] = {
    {HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!"},
};
const RegistryEntry kServerUninstall[] = {
    {HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!SRV"},
};
const RegistryEntry kManagedClientUninstall[] = {
    {HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!NET"},
};
// The home-server edition came as a Windows Installer package and a home-server add-in.
const RegistryEntry kHomeServerUninstall[] = {
    {HKEY_CURRENT_USER,
     u"Software\\Microsoft\\Installer\\Products\\0C014377226794945A89F276C13F73AE"},
    {HKEY_LOCAL_MACHINE,
     u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
     u"{773410C0-7622-4949-A598-2F671CF337EA}"},
    {HKEY_LOCAL_MACHINE,
     u"Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\"
     u"{773410C0-7622-4949-A598-2F671CF337EA}"},
    {HKEY_LOCAL_MACHINE,
     u"Software\\Microsoft\\Windows Home Server\\RegisteredAdditions\\"
     u"{773410c0-7622-4949-a598-2f671cf337ea}"},
    {HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!WHS"},
};

// The home-server console tab and its helpers, in the home server's own folder.
constexpr std::u16string_view kHomeServerFiles[] = {u"HomeServerConsoleTab.OstrelTab.dll",
                                                    u"zorWhs.dll", u"whsNotif.exe"};

// The program group `group` and the common one (the same for most editions: tried twice), the
// context menu, the desktop shortcuts and the user interface's autostart.
void RemoveShortcutsGen4(std::u16string_view group) {
  DeleteProgramsFolder(group);
  RemoveContextMenuHandler(u"ostrel");
  DeleteProgramsFolder(kProgramGroup);
  DeleteDesktopFile(u"ostrel!.lnk");
  DeleteDesktopFile(u"ostrel! Antivirus.lnk");
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    DeleteRegValue(root, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"ostrel!");
}

void RemoveHomeServerFiles() {
  const std::u16string folder =
      ReadGen4Setting(u"WHS", u"WHSFolder", u"C:\\Program Files\\Windows Home Server");
  for (std::u16string_view file : kHomeServerFiles)
    DeleteSharedFile(PathJoin(folder, file), true, false);
}

// The server editions changed the file server's oplock parameters, on server Windows only.
void RestoreServerOplocksOnServers() {
  if (g_setup.IsPlatform(PLAT_SERVER) && g_setup.IsPlatform(PLAT_NT)) RestoreServerOplocks();
}

// The end every generation-4 sequence shares: Security Center, uninstall entries, the last
// progress line and the restart-time list.
void Finish(std::span<const RegistryEntry> uninstallEntries) {
  RemoveSecurityCenterRegistrations(false);  // this generation registered no firewall
  for (const RegistryEntry& entry : uninstallEntries) DeleteRegTree(entry.root, entry.path);
  AppendProgressLine(IDS_PROGRESS_DONE);
  CommitRestartOperations();
}

// The middle and end of the three server-side sequences, from the component unregistration on;
// their registry step's result is not read.
void RemoveServerSidePartAndFinish(bool homeServer,
                                   std::span<const RegistryEntry> uninstallEntries) {
  UnregisterComponentsGen4(true);
  if (homeServer) RemoveHomeServerFiles();
  RemoveScreensaverGen4(true);
  RemoveShortcutsGen4(homeServer ? kHomeServerGroup : kProgramGroup);
  AppendProgressLine(IDS_PROGRESS_EXPLORER);
  RemoveRegistryEntriesGen4(true);
  RestoreServerOplocksOnServers();
  AppendProgressLine(IDS_PROGRESS_REGISTRY);
  RemoveProgramFilesGen4();
  Finish(uninstallEntries);
}

// An empty line heads the progress of the server and managed-client editions.
void AppendEmptyLine() { AppendProgress(u""); }

}  // namespace

bool RemoveGen4Desktop() {
  RemoveServicesGen4();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  RemoveDriversGen4(false);
  AppendProgressLine(IDS_PROGRESS_RESIDENT);
  UnregisterComponentsGen4(false);
  RemoveScreensaverGen4(false);
  RemoveShortcutsGen4(kProgramGroup);
  AppendProgressLine(IDS_PROGRESS_EXPLORER);

  // The registry step's result gates the program files.
  const bool registryRemoved = RemoveRegistryEntriesGen4(false) == ERROR_SUCCESS;
  if (registryRemoved) {
    AppendProgressLine(IDS_PROGRESS_REGISTRY);
    RemoveProgramFilesGen4();
  } else {
    ReportRemovalFailure();
  }
  Finish(kDesktopUninstall);
  return registryRemoved;
}

bool RemoveGen4Server() {
  AppendEmptyLine();
  RemoveServicesGen4();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  RemoveDriversGen4(true);
  RemoveServerIntegrations();
  AppendProgressLine(IDS_PROGRESS_RESIDENT);
  RemoveServerSidePartAndFinish(false, kServerUninstall);
  return true;
}

bool RemoveGen4ManagedClient() {
  AppendEmptyLine();
  RemoveService(u"ostrel! NetAgent");  // the management agent, not stopped first
  RemoveServicesGen4();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  RemoveDriversGen4(true);
  RemoveServerIntegrations();
  AppendProgressLine(IDS_PROGRESS_RESIDENT);
  RemoveServerSidePartAndFinish(false, kManagedClientUninstall);
  return true;
}

bool RemoveGen4HomeServer() {
  RemoveServicesGen4();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  RemoveServerIntegrations();
  RemoveDriversGen4(true);
  AppendProgressLine(IDS_PROGRESS_RESIDENT);
  RemoveServerSidePartAndFinish(true, kHomeServerUninstall);
  return true;
}

}  // namespace zp
