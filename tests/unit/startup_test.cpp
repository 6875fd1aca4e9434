// The start-up sequence on the simulated machine: which boxes appear in which order, what runs,
// and the exit code.
#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "startup/entry.h"
#include "startup/forced_uninstall.h"
#include "startup/run_settings.h"
#include "startup/safe_mode.h"
#include "test_support.h"
#include "toolkit/self_protection.h"

namespace zp {
namespace {

constexpr std::u16string_view kSelfProtectionText =
    u"The ostrel! self protection module is enabled. For this reason, the operation cannot be "
    u"completed.\n\nTo complete the operation, either run this program from Windows Safe Mode, or "
    u"disable the ostrel! self protection (via Settings -> Troubleshooting page).";
constexpr std::u16string_view kRestartQuestion =
    u"Product successfully removed\nRemaining items will be removed after restart.\n\n"
    u"Do you wish to restart now?";

// The self-protection driver's device, answering the query with `enabled`.
void AddSelfProtection(sim::Machine& machine, DWORD enabled) {
  machine.AddDevice(u"zorSP", [enabled](DWORD code, std::span<const BYTE>, std::vector<BYTE>* out) {
    if (code != IOCTL_ZORSP_QUERY) return false;
    out->assign(reinterpret_cast<const BYTE*>(&enabled),
                reinterpret_cast<const BYTE*>(&enabled) + sizeof(enabled));
    return true;
  });
}

class StartupTest : public test::FreshProcess {
 protected:
  explicit StartupTest(sim::OsFacts os = sim::OsFacts::Windows7()) : machine_(std::move(os)) {
    test::AddProgramStrings(machine_);
  }
  int Run(const char16_t* commandLine) {
    machine_.Install();
    return ProgramMain(machine_.ProgramModule(), commandLine);
  }
  std::vector<std::u16string> BoxTexts() const {
    std::vector<std::u16string> texts;
    for (const sim::MessageBoxCall& box : machine_.messageBoxes()) texts.push_back(box.text);
    return texts;
  }
  sim::Machine machine_;
};

struct SequenceCase {
  const char* name;
  const char16_t* commandLine;
  std::vector<int> answers;
  DWORD selfProtection;  // 2: no driver
  std::vector<std::u16string> boxes;
  int exitCode;
};

TEST_F(StartupTest, SequenceOfBoxesAndExitCodes) {
  const std::u16string recommendation = kSafeModeRecommendation;
  const std::u16string confirmation = kSafeModeRestartConfirmation;
  const std::u16string refusal(kSelfProtectionText);
  const SequenceCase cases[] = {
      {"interactive, No", u"", {IDNO}, 2, {recommendation}, kExitSuccess},
      {"silent run still asks first", u"/silent /prod ois", {IDNO}, 2, {recommendation},
       kExitSuccess},
      {"Yes then No goes on", u"/verysilent /prod ois", {IDYES, IDNO}, 2,
       {recommendation, confirmation}, kExitSuccess},
      {"Yes twice prepares Safe Mode and ends", u"/verysilent /prod nothing", {IDYES, IDYES}, 0,
       {recommendation, confirmation}, kExitSuccess},
      {"self-protection on refuses", u"/verysilent /prod ois", {IDNO, IDOK}, 1,
       {recommendation, refusal}, kExitSelfProtection},
      {"self-protection off", u"/verysilent /prod ois", {IDNO}, 0, {recommendation},
       kExitSuccess},
      {"unknown product", u"/verysilent /prod qv_pro_x", {IDNO}, 2, {recommendation},
       kExitUnknownProduct},
      {"no product", u"-VERYSILENT", {IDNO}, 2, {recommendation}, kExitUnknownProduct},
      {"product id in capitals", u"/silent /prod OBP", {IDNO}, 2, {recommendation}, kExitSuccess},
      // For scripts on machines where nobody could answer.
      {"nosafemode asks nothing", u"/verysilent /nosafemode /prod ois", {}, 0, {}, kExitSuccess},
      {"nosafemode keeps the refusal", u"/verysilent /nosafemode /prod ois", {IDOK}, 1,
       {refusal}, kExitSelfProtection},
  };
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7());
    test::AddProgramStrings(machine);
    if (c.selfProtection != 2) AddSelfProtection(machine, c.selfProtection);
    for (int answer : c.answers) machine.AnswerMessageBoxes({answer});
    machine.Install();
    EXPECT_EQ(ProgramMain(machine.ProgramModule(), c.commandLine), c.exitCode);
    std::vector<std::u16string> boxes;
    for (const sim::MessageBoxCall& box : machine.messageBoxes()) {
      boxes.push_back(box.text);
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_EQ(box.caption, kUtilityCaption);
    }
    EXPECT_EQ(boxes, c.boxes);
    if (c.boxes.size() == 2 && c.boxes[1] == refusal) {
      EXPECT_EQ(machine.messageBoxes()[1].type, MB_ICONERROR);
    }
  }
}

TEST_F(StartupTest, NoSafeModeQuestionOnWindows9xNorInSafeMode) {
  for (bool nine : {true, false}) {
    ResetProcessState();
    sim::Machine machine(nine ? sim::OsFacts::Windows98() : sim::OsFacts::Windows7());
    machine.os().safeMode = !nine;
    machine.Install();
    EXPECT_EQ(ProgramMain(machine.ProgramModule(), u"/verysilent /prod ois"), kExitSuccess);
    EXPECT_TRUE(machine.messageBoxes().empty());
  }
}

TEST_F(StartupTest, SafeModeRunSchedulesItsOwnFileForDeletion) {
  machine_.os().safeMode = true;
  machine_.SetProgramPath(u"C:\\WINDOWS\\Temp\\zorPurge.exe");
  machine_.AddFile(u"C:\\WINDOWS\\Temp\\zorPurge.exe", "MZ");
  EXPECT_EQ(Run(u"/verysilent /prod ois"), kExitSuccess);
  EXPECT_EQ(machine_.MultiString(u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                                 u"PendingFileRenameOperations"),
            (std::vector<std::u16string>{u"\\??\\C:\\WINDOWS\\Temp\\zorPurge.exe", u""}));
}

TEST_F(StartupTest, StartedEntryOpensTheLogBeforeTheSetupState) {
  machine_.AnswerMessageBoxes({IDNO});
  Run(u"/verysilent /prod ois");
  ASSERT_FALSE(g_log.entries.empty());
  EXPECT_EQ(g_log.entries[0].text, u"Started: 07.03.2012 14:05:09 /verysilent /prod ois");
  EXPECT_EQ(g_log.entries[1].text, u"Operation set to INST_OP_UNKNOWN");
}

std::u16string Utf16(const std::string& bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  return text;
}

TEST_F(StartupTest, LogOptionAppendsTheWholeLogAtTheEndOfEveryRun) {
  machine_.AddFolder(u"C:\\logs");
  machine_.AnswerMessageBoxes({IDNO, IDNO});
  EXPECT_EQ(Run(u"/verysilent /prod ois /log C:\\logs\\run.log"), kExitSuccess);
  std::optional<std::string> file = machine_.FileContent(u"C:\\logs\\run.log");
  ASSERT_TRUE(file.has_value());
  std::u16string text = Utf16(*file);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], u'\xFEFF');
  EXPECT_EQ(text.find(u"min/gen  Started: 07.03.2012 14:05:09 /verysilent"), 10u);
  EXPECT_NE(text.find(u"vrb/reg  Set registry: OstrelPersistentStorage\\GUID="),
            std::u16string::npos);

  // A second run appends, without a second byte-order mark.
  ResetProcessState();
  EXPECT_EQ(Run(u"/verysilent /prod nothing /log C:\\logs\\run.log"), kExitUnknownProduct);
  std::u16string both = Utf16(*machine_.FileContent(u"C:\\logs\\run.log"));
  EXPECT_EQ(both.substr(0, text.size()), text);
  EXPECT_NE(both.find(u"Started: 07.03.2012 14:05:09 /verysilent /prod nothing", text.size()),
            std::u16string::npos);
  EXPECT_EQ(both.find(u'\xFEFF', 1), std::u16string::npos);
}

TEST_F(StartupTest, LogPathThatCannotBeWrittenChangesNothingElse) {
  machine_.AnswerMessageBoxes({IDNO});
  EXPECT_EQ(Run(u"/verysilent /prod ois /log C:\\missing\\run.log"), kExitSuccess);
  EXPECT_FALSE(machine_.Exists(u"C:\\missing\\run.log"));
  EXPECT_EQ(machine_.messageBoxes().size(), 1u);
}

// The forced uninstall hands the removal to the product's setup library.
struct TavlinkCall {
  int calls = 0;
  unsigned long args[3] = {};
  unsigned long preset = 99;
  unsigned long answer = 0;
} g_tavlink;

unsigned long ZP_STDCALL FakeTavlinkUninstall(unsigned long a, unsigned long b, unsigned long c,
                                              unsigned long* result) {
  ++g_tavlink.calls;
  g_tavlink.args[0] = a;
  g_tavlink.args[1] = b;
  g_tavlink.args[2] = c;
  g_tavlink.preset = *result;
  *result = g_tavlink.answer;
  return 0;
}

unsigned long ZP_STDCALL CrashingTavlinkUninstall(unsigned long, unsigned long, unsigned long,
                                                  unsigned long* result) {
  ++g_tavlink.calls;
  *result = 0x20000000;  // set before the crash: it must not count
  throw sim::StructuredException{0xC0000005};
}

constexpr const char16_t* kGen4Folder = u"C:\\Program Files\\Keswin Software\\Ostrel4";
constexpr const char16_t* kTavlink =
    u"C:\\Program Files\\Keswin Software\\Ostrel4\\Setup\\Tavlink.dll";

struct ForcedCase {
  const char* name;
  bool library;
  bool exported;
  unsigned long answer;
  const char16_t* commandLine;
  std::vector<int> answers;
  std::vector<std::u16string> boxes;
  int calls;
};

TEST_F(StartupTest, ACrashInsideTheSetupLibraryIsCaughtAndLogged) {
  g_tavlink = TavlinkCall{};
  machine_.SetString(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"Ostrel4ProgramFolder",
                     kGen4Folder);
  machine_.AddLibrary(kTavlink, {{"tavlinkUninstallProgram",
                                  reinterpret_cast<const void*>(&CrashingTavlinkUninstall)}});
  EXPECT_EQ(Run(u"/silent /forceuninstallpro"), kExitSuccess);
  EXPECT_EQ(g_tavlink.calls, 1);
  EXPECT_TRUE(machine_.messageBoxes().empty()) << "the crashed call's result asks for nothing";
  EXPECT_EQ(machine_.LibraryLoadCount(kTavlink), 0);
  bool logged = false;
  for (const LogEntry& entry : g_log.entries)
    logged = logged || entry.text == u"Exception 0xC0000005 in tavlinkUninstallProgram";
  EXPECT_TRUE(logged);
}

TEST_F(StartupTest, ForcedUninstallThroughTheSetupLibrary) {
  const std::u16string recommendation = kSafeModeRecommendation;
  const std::u16string question(kRestartQuestion);
  const ForcedCase cases[] = {
      {"restart asked for, silent: the question without owner", true, true, 0x20000000,
       u"/silent /forceuninstallpro", {IDNO}, {question}, 1},
      {"no restart asked for", true, true, 0, u"/silent /forceuninstallpro", {}, {}, 1},
      {"interactive: the restart question", true, true, 0, u"/forceuninstallpro", {IDNO},
       {question}, 1},
      {"export missing: results only", true, false, 0, u"/forceuninstallpro", {IDNO},
       {question}, 0},
      {"no library: as without the option", false, false, 0,
       u"/verysilent /forceuninstallpro /prod ois", {IDNO}, {recommendation}, 0},
  };
  for (const ForcedCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    g_tavlink = TavlinkCall{};
    g_tavlink.answer = c.answer;
    sim::Machine machine(sim::OsFacts::WindowsXp());
    test::AddProgramStrings(machine);
    machine.SetString(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"Ostrel4ProgramFolder",
                      kGen4Folder);
    if (c.library) {
      std::map<std::string, const void*> exports;
      if (c.exported)
        exports["tavlinkUninstallProgram"] = reinterpret_cast<const void*>(&FakeTavlinkUninstall);
      machine.AddLibrary(kTavlink, exports);
    }
    for (int answer : c.answers) machine.AnswerMessageBoxes({answer});
    machine.Install();
    EXPECT_EQ(ProgramMain(machine.ProgramModule(), c.commandLine), kExitSuccess);
    std::vector<std::u16string> boxes;
    for (const sim::MessageBoxCall& box : machine.messageBoxes()) boxes.push_back(box.text);
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(g_tavlink.calls, c.calls);
    if (c.calls) {
      EXPECT_EQ(g_tavlink.args[0], 0u);
      EXPECT_EQ(g_tavlink.args[1], 0u);
      EXPECT_EQ(g_tavlink.args[2], 1u);
      EXPECT_EQ(g_tavlink.preset, 0u);
    }
    if (c.library) {
      EXPECT_EQ(machine.LibraryLoadCount(kTavlink), 0) << "the library is freed";
    }
    for (const sim::MessageBoxCall& box : machine.messageBoxes()) EXPECT_EQ(box.owner, nullptr);
  }
}

}  // namespace
}  // namespace zp
