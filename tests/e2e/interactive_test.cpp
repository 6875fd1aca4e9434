// The interactive run of the real zorPurge.exe under Wine, with the robot reading and driving
// the real dialog (template 102): the product list and its preselection, the folder field, the
// removal with its progress lines, and the restart question at the end and again on close.
#include <gtest/gtest.h>

#include <string>

#include "dialog_robot.h"
#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

constexpr int kSeconds = 300;
const wchar_t* kRestartQuestion =
    L"Product successfully removed\nRemaining items will be removed after restart.\n\n"
    L"Do you wish to restart now?";

TEST(InteractiveRun, OnACleanMachineTheListHoldsEveryProduct) {
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kSeconds)) << "no Safe Mode question";
  HWND dialog = FindMainDialog(robot.processId(), kSeconds);
  ASSERT_NE(dialog, nullptr) << "no dialog";
  std::vector<std::wstring> items = ComboItems(dialog, 1006);
  ASSERT_EQ(items.size(), 14u);
  EXPECT_EQ(items.front(), L"ostrel! 4 Home/Professional");
  EXPECT_EQ(items.back(), L"ostrel! Business Protection (Plus)");
  EXPECT_EQ(ComboSelection(dialog, 1006), 0);
  EXPECT_EQ(ControlText(dialog, 1003), L"Uninstall");
  EXPECT_EQ(ControlText(dialog, 8), L"Close");
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.WaitForExit(kSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(robot.seen().size(), 1u) << "no question on close without a removal";
}

TEST(InteractiveRun, TheInstalledProductIsPreselectedAndRemoved) {
  const std::wstring folder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  Planted product{Gen7ConsumerProduct(folder, L"\"" + OwnFolder() + L"zp_test_service.exe\" 300")};
  Planted others{Collateral(folder)};
  std::wstring error;
  ASSERT_TRUE(Plant(others.footprint, &error)) << Narrow(error);
  ASSERT_TRUE(Plant(product.footprint, &error)) << Narrow(error);

  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kSeconds));
  HWND dialog = FindMainDialog(robot.processId(), kSeconds);
  ASSERT_NE(dialog, nullptr);
  std::vector<std::wstring> items = ComboItems(dialog, 1006);
  ASSERT_EQ(items.size(), 12u);
  EXPECT_EQ(items.back(), L"ostrel! 7 Free/Pro/Internet Security");
  EXPECT_EQ(ComboSelection(dialog, 1006), 11);
  EXPECT_EQ(ControlText(dialog, 1004), folder);

  PostClick(dialog, 1003);
  // Not the product's default place: the step asks first; then the restart question.
  ASSERT_TRUE(robot.AnswerNextBox(IDYES, kSeconds)) << "no confirmation of the folder";
  EXPECT_NE(robot.seen().back().text.find(L"Are you sure that entered path contains"),
            std::wstring::npos);
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kSeconds)) << "no restart question";
  EXPECT_EQ(robot.seen().back().text, kRestartQuestion);
  EXPECT_EQ(robot.seen().back().caption, L"ostrel! Antivirus Uninstall");

  EXPECT_EQ(ControlText(dialog, 1000),
            L"Service ostrel! Antivirus - Removed\r\nResident protection - Removed\r\n"
            L"Explorer extensions - Removed\r\nRegistry - Removed\r\nProgram files - Removed\r\n"
            L"Program was successfully removed\r\n");
  EXPECT_FALSE(ControlEnabled(dialog, 1003));
  EXPECT_FALSE(ControlEnabled(dialog, 1004));
  EXPECT_FALSE(ControlEnabled(dialog, 1008));
  EXPECT_TRUE(ControlEnabled(dialog, 1006));

  PostClick(dialog, 8);
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kSeconds)) << "no restart question on close";
  EXPECT_EQ(robot.seen().back().text, kRestartQuestion);
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.WaitForExit(kSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(robot.seen().size(), 4u);

  EXPECT_TRUE(Remnants(product.footprint).empty()) << Report(Remnants(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
}

}  // namespace
}  // namespace zp::e2e
