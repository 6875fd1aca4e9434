// The current-generation sequences. Their steps are connected one by one; until a step is, the
// sequence runs without it.
#include "catalogue/catalogue.h"
#include "engine/sequences.h"

namespace zp {

bool RunCurrentGenerationRemoval() {
  // The generation the registry reports decides, never the name chosen in the dialog.
  switch (g_product.detectedGeneration) {
    case 7:
    case 8: return RemoveCurrentGen7();
    case 6: return RemoveCurrentGen6();
    default: return RemoveCurrentGen5();
  }
}

bool RemoveCurrentGen5() { return true; }
bool RemoveCurrentGen6() { return true; }
bool RemoveCurrentGen7() { return true; }

}  // namespace zp
