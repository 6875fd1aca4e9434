#include "startup/entry.h"

#include <algorithm>
#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/detection.h"
#include "engine/removal_run.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "setup/system_report.h"
#include "startup/command_line.h"
#include "startup/forced_uninstall.h"
#include "startup/help.h"
#include "startup/preview.h"
#include "startup/results.h"
#include "startup/run_settings.h"
#include "startup/safe_mode.h"
#include "toolkit/self_protection.h"
#include "ui/main_dialog.h"

namespace zp {
namespace {

constexpr const char16_t* kSelfProtectionEnabled =
    u"The ostrel! self protection module is enabled. For this reason, the operation cannot be "
    u"completed.\n\nTo complete the operation, either run this program from Windows Safe Mode, or "
    u"disable the ostrel! self protection (via Settings -> Troubleshooting page).";

// The first entry of every run, so that runs can be told apart in a log file.
void LogStarted(const char16_t* commandLine) {
  FileTime utc, local;
  SystemTime now;
  Sys().GetSystemTimeAsFileTime(&utc);
  if (!Sys().FileTimeToLocalFileTime(&utc, &local) || !Sys().FileTimeToSystemTime(&local, &now))
    now = SystemTime{};
  g_log.Print(LOG_MIN, CAT_GENERAL, u"Started: %02d.%02d.%4d %02d:%02d:%02d %s", now.day,
              now.month, now.year, now.hour, now.minute, now.second,
              commandLine ? commandLine : u"");
}

std::u16string OwnProgramPath() {
  char16_t path[260] = {};
  DWORD length = std::min<DWORD>(Sys().GetModuleFileNameW(nullptr, path, 260), 259);
  return std::u16string(path, std::find(path, path + length, u'\0'));
}

// Everything after the command line is parsed; returns the exit code.
int Run(HMODULE instance) {
  // A silent preview's list has nowhere to go but the log file.
  if (g_run.preview && g_setup.silentLevel != 0 && g_run.logPath.empty())
    return kExitInvalidOptions;

  if (g_run.forceUninstallPro && RunForcedUninstall()) {
    ReportPreview();
    return kExitSuccess;
  }

  // A preview neither asks for Safe Mode nor prepares or leaves it.
  if (!g_run.preview && g_setup.osVersion.platformId == VER_PLATFORM_WIN32_NT) {
    std::u16string program = OwnProgramPath();
    if (Sys().GetSystemMetrics(SM_CLEANBOOT) != 0) {
      // The Safe Mode run: back to a normal boot next time, and this copy goes with the restart.
      ClearSafeBoot();
      Files().MoveFileExW(program.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else if (!g_run.noSafeModeQuestion && AskForSafeMode()) {
      PrepareSafeModeAndRestart(program);
      return kExitSuccess;
    }
  }

  if (SelfProtectionEnabled()) {
    Ui().MessageBoxW(nullptr, kSelfProtectionEnabled, kUtilityCaption, MB_ICONERROR);
    return kExitSelfProtection;
  }

  if (g_setup.silentLevel == 0) {
    ShowMainDialog(instance);
    return kExitSuccess;
  }

  DetectInstallLocation(g_product.productId);
  RemovalResult result = RemovalRun();
  ReportPreview();
  ShowResults();
  // Scripts that deploy the program must see a removal that did not happen.
  switch (result) {
    case RemovalResult::UnknownProduct: return kExitUnknownProduct;
    case RemovalResult::Failed: return kExitRemovalFailed;
    case RemovalResult::Completed: break;
  }
  return kExitSuccess;
}

}  // namespace

int ProgramMain(HMODULE instance, const char16_t* commandLine) {
  const std::vector<std::u16string> tokens = SplitCommandLine(commandLine ? commandLine : u"");
  const StartOptions start = ScanStartOptions(tokens);
  if (start.help) {
    ShowHelp();
    return kExitSuccess;
  }
  // From here on a preview records every change instead of making it, the setup state's too.
  std::optional<PreviewScope> preview;
  if (start.preview) preview.emplace();

  LogStarted(commandLine);
  g_setup.Init();
  g_setup.hInstance = instance;
  g_setup.languageId = 1033;
  LogSystemInfo();
  ParseOptions(tokens);
  // The setup state's own bookkeeping (its GUID) is not part of the removal's list.
  ForgetPreviewChanges();

  int exitCode = Run(instance);
  preview.reset();  // the log file below is written for real

  // "/log <path>": the run's whole log is appended; a path that cannot be written changes
  // nothing else.
  if (!g_run.logPath.empty()) g_log.Flush(g_run.logPath, LOG_DBG, 0);
  return exitCode;
}

}  // namespace zp
