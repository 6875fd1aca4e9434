// The generation-4 sequences. Their steps are connected one by one; until a step is, the
// sequence runs without it.
#include "engine/sequences.h"

namespace zp {

bool RemoveGen4Desktop() { return true; }
bool RemoveGen4Server() { return true; }
bool RemoveGen4ManagedClient() { return true; }
bool RemoveGen4HomeServer() { return true; }

}  // namespace zp
