// The process-wide state (setup state, log, run settings, product selection) back to what it is
// when the process starts; for tests.
#pragma once

namespace zp {
void ResetProcessState();
}
