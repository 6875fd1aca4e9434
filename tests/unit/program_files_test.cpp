// The program files step: the guard against system folders, the confirmation, the deletion
// and the leftovers outside the program folder.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kWarning =
    u"Entered path contains system folders.\nInstalled program's files will not be removed.";

struct FolderCase {
  const char* name;
  std::u16string folder;
  int silentLevel;
  std::vector<int> answers;
  std::vector<std::u16string> boxStarts;  // the beginning of each box's text
  bool deleted;
};

TEST(ProgramFiles, GuardConfirmationAndDeletion) {
  const std::u16string question = u"Are you sure that entered path contains";
  const std::u16string defaultFolder = u"C:\\Program Files\\Keswin Software\\Ostrel5";
  const FolderCase cases[] = {
      {"the default place: no question", defaultFolder, 0, {}, {}, true},
      {"the default place in another case", u"c:\\program files\\keswin software\\OSTREL5\\", 0,
       {}, {}, true},
      {"another folder, Yes", u"D:\\Ostrel", 0, {IDYES}, {question}, true},
      {"another folder, No", u"D:\\Ostrel", 0, {IDNO}, {question}, false},
      {"silent still asks", u"D:\\Ostrel", 2, {IDNO}, {question}, false},
      {"very silent counts as Yes", u"D:\\Ostrel", 3, {}, {}, true},
      {"the Windows folder", u"c:\\windows\\Temp", 0, {IDOK}, {kWarning}, false},
      {"a sibling of the Windows folder", u"C:\\WindowsApps", 0, {IDOK}, {kWarning}, false},
      {"Program Files", u"C:\\PROGRAM FILES", 0, {IDOK}, {kWarning}, false},
      {"Program Files with a final backslash", u"C:\\Program Files\\", 3, {}, {}, false},
      {"a drive root", u"C:\\", 0, {IDOK}, {kWarning}, false},
      {"a drive", u"D:", 3, {}, {}, false},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7());
    machine.os().windowsFolder = u"C:\\Windows";
    test::AddProgramStrings(machine);
    for (const std::u16string& file :
         {defaultFolder + u"\\a.dll", std::u16string(u"D:\\Ostrel\\b.dll"),
          std::u16string(u"C:\\Windows\\Temp\\t.tmp"), std::u16string(u"C:\\WindowsApps\\w.dll"),
          std::u16string(u"C:\\Program Files\\Other\\o.dll")})
      machine.AddFile(file);
    for (int answer : c.answers) machine.AnswerMessageBoxes({answer});
    machine.Install();
    g_setup.Init();
    g_setup.hInstance = machine.ProgramModule();
    g_setup.silentLevel = c.silentLevel;
    g_product.defaultProgramFolder = u"%PRGFILES%\\Keswin Software\\Ostrel5";
    g_product.productFolder = c.folder;
    RemoveProgramFiles();

    std::vector<std::u16string> starts;
    for (const sim::MessageBoxCall& box : machine.messageBoxes()) {
      starts.push_back(box.text.substr(0, c.boxStarts.empty() ? 0 : c.boxStarts[0].size()));
      EXPECT_EQ(box.caption, u"ostrel! Antivirus Uninstall");
      EXPECT_EQ(box.type, box.text == kWarning ? MB_OK | MB_ICONWARNING
                                               : MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    }
    EXPECT_EQ(starts, c.boxStarts);
    bool anyDeleted = !machine.Exists(defaultFolder) || !machine.Exists(u"D:\\Ostrel");
    EXPECT_EQ(anyDeleted, c.deleted);
    EXPECT_TRUE(machine.Exists(u"C:\\Windows\\Temp\\t.tmp"));
    EXPECT_TRUE(machine.Exists(u"C:\\WindowsApps\\w.dll"));
    EXPECT_TRUE(machine.Exists(u"C:\\Program Files\\Other\\o.dll"));
  }
}

TEST(ProgramFiles, DataFolderProgressLineAndLeftovers) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::Windows7());
  test::AddProgramStrings(machine);
  for (const char16_t* file :
       {u"C:\\Program Files\\Keswin Software\\Ostrel5\\a.dll", u"C:\\ProgramData\\Ostrel\\db.dat",
        u"C:\\~QVINSTL\\setup.tmp", u"C:\\ostrel! sandbox\\x\\y.bin",
        u"C:\\WINDOWS\\ostrelss.scr", u"C:\\WINDOWS\\system32\\Tasks\\ostrel! Emergency Update"})
    machine.AddFile(file);
  HWND dialog = machine.AddDialog();
  machine.AddControl(dialog, IDC_PROGRESS);
  machine.Install();
  g_setup.Init();
  g_setup.hInstance = machine.ProgramModule();
  g_run.dialogWindow = dialog;
  g_product.defaultProgramFolder = u"%PRGFILES%\\Keswin Software\\Ostrel5";
  g_product.productFolder = u"C:\\Program Files\\Keswin Software\\Ostrel5";
  g_product.dataFolder = u"C:\\ProgramData\\Ostrel";
  RemoveProgramFiles();
  for (const char16_t* gone :
       {u"C:\\Program Files\\Keswin Software\\Ostrel5", u"C:\\ProgramData\\Ostrel", u"C:\\~QVINSTL",
        u"C:\\ostrel! sandbox", u"C:\\WINDOWS\\ostrelss.scr",
        u"C:\\WINDOWS\\system32\\Tasks\\ostrel! Emergency Update"})
    EXPECT_FALSE(machine.Exists(gone)) << std::string(gone, gone + 10);
  EXPECT_EQ(machine.ControlText(dialog, IDC_PROGRESS), u"Program files - Removed\r\n");

  // No folder: no question, no line, the leftovers still go.
  machine.AddFile(u"C:\\~QVINSTL\\again.tmp");
  machine.SetControlText(dialog, IDC_PROGRESS, u"");
  g_product.productFolder.clear();
  RemoveProgramFiles();
  EXPECT_FALSE(machine.Exists(u"C:\\~QVINSTL"));
  EXPECT_EQ(machine.ControlText(dialog, IDC_PROGRESS), u"");
  EXPECT_TRUE(machine.messageBoxes().empty());
}

}  // namespace
}  // namespace zp
