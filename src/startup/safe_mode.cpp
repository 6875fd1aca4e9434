#include "startup/safe_mode.h"

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {

bool AskForSafeMode() {
  for (const char16_t* question : {kSafeModeRecommendation, kSafeModeRestartConfirmation}) {
    if (Ui().MessageBoxW(nullptr, question, kUtilityCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
  }
  return true;
}

// The boot configuration, the self-copy and the RunOnce entry are not built yet: both do nothing.
void PrepareSafeModeAndRestart(const std::u16string&) {}
void ClearSafeBoot() {}

}  // namespace zp
