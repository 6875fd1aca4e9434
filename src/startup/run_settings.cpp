#include "startup/run_settings.h"

namespace zp {

RunSettings g_run;

}  // namespace zp
