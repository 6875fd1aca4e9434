// Install location detection: whether a product of the catalogue is installed, where, and of
// which generation, read from the registry (the 32-bit view, as a 32-bit process sees it).
#pragma once

#include <string_view>

namespace zp {

// Fills g_product (folder, data folder, generation, templates) as far as the product is found;
// never clears what an earlier detection found. Shows the folder in the dialog's folder field.
void DetectInstallLocation(std::u16string_view productId);

}  // namespace zp
