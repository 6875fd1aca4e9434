// The current-generation sequences. They share their middle and end; they differ in their first
// steps and in the name of the Windows uninstall entry.
#include <string>

#include "catalogue/catalogue.h"
#include "engine/sequence_parts.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"
#include "toolkit/self_protection.h"

namespace zp {
namespace {

constexpr std::u16string_view kUninstallGen5 =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel5";
constexpr std::u16string_view kUninstall =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel";

// Steps 7 to 18, the same in every generation; false when the registry step failed.
bool RemoveCommonPartAndFinish(std::u16string_view uninstallEntry) {
  RemoveDriversAndFilters();
  AppendProgressLine(IDS_PROGRESS_RESIDENT);
  UnregisterComponents();
  RemoveScreensaverAndBootScanner();
  RemoveShortcuts();
  AppendProgressLine(IDS_PROGRESS_EXPLORER);

  // The registry step's result gates the program files.
  const bool registryRemoved = RemoveRegistryEntries() == ERROR_SUCCESS;
  if (registryRemoved) {
    AppendProgressLine(IDS_PROGRESS_REGISTRY);
    RemoveProgramFiles();
  } else {
    ReportRemovalFailure();
  }

  RemoveSecurityCenterRegistrations(true);
  DeleteRegTree(HKEY_LOCAL_MACHINE, uninstallEntry);
  AppendProgressLine(IDS_PROGRESS_DONE);
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
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  return RemoveCommonPartAndFinish(kUninstallGen5);
}

bool RemoveCurrentGen6() {
  RemoveBrowserPlugins();
  RemoveSidebarGadget();
  RemoveProductServices();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  return RemoveCommonPartAndFinish(kUninstall);
}

bool RemoveCurrentGen7() {
  SelfProtectionHandshake();
  RemoveBrowserPlugins();
  RemoveSidebarGadget();
  RemoveProductServices();
  AppendProgressLine(IDS_PROGRESS_SERVICE);
  RemoveHomeServerAddin();
  return RemoveCommonPartAndFinish(kUninstall);
}

}  // namespace zp
