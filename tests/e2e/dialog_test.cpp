// The folder field of the real dialog under Wine, edited as a user does: text typed into it is
// replaced by the folder the run will use when another product is chosen in the list and when
// the folder picker is cancelled; closing the dialog without a removal touches nothing.
#include <gtest/gtest.h>

#include <string>

#include "dialog_robot.h"
#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

constexpr int kSeconds = 300;
constexpr int kProductList = 1006, kFolder = 1004, kBrowse = 1008, kClose = 8;
constexpr int kVork = 2, kGeneration7 = 11;

TEST(DialogFolderField, TypedTextGivesWayToTheRunsFolder) {
  const std::wstring folder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  const std::wstring typed = L"C:\\Typed by the user";
  Planted planted{Gen7ConsumerProduct(folder, L"\"" + OwnFolder() + L"zp_test_service.exe\" 300")};
  const Footprint& product = planted.footprint;
  std::wstring error;
  ASSERT_TRUE(Plant(product, &error)) << Narrow(error);

  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDNO, kSeconds)) << "no Safe Mode question";
  HWND dialog = FindMainDialog(robot.processId(), kSeconds);
  ASSERT_NE(dialog, nullptr) << "no dialog";
  ASSERT_EQ(ComboSelection(dialog, kProductList), kGeneration7);
  ASSERT_EQ(ControlText(dialog, kFolder), folder);

  // Another product, not installed: the field shows the folder found before, not the typed text.
  ASSERT_TRUE(SetControlText(dialog, kFolder, typed));
  ASSERT_EQ(ControlText(dialog, kFolder), typed);
  ASSERT_TRUE(SelectComboItem(dialog, kProductList, kVork, kSeconds));
  EXPECT_EQ(ComboSelection(dialog, kProductList), kVork);
  EXPECT_EQ(ControlText(dialog, kProductList), L"VORK CD Manager");
  EXPECT_EQ(ControlText(dialog, kFolder), folder);

  // The folder picker, cancelled: the field shows the run's folder again.
  ASSERT_TRUE(SetControlText(dialog, kFolder, typed));
  PostClick(dialog, kBrowse);
  ASSERT_TRUE(robot.AnswerNextBox(IDCANCEL, kSeconds)) << "no folder picker";
  EXPECT_EQ(robot.seen().back().caption, L"Destination");
  EXPECT_EQ(ControlText(dialog, kFolder), folder);
  EXPECT_TRUE(ControlEnabled(dialog, kFolder));

  // Closed without a removal: no restart question (a box that comes is answered and counted),
  // and the product is all still there.
  PostClick(dialog, kClose);
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({}, kSeconds, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(robot.seen().size(), 2u) << "a box on close: " << Narrow(robot.seen().back().text);
  for (const Item& item : product.items)
    EXPECT_EQ(StateOf(item), State::Present) << "touched: " << Narrow(item.path);
}

}  // namespace
}  // namespace zp::e2e
