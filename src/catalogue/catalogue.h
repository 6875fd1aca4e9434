// The products the utility can remove: their ids, display names and templates, and the product
// selection that detection fills and the removal reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// The product being removed. Detection fills it and never clears it.
struct ProductSelection {
  std::u16string productId;
  std::u16string productFolder;
  std::u16string dataFolder;
  std::int32_t detectedGeneration = 0;
  // The product's templates: a path macro, a key with one "%s", a key under HKLM.
  std::u16string defaultProgramFolder;
  std::u16string perUserKeyTemplate;
  std::u16string productRegistryKey;
  std::u16string gen5RegistryKey;
};

extern ProductSelection g_product;

struct CatalogueEntry {
  std::u16string_view displayName;
  std::u16string_view productId;
};

// The display list, in the order the dialog shows it.
std::span<const CatalogueEntry> DisplayList();

// The productId of a display name (whole name, any case), or none.
std::optional<std::u16string_view> DisplayNameToProductId(std::u16string_view displayName);

struct ProductTemplates {
  std::u16string_view defaultProgramFolder;
  std::u16string_view perUserKeyTemplate;
  std::u16string_view productRegistryKey;
};

// The templates of a productId (any case), or null for an id outside the catalogue.
const ProductTemplates* TemplatesFor(std::u16string_view productId);

// Fills the dialog's product list (a combo box) up to the first product found installed, selects
// it and detects it once more; returns the selected index.
int PreselectInstalledProduct(HWND dialog, int productListId);

// Case-insensitive comparison of ids and names (ASCII letters, as the catalogue's names are).
bool SameText(std::u16string_view a, std::u16string_view b);

}  // namespace zp
