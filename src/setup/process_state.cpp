#include "setup/process_state.h"

#include "catalogue/catalogue.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "toolkit/restart_list.h"

namespace zp {

void ResetProcessState() {
  g_log = CLog();
  g_setup = SetupGlobalsWin32();
  g_product = ProductSelection();
  g_run = RunSettings();
  g_restart = RestartLists();
}

}  // namespace zp
