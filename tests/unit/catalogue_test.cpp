// The product catalogue: display names to product ids, and the dialog's preselection of the
// installed product.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "platform/sim/machine.h"
#include "resource_ids.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"

namespace zp {
namespace {

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

TEST(Catalogue, DisplayNameToProductId) {
  struct Case {
    const char16_t* name;
    std::optional<std::u16string_view> id;
  };
  const Case cases[] = {
      {u"ostrel! 32", u"qv_32"},
      {u"OSTREL! 32", u"qv_32"},
      {u"oStReL! 32", u"qv_32"},
      {u"ostrel! 32 ", std::nullopt},
      {u"ostrel!", std::nullopt},
      {u"", std::nullopt},
      {u"ostrel! 4 Home/Professional", u"qv_pro"},
      {u"ostrel! Windows Home Server Edition", u"qv_whs"},
      {u"ostrel! 5 Free/Pro/Internet Security", u"ois"},
      {u"ostrel! 6 Free/Pro/Internet Security", u"ois"},
      {u"ostrel! 7 Free/Pro/Internet Security", u"ois"},
      {u"ostrel! 8 Free/Pro/Internet Security", u"ois"},
      {u"ostrel! 9 Free/Pro/Internet Security", std::nullopt},
      {u"ostrel! Business Protection (Plus)", u"obp"},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayNameToProductId(c.name), c.id) << Narrow(c.name);
}

TEST(Catalogue, DisplayListHoldsFourteenNamesOfElevenProducts) {
  ASSERT_EQ(DisplayList().size(), 14u);
  std::vector<std::u16string_view> ids;
  for (const CatalogueEntry& entry : DisplayList()) {
    EXPECT_EQ(DisplayNameToProductId(entry.displayName), entry.productId)
        << Narrow(entry.displayName);
    EXPECT_NE(TemplatesFor(entry.productId), nullptr) << Narrow(entry.productId);
    if (std::find(ids.begin(), ids.end(), entry.productId) == ids.end())
      ids.push_back(entry.productId);
  }
  EXPECT_EQ(ids.size(), 11u);
  EXPECT_EQ(TemplatesFor(u"qv_nothing"), nullptr);
}

// The keys as a 32-bit process on 64-bit Windows reads them.
constexpr const char16_t* kGen4 = u"HKLM\\Software\\Wow6432Node\\Keswin Software\\Ostrel\\4.0";
constexpr const char16_t* kCurrent = u"HKLM\\Software\\Wow6432Node\\Ostrel Software\\Ostrel";
constexpr const char16_t* kFolder = u"C:\\Program Files (x86)\\Keswin Software\\Ostrel";

TEST(Catalogue, PreselectionStopsAtTheInstalledProduct) {
  using Arrange = std::function<void(sim::Machine&)>;
  auto current = [](const char16_t* product, const char16_t* version) {
    return [product, version](sim::Machine& m) {
      m.SetString(kCurrent, u"Product", product);
      m.SetString(kCurrent, u"Version", version);
      m.SetString(kCurrent, u"ProgramFolder", kFolder);
    };
  };
  struct Case {
    const char* name;
    Arrange arrange;
    size_t items;
    int selected;
    const char16_t* lastItem;
    const char16_t* folder;
    std::u16string_view registryKey;  // of the templates the final detection installed
  };
  const Case cases[] = {
      {"nothing installed", [](sim::Machine&) {}, 14, 0, u"ostrel! Business Protection (Plus)",
       u"", u"Software\\Keswin Software\\Ostrel\\4.0"},
      {"server edition", [](sim::Machine& m) {
         m.SetString(kGen4, u"Product", u"qv_srv");
         m.SetString(kGen4, u"Ostrel4ProgramFolder", kFolder);
       },
       2, 1, u"ostrel! 4 Server Edition", kFolder, u"Software\\Keswin Software\\Ostrel\\4.0"},
      {"generation 7", current(u"ois", u"7.0.1"), 12, 11,
       u"ostrel! 7 Free/Pro/Internet Security", kFolder, u"Software\\OSTREL Software\\Ostrel"},
      {"business edition only", current(u"obp", u"7.0"), 14, 13,
       u"ostrel! Business Protection (Plus)", kFolder, u"Software\\OSTREL Software\\Ostrel"},
      // The folder found for entry 9 still counts when entry 13 is reached.
      {"consumer version outside 5 to 8", current(u"ois", u"9.0"), 14, 13,
       u"ostrel! Business Protection (Plus)", kFolder, u"Software\\OSTREL Software\\Ostrel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7X64());
    machine.AddFolder(kFolder);
    machine.Install();
    ASSERT_TRUE(g_setup.Init());
    c.arrange(machine);
    HWND dialog = machine.AddDialog();
    machine.AddControl(dialog, IDC_FOLDER);
    machine.AddControl(dialog, IDC_PRODUCT);
    g_run.dialogWindow = dialog;

    EXPECT_EQ(PreselectInstalledProduct(dialog, IDC_PRODUCT), c.selected);
    std::vector<std::u16string> items = machine.ControlItems(dialog, IDC_PRODUCT);
    ASSERT_EQ(items.size(), c.items);
    EXPECT_EQ(items.front(), u"ostrel! 4 Home/Professional");
    EXPECT_EQ(items.back(), c.lastItem);
    EXPECT_EQ(machine.ControlSelection(dialog, IDC_PRODUCT), c.selected);
    EXPECT_EQ(machine.ControlText(dialog, IDC_FOLDER), c.folder);
    EXPECT_EQ(g_product.productFolder, c.folder);
    EXPECT_EQ(g_product.productRegistryKey, c.registryKey);
  }
  ResetProcessState();
}

}  // namespace
}  // namespace zp
