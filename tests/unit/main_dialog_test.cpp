// The main dialog on the simulator's dialog model: what it shows at start, what a change of
// product, the folder picker and the Uninstall button do, and the restart question on close.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "test_support.h"
#include "ui/main_dialog.h"

namespace zp {
namespace {

constexpr const char16_t* kCurrent = u"HKLM\\Software\\Ostrel Software\\Ostrel";
constexpr const char16_t* kFolder = u"C:\\Program Files\\Keswin Software\\Ostrel";
constexpr const char16_t* kQuestion =
    u"Product successfully removed\nRemaining items will be removed after restart.\n\n"
    u"Do you wish to restart now?";

class MainDialog : public test::FreshProcess {
 protected:
  explicit MainDialog(bool installed = true) {
    test::AddProgramStrings(machine_);
    if (installed) {
      machine_.SetString(kCurrent, u"Product", u"ois");
      machine_.SetString(kCurrent, u"Version", u"7.0");
      machine_.SetString(kCurrent, u"ProgramFolder", kFolder);
      machine_.AddFolder(kFolder);
    }
    machine_.Install();
    g_setup.Init();
    g_setup.hInstance = machine_.ProgramModule();
    g_setup.languageId = 1033;
  }
  HWND Show(std::vector<sim::DialogAction> actions) {
    machine_.ScriptDialog(std::move(actions));
    ShowMainDialog(machine_.ProgramModule());
    return machine_.LastDialog();
  }
  std::vector<std::u16string> BoxTexts() const {
    std::vector<std::u16string> texts;
    for (const sim::MessageBoxCall& box : machine_.messageBoxes()) texts.push_back(box.text);
    return texts;
  }
  sim::Machine machine_{sim::OsFacts::Windows7()};
};

TEST_F(MainDialog, StartShowsTheTextsAndPreselectsTheInstalledProduct) {
  HWND dialog = Show({});
  EXPECT_EQ(g_run.dialogWindow, dialog);
  auto icons = machine_.IconsSet(dialog);
  ASSERT_EQ(icons.size(), 2u);
  EXPECT_EQ(icons[0].first, ICON_BIG);
  EXPECT_EQ(icons[1].first, ICON_SMALL);
  EXPECT_EQ(icons[0].second, icons[1].second);
  EXPECT_EQ(machine_.ControlText(dialog, IDC_CLOSE), u"Close");
  EXPECT_EQ(machine_.ControlText(dialog, IDC_UNINSTALL), u"Uninstall");
  EXPECT_EQ(machine_.ControlText(dialog, IDC_PRODUCT_LABEL), u"Select product to uninstall:");
  EXPECT_EQ(machine_.ControlText(dialog, IDC_FOLDER_TEXT).find(u"Enter path to folder"), 0u);
  std::vector<std::u16string> items = machine_.ControlItems(dialog, IDC_PRODUCT);
  ASSERT_EQ(items.size(), 12u);
  EXPECT_EQ(items.back(), u"ostrel! 7 Free/Pro/Internet Security");
  EXPECT_EQ(machine_.ControlSelection(dialog, IDC_PRODUCT), 11);
  EXPECT_EQ(machine_.ControlText(dialog, IDC_FOLDER), kFolder);
  EXPECT_TRUE(machine_.messageBoxes().empty()) << "closed without a removal: no question";
}

TEST_F(MainDialog, AnotherProductReplacesTypedText) {
  HWND dialog = Show({sim::DialogAction::TypeText(IDC_FOLDER, u"D:\\typed"),
                      sim::DialogAction::SelectEntry(IDC_PRODUCT, 0)});
  // "ostrel! 4 Home/Professional" is not installed: the field shows the folder detection kept.
  EXPECT_EQ(machine_.ControlText(dialog, IDC_FOLDER), kFolder);
}

TEST_F(MainDialog, TheFolderPickerOpensAtTheFolderAndReplacesTheField) {
  struct Case {
    const char* name;
    std::u16string folder;
    std::optional<std::u16string> answer;
    std::u16string selection;
    std::u16string field;
  };
  const Case cases[] = {
      {"cancelled", kFolder, std::nullopt, kFolder, kFolder},
      {"confirmed", kFolder, u"D:\\Chosen", kFolder, u"D:\\Chosen"},
      {"drive root", u"C:\\", std::nullopt, u"C:\\", u"C:\\"},
      {"deeper folder ending in a backslash", u"C:\\X\\Y\\", std::nullopt, u"C:\\X\\Y",
       u"C:\\X\\Y\\"},
      {"no folder", u"", std::nullopt, u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7());
    test::AddProgramStrings(machine);
    machine.Install();
    g_setup.Init();
    g_setup.hInstance = machine.ProgramModule();
    g_product.productFolder = c.folder;
    machine.AnswerFolderPicker(c.answer);
    machine.ScriptDialog({sim::DialogAction::TypeText(IDC_FOLDER, u"typed, not confirmed"),
                          sim::DialogAction::PressButton(IDC_BROWSE)});
    ShowMainDialog(machine.ProgramModule());
    ASSERT_EQ(machine.folderPickers().size(), 1u);
    const sim::FolderPickerCall& picker = machine.folderPickers()[0];
    EXPECT_EQ(picker.owner, machine.LastDialog());
    EXPECT_EQ(picker.caption, u"Destination");
    EXPECT_EQ(picker.prompt, u"Select folder");
    EXPECT_EQ(picker.selection, c.selection);
    EXPECT_EQ(picker.okEnabled, c.answer.has_value());
    EXPECT_EQ(machine.ControlText(machine.LastDialog(), IDC_FOLDER), c.field);
    EXPECT_EQ(machine.OpenItemLists(), 0) << "the item list is freed";
  }
}

TEST_F(MainDialog, UninstallTakesTheControlsRunsAndAsksTwice) {
  machine_.AnswerMessageBoxes({IDNO, IDNO, IDNO});  // keep D:\Ostrel; no restart, twice
  HWND dialog = Show({sim::DialogAction::TypeText(IDC_FOLDER, u"D:\\Ostrel"),
                      sim::DialogAction::PressButton(IDC_UNINSTALL),
                      sim::DialogAction::PressButton(IDC_UNINSTALL),  // disabled: nothing happens
                      sim::DialogAction::PressButton(IDC_CLOSE)});
  EXPECT_EQ(g_product.productFolder, u"D:\\Ostrel");
  EXPECT_EQ(g_setup.roPath, u"D:\\Ostrel");
  EXPECT_EQ(g_product.productId, u"ois");
  EXPECT_EQ(
      machine_.ControlText(dialog, IDC_PROGRESS).find(u"Service ostrel! Antivirus - Removed\r\n"),
      0u);
  for (int id : {IDC_UNINSTALL, IDC_FOLDER, IDC_BROWSE})
    EXPECT_FALSE(machine_.ControlEnabled(dialog, id)) << id;
  EXPECT_TRUE(machine_.ControlEnabled(dialog, IDC_PRODUCT));
  EXPECT_EQ(machine_.cursors(), (std::vector<unsigned>{32514, 32512}));
  ASSERT_EQ(BoxTexts().size(), 3u);
  EXPECT_EQ(BoxTexts()[0].find(u"Are you sure that entered path contains"), 0u)
      << "a folder that is not the default place is confirmed first";
  EXPECT_EQ(BoxTexts()[1], kQuestion) << "at the end of the run";
  EXPECT_EQ(BoxTexts()[2], kQuestion) << "and again on close";
  for (const sim::MessageBoxCall& box : machine_.messageBoxes()) EXPECT_EQ(box.owner, dialog);
  EXPECT_TRUE(machine_.shutdowns().empty());
}

TEST_F(MainDialog, YesOnCloseRestarts) {
  machine_.AnswerMessageBoxes({IDNO, IDYES});
  Show({sim::DialogAction::PressButton(IDC_UNINSTALL)});
  EXPECT_EQ(machine_.shutdowns().size(), 1u);
}

class CleanMachineDialog : public MainDialog {
 protected:
  CleanMachineDialog() : MainDialog(false) {}
};

TEST_F(CleanMachineDialog, AllFourteenNamesAndTheFirstSelected) {
  HWND dialog = Show({});
  EXPECT_EQ(machine_.ControlItems(dialog, IDC_PRODUCT).size(), 14u);
  EXPECT_EQ(machine_.ControlSelection(dialog, IDC_PRODUCT), 0);
  EXPECT_EQ(machine_.ControlText(dialog, IDC_FOLDER), u"");
}

}  // namespace
}  // namespace zp
