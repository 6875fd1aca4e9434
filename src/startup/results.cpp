#include "startup/results.h"

#include <string>

#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "startup/strings.h"
#include "toolkit/restart.h"

namespace zp {

void ShowResults() {
  // A preview never restarts and never asks to.
  if (!g_setup.offerRestart || g_run.preview) return;
  const std::u16string caption = LoadText(IDS_UNINSTALL_CAPTION, 32678);
  const std::u16string question = LoadText(IDS_RESTART_QUESTION);
  if (g_run.forceRestart) {
    RestartWindows();
    return;
  }
  if (g_setup.silentLevel == 3) return;
  if (Ui().MessageBoxW(g_run.dialogWindow, question.c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES)
    RestartWindows();
}

}  // namespace zp
