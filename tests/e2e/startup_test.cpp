// zorPurge.exe started for real under Wine: the start-up shows its first question, the robot
// answers it, and the program ends as the answer says.
#include <gtest/gtest.h>

#include "robot.h"

namespace zp::e2e {
namespace {

// A Wine process of ours takes up to a minute to start where Wine's 32-bit loader is emulated.
constexpr int kStartSeconds = 300;

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindMainDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window) && GetDlgItem(window, 1006)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The program's main dialog (the window with the product list), closed as its close box does.
bool CloseMainDialog(DWORD processId, int seconds) {
  DialogSearch search{processId, nullptr};
  for (int tick = 0; tick < seconds * 10 && search.found == nullptr; ++tick) {
    EnumWindows(FindMainDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(100);
  }
  return search.found != nullptr && PostMessageW(search.found, WM_CLOSE, 0, 0);
}

TEST(Startup, SafeModeRecommendationAnsweredNoOpensTheDialogAndItsCloseEndsTheRun) {
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kStartSeconds)) << "no message box appeared";
  ASSERT_TRUE(CloseMainDialog(robot.processId(), kStartSeconds)) << "no dialog appeared";
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
