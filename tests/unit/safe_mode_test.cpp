#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "startup/entry.h"
#include "startup/safe_mode.h"

namespace zp {
namespace {

struct SafeModeCase {
  const char* name;
  sim::OsFacts os;
  bool safeMode;
  std::vector<int> answers;
  size_t boxesShown;
};

// The start-up offers Safe Mode on a normal boot of the NT family only, and asks the second
// question only after a Yes to the first.
TEST(StartupSafeModeQuestion, AskedOnNormalBootOfNtFamily) {
  const SafeModeCase cases[] = {
      {"xp, No", sim::OsFacts::WindowsXp(), false, {IDNO}, 1},
      {"7 x64, Yes then No", sim::OsFacts::Windows7X64(), false, {IDYES, IDNO}, 2},
      {"2000, box not shown", sim::OsFacts::Windows2000(), false, {}, 1},
      {"already in Safe Mode", sim::OsFacts::Windows7(), true, {}, 0},
      {"Windows 98", sim::OsFacts::Windows98(), false, {}, 0},
  };
  for (const SafeModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine(c.os);
    machine.os().safeMode = c.safeMode;
    for (int answer : c.answers) machine.AnswerMessageBoxes({answer});
    machine.Install();

    EXPECT_EQ(ProgramMain(machine.ProgramModule(), u""), 0);
    ASSERT_EQ(machine.messageBoxes().size(), c.boxesShown);
    if (c.boxesShown == 0) continue;
    const sim::MessageBoxCall& first = machine.messageBoxes()[0];
    EXPECT_EQ(first.owner, nullptr);
    EXPECT_EQ(first.caption, u"OSTREL Software Uninstall Utility");
    EXPECT_EQ(first.text, kSafeModeRecommendation);
    EXPECT_EQ(first.type, MB_YESNO | MB_ICONQUESTION);
    if (c.boxesShown == 2) {
      EXPECT_EQ(machine.messageBoxes()[1].text, kSafeModeRestartConfirmation);
    }
  }
}

TEST(StartupSafeModeQuestion, BothYesAnswersMeanSafeMode) {
  sim::Machine machine(sim::OsFacts::WindowsXp());
  machine.AnswerMessageBoxes({IDYES, IDYES});
  machine.Install();
  EXPECT_TRUE(AskForSafeMode());
  machine.AnswerMessageBoxes({IDYES, IDNO});
  EXPECT_FALSE(AskForSafeMode());
}

}  // namespace
}  // namespace zp
