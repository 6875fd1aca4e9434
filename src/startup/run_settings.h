// The run settings outside the setup state, set by the command line and the dialog.
#pragma once

#include <string>

#include "platform/types.h"

namespace zp {

struct RunSettings {
  bool forceUninstallPro = false;  // "/forceuninstallpro"
  bool forceRestart = false;       // "/forcerestart"
  HWND dialogWindow = nullptr;     // the main dialog; null in a silent run
  std::u16string logPath;          // "/log <path>": the log is appended there at the end
  bool removalRan = false;         // the dialog's Uninstall button ran a removal
  bool preview = false;            // "/preview": the removal is recorded, nothing is changed
  bool help = false;               // "/?" or "/help": the options are shown, nothing else runs
  bool noSafeModeQuestion = false;  // "/nosafemode": the removal runs in the running Windows
};

extern RunSettings g_run;

}  // namespace zp
