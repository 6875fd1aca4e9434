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

}  // namespace zp
