// The current-generation sequences. They share their middle and end; they differ in their first
// steps and in the name of the Windows uninstall entry.
#include <string>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/strings.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"
#include "toolkit/security_center.h"
#include "toolkit/self_protection.h"

namespace zp {
namespace {

constexpr std::u16string_view kUninstallGen5 =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel5";
constexpr std::u16string_view kUninstall =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel";

void Progress(UINT id) { AppendProgress(LoadText(id)); }

// The Security Center knows Windows XP and later.
void RemoveSecurityCenterRegistrations() {
  const OsVersionInfo& os = g_setup.osVersion;
  if (os.majorVersion < 5 || (os.majorVersion == 5 && os.minorVersion < 1)) return;
  Sys().CoInitialize();
  RemoveScAntiVirusProduct();
  RemoveScAntiSpywareProduct();
  RemoveScFirewallProduct();
  Sys().CoUninitialize();
}

// Steps 7 to 18, the same in every generation; false when the registry step failed.
bool RemoveCommonPartAndFinish(std::u16string_view uninstallEntry) {
  RemoveDriversAndFilters();
  Progress(IDS_PROGRESS_RESIDENT);
  UnregisterComponents();
  RemoveScreensaverAndBootScanner();
  RemoveShortcuts();
  Progress(IDS_PROGRESS_EXPLORER);

  // The registry step's result gates the program files.
  const bool registryRemoved = RemoveRegistryEntries() == ERROR_SUCCESS;
  if (registryRemoved) {
    Progress(IDS_PROGRESS_REGISTRY);
    RemoveProgramFiles();
  } else {
    std::u16string failure = LoadText(IDS_FAILURE);
    Ui().MessageBoxW(nullptr, failure.c_str(), u"zorPurge", MB_OK);  // in every run mode
    g_setup.offerRestart = false;
  }

  RemoveSecurityCenterRegistrations();
  DeleteRegTree(HKEY_LOCAL_MACHINE, uninstallEntry);
  Progress(IDS_PROGRESS_DONE);
  CommitRestartOperations();
  return registryRemoved;
}

}  // namespace

bool RunCurrentGenerationRemoval() {
  // The generation the registry reports decides, never the name chosen in the dialog.
  switch (g_product.detectedGeneration) {
    case 7:
    case 8: return RemoveCurrentGen7();
    case 6: return RemoveCurrentGen6();
    default: return RemoveCurrentGen5();
  }
}

bool RemoveCurrentGen5() {
  RemoveProductServices();
  Progress(IDS_PROGRESS_SERVICE);
  return RemoveCommonPartAndFinish(kUninstallGen5);
}

bool RemoveCurrentGen6() {
  RemoveBrowserPlugins();
  RemoveSidebarGadget();
  RemoveProductServices();
  Progress(IDS_PROGRESS_SERVICE);
  return RemoveCommonPartAndFinish(kUninstall);
}

bool RemoveCurrentGen7() {
  SelfProtectionHandshake();
  RemoveBrowserPlugins();
  RemoveSidebarGadget();
  RemoveProductServices();
  Progress(IDS_PROGRESS_SERVICE);
  RemoveHomeServerAddin();
  return RemoveCommonPartAndFinish(kUninstall);
}

}  // namespace zp
