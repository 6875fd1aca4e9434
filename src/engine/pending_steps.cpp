// The steps whose removals are not built yet. Each is a named place in the sequences; until its
// removal is built it leaves the machine as it is and adds no progress line.
#include "engine/steps.h"

namespace zp {

void RemoveDriversAndFilters() {}

}  // namespace zp
