// The mail client integrations on the simulated machine: Outlook's registrations and extension
// cache, The Bat!'s folder and its numbered INI lists.
#include <gtest/gtest.h>

#include <string>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/mail_clients.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

constexpr const char16_t* kTheBatKey = u"HKCU\\Software\\RIT\\The Bat!";
constexpr const char16_t* kBat = u"C:\\Users\\u\\AppData\\Roaming\\The Bat!";
constexpr const char16_t* kBatFolder = u"C:\\Users\\u\\AppData\\Roaming\\The Bat!\\";
constexpr const char16_t* kSetupIni = u"C:\\Program Files\\Ostrel\\Setup\\setup.ini";

class MailClients : public test::FreshProcess {
 protected:
  explicit MailClients(sim::OsFacts os = sim::OsFacts::Windows7()) : machine_(std::move(os)) {}
  void SetUp() override {
    machine_.Install();
    g_setup.Init();
    g_setup.roPath = u"C:\\Program Files\\Ostrel";
    machine_.AddFolder(u"C:\\Program Files\\Ostrel\\Setup");
    g_log.entries.clear();
  }
  std::string File(std::u16string_view name, std::u16string_view folder = kBatFolder) {
    return machine_.FileContent(std::u16string(folder) + std::u16string(name)).value_or("<none>");
  }
  std::u16string CachedFolder() {
    char16_t buffer[1024] = {};
    Files().GetPrivateProfileStringW(u"Common", u"TheBatPath", u"", buffer, 1024, kSetupIni);
    return buffer;
  }
  sim::Machine machine_;
};

// The Bat!'s two lists, as the removal leaves them.
TEST_F(MailClients, TheBatListsLoseTheProductsEntriesAndStayContiguous) {
  struct Case {
    const char* name;
    std::string avconfig, plugins;
    std::string avconfigAfter, pluginsAfter;
  };
  std::string many = "[Checkers]\r\nCount=21\r\nChecker #1=C:\\x\\QvBatEx.bav\r\n";
  std::string manyAfter = "[Checkers]\r\nCount=20\r\n";
  for (int n = 2; n <= 21; ++n)
    many += "Checker #" + std::to_string(n) + "=c" + std::to_string(n) + ".bav\r\n";
  for (int n = 1; n <= 20; ++n)
    manyAfter += "Checker #" + std::to_string(n) + "=c" + std::to_string(n + 1) + ".bav\r\n";
  const Case cases[] = {
      {"the products' checker between two others",
       "[Checkers]\r\nCount=3\r\nChecker #1=other.bav\r\nChecker #2=C:\\x\\QvBatEx.bav\r\n"
       "Checker #3=third.bav\r\n",
       "[Plugins]\r\nCount=2\r\nPlugin #1=C:\\x\\qvbatplg.TBP\r\nPlugin #2=spam.tbp\r\n",
       "[Checkers]\r\nCount=2\r\nChecker #1=other.bav\r\nChecker #2=third.bav\r\n",
       "[Plugins]\r\nCount=1\r\nPlugin #1=spam.tbp\r\n"},
      {"no products' entry: a gap left by others is closed, Count kept",
       "[Checkers]\r\nCount=2\r\nChecker #1=a.bav\r\nChecker #3=c.bav\r\n",
       "; plugins\r\n[Plugins]\r\nCount=1\r\nPlugin #1=spam.tbp\r\n",
       "[Checkers]\r\nCount=2\r\nChecker #1=a.bav\r\nChecker #2=c.bav\r\n",
       "; plugins\r\n[Plugins]\r\nCount=1\r\nPlugin #1=spam.tbp\r\n"},
      // Moving #2 to #1 must leave #20 and #21 where they are until their turn.
      {"twenty-one checkers", many, "", manyAfter, "<none>"},
      // A line that merely mentions the key moved is no line of that key.
      {"other sections and lines stay",
       "[General]\r\nName=Checker #2\r\n\r\n[Checkers]\r\nCount=2\r\n"
       "  Checker #1 = QvBatEx.bav\r\nChecker #2=b.bav\r\n",
       "",
       "[General]\r\nName=Checker #2\r\n\r\n[Checkers]\r\nCount=1\r\nChecker #1=b.bav\r\n",
       "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine;
    machine.Install();
    g_setup.Init();
    machine.SetString(kTheBatKey, u"Working Directory", kBat);
    machine.AddFile(std::u16string(kBatFolder) + u"avconfig.ini", c.avconfig);
    if (!c.plugins.empty())
      machine.AddFile(std::u16string(kBatFolder) + u"TBPlugin.INI", c.plugins);
    machine.AddFile(std::u16string(kBatFolder) + u"QvBatEx.bav", "MZ");
    EXPECT_EQ(RemoveTheBatPlugin(), ERROR_SUCCESS);
    const std::u16string folder = kBatFolder;
    EXPECT_EQ(machine.FileContent(folder + u"avconfig.ini").value_or("<none>"), c.avconfigAfter);
    EXPECT_EQ(machine.FileContent(folder + u"TBPlugin.INI").value_or("<none>"), c.pluginsAfter);
    EXPECT_FALSE(machine.Exists(folder + u"QvBatEx.bav"));
    EXPECT_FALSE(machine.Exists(folder + u"temp.ini"));
  }
}

TEST_F(MailClients, AListWithoutTheTextIsNotRewritten) {
  // Line feeds alone would come back as CR LF from a rewrite in text mode.
  const std::string ini = "[Checkers]\nCount=7\nChecker #1=a.bav\n";
  machine_.AddFile(std::u16string(kBatFolder) + u"avconfig.ini", ini);
  EXPECT_EQ(RemoveIniLinesContaining(u"QvBatEx.bav", kBatFolder, u"avconfig.ini", u"Checkers"),
            ERROR_SUCCESS);
  EXPECT_EQ(File(u"avconfig.ini"), ini);
  EXPECT_FALSE(machine_.Exists(std::u16string(kBatFolder) + u"temp.ini"));
}

TEST_F(MailClients, RemovedLinesLowerCountOnlyWhenItHoldsThem) {
  struct Case {
    const char* name;
    std::string count;
    std::string countAfter;
  };
  for (const Case& c : {Case{"two of five", "5", "3"}, Case{"two of one", "1", "1"},
                        Case{"two of two", "2", "0"}}) {
    SCOPED_TRACE(c.name);
    machine_.AddFile(u"C:\\T\\list.ini", "[L]\r\nCount=" + c.count +
                                             "\r\nE1=x.bav\r\n[Other]\r\nE=X.BAV and more\r\n");
    EXPECT_EQ(RemoveIniLinesContaining(u"x.bav", u"C:\\T\\", u"list.ini", u"L"), ERROR_SUCCESS);
    EXPECT_EQ(File(u"list.ini", u"C:\\T\\"), "[L]\r\nCount=" + c.countAfter + "\r\n[Other]\r\n")
        << "any section, any case";
  }
}

TEST_F(MailClients, MovingAnEntryDropsOnlyTheOldKeysLine) {
  machine_.AddFile(u"C:\\T\\list.ini",
                   "[L]\r\nCount=4\r\nchecker #1 =one\r\nChecker #10=ten\r\nChecker #11=eleven\r\n"
                   "X Checker #1=not a key of ours\r\n");
  EXPECT_EQ(MoveIniListEntry(u"one", u"C:\\T\\", u"list.ini", u"L", 1, 2, u"Checker #%d"),
            ERROR_SUCCESS);
  EXPECT_EQ(File(u"list.ini", u"C:\\T\\"),
            "[L]\r\nCount=4\r\nChecker #10=ten\r\nChecker #11=eleven\r\n"
            "X Checker #1=not a key of ours\r\nChecker #2=one\r\n");
}

TEST_F(MailClients, LongLinesAreHandledWhole) {
  const std::string longValue(3000, 'v');
  machine_.AddFile(u"C:\\T\\list.ini", "[L]\r\nCount=2\r\nE #2=" + longValue + "QvBatEx.bav" +
                                           longValue + "\r\nE #3=" + longValue + "\r\n");
  EXPECT_EQ(RemoveIniLinesContaining(u"QvBatEx.bav", u"C:\\T\\", u"list.ini", u"L"),
            ERROR_SUCCESS);
  EXPECT_EQ(CompactIniList(u"C:\\T\\", u"list.ini", u"L", u"E #%d"), ERROR_SUCCESS);
  EXPECT_EQ(File(u"list.ini", u"C:\\T\\"), "[L]\r\nCount=1\r\nE #1=" + longValue + "\r\n")
      << "no piece of the long line left behind, the value moved whole";
}

TEST_F(MailClients, AFileThatCannotBeOpenedOrCopiedStaysAsItWas) {
  const std::string ini = "[L]\r\nCount=2\r\nE #1=QvBatEx.bav\r\nE #3=b\r\n";
  struct Case {
    const char* name;
    const char* call;  // an injected failure, or none
    bool locked;
    LONG result;
  };
  for (const Case& c : {Case{"held open by another", nullptr, true, ERROR_FILE_NOT_FOUND},
                        Case{"read fails", "fgetws", false, ERROR_READ_FAULT},
                        Case{"write fails", "fputws", false, ERROR_WRITE_FAULT}}) {
    SCOPED_TRACE(c.name);
    machine_.AddFile(u"C:\\T\\list.ini", ini);
    machine_.LockFile(u"C:\\T\\list.ini", c.locked);
    if (c.call) machine_.FailCall(c.call, 5, {}, 2);  // one for each call below
    EXPECT_EQ(RemoveIniLinesContaining(u"QvBatEx.bav", u"C:\\T\\", u"list.ini", u"L"), c.result);
    EXPECT_EQ(CompactIniList(u"C:\\T\\", u"list.ini", u"L", u"E #%d"), c.result);
    EXPECT_EQ(File(u"list.ini", u"C:\\T\\"), ini);
    EXPECT_FALSE(machine_.Exists(u"C:\\T\\temp.ini"));
    machine_.LockFile(u"C:\\T\\list.ini", false);
  }
  EXPECT_EQ(CopyFileWithoutLines(u"C:\\T\\", u"missing.ini", u"x"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(machine_.Exists(u"C:\\T\\temp.ini"));
  EXPECT_EQ(CopyFileWithoutLines(u"C:\\No folder\\", u"list.ini", u"x"), ERROR_FILE_NOT_FOUND)
      << "temp.ini cannot be created";
}

TEST_F(MailClients, WorkingDirectoryIsExpandedAndCached) {
  machine_.SetEnvironment(u"APPDATA", u"C:\\Users\\u\\AppData\\Roaming");
  machine_.SetString(kTheBatKey, u"Working Directory", u"%APPDATA%\\The Bat!", REG_EXPAND_SZ);
  machine_.AddFile(std::u16string(kBatFolder) + u"avconfig.ini",
                   "[Checkers]\r\nCount=1\r\nChecker #1=QvBatEx.bav\r\n");
  EXPECT_EQ(RemoveTheBatPlugin(), ERROR_SUCCESS);
  EXPECT_EQ(CachedFolder(), kBat);
  EXPECT_EQ(File(u"avconfig.ini"), "[Checkers]\r\nCount=0\r\n");
  EXPECT_TRUE(g_log.entries.empty()) << "finding the folder logs nothing";

  // The Bat! no longer registered for the user: the cached folder serves.
  ResetProcessState();
  g_setup.Init();
  g_setup.roPath = u"C:\\Program Files\\Ostrel";
  Reg().RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\RIT\\The Bat!");
  char16_t folder[1024];
  EXPECT_EQ(FindTheBatFolder(folder, 1024), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(folder), kBat);
}

TEST_F(MailClients, NoFolderToBeFound) {
  machine_.AddFile(std::u16string(kBatFolder) + u"avconfig.ini",
                   "[Checkers]\r\nCount=1\r\nChecker #1=QvBatEx.bav\r\n");
  machine_.AddFile(std::u16string(kBatFolder) + u"QvBatEx.bav", "MZ");
  EXPECT_EQ(RemoveTheBatPlugin(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(File(u"avconfig.ini"), "[Checkers]\r\nCount=1\r\nChecker #1=QvBatEx.bav\r\n");
  EXPECT_TRUE(machine_.Exists(std::u16string(kBatFolder) + u"QvBatEx.bav"));
  EXPECT_FALSE(machine_.Exists(kSetupIni));

  char16_t folder[1024];
  EXPECT_EQ(FindTheBatFolder(nullptr, 1024), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FindTheBatFolder(folder, 0), ERROR_INVALID_PARAMETER);
  machine_.SetString(kTheBatKey, u"Working Directory", u"");
  EXPECT_EQ(FindTheBatFolder(folder, 1024), ERROR_INVALID_DATA) << "shorter than 3 bytes";
  Reg().RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\RIT\\The Bat!");
  machine_.CreateKey(kTheBatKey);
  EXPECT_EQ(FindTheBatFolder(folder, 1024), ERROR_FILE_NOT_FOUND) << "no value";
  machine_.SetString(kTheBatKey, u"Working Directory", kBat);
  EXPECT_EQ(FindTheBatFolder(folder, 10), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(folder), u"") << "no half of a path";
  EXPECT_FALSE(machine_.Exists(kSetupIni));
}

class OutlookOn64Bit : public MailClients {
 protected:
  OutlookOn64Bit() : MailClients(sim::OsFacts::Windows7X64()) {}
};

TEST_F(OutlookOn64Bit, AddinKeysGoInBothViews) {
  // Physical keys: the 64-bit ones, their 32-bit twins (Wow6432Node; CLSID below
  // Classes\Wow6432Node, the other classes shared).
  const std::vector<std::u16string> keys64 = {
      u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrelAddin",
      u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrel.ZsOutExt",
      u"HKLM\\SOFTWARE\\Classes\\ostrelAddin\\CLSID",
      u"HKLM\\SOFTWARE\\Classes\\ostrelAddin.1",
      u"HKLM\\SOFTWARE\\Classes\\ostrel.ZsOutExt",
      u"HKLM\\SOFTWARE\\Classes\\ostrel.ZsOutExt.1",
      u"HKLM\\SOFTWARE\\Classes\\ZsOutExt.RibbonWrapper",
      u"HKLM\\SOFTWARE\\Classes\\ZsOutExt.RibbonWrapper.1",
      u"HKLM\\SOFTWARE\\Classes\\CLSID\\{B342E21B-AD7E-4568-AE3F-D0D844537A7A}\\InprocServer32",
      u"HKLM\\SOFTWARE\\Classes\\CLSID\\{CD2CE11F-5C26-4217-A773-914FADDA6FD9}",
      u"HKLM\\SOFTWARE\\Classes\\TypeLib\\{EDDBDEA4-5C07-453F-BE8C-81D738984381}\\1.0",
  };
  const std::vector<std::u16string> keys32 = {
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\ostrelAddin",
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\ostrel.ZsOutExt",
      u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{B342E21B-AD7E-4568-AE3F-D0D844537A7A}",
      u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{CD2CE11F-5C26-4217-A773-914FADDA6FD9}",
  };
  for (const auto& key : keys64) machine_.CreateKey(key);
  for (const auto& key : keys32) machine_.CreateKey(key);
  machine_.CreateKey(u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\other");
  machine_.CreateKey(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\other");
  RemoveOutlookAddins();
  for (const auto* list : {&keys64, &keys32})
    for (const auto& key : *list)
      EXPECT_FALSE(machine_.KeyExists(key)) << std::string(key.begin(), key.end());
  EXPECT_FALSE(machine_.KeyExists(u"HKLM\\SOFTWARE\\Classes\\ostrelAddin"));
  EXPECT_TRUE(machine_.KeyExists(u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\other"));
  EXPECT_TRUE(machine_.KeyExists(
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\other"));

  g_log.entries.clear();
  RemoveOutlookAddins();
  EXPECT_TRUE(g_log.entries.empty()) << "absent registrations log nothing";
}

TEST_F(MailClients, OutlookExtensionCache) {
  constexpr const char16_t* kShellFolders =
      u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const std::u16string local = u"C:\\Users\\u\\AppData\\Local";
  const std::u16string cache = local + u"\\Microsoft\\Outlook\\EXTEND.DAT";
  struct Case {
    const char* name;
    bool folderKnown, present, locked;
    bool gone, scheduled;
  };
  for (const Case& c : {Case{"present", true, true, false, true, false},
                        Case{"locked by Outlook", true, true, true, false, true},
                        Case{"absent", true, false, false, true, false},
                        Case{"no Local AppData", false, true, false, false, false}}) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine;
    machine.Install();
    g_setup.Init();
    if (c.folderKnown) machine.SetString(kShellFolders, u"Local AppData", local);
    if (c.present) machine.AddFile(cache, "cache");
    machine.LockFile(cache, c.locked);
    EXPECT_EQ(DeleteOutlookExtendDat(), ERROR_SUCCESS);
    EXPECT_EQ(!machine.Exists(cache), c.gone);
    EXPECT_EQ(IsScheduledForRestart(cache), c.scheduled);
    EXPECT_EQ(g_setup.RebootPending, c.scheduled);
  }
}

}  // namespace
}  // namespace zp
