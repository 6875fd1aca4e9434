// The network manager's sequence on the simulated machine: its database removed through the
// product's Install.dll with the logon from its secure storage, the questions that appear in
// every run mode, the SQL engine's uninstall, and the report engine it shares with others.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/legacy_steps.h"
#include "engine/removal_run.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "test_support.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

constexpr const char16_t* kFolder = u"C:\\Program Files\\Keswin Software\\Management Tools";
constexpr const char16_t* kInstall =
    u"C:\\Program Files\\Keswin Software\\Management Tools\\Install.dll";
constexpr const char16_t* kSecure =
    u"C:\\Program Files\\Keswin Software\\Management Tools\\zorCmnS.dll";
constexpr const char16_t* kUninstall = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char16_t* kDatabaseQuestion = u"Do you want to remove database?";
constexpr const char16_t* kEngineQuestion =
    u"Do you want to uninstall Microsoft SQL Desktop Engine?";

using Progress = DWORD(ZP_STDCALL*)(DWORD);

// What the stand-ins of the product's two libraries answer, and what they were called with.
struct ProductScript {
  DWORD initAnswer = 1;
  DWORD sqlAnswer = 0;
  bool sqlCrashes = false;
  DWORD secureInitAnswer = 0;
  std::map<std::u16string, std::u16string> secureItems;  // a missing item: read fails
  std::vector<std::string> calls;
  std::vector<std::u16string> sqlTexts;  // the five texts _instSQL@28 received
  DWORD sqlOperation = 0;
  DWORD progressAnswer = 99;
  std::vector<std::pair<DWORD, DWORD>> readArguments;  // buffer size and flags of each read
};
ProductScript g_script;

DWORD ZP_STDCALL InstInit() {
  g_script.calls.push_back("init");
  return g_script.initAnswer;
}
DWORD ZP_STDCALL InstSql(DWORD operation, const char16_t* dataSource, const char16_t* catalog,
                         const char16_t* userId, const char16_t* password,
                         const char16_t* reserved, Progress progress) {
  g_script.calls.push_back("sql");
  g_script.sqlOperation = operation;
  g_script.sqlTexts = {dataSource, catalog, userId, password, reserved};
  g_script.progressAnswer = progress(50);
  if (g_script.sqlCrashes) throw sim::StructuredException{0xC0000005};
  return g_script.sqlAnswer;
}
DWORD ZP_STDCALL InstFree() {
  g_script.calls.push_back("free");
  return 0;
}
DWORD SecureInit() {
  g_script.calls.push_back("secure init");
  return g_script.secureInitAnswer;
}
DWORD SecureRead(const char16_t* item, char16_t* buffer, DWORD chars, DWORD flags) {
  g_script.calls.push_back("read");
  g_script.readArguments.emplace_back(chars, flags);
  auto found = g_script.secureItems.find(item);
  if (found == g_script.secureItems.end()) return 1;
  std::copy(found->second.begin(), found->second.end(), buffer);
  buffer[found->second.size()] = u'\0';
  return 0;
}

class NetworkManager : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os = sim::OsFacts::WindowsXp()) {
    g_script = ProductScript{};
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    test::AddProgramStrings(*machine_);
    machine_->AddFile(std::u16string(kFolder) + u"\\data\\ostrel4.ini",
                      "[SQL]\r\nDataSource=NETSRV\\OSTREL\r\n");
    machine_->Install();
    g_setup.Init();
    g_setup.hInstance = machine_->ProgramModule();
    g_setup.languageId = 1033;
    const ProductTemplates* templates = TemplatesFor(u"qv_mgm");
    g_product.productId = u"qv_mgm";
    g_product.defaultProgramFolder = std::u16string(templates->defaultProgramFolder);
    g_product.productRegistryKey = std::u16string(templates->productRegistryKey);
    g_product.productFolder = kFolder;
  }
  void AddInstallLibrary() {
    machine_->AddLibrary(kInstall, {{"_instInit@0", reinterpret_cast<const void*>(&InstInit)},
                                    {"_instSQL@28", reinterpret_cast<const void*>(&InstSql)},
                                    {"_instFree@0", reinterpret_cast<const void*>(&InstFree)}});
  }
  void AddSecureLibrary() {
    machine_->AddLibrary(
        kSecure, {{"cmnsInitializeSecureStorage", reinterpret_cast<const void*>(&SecureInit)},
                  {"cmnsReadSecureData", reinterpret_cast<const void*>(&SecureRead)}});
    g_script.secureItems = {{u"Catalog", u"ZDNM"}, {u"UserId", u"sa"}, {u"Password", u"s3cret"}};
  }
  // The SQL engine's uninstall entry after another program's, and its uninstall program.
  void AddSqlEngine() {
    machine_->SetString(std::u16string(kUninstall) + u"\\Another", u"SqlInstanceName", u"OTHER");
    machine_->SetString(std::u16string(kUninstall) + u"\\Another", u"UninstallString",
                        u"C:\\other\\remove.exe");
    machine_->SetString(std::u16string(kUninstall) + u"\\MSDE ostrel", u"SqlInstanceName",
                        u"OSTREL");
    machine_->SetString(std::u16string(kUninstall) + u"\\MSDE ostrel", u"UninstallString",
                        u"C:\\msde\\setup.exe /remove");
    machine_->AddProgram(u"C:\\msde\\setup.exe");
    machine_->AddProgram(u"C:\\other\\remove.exe");
  }
  std::vector<std::u16string> BoxTexts() const {
    std::vector<std::u16string> texts;
    for (const sim::MessageBoxCall& box : machine_->messageBoxes()) texts.push_back(box.text);
    return texts;
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(NetworkManager, WithoutInstallDllNoQuestionIsAsked) {
  Start();
  AddSecureLibrary();
  AddSqlEngine();
  RemovalRun();
  EXPECT_TRUE(machine_->messageBoxes().empty());
  EXPECT_TRUE(machine_->processesStarted().empty()) << "the engine is not offered";
  EXPECT_EQ(machine_->LibraryLoadCount(kSecure), 0);
}

TEST_F(NetworkManager, VerySilentStillAsksBothAndTheSettingsReachTheDatabaseRemoval) {
  Start();
  HWND dialog = machine_->AddDialog();
  machine_->AddControl(dialog, IDC_PROGRESS);
  g_run.dialogWindow = dialog;
  g_setup.silentLevel = 3;
  AddInstallLibrary();
  AddSecureLibrary();
  AddSqlEngine();
  machine_->AnswerMessageBoxes({IDYES, IDYES});

  RemovalRun();
  ASSERT_EQ(machine_->messageBoxes().size(), 2u);
  const sim::MessageBoxCall& database = machine_->messageBoxes()[0];
  EXPECT_EQ(database.text, kDatabaseQuestion);
  EXPECT_EQ(database.caption, u"Information");
  EXPECT_EQ(database.type, MB_YESNO | MB_ICONINFORMATION);
  EXPECT_EQ(database.owner, dialog);
  const sim::MessageBoxCall& engine = machine_->messageBoxes()[1];
  EXPECT_EQ(engine.text, kEngineQuestion);
  EXPECT_EQ(engine.caption, u"ostrel! Management Tools");
  EXPECT_EQ(engine.type, MB_YESNO | MB_ICONQUESTION);

  EXPECT_EQ(g_script.calls, (std::vector<std::string>{"secure init", "read", "read", "read",
                                                      "init", "sql", "free"}));
  EXPECT_EQ(g_script.sqlOperation, 2u);
  EXPECT_EQ(g_script.sqlTexts,
            (std::vector<std::u16string>{u"NETSRV\\OSTREL", u"ZDNM", u"sa", u"s3cret", u""}));
  EXPECT_EQ(g_script.progressAnswer, 0u);
  for (const auto& [chars, flags] : g_script.readArguments) {
    EXPECT_EQ(chars, 32768u);
    EXPECT_EQ(flags, 1u);
  }
  ASSERT_EQ(machine_->processesStarted().size(), 1u) << "only the engine named ostrel";
  EXPECT_EQ(machine_->processesStarted()[0].commandLine, u"C:\\msde\\setup.exe /remove");
  EXPECT_TRUE(machine_->processesStarted()[0].waitedFor);
  EXPECT_EQ(machine_->LibraryLoadCount(kInstall), 0);
  EXPECT_EQ(machine_->LibraryLoadCount(kSecure), 0);
  EXPECT_EQ(machine_->LibraryLoadFlags(kInstall), std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
  EXPECT_EQ(machine_->ControlText(dialog, IDC_PROGRESS),
            u"\r\nService ostrel! Antivirus - Removed\r\nExplorer extensions - Removed\r\n"
            u"Registry - Removed\r\nProgram files - Removed\r\n"
            u"Program was successfully removed\r\n");
}

TEST_F(NetworkManager, TheDatabaseRemovalAndItsFailures) {
  struct Case {
    const char* name;
    DWORD initAnswer;
    std::vector<int> answers;
    DWORD sqlAnswer;
    bool sqlCrashes;
    std::vector<std::string> calls;
    std::vector<std::u16string> boxes;
    bool engineRun;
  };
  const Case cases[] = {
      {"the removal fails", 1, {IDYES, IDOK, IDNO}, 0x80004005, false,
       {"init", "sql", "free"},
       {kDatabaseQuestion, u"Error removing database: 0x80004005", kEngineQuestion}, false},
      {"the removal crashes", 1, {IDYES, IDOK, IDYES}, 0, true,
       {"init", "sql", "free"},
       {kDatabaseQuestion, u"Error removing database: 0xc0000005", kEngineQuestion}, true},
      {"No keeps the database, the engine is still offered", 1, {IDNO, IDYES}, 0, false,
       {"init", "free"}, {kDatabaseQuestion, kEngineQuestion}, true},
      {"a box that cannot be shown counts as Yes", 1, {}, 0, false, {"init", "sql", "free"},
       {kDatabaseQuestion, kEngineQuestion}, true},
      {"a failed initialisation asks nothing", 0, {}, 0, false, {"init", "free"}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    AddInstallLibrary();
    AddSqlEngine();
    g_script.initAnswer = c.initAnswer;
    g_script.sqlAnswer = c.sqlAnswer;
    g_script.sqlCrashes = c.sqlCrashes;
    for (int answer : c.answers) machine_->AnswerMessageBoxes({answer});

    RemovalRun();
    EXPECT_EQ(g_script.calls, c.calls);
    EXPECT_EQ(BoxTexts(), c.boxes);
    for (const sim::MessageBoxCall& box : machine_->messageBoxes())
      if (box.caption == u"Error") {
        EXPECT_EQ(box.type, MB_ICONERROR);
      }
    EXPECT_EQ(machine_->processesStarted().size(), c.engineRun ? 1u : 0u);
    EXPECT_EQ(machine_->LibraryLoadCount(kInstall), 0);
    EXPECT_FALSE(machine_->Exists(kFolder)) << "the run goes on to the folder";
  }
}

TEST_F(NetworkManager, MissingSecureDataLeavesItsSettingsEmpty) {
  struct Case {
    const char* name;
    bool library;
    DWORD initAnswer;
    bool withUserId;
    std::vector<std::u16string> texts;
  };
  const Case cases[] = {
      {"no secure storage library", false, 0, true,
       {u"NETSRV\\OSTREL", u"", u"", u"", u""}},
      {"the storage does not open", true, 5, true, {u"NETSRV\\OSTREL", u"", u"", u"", u""}},
      {"one item missing", true, 0, false, {u"NETSRV\\OSTREL", u"ZDNM", u"", u"s3cret", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    AddInstallLibrary();
    if (c.library) AddSecureLibrary();
    g_script.secureInitAnswer = c.initAnswer;
    if (!c.withUserId) g_script.secureItems.erase(u"UserId");
    machine_->AnswerMessageBoxes({IDYES});
    RemovalRun();
    EXPECT_EQ(g_script.sqlTexts, c.texts) << "the removal is attempted with what is known";
  }
}

TEST_F(NetworkManager, NoProductFolderLoadsNothingOfTheProduct) {
  Start();
  g_product.productFolder.clear();
  // A library of the same name where a bare name would be looked for.
  machine_->AddLibrary(u"C:\\WINDOWS\\system32\\Install.dll",
                       {{"_instSQL@28", reinterpret_cast<const void*>(&InstSql)}});
  AddInstallLibrary();
  RemovalRun();
  EXPECT_TRUE(g_script.calls.empty());
  EXPECT_TRUE(machine_->messageBoxes().empty());
}

TEST_F(NetworkManager, TheFileServerParametersOnlyOnAServer) {
  constexpr const char16_t* kParameters =
      u"HKLM\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
  for (bool server : {false, true}) {
    SCOPED_TRACE(server ? "Windows Server 2003" : "Windows XP");
    ResetProcessState();
    Start(server ? sim::OsFacts::Server2003() : sim::OsFacts::WindowsXp());
    machine_->SetDword(kParameters, u"EnableOplocks", 0);
    RemovalRun();
    EXPECT_EQ(machine_->Value(kParameters, u"EnableOplocks").has_value(), !server)
        << "no saved value: back to the default";
  }
}

constexpr const char16_t* kShared = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char16_t* kCrystal = u"C:\\Program Files\\Common Files\\Crystal Decisions\\2.5";

struct UnregisterCount {
  int calls = 0;
} g_unregistered;
HRESULT ZP_STDCALL CountUnregister() {
  ++g_unregistered.calls;
  return S_OK;
}

TEST_F(NetworkManager, ReportEngineOnlyWhenNoOtherSoftwareCountsOnIt) {
  for (DWORD count : {2u, 1u}) {
    SCOPED_TRACE(count);
    ResetProcessState();
    Start();
    g_unregistered = {};
    const std::u16string main = std::u16string(kCrystal) + u"\\bin\\craxdrt.dll";
    const std::u16string engine = std::u16string(kCrystal) + u"\\bin\\crqe.dll";
    const std::u16string cxlib = g_setup.Expand(u"%SYS%", u"cxlib-1-6.dll");
    const std::u16string msvcrt = g_setup.Expand(u"%SYS%", u"msvcrt.dll");
    machine_->AddFile(main);
    machine_->AddLibrary(engine, {{"DllUnregisterServer",
                                   reinterpret_cast<const void*>(&CountUnregister)}});
    machine_->AddFile(std::u16string(kCrystal) + u"\\bin\\locked.dll");
    machine_->LockFile(std::u16string(kCrystal) + u"\\bin\\locked.dll");
    machine_->AddFile(cxlib);
    machine_->AddFile(msvcrt);
    machine_->SetDword(kShared, main, count);
    machine_->SetDword(kShared, engine, 1);
    machine_->SetDword(kShared, cxlib, 1);
    machine_->SetDword(kShared, msvcrt, 7);
    machine_->SetString(u"HKLM\\SOFTWARE\\Crystal Decisions\\10.0\\Crystal Reports",
                        u"Common Files", u"x");

    RemoveCrystalReportsComponents();
    const bool removed = count == 1;
    EXPECT_EQ(machine_->Value(kShared, main).has_value(), !removed)
        << "a count of 1 is gone after the first decrement";
    EXPECT_EQ(machine_->Value(kShared, engine).has_value(), !removed);
    EXPECT_EQ(g_unregistered.calls, removed ? 1 : 0);
    EXPECT_EQ(machine_->String(u"HKLM\\SOFTWARE\\Crystal Decisions\\10.0\\Crystal Reports",
                               u"Common Files")
                  .has_value(),
              !removed);
    EXPECT_EQ(machine_->Exists(cxlib), !removed);
    EXPECT_TRUE(machine_->Exists(msvcrt)) << "Windows's own files are only counted down";
    DWORD msvcrtCount = 0;
    auto value = machine_->Value(kShared, msvcrt);
    ASSERT_TRUE(value.has_value());
    std::memcpy(&msvcrtCount, value->data(), 4);
    EXPECT_EQ(msvcrtCount, removed ? 6u : 7u);
    EXPECT_EQ(machine_->Exists(main), !removed);
    EXPECT_FALSE(IsScheduledForRestart(std::u16string(kCrystal) + u"\\bin\\locked.dll"))
        << "nothing of the report engine waits for a restart";
  }
}

}  // namespace
}  // namespace zp
