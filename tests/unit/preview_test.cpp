// "/preview" and "/help" on the simulated machine: a preview of the generation-7 footprint leaves
// the machine exactly as it was and lists what the real removal of an identical machine removes,
// and nothing of the other software beside it; the preview backend's answers; the help box.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "platform/preview/preview.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "startup/entry.h"
#include "startup/help.h"
#include "startup/preview.h"
#include "startup/run_settings.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kFolder = u"C:\\Program Files\\Ostrel";  // not the default place
constexpr const char16_t* kProductKey = u"HKLM\\Software\\OSTREL Software\\Ostrel";
constexpr const char16_t* kUninstall =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char16_t* kRun = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kLogFile = u"C:\\Logs\\preview.log";
constexpr const char16_t* kHeldFile = u"C:\\Program Files\\Ostrel\\Data\\scan.lock";

// The paths of other software beside the product, as the machine's state lines name them.
const std::vector<std::u16string> kCollateral = {
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OtherVendorTray",
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OtherProduct",
    u"HKLM\\Software\\Other Vendor\\Settings",
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe",
    u"HKU\\S-1-5-21-1000\\Software\\Other Vendor",
    u"C:\\Program Files\\Common\\shared.dll",
    u"C:\\Program Files\\Other\\keep.txt",
    u"C:\\WINDOWS\\system32\\drivers\\other.sys",
    u"OtherService",
};

// The generation-7 consumer product as its installation leaves it, and other software beside it.
void PlantGen7(sim::Machine& machine) {
  test::AddProgramStrings(machine);
  machine.SetString(kProductKey, u"Product", u"ois");
  machine.SetString(kProductKey, u"Version", u"7.0.1466");
  machine.SetString(kProductKey, u"ProgramFolder", kFolder);
  machine.SetString(kProductKey + std::u16string(u"\\Settings"), u"Level", u"3");
  machine.SetString(kUninstall + std::u16string(u"ostrel"), u"InstallLocation", kFolder);
  machine.CreateKey(u"HKCU\\Software\\OSTREL Software\\Ostrel\\Profile");
  machine.CreateKey(u"HKLM\\Software\\Classes\\.ostrellic");
  machine.SetString(kRun, u"ostrel", u"\"C:\\Program Files\\Ostrel\\OstrelUI.exe\" /tray");
  machine.CreateKey(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OstrelUI.exe");
  machine.AddService(u"ostrel! Antivirus", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
  machine.AddService(u"ostrel! Mail Scanner");
  machine.AddService(u"zorKbd", SERVICE_KERNEL_DRIVER);
  machine.AddFile(u"C:\\WINDOWS\\system32\\drivers\\zorKbd.sys");
  machine.AddFile(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys");
  machine.AddFile(u"C:\\WINDOWS\\system32\\ostrelss.scr");
  machine.AddFile(u"C:\\Program Files\\Ostrel\\OstrelUI.exe", "MZ");
  machine.AddFile(u"C:\\Program Files\\Ostrel\\Data\\settings.ini", "[x]", FILE_ATTRIBUTE_READONLY);
  machine.AddFile(kHeldFile);
  machine.LockFile(kHeldFile);  // in use: the real removal schedules it for the restart

  machine.SetString(kRun, u"OtherVendorTray", u"C:\\Other\\tray.exe");
  machine.CreateKey(kUninstall + std::u16string(u"OtherProduct"));
  machine.CreateKey(u"HKLM\\Software\\Other Vendor\\Settings");
  machine.CreateKey(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe");
  machine.CreateKey(u"HKCU\\Software\\Other Vendor");
  machine.SetDword(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                   u"C:\\Program Files\\Common\\shared.dll", 1);
  machine.AddFile(u"C:\\Program Files\\Common\\shared.dll");
  machine.AddFile(u"C:\\Program Files\\Other\\keep.txt");
  machine.AddFile(u"C:\\WINDOWS\\system32\\drivers\\other.sys");
  machine.AddService(u"OtherService", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
}

// The path field of a state line ("kind<TAB>path<TAB>...").
std::u16string PathOf(const std::u16string& line) {
  size_t start = line.find(u'\t') + 1;
  return line.substr(start, line.find(u'\t', start) - start);
}

std::u16string KindOf(const std::u16string& line) { return line.substr(0, line.find(u'\t')); }

// The target a "Would ..." line names, in the physical form of the state lines.
std::u16string TargetOf(std::u16string line) {
  static const std::u16string_view kPhrases[] = {
      u"Would delete registry key ", u"Would delete registry value ", u"Would set registry value ",
      u"Would create registry key ", u"Would delete file ",  u"Would delete folder ",
      u"Would schedule for deletion at restart ", u"Would delete service ", u"Would stop service ",
      u"Would write file ",  u"Would run ", u"Would load ", u"Would call ",
  };
  for (std::u16string_view phrase : kPhrases) {
    if (line.rfind(phrase, 0) != 0) continue;
    std::u16string target = line.substr(phrase.size());
    if (size_t view = target.find(u" (") ; view != std::u16string::npos && phrase.find(u"key") != std::u16string_view::npos)
      target.erase(view);
    if (target.rfind(u"HKCU", 0) == 0) target.replace(0, 4, u"HKU\\S-1-5-21-1000");
    if (target.rfind(u"HKCR", 0) == 0) target.replace(0, 4, u"HKLM\\Software\\Classes");
    return target;
  }
  return {};
}

// True when one of the targets is the path or a folder or key above it.
bool Names(const std::vector<std::u16string>& targets, const std::u16string& path) {
  const std::u16string upper = UpperCase(path);
  return std::any_of(targets.begin(), targets.end(), [&](const std::u16string& target) {
    const std::u16string t = UpperCase(target);
    return !t.empty() && (upper == t || upper.rfind(t + u"\\", 0) == 0);
  });
}

std::vector<std::u16string> WouldLines() {
  std::vector<std::u16string> lines;
  for (const std::u16string& text : test::LogTexts())
    if (text.rfind(u"Would ", 0) == 0) lines.push_back(text);
  return lines;
}

std::vector<std::u16string> Without(std::vector<std::u16string> lines, std::u16string_view part) {
  std::erase_if(lines, [&](const std::u16string& line) {
    return line.find(part) != std::u16string::npos;
  });
  return lines;
}

class PreviewTest : public test::FreshProcess {
 protected:
  int Run(sim::Machine& machine, const char16_t* commandLine) {
    machine.Install();
    return ProgramMain(machine.ProgramModule(), commandLine);
  }
};

TEST_F(PreviewTest, ChangesNothingAndListsWhatTheRemovalRemoves) {
  sim::Machine previewed;
  PlantGen7(previewed);
  previewed.AddFolder(u"C:\\Logs");
  const std::vector<std::u16string> before = Without(previewed.StateLines(), u"C:\\Logs");

  // /silent shows the steps' questions; a preview shows none, not even the Safe Mode question.
  EXPECT_EQ(Run(previewed, u"/preview /silent /prod ois /log C:\\Logs\\preview.log"), kExitSuccess);
  EXPECT_TRUE(previewed.messageBoxes().empty());
  // The log file is the one thing the preview writes; the GUID of the setup state is not written.
  EXPECT_EQ(Without(previewed.StateLines(), u"C:\\Logs"), before);
  EXPECT_TRUE(previewed.Exists(kLogFile));
  EXPECT_FALSE(previewed.KeyExists(u"HKLM\\Software\\Classes\\OstrelPersistentStorage"));
  const std::vector<std::u16string> lines = WouldLines();
  std::vector<std::u16string> targets;
  for (const std::u16string& line : lines) targets.push_back(TargetOf(line));
  // The introduction comes right before the list.
  const std::vector<std::u16string> texts = test::LogTexts();
  auto intro = std::find(texts.begin(), texts.end(),
                         u"Preview: nothing was changed. The removal would:");
  ASSERT_NE(intro, texts.end());
  EXPECT_EQ(*(intro + 1), lines.front());
  // Nothing in the log claims a removal that did not happen.
  for (const std::u16string& text : texts) {
    EXPECT_EQ(text.find(u"Deleted registry"), std::u16string::npos) << "claimed in a preview";
    EXPECT_EQ(text.find(u" uninstalled"), std::u16string::npos) << "claimed in a preview";
  }

  // The real removal of an identical machine.
  ResetProcessState();
  sim::Machine removed;
  PlantGen7(removed);
  removed.AnswerMessageBoxes({IDNO});  // no Safe Mode
  EXPECT_EQ(Run(removed, u"/verysilent /prod ois"), kExitSuccess);
  std::vector<std::u16string> after = removed.StateLines();
  std::set<std::u16string> remaining(after.begin(), after.end());
  int checked = 0;
  for (const std::u16string& line : before) {
    const std::u16string kind = KindOf(line), path = PathOf(line);
    if (remaining.count(line) || (kind != u"key" && kind != u"value" && kind != u"file" &&
                                  kind != u"folder" && kind != u"service"))
      continue;
    // A deleted service takes its key with it.
    constexpr std::u16string_view kServices = u"HKLM\\System\\CurrentControlSet\\Services\\";
    std::u16string service;
    if (path.rfind(kServices, 0) == 0) {
      service = path.substr(kServices.size());
      service = service.substr(0, service.find(u'\\'));
    }
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    // A value that the removal changed rather than removed (the pending renames) has a line in
    // both states under the same path.
    if (kind == u"value" && std::any_of(after.begin(), after.end(), [&](const std::u16string& l) {
          return KindOf(l) == kind && PathOf(l) == path;
        }))
      continue;
    EXPECT_TRUE(Names(targets, path) ||
                (!service.empty() && Names(targets, service)));
    ++checked;
  }
  EXPECT_GT(checked, 20);
  // What the real removal schedules for the restart, the preview lists too.
  EXPECT_TRUE(Names(targets, kHeldFile));
  // The read-only file's attributes are cleared only to delete it: one line, its deletion.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::u16string& line) {
              return line.find(u"Data\\settings.ini") != std::u16string::npos;
            }),
            1);

  for (const std::u16string& other : kCollateral) {
    SCOPED_TRACE(std::string(other.begin(), other.end()));
    EXPECT_TRUE(std::any_of(before.begin(), before.end(), [&](const std::u16string& line) {
      return PathOf(line) == other;
    }));
    EXPECT_TRUE(remaining.count(*std::find_if(before.begin(), before.end(),
                                              [&](const std::u16string& line) {
                                                return PathOf(line) == other;
                                              })));
    EXPECT_FALSE(Names(targets, other));
  }
}

// The forced uninstall hands the removal to the product's setup library: in a preview the
// library's export is listed and never runs, and nothing asks for a restart.
TEST_F(PreviewTest, TheForcedUninstallListsTheSetupLibrarysCall) {
  static int calls = 0;
  calls = 0;
  void (*uninstall)(unsigned long, unsigned long, unsigned long, unsigned long*) =
      [](unsigned long, unsigned long, unsigned long, unsigned long* result) {
        ++calls;
        *result = 0x20000000;
      };
  sim::Machine machine(sim::OsFacts::WindowsXp());
  test::AddProgramStrings(machine);
  machine.SetString(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"Ostrel4ProgramFolder",
                    u"C:\\Program Files\\Ostrel4");
  machine.AddLibrary(u"C:\\Program Files\\Ostrel4\\Setup\\Tavlink.dll",
                     {{"tavlinkUninstallProgram", reinterpret_cast<const void*>(uninstall)}});
  const std::vector<std::u16string> before = machine.StateLines();
  EXPECT_EQ(Run(machine, u"/preview /forceuninstallpro"), kExitSuccess);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(machine.LibraryLoads(u"C:\\Program Files\\Ostrel4\\Setup\\Tavlink.dll"), 0);
  EXPECT_TRUE(machine.messageBoxes().empty());  // neither Safe Mode nor the restart question
  EXPECT_EQ(machine.StateLines(), before);
  EXPECT_EQ(WouldLines(), (std::vector<std::u16string>{
                              u"Would load C:\\Program Files\\Ostrel4\\Setup\\Tavlink.dll",
                              u"Would call Tavlink.dll!tavlinkUninstallProgram"}));
}

TEST_F(PreviewTest, ASilentPreviewWithoutALogRunsNothing) {
  sim::Machine machine;
  PlantGen7(machine);
  const std::vector<std::u16string> before = machine.StateLines();
  EXPECT_EQ(Run(machine, u"/preview /verysilent /prod ois"), 87);
  EXPECT_EQ(machine.StateLines(), before);
  EXPECT_TRUE(machine.messageBoxes().empty());
  EXPECT_TRUE(WouldLines().empty());
  // Detection never ran: the product selection has no folder.
  EXPECT_TRUE(g_product.productFolder.empty());
}

TEST_F(PreviewTest, InTheDialogTheViewShowsTheList) {
  sim::Machine machine;
  PlantGen7(machine);
  machine.ScriptDialog({sim::DialogAction::PressButton(IDC_UNINSTALL),
                        sim::DialogAction::CloseWindow()});
  const std::vector<std::u16string> before = machine.StateLines();
  EXPECT_EQ(Run(machine, u"/preview"), kExitSuccess);
  EXPECT_EQ(machine.StateLines(), before);
  // No Safe Mode question, no folder question, no restart question.
  EXPECT_TRUE(machine.messageBoxes().empty());
  const std::u16string progress = machine.ControlText(machine.LastDialog(), IDC_PROGRESS);
  const size_t intro = progress.find(u"Preview: nothing was changed. The removal would:\r\n");
  // The view holds the list only: no step claims to have removed anything.
  EXPECT_EQ(intro, 0u);
  EXPECT_EQ(progress.find(u" - Removed"), std::u16string::npos);
  EXPECT_EQ(progress.find(u"Program was successfully removed"), std::u16string::npos);
  // Names ignore case: the list has each once, in the case it met first.
  const std::u16string list = UpperCase(progress.substr(intro));
  EXPECT_NE(list.find(u"WOULD DELETE REGISTRY KEY HKLM\\SOFTWARE\\OSTREL SOFTWARE\\OSTREL\r\n"),
            std::u16string::npos);
  EXPECT_NE(list.find(u"WOULD DELETE SERVICE OSTREL! ANTIVIRUS\r\n"), std::u16string::npos);
}

TEST_F(PreviewTest, HelpShowsTheOptionsBeforeAnythingElse) {
  for (const char16_t* line : {u"/?", u"/verysilent -HELP /prod ois"}) {
    ResetProcessState();
    sim::Machine machine;
    PlantGen7(machine);
    const std::vector<std::u16string> before = machine.StateLines();
    EXPECT_EQ(Run(machine, line), kExitSuccess);
    ASSERT_EQ(machine.messageBoxes().size(), 1u);  // no Safe Mode question
    const sim::MessageBoxCall& box = machine.messageBoxes()[0];
    EXPECT_EQ(box.caption, u"zorPurge");
    EXPECT_EQ(box.type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(box.text, HelpText());
    EXPECT_EQ(machine.StateLines(), before);  // no GUID, nothing removed
    EXPECT_TRUE(g_log.entries.empty());
  }
  const std::u16string text = HelpText();
  for (std::u16string_view option : {u"/silent", u"/verysilent", u"/noreboot", u"/forcerestart",
                                     u"/forceuninstallpro", u"/prod <productId>", u"/log <file>",
                                     u"/preview", u"/help"})
    EXPECT_NE(text.find(option), std::u16string::npos) << std::string(option.begin(), option.end());
  const size_t ids = text.find(u"Product ids:");
  ASSERT_NE(ids, std::u16string::npos);
  const std::u16string idLine = text.substr(ids, text.find(u'\n', ids) - ids) + u" ";
  for (const CatalogueEntry& entry : DisplayList())
    EXPECT_NE(idLine.find(u" " + std::u16string(entry.productId) + u" "), std::u16string::npos);
  for (std::u16string_view code : {u"  0 - ", u"  1 - ", u"  2 - ", u"  87 - "})
    EXPECT_NE(text.find(code), std::u16string::npos);
}

// The backend's answers: each change is recorded and answers as the real call would; reads go
// to the machine; the products' code is reached but never runs.
TEST_F(PreviewTest, TheBackendRecordsChangesAndAnswersAsWindowsWould) {
  sim::Machine machine;
  machine.AddFile(u"C:\\P\\a.txt");
  machine.SetString(u"HKLM\\Software\\P", u"v", u"1");
  static bool ran = false;
  ran = false;
  HRESULT (*entry)() = [] { ran = true; return S_OK; };
  machine.AddLibrary(u"C:\\P\\part.dll", {{"Remove", reinterpret_cast<const void*>(entry)}});
  machine.Install();
  PreviewPlatform preview(InstalledPlatform());
  const Platform real = InstallPlatform(preview.Facets());

  EXPECT_TRUE(Files().DeleteFileW(u"C:\\P\\a.txt"));
  EXPECT_FALSE(Files().DeleteFileW(u"C:\\P\\b.txt"));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Files().RemoveDirectoryW(u"C:\\Q"));
  EXPECT_TRUE(Files().MoveFileExW(u"C:\\P\\a.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(Reg().RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\P"), ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Q"), ERROR_FILE_NOT_FOUND);
  HKEY key = nullptr;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\P", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegDeleteValueW(key, u"v"), ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegDeleteValueW(key, u"w"), ERROR_FILE_NOT_FOUND);
  Reg().RegCloseKey(key);
  HMODULE library = Sys().LoadLibraryExW(u"C:\\P\\part.dll", LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(library, nullptr);
  struct Call {
    HRESULT (*entry)();
    HRESULT result;
  } call{reinterpret_cast<HRESULT (*)()>(const_cast<void*>(Sys().GetProcAddress(library, "Remove"))),
         E_UNEXPECTED};
  DWORD exception = 1;
  EXPECT_TRUE(Sys().CallGuarded([](void* c) {
    auto* guarded = static_cast<Call*>(c);
    guarded->result = guarded->entry();
  }, &call, &exception));
  EXPECT_EQ(exception, 0u);
  EXPECT_EQ(call.result, E_UNEXPECTED);  // the caller's own value stays
  Sys().FreeLibrary(library);
  EXPECT_EQ(Sys().LoadLibraryExW(u"C:\\P\\missing.dll", 0), nullptr);
  InstallPlatform(real);

  EXPECT_FALSE(ran);
  EXPECT_TRUE(machine.Exists(u"C:\\P\\a.txt"));
  EXPECT_EQ(machine.String(u"HKLM\\Software\\P", u"v"), u"1");
  EXPECT_EQ(machine.LibraryLoads(u"C:\\P\\part.dll"), 0);
  using Kind = PreviewChange::Kind;
  const std::vector<PreviewChange> expected = {
      {Kind::DeleteFile, u"C:\\P\\a.txt", u""},
      {Kind::DeleteAtRestart, u"C:\\P\\a.txt", u""},
      {Kind::DeleteKey, u"HKLM\\Software\\P", u""},
      {Kind::DeleteValue, u"HKLM\\Software\\P", u"v"},
      {Kind::LoadLibrary, u"C:\\P\\part.dll", u""},
      {Kind::CallExport, u"part.dll!Remove", u""},
  };
  EXPECT_EQ(preview.Changes(), expected);
}

}  // namespace
}  // namespace zp
