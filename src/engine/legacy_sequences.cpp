// The sequences of the legacy and side products. Their steps are connected one by one; until a
// step is, the sequence runs without it.
#include "engine/sequences.h"

namespace zp {

bool RemoveRescueCdManager() { return true; }
bool RemoveKerioPlugin() { return true; }
bool RemovePdaEdition() { return true; }
bool RemoveOld32BitProduct() { return true; }
bool RemoveNetworkManager() { return true; }

}  // namespace zp
