#include "setup/system_report.h"

namespace zp {

void WriteSystemReport() {}

}  // namespace zp
