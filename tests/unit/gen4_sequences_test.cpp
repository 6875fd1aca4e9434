// The generation-4 sequences through RemovalRun: what each edition removes and reports, the
// product folder, the home server's folder, the file server's parameters, the registry step's
// result and the Security Center.
#include <gtest/gtest.h>

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

constexpr const char16_t* kFolder = u"C:\\Program Files\\Keswin Software\\Ostrel4";
constexpr const char16_t* kProductKey = u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0";
constexpr const char16_t* kShellFolders =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char16_t* kPrograms = u"C:\\Documents and Settings\\All Users\\Programs";
constexpr const char16_t* kDesktop = u"C:\\Documents and Settings\\All Users\\Desktop";
constexpr const char16_t* kHklmRun = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kHkcuRun = u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kAppPaths =
    u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const char16_t* kServerParameters =
    u"HKLM\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
constexpr const char16_t* kSystem = u"C:\\WINDOWS\\system32\\";

const std::u16string kFailure =
    u"Program could not be removed.\nPlease contact tech support by email support@example.com";

const std::u16string kService = u"Service ostrel! Antivirus - Removed\r\n";
const std::u16string kResident = u"Resident protection - Removed\r\n";
const std::u16string kExplorer = u"Explorer extensions - Removed\r\n";
const std::u16string kRegistry = u"Registry - Removed\r\n";
const std::u16string kFiles = u"Program files - Removed\r\n";
const std::u16string kDone = u"Program was successfully removed\r\n";

// Every uninstall entry of the family, and which edition deletes it.
struct UninstallEntry {
  const char16_t* key;
  const char16_t* productId;
};
constexpr UninstallEntry kUninstallEntries[] = {
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!", u"qv_pro"},
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!SRV", u"qv_srv"},
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!NET", u"qv_net"},
    {u"HKCU\\Software\\Microsoft\\Installer\\Products\\0C014377226794945A89F276C13F73AE",
     u"qv_whs"},
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
     u"{773410C0-7622-4949-A598-2F671CF337EA}",
     u"qv_whs"},
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\"
     u"{773410C0-7622-4949-A598-2F671CF337EA}",
     u"qv_whs"},
    {u"HKLM\\Software\\Microsoft\\Windows Home Server\\RegisteredAdditions\\"
     u"{773410c0-7622-4949-a598-2f671cf337ea}",
     u"qv_whs"},
    {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!WHS", u"qv_whs"},
};

// The proxy filter's stand-in notes whether the pop-up wizard had run before it: the order of
// the drivers step and the server integrations.
struct FilterCall {
  sim::Machine* machine = nullptr;
  std::vector<size_t> wizardsBefore;
};
FilterCall g_filter;
HRESULT ZP_STDCALL UnregisterProxyFilter() {
  g_filter.wizardsBefore.push_back(g_filter.machine->processesStarted().size());
  return S_OK;
}

class Gen4Sequences : public test::FreshProcess {
 protected:
  void Start(std::u16string_view productId, sim::OsFacts os = sim::OsFacts::WindowsXp(),
             std::u16string_view folder = kFolder) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    test::AddProgramStrings(*machine_);
    if (productKey_) machine_->SetString(kProductKey, u"Ostrel4ProgramFolder", kFolder);
    machine_->AddFile(std::u16string(kFolder) + u"\\zorOstrel.exe");
    machine_->SetString(kShellFolders, u"Common Programs", kPrograms);
    machine_->SetString(kShellFolders, u"Common Desktop", kDesktop);
    machine_->Install();
    g_setup.Init();
    g_setup.hInstance = machine_->ProgramModule();
    g_setup.languageId = 1033;
    g_product.productId = std::u16string(productId);
    g_product.productFolder = std::u16string(folder);
    g_product.defaultProgramFolder = u"%PRGFILES%\\Keswin Software\\Ostrel4";
    g_product.productRegistryKey = u"Software\\Keswin Software\\Ostrel\\4.0";
    dialog_ = machine_->AddDialog();
    machine_->AddControl(dialog_, IDC_PROGRESS);
    g_run.dialogWindow = dialog_;
  }
  std::u16string Progress() const { return machine_->ControlText(dialog_, IDC_PROGRESS); }
  std::unique_ptr<sim::Machine> machine_;
  HWND dialog_ = nullptr;
  bool productKey_ = true;
};

TEST_F(Gen4Sequences, EachEditionItsNamesLinesAndUninstallEntries) {
  struct Case {
    const char16_t* productId;
    bool newNames;
    bool emptyFirstLine;
    const char16_t* group;                       // the edition's own program group
    std::vector<size_t> wizardsBeforeTheFilter;  // empty: no server integrations
  };
  const Case cases[] = {
      {u"qv_pro", false, false, u"ostrel! Antivirus", {}},
      {u"qv_srv", true, true, u"ostrel! Antivirus", {1}},
      {u"QV_NET", true, true, u"ostrel! Antivirus", {1}},
      {u"qv_whs", true, false, u"ostrel! Windows Home Server Edition", {0}},
  };
  for (const Case& c : cases) {
    const std::u16string id(c.productId);
    SCOPED_TRACE(std::string(id.begin(), id.end()));
    ResetProcessState();
    Start(c.productId);
    for (const UninstallEntry& entry : kUninstallEntries) machine_->CreateKey(entry.key);
    for (const char16_t* program : {u"zohOstrel.exe", u"zorOstrel.exe"})
      machine_->SetString(std::u16string(kAppPaths) + program, u"Path", kFolder);
    for (const char16_t* file : {u"ostrelss.scr", u"ostrelssw.scr"})
      machine_->AddFile(std::u16string(kSystem) + file);
    const std::u16string ownGroup = std::u16string(kPrograms) + u"\\" + c.group + u"\\a.lnk";
    const std::u16string otherGroup =
        std::u16string(kPrograms) + u"\\ostrel! Windows Home Server Edition\\b.lnk";
    machine_->AddFile(ownGroup);
    machine_->AddFile(otherGroup);
    machine_->AddFile(std::u16string(kDesktop) + u"\\ostrel!.lnk");
    machine_->SetString(kHklmRun, u"ostrel!", u"x");
    machine_->SetString(kHkcuRun, u"ostrel!", u"x");
    machine_->AddService(u"ostrel! NetAgent", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
    machine_->AddProgram(std::u16string(kFolder) + u"\\zohPopWz.exe");
    machine_->AddProgram(std::u16string(kFolder) + u"\\zorPopWz.exe");
    g_filter = {machine_.get(), {}};
    machine_->AddLibrary(
        std::u16string(kFolder) + u"\\QvIsaHlp.dll",
        {{"UnregisterProxyFilter", reinterpret_cast<const void*>(UnregisterProxyFilter)}});

    EXPECT_EQ(RemovalRun(), RemovalResult::Completed);

    EXPECT_EQ(Progress(), (c.emptyFirstLine ? u"\r\n" : u"") + kService + kResident + kExplorer +
                              kRegistry + kFiles + kDone);
    EXPECT_TRUE(machine_->messageBoxes().empty()) << "the default place: no question";
    EXPECT_FALSE(machine_->Exists(kFolder));
    EXPECT_FALSE(machine_->KeyExists(kProductKey));
    for (const UninstallEntry& entry : kUninstallEntries) {
      EXPECT_EQ(machine_->KeyExists(entry.key), !SameText(id, entry.productId));
    }
    // The two name generations
    EXPECT_EQ(machine_->KeyExists(std::u16string(kAppPaths) + u"zorOstrel.exe"), !c.newNames);
    EXPECT_EQ(machine_->KeyExists(std::u16string(kAppPaths) + u"zohOstrel.exe"), c.newNames);
    EXPECT_EQ(machine_->Exists(std::u16string(kSystem) + u"ostrelssw.scr"), !c.newNames);
    EXPECT_EQ(machine_->Exists(std::u16string(kSystem) + u"ostrelss.scr"), c.newNames);
    ASSERT_EQ(machine_->processesStarted().size(), 1u);
    EXPECT_EQ(machine_->processesStarted()[0].commandLine,
              u"\"" + std::u16string(kFolder) +
                  (c.newNames ? u"\\zorPopWz.exe\" /a-" : u"\\zohPopWz.exe\" /a-"));
    // Shortcuts and autostart
    EXPECT_FALSE(machine_->Exists(ownGroup));
    EXPECT_EQ(machine_->Exists(otherGroup), ownGroup.find(u"Home Server") == std::u16string::npos);
    EXPECT_FALSE(machine_->Exists(std::u16string(kDesktop) + u"\\ostrel!.lnk"));
    EXPECT_FALSE(machine_->String(kHklmRun, u"ostrel!"));
    EXPECT_FALSE(machine_->String(kHkcuRun, u"ostrel!"));
    // The management agent belongs to the managed client: deleted without a stop, so a running
    // agent is only marked for deletion
    EXPECT_EQ(machine_->ServiceMarkedForDeletion(u"ostrel! NetAgent"), SameText(id, u"qv_net"));
    EXPECT_EQ(machine_->ServiceState(u"ostrel! NetAgent"), SERVICE_RUNNING);
    EXPECT_EQ(g_filter.wizardsBefore, c.wizardsBeforeTheFilter);
  }
}

TEST_F(Gen4Sequences, WithoutAProductFolderNothingOfTheFolderHappens) {
  struct Case {
    const char16_t* productId;
    std::u16string progress;
  };
  const Case cases[] = {
      {u"qv_pro", kService + kResident + kExplorer + kRegistry + kDone},
      {u"qv_srv", u"\r\n" + kService + kResident + kExplorer + kRegistry + kDone},
      {u"qv_net", u"\r\n" + kService + kResident + kExplorer + kRegistry + kDone},
      {u"qv_whs", kService + kResident + kExplorer + kRegistry + kDone},
  };
  for (const Case& c : cases) {
    const std::u16string id(c.productId);
    SCOPED_TRACE(std::string(id.begin(), id.end()));
    ResetProcessState();
    Start(c.productId, sim::OsFacts::WindowsXp(), u"");
    machine_->AddWindow(u"zorDispMainWndClass");
    // A wizard that a bare name would find
    machine_->AddProgram(machine_->CurrentDirectory() + u"\\zorPopWz.exe");
    machine_->AddProgram(machine_->CurrentDirectory() + u"\\zohPopWz.exe");

    EXPECT_EQ(RemovalRun(), RemovalResult::Completed);

    EXPECT_EQ(Progress(), c.progress) << "no program files line";
    EXPECT_TRUE(machine_->messageBoxes().empty()) << "no folder guard, no question";
    EXPECT_TRUE(machine_->postedMessages().empty()) << "no WM_QUIT";
    EXPECT_TRUE(machine_->processesStarted().empty()) << "no wizard";
    EXPECT_TRUE(machine_->Exists(kFolder));
  }
}

TEST_F(Gen4Sequences, HomeServerFilesInTheFolderTheSettingsName) {
  constexpr const char16_t* kDefault = u"C:\\Program Files\\Windows Home Server\\";
  constexpr const char16_t* kOther = u"D:\\WHS\\";
  constexpr const char16_t* kFiles[] = {u"HomeServerConsoleTab.OstrelTab.dll", u"zorWhs.dll",
                                        u"whsNotif.exe"};
  for (bool named : {true, false}) {
    SCOPED_TRACE(named ? "WHSFolder named" : "no settings file");
    ResetProcessState();
    Start(u"qv_whs");
    if (named)
      machine_->AddFile(std::u16string(kFolder) + u"\\data\\ostrel4.ini",
                        "[WHS]\r\nWHSFolder=D:\\WHS\r\n");
    for (const char16_t* folder : {kDefault, kOther})
      for (const char16_t* file : kFiles) machine_->AddFile(std::u16string(folder) + file);
    machine_->LockFile(std::u16string(named ? kOther : kDefault) + u"zorWhs.dll");

    RemovalRun();

    for (const char16_t* file : kFiles) {
      const std::u16string there = std::u16string(named ? kOther : kDefault) + file;
      const std::u16string elsewhere = std::u16string(named ? kDefault : kOther) + file;
      EXPECT_EQ(machine_->Exists(there), std::u16string_view(file) == u"zorWhs.dll")
          << "a file in use stays until the restart";
      EXPECT_TRUE(machine_->Exists(elsewhere));
    }
    EXPECT_TRUE(g_setup.RebootPending);
  }
}

TEST_F(Gen4Sequences, OplocksOnlyOnServerWindowsAndNotForTheDesktopProduct) {
  struct Case {
    const char* name;
    const char16_t* productId;
    sim::OsFacts os;
    bool restored;
  };
  const Case cases[] = {
      {"qv_srv on a workstation", u"qv_srv", sim::OsFacts::WindowsXp(), false},
      {"qv_srv on a server", u"qv_srv", sim::OsFacts::Server2003(), true},
      {"qv_whs on a server", u"qv_whs", sim::OsFacts::Server2003(), true},
      {"qv_pro on a server", u"qv_pro", sim::OsFacts::Server2003(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.productId, c.os);
    machine_->SetDword(kServerParameters, u"EnableOplocks", 0);
    machine_->SetDword(kServerParameters, u"CachedOpenLimit", 0);
    RemovalRun();
    // Nothing was saved where the removal looks: the parameters return to their defaults.
    EXPECT_EQ(machine_->Value(kServerParameters, u"EnableOplocks").has_value(), !c.restored);
    EXPECT_EQ(machine_->Value(kServerParameters, u"CachedOpenLimit").has_value(), !c.restored);
  }
}

TEST_F(Gen4Sequences, OnlyTheDesktopProductsRegistryResultGatesTheProgramFiles) {
  struct Case {
    const char* name;
    const char16_t* productId;
    bool keyPresent;
    bool keyLocked;  // its deletion is refused
    RemovalResult result;
    std::u16string progress;
  };
  const std::u16string complete = kService + kResident + kExplorer + kRegistry + kFiles + kDone;
  const Case cases[] = {
      {"qv_pro with its key", u"qv_pro", true, false, RemovalResult::Completed, complete},
      {"qv_pro whose key is gone already", u"qv_pro", false, false, RemovalResult::Completed,
       complete},
      {"qv_pro whose key cannot be deleted", u"qv_pro", true, true, RemovalResult::Failed,
       kService + kResident + kExplorer + kDone},
      {"qv_srv whose key cannot be deleted", u"qv_srv", true, true, RemovalResult::Completed,
       u"\r\n" + complete},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    productKey_ = c.keyPresent;
    Start(c.productId);
    if (c.keyLocked) machine_->DenyKeyAccess(kProductKey, DELETE);
    g_setup.silentLevel = 3;
    machine_->AnswerMessageBoxes({IDOK});
    const std::u16string uninstall =
        SameText(c.productId, u"qv_pro") ? kUninstallEntries[0].key : kUninstallEntries[1].key;
    machine_->CreateKey(uninstall);

    EXPECT_EQ(RemovalRun(), c.result);

    const bool failed = c.result == RemovalResult::Failed;
    EXPECT_EQ(Progress(), c.progress);
    EXPECT_EQ(machine_->Exists(kFolder), failed) << "the program files stay after a failure";
    EXPECT_EQ(g_setup.offerRestart, !failed);
    EXPECT_FALSE(machine_->KeyExists(uninstall)) << "the uninstall entry goes in any case";
    if (failed) {
      ASSERT_EQ(machine_->messageBoxes().size(), 1u) << "shown also when very silent";
      EXPECT_EQ(machine_->messageBoxes()[0].text, kFailure);
      EXPECT_EQ(machine_->messageBoxes()[0].caption, u"zorPurge");
      EXPECT_EQ(machine_->messageBoxes()[0].owner, nullptr);
      EXPECT_EQ(machine_->messageBoxes()[0].type, MB_OK);
    } else {
      EXPECT_TRUE(machine_->messageBoxes().empty());
    }
  }
}

TEST_F(Gen4Sequences, SecurityCenterFromWindowsXpOnWithoutTheFirewall) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    std::vector<std::u16string> classes;  // of the instances deleted, in order
  };
  const Case cases[] = {
      {"Windows 2000", sim::OsFacts::Windows2000(), {}},
      {"XP: no antispyware class yet", sim::OsFacts::WindowsXp(), {u"AntiVirusProduct"}},
      {"7", sim::OsFacts::Windows7(), {u"AntiVirusProduct", u"AntiSpywareProduct"}},
  };
  for (const char16_t* productId : {u"qv_pro", u"qv_whs"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ResetProcessState();
      Start(productId, c.os);
      RemovalRun();
      std::vector<std::u16string> classes;
      for (const std::u16string& path : machine_->wmi().deletes)
        classes.push_back(path.substr(0, path.find(u'.')));
      EXPECT_EQ(classes, c.classes);
      EXPECT_EQ(machine_->wmi().connects.empty(), c.classes.empty());
      EXPECT_EQ(machine_->ComInitializations(), 0);
    }
  }
}

}  // namespace
}  // namespace zp
