#include "startup/entry.h"

#include "platform/constants.h"
#include "platform/platform.h"
#include "startup/safe_mode.h"

namespace zp {

int ProgramMain(HMODULE, const char16_t*) {
  // The products protect themselves while Windows runs normally: on the NT family the user is
  // first offered the restart into Safe Mode.
  OsVersionInfo version;
  if (Sys().GetVersionExW(&version) && version.platformId == VER_PLATFORM_WIN32_NT &&
      Sys().GetSystemMetrics(SM_CLEANBOOT) == 0) {
    AskForSafeMode();
  }
  return 0;
}

}  // namespace zp
