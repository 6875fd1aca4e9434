// zorPurge.exe started for real under Wine: the start-up shows its first question, the robot
// answers it, and the program ends as the answer says.
#include <gtest/gtest.h>

#include "dialog_robot.h"
#include "robot.h"

namespace zp::e2e {
namespace {

// A Wine process of ours takes up to a minute to start where Wine's 32-bit loader is emulated.
constexpr int kStartSeconds = 300;

TEST(Startup, SafeModeRecommendationAnsweredNoOpensTheDialogAndItsCloseEndsTheRun) {
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kStartSeconds)) << "no message box appeared";
  HWND dialog = FindMainDialog(robot.processId(), kStartSeconds);
  ASSERT_NE(dialog, nullptr) << "no dialog appeared";
  PostMessageW(dialog, WM_CLOSE, 0, 0);  // as its close box does
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.WaitForExit(kStartSeconds, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);

  ASSERT_EQ(robot.seen().size(), 1u);
  EXPECT_EQ(robot.seen()[0].caption, L"OSTREL Software Uninstall Utility");
  EXPECT_EQ(robot.seen()[0].text,
            L"It is recommended to run this tool from Windows Safe Mode. Do you want to do that?"
            L"\n\nPress \"Yes\" to reboot into Safe Mode now and run this tool from there.\n"
            L"Press \"No\" to continue running this tool as it is (not recommended).");
}

}  // namespace
}  // namespace zp::e2e
