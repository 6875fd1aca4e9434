// The sequences of the legacy and side products on the simulated machine: their progress lines
// with and without a product folder, the folder question, the rescue-CD manager's images, the
// older 32-bit product on both families.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kService = u"Service ostrel! Antivirus - Removed";
constexpr const char16_t* kResident = u"Resident protection - Removed";
constexpr const char16_t* kExplorer = u"Explorer extensions - Removed";
constexpr const char16_t* kRegistry = u"Registry - Removed";
constexpr const char16_t* kFiles = u"Program files - Removed";
constexpr const char16_t* kDone = u"Program was successfully removed";
constexpr const char16_t* kUninstall = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char16_t* kQuestionStart = u"Are you sure that entered path contains";

// A machine with the program's strings, and the product chosen as detection would leave it.
class LegacySequences : public test::FreshProcess {
 protected:
  void Start(std::u16string_view productId, sim::OsFacts os = sim::OsFacts::WindowsXp()) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    test::AddProgramStrings(*machine_);
    machine_->Install();
    g_setup.Init();
    g_setup.hInstance = machine_->ProgramModule();
    g_setup.languageId = 1033;
    const ProductTemplates* templates = TemplatesFor(productId);
    ASSERT_NE(templates, nullptr);
    g_product.productId = std::u16string(productId);
    g_product.defaultProgramFolder = std::u16string(templates->defaultProgramFolder);
    g_product.productRegistryKey = std::u16string(templates->productRegistryKey);
  }
  std::u16string DefaultFolder() {
    return g_setup.Expand(g_product.defaultProgramFolder.c_str());
  }
  // The product installed in `folder` (empty: no folder known).
  void InstallIn(const std::u16string& folder) {
    g_product.productFolder = folder;
    if (!folder.empty()) machine_->AddFile(folder + u"\\program.exe");
  }
  HWND OpenDialog() {
    HWND dialog = machine_->AddDialog();
    machine_->AddControl(dialog, IDC_PROGRESS);
    g_run.dialogWindow = dialog;
    return dialog;
  }
  std::unique_ptr<sim::Machine> machine_;
};

std::u16string Lines(std::initializer_list<const char16_t*> lines) {
  std::u16string text;
  for (const char16_t* line : lines) text.append(line).append(u"\r\n");
  return text;
}

TEST_F(LegacySequences, ProgressLinesWithAndWithoutAProductFolder) {
  struct Case {
    const char16_t* productId;
    const char16_t* uninstallEntry;
    std::u16string before;  // the lines up to the registry line
  };
  const Case cases[] = {
      {u"vork", u"VORK", Lines({u"", kExplorer, kRegistry})},
      {u"qv_ker", u"ostrel!Kerio", Lines({kService, kExplorer, kRegistry})},
      {u"qv_pda_palm", u"ostrel! PDA Edition", Lines({kService, kExplorer, kRegistry})},
      {u"qv_32", u"OSTREL32", Lines({kService, kResident, kExplorer, kRegistry})},
      {u"qv_mgm", u"ostrel!MGM", Lines({u"", kService, kExplorer, kRegistry})},
  };
  for (const Case& c : cases) {
    for (bool withFolder : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::string(c.productId, c.productId + 4)
                                      << (withFolder ? " with its folder" : " without a folder"));
      ResetProcessState();
      Start(c.productId);
      HWND dialog = OpenDialog();
      const std::u16string entry = kUninstall + std::u16string(c.uninstallEntry);
      const std::u16string productKey = u"HKLM\\" + g_product.productRegistryKey;
      machine_->SetString(entry, u"DisplayName", u"x");
      machine_->SetString(productKey, u"Version", u"4.0");
      machine_->SetString(u"HKCU\\" + g_product.productRegistryKey, u"Version", u"4.0");
      const std::u16string folder = DefaultFolder();
      machine_->AddFile(folder + u"\\program.exe");
      g_product.productFolder = withFolder ? folder : u"";

      RemovalRun();
      EXPECT_EQ(machine_->ControlText(dialog, IDC_PROGRESS),
                c.before + (withFolder ? Lines({kFiles, kDone}) : Lines({kDone})));
      EXPECT_TRUE(machine_->messageBoxes().empty()) << "the default folder: no question";
      EXPECT_EQ(machine_->Exists(folder), !withFolder);
      EXPECT_FALSE(machine_->KeyExists(entry)) << "the uninstall entry goes in any case";
      EXPECT_FALSE(machine_->KeyExists(productKey));
      EXPECT_FALSE(machine_->KeyExists(u"HKCU\\" + g_product.productRegistryKey));
    }
  }
}

TEST_F(LegacySequences, TheFolderQuestion) {
  struct Case {
    const char* name;
    const char16_t* productId;
    const char16_t* folder;  // null: the default folder; "\\": the default with a final one
    int silentLevel;
    int answer;
    bool asked, deleted;
  };
  const Case cases[] = {
      {"PDA edition in its default folder", u"qv_pda_palm", nullptr, 0, 0, false, true},
      {"PDA edition elsewhere, Yes", u"qv_pda_palm", u"D:\\Pda", 0, IDYES, true, true},
      {"PDA edition elsewhere, No", u"qv_pda_palm", u"D:\\Pda", 0, IDNO, true, false},
      {"PDA edition elsewhere, silent still asks", u"qv_pda_palm", u"D:\\Pda", 2, IDNO, true,
       false},
      {"PDA edition elsewhere, very silent", u"qv_pda_palm", u"D:\\Pda", 3, 0, false, true},
      {"32-bit product, default folder with a final backslash", u"qv_32", u"\\", 0, 0, false,
       true},
      {"32-bit product elsewhere with a final backslash", u"qv_32", u"D:\\Ostrel32\\", 0, IDNO,
       true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.productId);
    HWND dialog = OpenDialog();
    g_setup.silentLevel = c.silentLevel;
    std::u16string folder = DefaultFolder();
    if (c.folder != nullptr) folder = c.folder[0] == u'\\' ? folder + u"\\" : c.folder;
    InstallIn(folder);
    if (c.answer != 0) machine_->AnswerMessageBoxes({c.answer});

    RemovalRun();
    ASSERT_EQ(machine_->messageBoxes().size(), c.asked ? 1u : 0u);
    if (c.asked) {
      const sim::MessageBoxCall& box = machine_->messageBoxes()[0];
      EXPECT_TRUE(box.text.starts_with(kQuestionStart));
      EXPECT_EQ(box.caption, u"ostrel! Antivirus Uninstall");
      EXPECT_EQ(box.type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
      EXPECT_EQ(box.owner, dialog);
    }
    EXPECT_EQ(machine_->Exists(folder + u"\\program.exe"), !c.deleted);
    EXPECT_EQ(machine_->ControlText(dialog, IDC_PROGRESS).find(kFiles) != std::u16string::npos,
              c.deleted);
  }
}

TEST_F(LegacySequences, RescueCdImagesGoWithTheFolderFromVistaOn) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    const char16_t* images;
    bool otherFolder;  // installed elsewhere, and the question answered No
    bool imagesDeleted;
  };
  const Case cases[] = {
      {"Windows XP", sim::OsFacts::WindowsXp(),
       u"C:\\Documents and Settings\\All Users\\Application Data\\Keswin Software\\VORK", false,
       false},
      {"Windows 7", sim::OsFacts::Windows7(), u"C:\\ProgramData\\Keswin Software\\VORK", false,
       true},
      {"Windows 7, the folder kept", sim::OsFacts::Windows7(),
       u"C:\\ProgramData\\Keswin Software\\VORK", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(u"vork", c.os);
    machine_->AddFile(std::u16string(c.images) + u"\\image.iso");
    machine_->AddFile(u"C:\\ProgramData\\Keswin Software\\Other\\keep.txt");
    InstallIn(c.otherFolder ? u"D:\\Vork" : DefaultFolder());
    if (c.otherFolder) machine_->AnswerMessageBoxes({IDNO});
    RemovalRun();
    EXPECT_EQ(machine_->Exists(c.images), !c.imagesDeleted);
    EXPECT_EQ(machine_->Exists(g_product.productFolder), c.otherFolder);
    if (c.os.version.majorVersion >= 6) {
      EXPECT_TRUE(machine_->Exists(u"C:\\ProgramData\\Keswin Software\\Other\\keep.txt"));
    }
  }
}

TEST_F(LegacySequences, OldThirtyTwoBitProductOnBothFamilies) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    bool withFolder;
  };
  const Case cases[] = {
      {"Windows XP", sim::OsFacts::WindowsXp(), true},
      {"Windows 98", sim::OsFacts::Windows98(), true},
      {"Windows XP without a folder", sim::OsFacts::WindowsXp(), false},
  };
  constexpr const char16_t* kRun = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  constexpr const char16_t* kVdd = u"HKLM\\System\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(u"qv_32", c.os);
    const bool nt = c.os.version.platformId == VER_PLATFORM_WIN32_NT;
    const std::u16string system = g_setup.Expand(u"%SYS%");
    const std::u16string folder = DefaultFolder();
    machine_->AddFile(folder + u"\\OSTREL32.EXE");
    g_product.productFolder = c.withFolder ? folder : u"";
    if (nt) {
      machine_->AddService(u"Ostrel32 Start as Service", SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_RUNNING);
      machine_->AddService(u"QvUpdSvc");
      machine_->SetMultiString(kVdd, u"VDD",
                               {folder + u"\\ZARORUVO.DLL", u"C:\\Other\\other.dll"});
    }
    for (const char16_t* driver : {u"zavmker.sys", u"qvmon.sys", u"qvmon2.sys"})
      machine_->AddFile(system + u"\\drivers\\" + driver);
    machine_->SetDword(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\qvmon", u"Start", 1);
    machine_->AddFile(system + u"\\config.nt", "dos=high\r\ndevice=QVMONDOS.SYS\r\nfiles=40\r\n");
    machine_->AddFile(system + u"\\qvss32.scr");
    machine_->SetString(kRun, u"QvMaiSrv", u"x");
    machine_->SetString(kRun, u"Ostrel32", u"x");
    machine_->SetString(u"HKLM\\SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions", u"ostrel32",
                        u"x");
    machine_->SetString(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
                        u"qvInv.exe",
                        u"Path", folder);
    machine_->SetString(u"HKLM\\Software\\Keswin Software\\Ostrel32", u"x", u"x");

    RemovalRun();
    const std::vector<std::u16string> log = test::LogTexts();
    auto logged = [&](std::u16string_view text) {
      return std::find(log.begin(), log.end(), text) != log.end();
    };
    EXPECT_EQ(logged(u"Service ostrel32 uninstalled"), !nt) << "the 9x name only on 9x";
    EXPECT_EQ(logged(u"Service Ostrel32 Start as Service uninstalled"), nt);
    EXPECT_EQ(logged(u"Service QvUpdSvc uninstalled"), nt);
    if (nt) {
      EXPECT_FALSE(machine_->ServiceExists(u"Ostrel32 Start as Service"));
      EXPECT_FALSE(machine_->ServiceExists(u"QvUpdSvc"));
      EXPECT_EQ(machine_->MultiString(kVdd, u"VDD"),
                std::vector<std::u16string>{u"C:\\Other\\other.dll"});
    }
    // The NT family's resident protection, and nothing of it on 9x.
    for (const char16_t* driver : {u"zavmker.sys", u"qvmon.sys", u"qvmon2.sys"})
      EXPECT_EQ(machine_->Exists(system + u"\\drivers\\" + driver), !nt);
    EXPECT_EQ(machine_->KeyExists(u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\qvmon"), !nt);
    EXPECT_EQ(*machine_->FileContent(system + u"\\config.nt"),
              nt ? "dos=high\r\nfiles=40\r\n" : "dos=high\r\ndevice=QVMONDOS.SYS\r\nfiles=40\r\n");
    // The rest runs on both.
    EXPECT_FALSE(machine_->Exists(system + u"\\qvss32.scr"));
    EXPECT_FALSE(machine_->String(kRun, u"QvMaiSrv").has_value());
    EXPECT_EQ(machine_->String(kRun, u"Ostrel32").has_value(), !c.withFolder)
        << "the Run entry only with a folder";
    EXPECT_FALSE(machine_->String(u"HKLM\\SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions",
                                  u"ostrel32")
                     .has_value());
    EXPECT_EQ(machine_->KeyExists(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                                  u"App Paths\\qvInv.exe"),
              !c.withFolder);
    EXPECT_FALSE(machine_->KeyExists(u"HKLM\\Software\\Keswin Software\\Ostrel32"));
    EXPECT_EQ(machine_->Exists(folder), !c.withFolder);
  }
}

}  // namespace
}  // namespace zp
