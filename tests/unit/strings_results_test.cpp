// Localized texts by id, the end of a run and the restart it may ask for.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "startup/results.h"
#include "startup/run_settings.h"
#include "startup/strings.h"
#include "test_support.h"
#include "toolkit/restart.h"

namespace zp {
namespace {

class StringsTest : public test::FreshProcess {
 protected:
  StringsTest() {
    test::AddProgramStrings(machine_);
    machine_.Install();
  }
  sim::Machine machine_;
};

struct StringCase {
  const char* name;
  UINT id;
  LANGID language;
  int capacity;
  std::u16string text;  // what the buffer holds afterwards (it starts cleared)
  int result;
};

TEST_F(StringsTest, LoadsByIdWithTheFallBackToEnglish) {
  const std::u16string failure =
      u"Program could not be removed.\nPlease contact tech support by email ";
  const StringCase cases[] = {
      {"English", 10000, 1033, 32768, u"Service ostrel! Antivirus - Removed", 35},
      {"Czech", 10000, 1029, 32768, u"Služba ostrel! Antivirus - Odstraněna", 37},
      {"Czech has a different text for 4", 12, 1029, 256, u"Produkt:", 8},
      {"no Czech block for 20000: English", 20000, 1029, 32768, u"", -1},
      {"a language without tables: English", 1, 1031, 256, u"Close", 5},
      {"id 11 is there", 11, 1033, 256, u"ostrel! Setup requires Windows to be restarted.", 47},
      {"a block in no language", 2818, 1033, 256, u"", 1},
      {"an id missing inside a block", 13, 1033, 256, u"", 1},
      {"cut to capacity - 1", 10000, 1033, 8, u"Service", 7},
      {"capacity 1 holds the terminator only", 1, 1033, 1, u"", 0},
  };
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char16_t> buffer(c.capacity + 4, u'\0');
    buffer[c.capacity] = u'#';  // nothing may be written beyond the capacity
    int result = LoadLocalizedString(machine_.ProgramModule(), c.id, buffer.data(), c.capacity,
                                     c.language);
    std::u16string text(buffer.data());
    if (c.result == -1) {  // the English failure text, ended by the support address
      EXPECT_EQ(text.substr(0, failure.size()), failure);
      EXPECT_EQ(result, static_cast<int>(text.size()));
    } else {
      EXPECT_EQ(text, c.text);
      EXPECT_EQ(result, c.result);
    }
    EXPECT_EQ(buffer[c.capacity], u'#');
  }
}

TEST_F(StringsTest, ABlockCutShortIsReadOnlyAsFarAsItGoes) {
  // Block 1 (ids 0-15): entry 0 empty, entry 1 "Close" claiming 9 characters of which 5 exist.
  sim::Machine machine;
  const std::vector<BYTE> block = {0, 0, 9, 0, 'C', 0, 'l', 0, 'o', 0, 's', 0, 'e', 0};
  machine.AddResource(machine.ProgramModule(), RT_STRING_ID, 1, 1033, block);
  machine.Install();
  char16_t buffer[16] = {};
  EXPECT_EQ(LoadLocalizedString(machine.ProgramModule(), 1, buffer, 16, 1033), 1);
  EXPECT_EQ(LoadLocalizedString(machine.ProgramModule(), 2, buffer, 16, 1033), 1);
  EXPECT_EQ(buffer[0], u'\0');
}

struct ResultsCase {
  const char* name;
  bool offerRestart;
  bool forceRestart;
  int silentLevel;
  bool dialog;
  int answer;
  size_t questions;
  size_t restarts;
};

TEST(ShowResults, QuestionOrRestartAsTheSettingsSay) {
  const ResultsCase cases[] = {
      {"no restart offered", false, true, 0, true, IDYES, 0, 0},
      {"asked, Yes restarts", true, false, 0, true, IDYES, 1, 1},
      {"asked, No does not", true, false, 0, true, IDNO, 1, 0},
      {"silent asks without owner", true, false, 2, false, IDYES, 1, 1},
      {"very silent never asks", true, false, 3, false, IDYES, 0, 0},
      {"forced restart without asking", true, true, 0, true, IDNO, 0, 1},
      {"forced restart also very silent", true, true, 3, false, IDNO, 0, 1},
  };
  for (const ResultsCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7());
    test::AddProgramStrings(machine);
    machine.AnswerMessageBoxes({c.answer});
    machine.Install();
    g_setup.Init();
    g_setup.hInstance = machine.ProgramModule();
    g_setup.offerRestart = c.offerRestart;
    g_setup.silentLevel = c.silentLevel;
    g_run.forceRestart = c.forceRestart;
    HWND dialog = c.dialog ? machine.AddDialog() : nullptr;
    g_run.dialogWindow = dialog;
    ShowResults();
    ASSERT_EQ(machine.messageBoxes().size(), c.questions);
    if (c.questions) {
      const sim::MessageBoxCall& box = machine.messageBoxes()[0];
      EXPECT_EQ(box.owner, dialog);
      EXPECT_EQ(box.caption, u"ostrel! Antivirus Uninstall");
      EXPECT_EQ(box.text, u"Product successfully removed\nRemaining items will be removed after "
                          u"restart.\n\nDo you wish to restart now?");
      EXPECT_EQ(box.type, MB_YESNO | MB_ICONQUESTION);
    }
    EXPECT_EQ(machine.shutdowns().size(), c.restarts);
  }
}

struct RestartCase {
  const char* name;
  sim::OsFacts os;
  std::string call;
  bool privilege;
};

TEST(RestartWindows, EachFamilyItsOwnCall) {
  const RestartCase cases[] = {
      {"Windows 98", sim::OsFacts::Windows98(), "ExitWindowsEx", false},
      {"NT 4", sim::OsFacts::WindowsNt4(), "InitiateSystemShutdownW", true},
      {"Windows 2000 has no Ex call", sim::OsFacts::Windows2000(), "ExitWindowsEx", true},
      {"XP", sim::OsFacts::WindowsXp(), "InitiateSystemShutdownExW", true},
      {"7 x64", sim::OsFacts::Windows7X64(), "InitiateSystemShutdownExW", true},
  };
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(c.os);
    machine.Install();
    g_setup.Init();
    g_log.entries.clear();
    RestartWindows();
    ASSERT_EQ(machine.shutdowns().size(), 1u);
    const sim::ShutdownCall& call = machine.shutdowns()[0];
    EXPECT_EQ(call.call, c.call);
    EXPECT_TRUE(call.reboot);
    EXPECT_EQ(call.shutdownPrivilege, c.privilege);
    EXPECT_FALSE(machine.PrivilegeEnabled(u"SeShutdownPrivilege")) << "disabled again";
    if (c.call != "ExitWindowsEx") {
      EXPECT_EQ(call.message, u"");
      EXPECT_EQ(call.timeout, 0u);
      EXPECT_FALSE(call.forceClose);
    } else {
      EXPECT_EQ(call.flags, EWX_REBOOT);
    }
    if (c.call == "InitiateSystemShutdownExW") {
      EXPECT_EQ(call.reason, 0x80040002u);
    }
    EXPECT_EQ(test::LogTexts(), std::vector<std::u16string>{u"Restart windows"});
  }
}

TEST(RestartWindows, ARefusedRequestIsLogged) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::WindowsXp());
  machine.FailCall("InitiateSystemShutdownExW", ERROR_SHUTDOWN_IN_PROGRESS);
  machine.Install();
  g_setup.Init();
  g_log.entries.clear();
  RestartWindows();
  EXPECT_EQ(test::LogTexts(),
            (std::vector<std::u16string>{u"Restart windows",
                                         u"pfnInitiateSystemShutdownEx returned 0x0000045B"}));
  EXPECT_EQ(g_log.entries[1].level, LOG_MIN);
  EXPECT_EQ(g_log.entries[1].category, CAT_SYSTEM);
}

}  // namespace
}  // namespace zp
