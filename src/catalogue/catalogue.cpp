#include "catalogue/catalogue.h"

#include <algorithm>
#include <iterator>

#include "catalogue/detection.h"
#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {

ProductSelection g_product;

namespace {

constexpr CatalogueEntry kDisplayList[] = {
    {u"ostrel! 4 Home/Professional", u"qv_pro"},
    {u"ostrel! 4 Server Edition", u"qv_srv"},
    {u"VORK CD Manager", u"vork"},
    {u"ostrel! for Kerio", u"qv_ker"},
    {u"ostrel! PDA Edition", u"qv_pda_palm"},
    {u"ostrel! 32", u"qv_32"},
    {u"ostrel! Managed client", u"qv_net"},
    {u"ostrel! Distributed Network Manager", u"qv_mgm"},
    {u"ostrel! Windows Home Server Edition", u"qv_whs"},
    {u"ostrel! 5 Free/Pro/Internet Security", u"ois"},
    {u"ostrel! 6 Free/Pro/Internet Security", u"ois"},
    {u"ostrel! 7 Free/Pro/Internet Security", u"ois"},
    {u"ostrel! 8 Free/Pro/Internet Security", u"ois"},
    {u"ostrel! Business Protection (Plus)", u"obp"},
};

struct TemplateRow {
  std::u16string_view productId;
  ProductTemplates templates;
};

constexpr ProductTemplates kCurrent = {u"%PRGFILES%\\Keswin Software\\Ostrel5",
                                       u"Software\\Keswin Software\\Ostrel\\%s\\5.0",
                                       u"Software\\OSTREL Software\\Ostrel"};
constexpr ProductTemplates kGen4 = {u"%PRGFILES%\\Keswin Software\\Ostrel4",
                                    u"Software\\Keswin Software\\Ostrel\\%s\\4.0",
                                    u"Software\\Keswin Software\\Ostrel\\4.0"};

constexpr TemplateRow kTemplates[] = {
    {u"ois", kCurrent},
    {u"obp", kCurrent},
    {u"qv_pro", kGen4},
    {u"qv_srv", kGen4},
    {u"qv_net", kGen4},
    {u"qv_whs", kGen4},
    {u"vork",
     {u"%PRGFILES%\\Keswin Software\\VORK", u"Software\\Keswin Software\\Vork\\%s\\4.0",
      u"Software\\Keswin Software\\Vork\\4.0"}},
    {u"qv_ker",
     {u"%PRGFILES%\\Keswin Software\\Kerio\\Ostrel4", u"Software\\Keswin Software\\Ostrel\\%s\\4.0",
      u"Software\\Keswin Software\\Ostrel\\Kerio\\4.0"}},
    {u"qv_pda_palm",
     {u"%PRGFILES%\\Keswin Software\\ostrel! PDA Edition",
      u"Software\\Keswin Software\\PDA\\%s\\4.0", u"Software\\Keswin Software\\PDA\\4.0"}},
    {u"qv_32",
     {u"%PRGFILES%\\KESWIN Software\\OSTREL32", u"Software\\KESWIN Software\\OSTREL32",
      u"Software\\KESWIN Software\\OSTREL32"}},
    {u"qv_mgm",
     {u"%PRGFILES%\\Keswin Software\\Management Tools",
      u"Software\\Keswin Software\\Ostrel\\%s\\4.0",
      u"Software\\Keswin Software\\Ostrel\\qv_mgm\\4.0"}},
};

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// The generation digit of a current-generation display name ("ostrel! 7 ..."), or 0.
int GenerationOf(std::u16string_view displayName) {
  for (char16_t c : displayName)
    if (c >= u'0' && c <= u'9') return c - u'0';
  return 0;
}

}  // namespace

bool SameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

std::span<const CatalogueEntry> DisplayList() { return kDisplayList; }

std::optional<std::u16string_view> DisplayNameToProductId(std::u16string_view displayName) {
  for (const CatalogueEntry& entry : kDisplayList)
    if (SameText(entry.displayName, displayName)) return entry.productId;
  return std::nullopt;
}

const ProductTemplates* TemplatesFor(std::u16string_view productId) {
  for (const TemplateRow& row : kTemplates)
    if (SameText(row.productId, productId)) return &row.templates;
  return nullptr;
}

int PreselectInstalledProduct(HWND dialog, int productListId) {
  HWND list = Ui().GetDlgItem(dialog, productListId);
  int selected = 0;
  for (size_t i = 0; i < std::size(kDisplayList); ++i) {
    const CatalogueEntry& entry = kDisplayList[i];
    std::u16string name(entry.displayName);
    Ui().SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    DetectInstallLocation(entry.productId);
    // Detection never empties the folder, so one found for an earlier entry still counts.
    bool installed = !g_product.productFolder.empty();
    if (installed && entry.productId == u"ois")
      installed = GenerationOf(entry.displayName) == g_product.detectedGeneration;
    if (installed) {
      selected = static_cast<int>(i);
      break;
    }
  }
  Ui().SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  DetectInstallLocation(kDisplayList[selected].productId);
  return selected;
}

}  // namespace zp
