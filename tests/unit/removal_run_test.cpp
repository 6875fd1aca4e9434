// The dispatch of a removal run and the progress view it reports to.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "test_support.h"

namespace zp {
namespace {

class RemovalRunTest : public test::FreshProcess {};

TEST_F(RemovalRunTest, DispatchesByProductIdIgnoringCase) {
  const std::pair<std::u16string, RemovalResult> cases[] = {
      {u"qv_pro", RemovalResult::Completed},  {u"QV_PRO", RemovalResult::Completed},
      {u"Ois", RemovalResult::Completed},     {u"obp", RemovalResult::Completed},
      {u"vork", RemovalResult::Completed},    {u"qv_pda_palm", RemovalResult::Completed},
      {u"ois ", RemovalResult::UnknownProduct}, {u"", RemovalResult::UnknownProduct},
      {u"qv", RemovalResult::UnknownProduct},
  };
  sim::Machine machine;
  machine.Install();
  for (const auto& [id, expected] : cases) {
    g_product.productId = id;
    EXPECT_EQ(RemovalRun(), expected) << std::string(id.begin(), id.end());
  }
}

TEST_F(RemovalRunTest, TheRunRemovesFromTheDetectedFolder) {
  sim::Machine machine;
  machine.Install();
  g_product.productId = u"nothing";
  g_product.productFolder = u"D:\\Ostrel";
  RemovalRun();
  EXPECT_EQ(g_setup.roPath, u"D:\\Ostrel");
  EXPECT_EQ(g_setup.Expand(u"%ROPATH%", u"zohBase.dll"), u"D:\\Ostrel\\zohBase.dll");
}

TEST_F(RemovalRunTest, ProgressLinesGoToTheDialogsView) {
  sim::Machine machine;
  HWND dialog = machine.AddDialog();
  machine.AddControl(dialog, IDC_PROGRESS);
  machine.Install();

  AppendProgress(u"dropped: no dialog");
  g_run.dialogWindow = dialog;
  AppendProgress(u"Service ostrel! Antivirus - Removed");
  AppendProgress(u"");
  AppendProgress(u"Registry - Removed");
  EXPECT_EQ(machine.ControlText(dialog, IDC_PROGRESS),
            u"Service ostrel! Antivirus - Removed\r\n\r\nRegistry - Removed\r\n");

  g_run.dialogWindow = machine.AddDialog();  // a dialog without the view: nothing happens
  AppendProgress(u"lost");
}

TEST_F(RemovalRunTest, AFullViewDropsWholeOldestLines) {
  sim::Machine machine;
  HWND dialog = machine.AddDialog();
  machine.AddControl(dialog, IDC_PROGRESS);
  machine.Install();
  g_run.dialogWindow = dialog;
  const std::u16string old(16000, u'a'), middle(16000, u'b'), last(800, u'c');
  for (const std::u16string& line : {old, middle, last}) AppendProgress(line);
  // 16,002 + 16,002 + 802 characters do not fit 32,767: the oldest line goes, whole.
  EXPECT_TRUE(machine.ControlText(dialog, IDC_PROGRESS) == middle + u"\r\n" + last + u"\r\n");

  const std::u16string huge(40000, u'd');
  AppendProgress(huge);
  std::u16string text = machine.ControlText(dialog, IDC_PROGRESS);
  EXPECT_EQ(text.size(), 32767u);
  EXPECT_TRUE(text == huge.substr(40000 - 32765) + u"\r\n");
}

}  // namespace
}  // namespace zp
