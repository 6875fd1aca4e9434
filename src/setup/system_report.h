// The system information report written to the log at start-up.
#pragma once

namespace zp {

// Writes the report (and enables the restore privilege, initialises COM) - connected with the
// report itself; until then it writes nothing.
void WriteSystemReport();

}  // namespace zp
