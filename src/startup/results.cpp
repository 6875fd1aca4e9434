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
  if (!g_setup.offerRestart) return;
  std::u16string caption(32678, u'\0'), question(32768, u'\0');
  LoadLocalizedString(g_setup.hInstance, IDS_UNINSTALL_CAPTION, caption.data(), 32678,
                      g_setup.languageId);
  LoadLocalizedString(g_setup.hInstance, IDS_RESTART_QUESTION, question.data(), 32768,
                      g_setup.languageId);
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
