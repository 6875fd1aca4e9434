#include "contract.h"

namespace zp::contract {
namespace {

using SystemContract = Contract;

TEST_F(SystemContract, ModuleFileNameAndTruncation) {
  char16_t path[260];
  DWORD length = Sys().GetModuleFileNameW(nullptr, path, 260);
  ASSERT_GT(length, 4u);
  std::u16string text(path, length);
  EXPECT_EQ(text.substr(1, 2), u":\\");
  EXPECT_NE(Files().GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);

  // A short buffer gets its size in characters; Windows XP (and Wine) leave it unterminated,
  // later versions terminate it: callers terminate it themselves.
  char16_t small[5];
  EXPECT_EQ(Sys().GetModuleFileNameW(nullptr, small, 5), 5u);
  EXPECT_EQ(std::u16string(small, 4), text.substr(0, 4));
}

TEST_F(SystemContract, LateFunctionsAreFoundByName) {
  HMODULE kernel = Sys().GetModuleHandleW(u"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(Sys().GetProcAddress(kernel, "IsWow64Process"), nullptr);
  EXPECT_EQ(Sys().GetProcAddress(kernel, "NoSuchFunctionAnywhere"), nullptr);
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(Sys().GetModuleHandleW(u"nosuchmodule.dll"), nullptr);
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(SystemContract, WowProcessAndNativeProcessorAgree) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(Sys().IsWow64Process(&wow64));
  SystemInfo native;
  Sys().GetNativeSystemInfo(&native);
  EXPECT_EQ(native.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64, wow64 == TRUE);
}

TEST_F(SystemContract, VersionAndFolders) {
  OsVersionInfo version;
  ASSERT_TRUE(Sys().GetVersionExW(&version));
  EXPECT_EQ(version.platformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GE(version.majorVersion, 5u);

  char16_t windows[260];
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  ASSERT_GT(length, 2u);
  EXPECT_EQ(Sys().GetWindowsDirectoryW(windows, 2), length + 1)
      << "size needed, terminator included";
  Sys().GetWindowsDirectoryW(windows, 260);
  char16_t system[260];
  ASSERT_GT(Sys().GetSystemDirectoryW(system, 260), length);
  EXPECT_EQ(std::u16string(system).substr(0, length), std::u16string(windows));

  char16_t expanded[300];
  DWORD n = Sys().ExpandEnvironmentStringsW(u"%SystemRoot%\\x", expanded, 300);
  EXPECT_EQ(std::u16string(expanded), std::u16string(windows) + u"\\x");
  EXPECT_EQ(n, length + 3u) << "characters with the terminator";
}

TEST_F(SystemContract, ExpandEnvironmentStringsKeepsMissingVariables) {
  // The path macros tell a variable that did not expand by its text coming back unchanged.
  const std::u16string text = u"%zpNoSuchVariable%\\Bin";
  char16_t expanded[300] = {};
  DWORD n = Sys().ExpandEnvironmentStringsW(text.c_str(), expanded, 300);
  EXPECT_EQ(std::u16string(expanded), text);
  EXPECT_EQ(n, text.size() + 1) << "characters with the terminator";

  char16_t windows[260];
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  ASSERT_GT(length, 2u);
  n = Sys().ExpandEnvironmentStringsW(u"%SystemRoot%\\%zpNoSuchVariable%", expanded, 300);
  EXPECT_EQ(std::u16string(expanded), std::u16string(windows) + u"\\%zpNoSuchVariable%");
  EXPECT_EQ(n, length + 20u);
}

TEST_F(SystemContract, UuidTextIsLowerCaseWithHyphens) {
  Guid first, second;
  ASSERT_EQ(Sys().UuidCreate(&first), RPC_S_OK);
  ASSERT_EQ(Sys().UuidCreate(&second), RPC_S_OK);
  std::u16string a, b;
  ASSERT_EQ(Sys().UuidToStringW(&first, &a), RPC_S_OK);
  ASSERT_EQ(Sys().UuidToStringW(&second, &b), RPC_S_OK);
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  for (size_t i = 0; i < a.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) EXPECT_EQ(a[i], u'-');
    else EXPECT_TRUE((a[i] >= u'0' && a[i] <= u'9') || (a[i] >= u'a' && a[i] <= u'f')) << i;
  }
}

#ifdef _WIN32
TEST_F(SystemContract, HandleConstantsHaveTheValuesOfWindows) {
  EXPECT_TRUE(HandleConstantsMatchWindows());
}
#endif

}  // namespace
}  // namespace zp::contract
