#include "contract.h"

namespace zp::contract {
namespace {

using FilesContract = Contract;

DWORD LastError() { return Sys().GetLastError(); }

TEST_F(FilesContract, CreateAndRemoveFolders) {
  const std::u16string folder = Scratch(u"sub");
  ASSERT_TRUE(Files().CreateDirectoryW(folder.c_str()));
  EXPECT_FALSE(Files().CreateDirectoryW(folder.c_str()));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(Files().CreateDirectoryW(Scratch(u"no\\deeper").c_str()));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Files().GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);

  ASSERT_TRUE(WriteFile(folder + u"\\f.txt", "x"));
  EXPECT_FALSE(Files().RemoveDirectoryW(folder.c_str()));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  ASSERT_TRUE(Files().DeleteFileW((folder + u"\\F.TXT").c_str()));
  EXPECT_TRUE(Files().RemoveDirectoryW(folder.c_str()));
  EXPECT_EQ(Files().GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesContract, AttributesOfMissingPaths) {
  // Detection takes any failure but access denied to mean the folder is not there.
  EXPECT_EQ(Files().GetFileAttributesW(Scratch(u"missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Files().GetFileAttributesW(Scratch(u"missing\\deeper").c_str()),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesContract, DeleteFileErrors) {
  struct Case {
    const char16_t* path;
    LONG error;
  };
  ASSERT_TRUE(Files().CreateDirectoryW(Scratch(u"dir").c_str()));
  for (const Case& c : {Case{u"missing.txt", ERROR_FILE_NOT_FOUND},
                        Case{u"nofolder\\missing.txt", ERROR_PATH_NOT_FOUND},
                        Case{u"dir", ERROR_ACCESS_DENIED}}) {
    EXPECT_FALSE(Files().DeleteFileW(Scratch(c.path).c_str())) << std::string(c.path, c.path + 3);
    EXPECT_EQ(LastError(), static_cast<DWORD>(c.error));
  }

  const std::u16string readOnly = Scratch(u"ro.txt");
  ASSERT_TRUE(WriteFile(readOnly, "x"));
  ASSERT_TRUE(Files().SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(Files().DeleteFileW(readOnly.c_str()));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(Files().SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(Files().DeleteFileW(readOnly.c_str()));
}

TEST_F(FilesContract, FileHeldOpenCannotBeDeleted) {
  const std::u16string path = Scratch(u"open.bin");
  UniqueFd fd(Files()._wopen(path.c_str(), CRT_O_RDWR | CRT_O_CREAT | CRT_O_BINARY,
                             CRT_S_IREAD | CRT_S_IWRITE));
  ASSERT_TRUE(fd);
  EXPECT_FALSE(Files().DeleteFileW(path.c_str()));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  fd.reset();
  EXPECT_TRUE(Files().DeleteFileW(path.c_str()));
}

TEST_F(FilesContract, FindFirstFileMatchesWildcardsIgnoringCase) {
  ASSERT_TRUE(WriteFile(Scratch(u"Alpha.TXT"), "1"));
  ASSERT_TRUE(WriteFile(Scratch(u"beta.txt"), "22"));
  ASSERT_TRUE(WriteFile(Scratch(u"gamma.dat"), "333"));
  ASSERT_TRUE(Files().CreateDirectoryW(Scratch(u"Folder").c_str()));

  auto names = [](const std::u16string& pattern) {
    std::vector<std::u16string> found;
    FindData data;
    UniqueFind find(Files().FindFirstFileW(pattern.c_str(), &data));
    if (!find) return found;
    do found.push_back(data.fileName);
    while (Files().FindNextFileW(find.get(), &data));
    EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    std::sort(found.begin(), found.end());
    return found;
  };
  EXPECT_EQ(names(Scratch(u"*.txt")), (std::vector<std::u16string>{u"Alpha.TXT", u"beta.txt"}));
  EXPECT_EQ(names(Scratch(u"*")), (std::vector<std::u16string>{u".", u"..", u"Alpha.TXT",
                                                               u"Folder", u"beta.txt",
                                                               u"gamma.dat"}));
  EXPECT_EQ(names(Scratch(u"FOLD?R")), (std::vector<std::u16string>{u"Folder"}));

  FindData data;
  EXPECT_EQ(Files().FindFirstFileW(Scratch(u"*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Files().FindFirstFileW(Scratch(u"nofolder\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesContract, ShortPathOfMissingFileFailsAndOfAFileNamesIt) {
  char16_t buffer[260];
  EXPECT_EQ(Files().GetShortPathNameW(Scratch(u"missing long name.txt").c_str(), buffer, 260), 0u);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const std::u16string path = Scratch(u"a rather long file name.text");
  ASSERT_TRUE(WriteFile(path, "x"));
  DWORD length = Files().GetShortPathNameW(path.c_str(), buffer, 260);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, 260u);
  EXPECT_NE(Files().GetFileAttributesW(buffer), INVALID_FILE_ATTRIBUTES)
      << "the short path names the file";
  // Too small a buffer: the result is the size needed, terminator included.
  EXPECT_EQ(Files().GetShortPathNameW(path.c_str(), buffer, 4), length + 1);
}

TEST_F(FilesContract, DelayedDeletionIsRecordedForTheSessionManager) {
  const char16_t* key = u"System\\CurrentControlSet\\Control\\Session Manager";
  const char16_t* value = u"PendingFileRenameOperations";
  std::vector<std::u16string> before = ReadMultiString(HKEY_LOCAL_MACHINE, key, value);

  const std::u16string path = Scratch(u"locked.dll");
  ASSERT_TRUE(Files().MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
      << "also for a file that is missing";
  std::vector<std::u16string> after = ReadMultiString(HKEY_LOCAL_MACHINE, key, value);
  ASSERT_EQ(after.size(), before.size() + 2);
  EXPECT_EQ(after[before.size()], u"\\??\\" + path);
  EXPECT_EQ(after[before.size() + 1], u"");

  // Put the list back as it was, so the next start of the machine does nothing of ours.
  UniqueRegKey handle;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, handle.put()), 0);
  if (before.empty()) {
    EXPECT_EQ(Reg().RegDeleteValueW(handle.get(), value), ERROR_SUCCESS);
  } else {
    std::u16string joined;
    for (const std::u16string& item : before) joined += item + u'\0';
    joined += u'\0';
    EXPECT_EQ(Reg().RegSetValueExW(handle.get(), value, REG_MULTI_SZ,
                                   reinterpret_cast<const BYTE*>(joined.data()),
                                   static_cast<DWORD>(joined.size() * 2)),
              ERROR_SUCCESS);
  }
}

TEST_F(FilesContract, CopyAndRenameFiles) {
  const std::u16string from = Scratch(u"from.bin"), to = Scratch(u"to.bin");
  ASSERT_TRUE(WriteFile(from, "payload"));
  ASSERT_TRUE(Files().CopyFileW(from.c_str(), to.c_str(), FALSE));
  EXPECT_FALSE(Files().CopyFileW(from.c_str(), to.c_str(), TRUE));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(Files().CopyFileW(from.c_str(), to.c_str(), FALSE)) << "overwrites";

  EXPECT_TRUE(Files().MoveFileExW(to.c_str(), Scratch(u"moved.bin").c_str(), 0));
  EXPECT_EQ(Files().GetFileAttributesW(to.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(Files().GetFileAttributesW(Scratch(u"moved.bin").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesContract, ProfileFilesReadAndWrite) {
  const std::u16string ini = Scratch(u"setup.ini");
  ASSERT_TRUE(WriteFile(ini, "[Common]\r\nZeroFootprint=1\r\nSetupVersion = 42\r\n"
                             "[operating systems]\r\nmulti(0)disk(0)=\"Windows\" /fastdetect\r\n"));
  const char16_t* file = ini.c_str();
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"common", u"zerofootprint", 0, file), 1u);
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Common", u"SetupVersion", -1, file), 42u);
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Common", u"Missing", -1, file),
            static_cast<UINT>(-1));
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Common", u"X", 7, Scratch(u"none.ini").c_str()), 7u);

  char16_t buffer[128] = {};
  DWORD n = Files().GetPrivateProfileStringW(u"operating systems", nullptr, u"", buffer, 128, file);
  EXPECT_EQ(std::u16string(buffer, n), std::u16string(u"multi(0)disk(0)\0", 16))
      << "each name ends with a NUL";
  n = Files().GetPrivateProfileStringW(u"operating systems", u"multi(0)disk(0)", u"", buffer, 128,
                                       file);
  EXPECT_EQ(std::u16string(buffer, n), u"\"Windows\" /fastdetect");
  n = Files().GetPrivateProfileStringW(u"Common", u"Missing", u"fallback", buffer, 128, file);
  EXPECT_EQ(std::u16string(buffer, n), u"fallback");
}

TEST_F(FilesContract, ProfileFilesWrite) {
  const std::u16string ini = Scratch(u"setup.ini");
  ASSERT_TRUE(WriteFile(ini, "[Common]\r\nZeroFootprint=1\r\nSetupVersion=42\r\n"));
  const char16_t* file = ini.c_str();
  ASSERT_TRUE(Files().WritePrivateProfileStringW(u"Common", u"SetupVersion", u"43", file));
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Common", u"SetupVersion", -1, file), 43u);
  EXPECT_EQ(Files().GetPrivateProfileIntW(u"Common", u"ZeroFootprint", 0, file), 1u);
}

TEST_F(FilesContract, RunTimeLibraryFileDescriptors) {
  const std::u16string path = Scratch(u"stream.bin");
  EXPECT_EQ(Files()._wopen(path.c_str(), CRT_O_RDONLY | CRT_O_BINARY, 0), -1);
  EXPECT_EQ(Files().Errno(), CRT_ENOENT);

  UniqueFd fd(Files()._wopen(path.c_str(), CRT_O_RDWR | CRT_O_CREAT | CRT_O_BINARY,
                             CRT_S_IREAD | CRT_S_IWRITE));
  ASSERT_TRUE(fd);
  EXPECT_EQ(Files()._write(fd.get(), "hello world", 11), 11);
  EXPECT_EQ(Files()._lseek(fd.get(), 6, CRT_SEEK_SET), 6);
  char buffer[16] = {};
  EXPECT_EQ(Files()._read(fd.get(), buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer), "world");
  EXPECT_EQ(Files()._read(fd.get(), buffer, sizeof buffer), 0) << "end of file";
  EXPECT_EQ(Files()._lseek(fd.get(), 0, CRT_SEEK_END), 11);
  fd.reset();

  EXPECT_EQ(Files()._wopen(path.c_str(), CRT_O_WRONLY | CRT_O_CREAT | CRT_O_EXCL, 0), -1);
  EXPECT_EQ(Files().Errno(), CRT_EEXIST);
  EXPECT_EQ(Files()._close(12345), -1);
  EXPECT_EQ(Files().Errno(), CRT_EBADF);

  // Wine limitation: it keeps read-only as a Unix permission, which root (our test user) may
  // ignore, so the refusal is checked on the simulator only.
  ASSERT_TRUE(Files().SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  UniqueFd readOnly(Files()._wopen(path.c_str(), CRT_O_WRONLY | CRT_O_APPEND, 0));
  if (!OnWine()) {
    EXPECT_FALSE(readOnly);
    EXPECT_EQ(Files().Errno(), CRT_EACCES);
  }
  readOnly.reset();
  Files().SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace zp::contract

namespace zp::contract {
namespace {

// A 32-bit process on 64-bit Windows sees SysWOW64 where it names system32, until it switches
// the redirection off; the native driver files are deleted that way.
TEST_F(Contract, SystemFolderIsRedirectedUntilTheRedirectionIsOff) {
  BOOL wow64 = FALSE;
  if (!Sys().IsWow64Process(&wow64) || !wow64)
    GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";
  char16_t windows[260] = {};
  ASSERT_GT(Sys().GetWindowsDirectoryW(windows, 260), 0u);
  const std::u16string native = std::u16string(windows) + u"\\system32\\zpcontract-native.tmp";

  ASSERT_TRUE(Files().Wow64EnableWow64FsRedirection(FALSE));
  ASSERT_TRUE(WriteFile(native, "native"));
  EXPECT_NE(Files().GetFileAttributesW(native.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(Files().Wow64EnableWow64FsRedirection(TRUE));

  EXPECT_EQ(Files().GetFileAttributesW(native.c_str()), INVALID_FILE_ATTRIBUTES)
      << "redirected to SysWOW64, where the file is not";
  EXPECT_NE(Files().GetFileAttributesW(
                (std::u16string(windows) + u"\\Sysnative\\zpcontract-native.tmp").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << "Sysnative names the native folder";

  ASSERT_TRUE(Files().Wow64EnableWow64FsRedirection(FALSE));
  EXPECT_TRUE(Files().DeleteFileW(native.c_str()));
  ASSERT_TRUE(Files().Wow64EnableWow64FsRedirection(TRUE));
}

// Junctions inside a product folder are removed as links (the file operations never enter
// them). Wine cannot create junctions (CreateDirectory + FSCTL_SET_REPARSE_POINT fails with 50),
// so that behaviour is shown on the simulator only, by the file operations' own tests.

}  // namespace
}  // namespace zp::contract
