// The file operations on the simulated machine.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/files.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

constexpr const char16_t* kSharedDlls =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char16_t* kPending = u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

class FilesTest : public test::FreshProcess {
 protected:
  explicit FilesTest(sim::OsFacts os = sim::OsFacts::Windows7()) : machine_(std::move(os)) {}
  void SetUp() override {
    machine_.Install();
    g_setup.Init();
    g_log.entries.clear();
  }
  bool Logged(std::u16string_view text) const {
    for (const LogEntry& entry : g_log.entries)
      if (entry.text == text) return true;
    return false;
  }
  sim::Machine machine_;
};

TEST_F(FilesTest, DeleteNowOrAtTheNextRestart) {
  struct Case {
    const char* name;
    DWORD attributes;
    bool locked;
    bool allowRestart, restartOnly;
    LONG result;
    bool gone, scheduled;
  };
  const Case cases[] = {
      {"plain file", FILE_ATTRIBUTE_ARCHIVE, false, true, false, 0, true, false},
      {"read-only, hidden, system", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_ATTRIBUTE_SYSTEM,
       false, false, false, 0, true, false},
      {"locked, restart allowed", 0, true, true, false, 0, false, true},
      {"locked, no restart", 0, true, false, false, ERROR_SHARING_VIOLATION, false, false},
      {"restart only", 0, false, true, true, 0, false, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string path = u"C:\\P\\f" + std::u16string(1, u'0' + n++) + u".dll";
    machine_.AddFile(path, "x", c.attributes);
    machine_.LockFile(path, c.locked);
    g_setup.RebootPending = false;
    EXPECT_EQ(filRenameOnReboot(path, c.allowRestart, c.restartOnly), c.result);
    EXPECT_EQ(!machine_.Exists(path), c.gone);
    EXPECT_EQ(IsScheduledForRestart(path), c.scheduled);
    EXPECT_EQ(g_setup.RebootPending, c.scheduled);
    EXPECT_EQ(Logged(u"Direct delete of file: " + path), c.gone);
  }
  EXPECT_EQ(filRenameOnReboot(u"C:\\P\\missing.dll", true, false), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, ALockedFileIsScheduledOnce) {
  machine_.AddFile(u"C:\\P\\lock.sys");
  machine_.LockFile(u"C:\\P\\lock.sys");
  EXPECT_EQ(filRenameOnReboot(u"C:\\P\\lock.sys", true, false), 0);
  EXPECT_EQ(filRenameOnReboot(u"c:\\p\\LOCK.SYS", true, false), 0);
  EXPECT_EQ(g_restart.restartDeleteList.size(), 1u);
}

TEST_F(FilesTest, SharedFilesStayWhileCounted) {
  machine_.AddFile(u"C:\\Common\\shared.dll");
  machine_.SetDword(kSharedDlls, u"C:\\Common\\shared.dll", 2);
  EXPECT_EQ(DeleteSharedFile(u"C:\\Common\\shared.dll", true, false), 0);
  EXPECT_TRUE(machine_.Exists(u"C:\\Common\\shared.dll"));
  EXPECT_TRUE(Logged(u"Ignoring remove shared file:C:\\Common\\shared.dll"));

  machine_.SetDword(kSharedDlls, u"C:\\Common\\shared.dll", 0);
  EXPECT_EQ(DeleteSharedFile(u"C:\\Common\\shared.dll", true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\Common\\shared.dll"));
  EXPECT_EQ(DeleteSharedFile(u"C:\\Common\\shared.dll", false, false), 0) << "absent is done";
}

TEST_F(FilesTest, DecrementSharedDllCount) {
  machine_.SetDword(kSharedDlls, u"C:\\a.dll", 3);
  machine_.SetDword(kSharedDlls, u"C:\\b.dll", 1);
  EXPECT_EQ(DecrementSharedDllCount(u"C:\\a.dll"), 0);
  EXPECT_EQ(DecrementSharedDllCount(u"C:\\b.dll"), 0);
  EXPECT_EQ(DecrementSharedDllCount(u"C:\\c.dll"), 0);
  EXPECT_EQ(machine_.Value(kSharedDlls, u"C:\\a.dll"), (std::vector<BYTE>{2, 0, 0, 0}));
  EXPECT_FALSE(machine_.Value(kSharedDlls, u"C:\\b.dll").has_value());
  EXPECT_FALSE(machine_.Value(kSharedDlls, u"C:\\c.dll").has_value());
}

TEST_F(FilesTest, DeleteTreeRemovesEveryMatchingFolder) {
  for (const char16_t* file : {u"C:\\Products\\X1\\a.txt", u"C:\\Products\\X1\\sub\\b.txt",
                               u"C:\\Products\\X2\\c.txt", u"C:\\Products\\Y\\d.txt"})
    machine_.AddFile(file);
  EXPECT_EQ(DeleteTree(u"C:\\Products\\X*", u"*.*", true, true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\Products\\X1"));
  EXPECT_FALSE(machine_.Exists(u"C:\\Products\\X2"));
  EXPECT_TRUE(machine_.Exists(u"C:\\Products\\Y\\d.txt"));
  EXPECT_TRUE(g_restart.restartDeleteList.empty());
}

TEST_F(FilesTest, DeleteTreeOfAFolderWithAFinalBackslash) {
  machine_.AddFile(u"C:\\Program Files\\X\\a.dll");
  EXPECT_EQ(DeleteTree(u"C:\\Program Files\\X\\", u"*.*", true, true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\Program Files\\X"));
  EXPECT_TRUE(machine_.Exists(u"C:\\Program Files"));
}

TEST_F(FilesTest, DeleteTreeNeverTouchesTheParentThroughDotEntries) {
  machine_.AddFile(u"C:\\Products\\keep.txt");
  machine_.AddFile(u"C:\\Products\\A\\a.txt");
  machine_.AddFile(u"C:\\other.txt");
  EXPECT_EQ(DeleteTree(u"C:\\Products\\*", u"*.*", true, true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\Products\\A"));
  EXPECT_TRUE(machine_.Exists(u"C:\\Products\\keep.txt"));
  EXPECT_TRUE(machine_.Exists(u"C:\\other.txt"));
}

TEST_F(FilesTest, DeleteTreeWithoutRecursionLeavesSubfolders) {
  machine_.AddFile(u"C:\\P\\a.txt");
  machine_.AddFile(u"C:\\P\\sub\\b.txt");
  LONG result = DeleteTree(u"C:\\P", u"*.*", false, false, false);
  EXPECT_EQ(result, ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(machine_.Exists(u"C:\\P\\a.txt"));
  EXPECT_TRUE(machine_.Exists(u"C:\\P\\sub\\b.txt"));
}

TEST_F(FilesTest, DeleteTreeRemovesAJunctionButNotWhatItLeadsTo) {
  machine_.AddFile(u"D:\\Data\\precious.db");
  machine_.AddFile(u"C:\\Product\\bin\\a.dll");
  machine_.AddJunction(u"C:\\Product\\data", u"D:\\Data");
  machine_.AddJunction(u"C:\\Linked", u"D:\\Data");
  EXPECT_EQ(DeleteTree(u"C:\\Product", u"*.*", true, true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\Product"));
  EXPECT_EQ(DeleteTree(u"C:\\Linked", u"*.*", true, true, false), 0) << "the named folder a link";
  EXPECT_FALSE(machine_.Exists(u"C:\\Linked"));
  EXPECT_TRUE(machine_.Exists(u"D:\\Data\\precious.db"));
}

TEST_F(FilesTest, DeleteTreeSchedulesWhatIsLocked) {
  machine_.AddFile(u"C:\\P\\in use.dll");
  machine_.AddFile(u"C:\\P\\free.dll");
  machine_.LockFile(u"C:\\P\\in use.dll");
  EXPECT_EQ(DeleteTree(u"C:\\P", u"*.*", true, true, false), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\P\\free.dll"));
  EXPECT_TRUE(IsScheduledForRestart(u"C:\\P\\in use.dll"));
  EXPECT_TRUE(IsScheduledForRestart(u"C:\\P")) << "the folder goes after its file";
  EXPECT_TRUE(g_setup.RebootPending);
}

class NativeFilesTest : public FilesTest {
 protected:
  NativeFilesTest() : FilesTest(sim::OsFacts::Windows7X64()) {}
};

TEST_F(NativeFilesTest, DriverFilesAreDeletedBehindTheRedirection) {
  machine_.AddFile(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys");
  machine_.AddFile(u"C:\\WINDOWS\\SysWOW64\\drivers\\zorSP.sys");
  EXPECT_TRUE(DeleteFileNative(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"));
  EXPECT_FALSE(machine_.Exists(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"));
  EXPECT_TRUE(machine_.Exists(u"C:\\WINDOWS\\SysWOW64\\drivers\\zorSP.sys"));
  // The redirection is back on: the 32-bit view again.
  EXPECT_NE(Files().GetFileAttributesW(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"),
            INVALID_FILE_ATTRIBUTES);
}

TEST_F(NativeFilesTest, ADriverInUseIsScheduledOnItsNativePath) {
  machine_.AddFile(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys");
  machine_.LockFile(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys");
  EXPECT_FALSE(DeleteFileNative(u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"));
  EXPECT_EQ(machine_.MultiString(kPending, u"PendingFileRenameOperations"),
            (std::vector<std::u16string>{u"\\??\\C:\\WINDOWS\\system32\\drivers\\zorSP.sys", u""}));
  EXPECT_TRUE(g_setup.RebootPending);
}

TEST_F(FilesTest, ShortForms) {
  machine_.AddFile(u"C:\\Program Files\\Product\\file.dll");
  std::u16string longFile = u"C:\\Program Files\\Product\\file.dll";
  std::u16string shortFolder = GetShortPath(u"C:\\Program Files\\Product", 260);
  EXPECT_EQ(shortFolder.find(u"C:\\PROGRA~"), 0u);
  EXPECT_EQ(GetShortPath(longFile, 260), shortFolder + u"\\file.dll");
  EXPECT_EQ(GetShortPath(u"C:\\Program Files\\Product\\missing file.dll", 260),
            shortFolder + u"\\missing file.dll") << "a missing file keeps its long name";
  EXPECT_EQ(GetShortPath(u"C:\\No Such\\x.dll", 260), u"\"C:\\No Such\\x.dll\"");
  EXPECT_EQ(GetShortPath(u"\"C:\\No Such\\x.dll\"", 260), u"\"C:\\No Such\\x.dll\"");
  machine_.SetDword(u"HKLM\\System\\CurrentControlSet\\Control\\FileSystem",
                    u"NtfsDisable8dot3NameCreation", 1);
  EXPECT_EQ(GetShortPath(longFile, 260), longFile);
}

std::string Content(const sim::Machine& machine, std::u16string_view path) {
  return machine.FileContent(path).value_or("<missing>");
}

TEST_F(FilesTest, RemoveLinesContainingAnyCase) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"middle line", "dos=high\r\ndevice=C:\\zorMonDS.sys\r\nfiles=40\r\n",
       "dos=high\r\nfiles=40\r\n"},
      {"several, any case", "a\nZORMONDS.SYS x\nb\nzormonds.sys\n", "a\nb\n"},
      {"last line without a break", "a\r\nload zormonds.sys", "a\r\n"},
      {"end-of-file mark dropped", "a\r\n\x1A", "a\r\n"},
      {"no match", "a\r\nb", "a\r\nb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine_.AddFile(u"C:\\WINDOWS\\system32\\config.nt", c.before);
    EXPECT_EQ(RemoveLinesContaining(u"zormonds.sys", u"C:\\WINDOWS\\system32\\config.nt"), 0);
    EXPECT_EQ(Content(machine_, u"C:\\WINDOWS\\system32\\config.nt"), c.after);
  }
}

TEST_F(FilesTest, RemoveLinesContainingLeavesALargeFileAlone) {
  std::string large(40000, 'x');
  large += "\nzormonds.sys\n";
  machine_.AddFile(u"C:\\big.txt", large);
  EXPECT_EQ(RemoveLinesContaining(u"zormonds.sys", u"C:\\big.txt"), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(Content(machine_, u"C:\\big.txt"), large);

  EXPECT_EQ(RemoveLinesContaining(u"zormonds.sys", u"C:\\new.txt"), 0);
  EXPECT_EQ(Content(machine_, u"C:\\new.txt"), "") << "a missing file is created empty";
}

TEST_F(FilesTest, ShortcutsAndProgramGroups) {
  const std::u16string shell =
      u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  machine_.AddFile(u"C:\\Tools\\ostrel.lnk");  // the current folder's namesake stays
  EXPECT_FALSE(DeleteDesktopFile(u"ostrel.lnk")) << "no desktop folder known";
  EXPECT_TRUE(machine_.Exists(u"C:\\Tools\\ostrel.lnk"));

  machine_.SetString(shell, u"Common Desktop", u"C:\\Users\\Public\\Desktop");
  machine_.SetString(shell, u"Common Programs", u"C:\\ProgramData\\Start Menu\\Programs");
  machine_.AddFile(u"C:\\Users\\Public\\Desktop\\ostrel.lnk");
  machine_.AddFile(u"C:\\ProgramData\\Start Menu\\Programs\\ostrel\\ostrel.lnk");
  machine_.AddFile(u"C:\\ProgramData\\Start Menu\\Programs\\other.lnk");
  EXPECT_TRUE(DeleteDesktopFile(u"ostrel.lnk"));
  EXPECT_FALSE(machine_.Exists(u"C:\\Users\\Public\\Desktop\\ostrel.lnk"));
  EXPECT_EQ(DeleteProgramsFolder(u"ostrel"), 0);
  EXPECT_FALSE(machine_.Exists(u"C:\\ProgramData\\Start Menu\\Programs\\ostrel"));
  EXPECT_EQ(DeleteProgramsFolder(u""), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(machine_.Exists(u"C:\\ProgramData\\Start Menu\\Programs\\other.lnk"));
}

}  // namespace
}  // namespace zp
