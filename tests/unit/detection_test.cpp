// Install location detection: the rules of the products, the folder check and its fallback,
// the generation read from "Version", and what one detection leaves for the next.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/detection.h"
#include "platform/sim/machine.h"
#include "resource_ids.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"

namespace zp {
namespace {

// The keys as a 32-bit process on 64-bit Windows reads them: physically under Wow6432Node.
constexpr const char16_t* kGen4 = u"HKLM\\Software\\Wow6432Node\\Keswin Software\\Ostrel\\4.0";
constexpr const char16_t* kGen5 = u"HKLM\\Software\\Wow6432Node\\Keswin Software\\Ostrel\\5.0";
constexpr const char16_t* kCurrent = u"HKLM\\Software\\Wow6432Node\\Ostrel Software\\Ostrel";
constexpr const char16_t* kOstrel32 = u"HKLM\\Software\\Wow6432Node\\KESWIN Software\\OSTREL32";
std::u16string Uninstall(std::u16string_view name) {
  return u"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
         std::u16string(name);
}

constexpr const char16_t* kFolder = u"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
constexpr const char16_t* kMissing = u"C:\\Program Files (x86)\\Gone";
constexpr const char16_t* kInstallLocation = u"C:\\Program Files (x86)\\Keswin Software\\Setup";
constexpr const char16_t* kData = u"C:\\ProgramData\\Ostrel";

constexpr std::u16string_view kGen4RegistryKey = u"Software\\Keswin Software\\Ostrel\\4.0";
constexpr std::u16string_view kCurrentRegistryKey = u"Software\\OSTREL Software\\Ostrel";
constexpr std::u16string_view kOstrel32RegistryKey = u"Software\\KESWIN Software\\OSTREL32";

class Detection : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }

  void Start() {
    ResetProcessState();
    machine_ = std::make_unique<sim::Machine>(sim::OsFacts::Windows7X64());
    machine_->AddFolder(kFolder);
    machine_->AddFolder(kInstallLocation);
    machine_->Install();
    ASSERT_TRUE(g_setup.Init());
    dialog_ = machine_->AddDialog();
    machine_->AddControl(dialog_, IDC_FOLDER);
    g_run.dialogWindow = dialog_;
  }

  std::u16string FolderField() const { return machine_->ControlText(dialog_, IDC_FOLDER); }

  std::unique_ptr<sim::Machine> machine_;
  HWND dialog_ = nullptr;
};

TEST_F(Detection, Rules) {
  using Arrange = std::function<void(sim::Machine&)>;
  auto gen4 = [](const char16_t* product) {
    return [product](sim::Machine& m) {
      if (product) m.SetString(kGen4, u"Product", product);
      m.SetString(kGen4, u"Ostrel4ProgramFolder", kFolder);
    };
  };
  auto current = [](const char16_t* product, const char16_t* version) {
    return [product, version](sim::Machine& m) {
      m.SetString(kCurrent, u"Product", product);
      m.SetString(kCurrent, u"Version", version);
      m.SetString(kCurrent, u"ProgramFolder", kFolder);
      m.SetString(kCurrent, u"DataFolder", kData);
    };
  };
  struct Case {
    const char* name;
    const char16_t* productId;
    Arrange arrange;
    const char16_t* folder;
    const char16_t* dataFolder;
    int generation;
    std::u16string_view registryKey;  // the installed templates' key; empty: none installed
  };
  const std::u16string longFolder = u"C:\\" + std::u16string(257, u'x');  // 260 characters
  const Case cases[] = {
      {"qv_pro without Product", u"qv_pro", gen4(nullptr), kFolder, u"", 0, kGen4RegistryKey},
      {"qv_srv without Product", u"qv_srv", gen4(nullptr), u"", u"", 0, u""},
      {"qv_pro with Product qv_net", u"qv_pro", gen4(u"qv_net"), u"", u"", 0, u""},
      {"qv_srv with Product qv_net", u"qv_srv", gen4(u"qv_net"), u"", u"", 0, u""},
      {"qv_net with Product QV_NET", u"qv_net", gen4(u"QV_NET"), kFolder, u"", 0,
       kGen4RegistryKey},
      {"qv_whs with Product qv_net", u"qv_whs", gen4(u"qv_net"), u"", u"", 0, u""},
      {"qv_whs with Product qv_whs", u"QV_WHS", gen4(u"qv_whs"), kFolder, u"", 0,
       kGen4RegistryKey},
      {"ois of generation 8", u"ois", current(u"ois", u"8.0"), kFolder, kData, 8,
       kCurrentRegistryKey},
      {"ois of generation \" 7\"", u"ois", current(u"", u" 7"), kFolder, kData, 7,
       kCurrentRegistryKey},
      // No generation: no folder value is read, only the generation-5 uninstall key helps.
      {"ois of version abc", u"ois",
       [&](sim::Machine& m) {
         current(u"ois", u"abc")(m);
         m.SetString(Uninstall(u"ostrel"), u"InstallLocation", u"C:\\Wrong");
         m.SetString(Uninstall(u"ostrel5"), u"InstallLocation", kInstallLocation);
       },
       kInstallLocation, u"", 0, kCurrentRegistryKey},
      {"ois with only the generation-5 key", u"ois",
       [](sim::Machine& m) {
         m.SetString(kGen5, u"ProgramFolder", kFolder);
         m.SetString(kGen5, u"DataFolder", kData);
       },
       kFolder, kData, 5, kCurrentRegistryKey},
      {"ois rejects the business edition", u"ois", current(u"obp", u"7.1"), u"", u"", 7, u""},
      {"obp rejects a consumer edition", u"obp", current(u"ois", u"6.0"), u"", u"", 6, u""},
      {"obp", u"obp", current(u"OBP", u"8.2"), kFolder, kData, 8, kCurrentRegistryKey},
      {"missing folder replaced by InstallLocation", u"qv_pro",
       [](sim::Machine& m) {
         m.SetString(kGen4, u"Ostrel4ProgramFolder", kMissing);
         m.SetString(Uninstall(u"ostrel!"), u"InstallLocation", kInstallLocation);
       },
       kInstallLocation, u"", 0, kGen4RegistryKey},
      {"missing folder kept without InstallLocation", u"qv_pro",
       [](sim::Machine& m) { m.SetString(kGen4, u"Ostrel4ProgramFolder", kMissing); }, kMissing,
       u"", 0, kGen4RegistryKey},
      {"folder that may not be examined", u"qv_pro",
       [](sim::Machine& m) {
         m.SetString(kGen4, u"Ostrel4ProgramFolder", kMissing);
         m.SetString(Uninstall(u"ostrel!"), u"InstallLocation", kInstallLocation);
         m.FailCall("GetFileAttributesW", ERROR_ACCESS_DENIED, u"Gone");
       },
       kMissing, u"", 0, kGen4RegistryKey},
      {"qv_32 takes its folder unchecked", u"qv_32",
       [](sim::Machine& m) { m.SetString(kOstrel32, u"ROPath", kMissing); }, kMissing, u"", 0,
       kOstrel32RegistryKey},
      // Values that do not fit their buffers (20 and 260 characters, terminator included) count
      // as missing; one character less still fits.
      {"Product of 20 characters", u"qv_pro", gen4(u"qv_srv--------------"), kFolder, u"", 0,
       kGen4RegistryKey},
      {"Product of 19 characters", u"qv_pro", gen4(u"qv_srv-------------"), u"", u"", 0, u""},
      {"Version of 20 characters", u"obp", current(u"obp", u"8.0.0000000000000000"), kFolder,
       kData, 0, kCurrentRegistryKey},
      {"Version of 19 characters", u"obp", current(u"obp", u"8.0.000000000000000"), kFolder,
       kData, 8, kCurrentRegistryKey},
      {"folder of 260 characters", u"qv_pro",
       [&](sim::Machine& m) {
         m.SetString(kGen4, u"Ostrel4ProgramFolder", longFolder);
         m.SetString(Uninstall(u"ostrel!"), u"InstallLocation", kInstallLocation);
       },
       kInstallLocation, u"", 0, kGen4RegistryKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    c.arrange(*machine_);
    DetectInstallLocation(c.productId);
    EXPECT_EQ(g_product.productFolder, c.folder);
    EXPECT_EQ(g_product.dataFolder, c.dataFolder);
    EXPECT_EQ(g_product.detectedGeneration, c.generation);
    EXPECT_EQ(g_product.gen5RegistryKey, u"Software\\Keswin Software\\Ostrel\\5.0");
    EXPECT_EQ(g_product.productRegistryKey, c.registryKey);
    if (c.registryKey.empty()) {
      EXPECT_EQ(g_product.defaultProgramFolder, u"");
      EXPECT_EQ(g_product.perUserKeyTemplate, u"");
    } else {
      EXPECT_FALSE(g_product.defaultProgramFolder.empty());
      EXPECT_FALSE(g_product.perUserKeyTemplate.empty());
    }
    EXPECT_EQ(FolderField(), c.folder);
  }
}

TEST_F(Detection, LaterDetectionsKeepWhatEarlierOnesFound) {
  machine_->SetString(kCurrent, u"Product", u"ois");
  machine_->SetString(kCurrent, u"Version", u"7.0");
  machine_->SetString(kCurrent, u"ProgramFolder", kFolder);
  machine_->SetString(kCurrent, u"DataFolder", kData);
  DetectInstallLocation(u"ois");
  ASSERT_EQ(g_product.productFolder, kFolder);

  DetectInstallLocation(u"qv_srv");  // not installed
  EXPECT_EQ(g_product.productFolder, kFolder);
  EXPECT_EQ(g_product.dataFolder, kData);
  EXPECT_EQ(g_product.detectedGeneration, 7);
  EXPECT_EQ(g_product.productRegistryKey, kCurrentRegistryKey);
  EXPECT_EQ(g_product.defaultProgramFolder, u"%PRGFILES%\\Keswin Software\\Ostrel5");
  EXPECT_EQ(FolderField(), kFolder);

  // A product found later replaces the folder and the templates; the data folder and the
  // generation stay as the consumer rule left them.
  machine_->SetString(kGen4, u"Ostrel4ProgramFolder", kInstallLocation);
  DetectInstallLocation(u"qv_pro");
  EXPECT_EQ(g_product.productFolder, kInstallLocation);
  EXPECT_EQ(g_product.dataFolder, kData);
  EXPECT_EQ(g_product.detectedGeneration, 7);
  EXPECT_EQ(g_product.productRegistryKey, kGen4RegistryKey);
  EXPECT_EQ(FolderField(), kInstallLocation);
}

TEST_F(Detection, UnknownIdChangesOnlyTheGenerationFiveKeyAndTheField) {
  machine_->SetString(kGen4, u"Ostrel4ProgramFolder", kFolder);
  machine_->SetString(kCurrent, u"Product", u"ois");
  machine_->SetString(kCurrent, u"Version", u"8.0");
  g_product.productFolder = u"D:\\Earlier";
  g_product.dataFolder = u"D:\\EarlierData";
  g_product.detectedGeneration = 6;
  g_product.defaultProgramFolder = u"%PRGFILES%\\Earlier";
  g_product.perUserKeyTemplate = u"Software\\Earlier\\%s";
  g_product.productRegistryKey = u"Software\\Earlier";
  const ProductSelection before = g_product;
  machine_->SetControlText(dialog_, IDC_FOLDER, u"typed by the user");

  DetectInstallLocation(u"qv_nothing");
  EXPECT_EQ(g_product.gen5RegistryKey, u"Software\\Keswin Software\\Ostrel\\5.0");
  g_product.gen5RegistryKey = before.gen5RegistryKey;
  EXPECT_EQ(g_product.productFolder, before.productFolder);
  EXPECT_EQ(g_product.dataFolder, before.dataFolder);
  EXPECT_EQ(g_product.detectedGeneration, before.detectedGeneration);
  EXPECT_EQ(g_product.defaultProgramFolder, before.defaultProgramFolder);
  EXPECT_EQ(g_product.perUserKeyTemplate, before.perUserKeyTemplate);
  EXPECT_EQ(g_product.productRegistryKey, before.productRegistryKey);
  EXPECT_EQ(FolderField(), u"D:\\Earlier");
}

TEST_F(Detection, WithoutADialogNothingIsShown) {
  g_run.dialogWindow = nullptr;
  machine_->SetString(kGen4, u"Ostrel4ProgramFolder", kFolder);
  DetectInstallLocation(u"qv_pro");
  EXPECT_EQ(g_product.productFolder, kFolder);
  EXPECT_EQ(FolderField(), u"");
}

}  // namespace
}  // namespace zp
