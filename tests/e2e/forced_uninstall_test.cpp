// The forced uninstall through the generation-4 product's own setup library, under Wine: the
// export is called with 0, 0, 1 and a result preset to 0; its restart request is honoured and
// its silence leaves the machine as it is; a crash inside it does not end the run.
#include <gtest/gtest.h>

#include <string>

#include "robot.h"

namespace zp::e2e {
namespace {

constexpr int kRunSeconds = 300;
const wchar_t* kGen4Key = L"Software\\Keswin Software\\Ostrel\\4.0";
const std::wstring kProductFolder = L"C:\\zpgen4";

class ForcedUninstall : public ::testing::Test {
 protected:
  // The stand-in `library` as the product's setup library; `restart`: it asks for a restart.
  void Plant(const wchar_t* library, bool restart = false) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGen4Key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Ostrel4ProgramFolder", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(kProductFolder.c_str()),
                   static_cast<DWORD>((kProductFolder.size() + 1) * 2));
    RegCloseKey(key);
    CreateDirectoryW(kProductFolder.c_str(), nullptr);
    CreateDirectoryW((kProductFolder + L"\\Setup").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((OwnFolder() + library).c_str(),
                          (kProductFolder + L"\\Setup\\Tavlink.dll").c_str(), FALSE));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Tavlink", L"Restart", restart ? L"1" : L"0",
                                           (kProductFolder + L"\\Setup\\Tavlink.ini").c_str()));
    DeleteFileW(record_.c_str());
    SetEnvironmentVariableW(L"ZP_FIXTURE_RECORD", record_.c_str());  // the run inherits it
  }
  void TearDown() override {
    DeleteFileW((kProductFolder + L"\\Setup\\Tavlink.dll").c_str());
    DeleteFileW((kProductFolder + L"\\Setup\\Tavlink.ini").c_str());
    RemoveDirectoryW((kProductFolder + L"\\Setup").c_str());
    RemoveDirectoryW(kProductFolder.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGen4Key);
  }
  std::string Record() const { return ReadFileBytes(record_); }
  const std::wstring record_ = OwnFolder() + L"tavlink-calls.txt";
};

constexpr const char* kCall = "Tavlink.dll tavlinkUninstallProgram 0 0 1 preset 0\n";

TEST_F(ForcedUninstall, TheLibraryIsCalledAndItsRestartRequestAsked) {
  Plant(L"zp_tavlink_ok.dll", true);
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /silent /forceuninstallpro"));
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({IDNO}, kRunSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(Record(), kCall);
  ASSERT_EQ(robot.seen().size(), 1u) << "no Safe Mode question on this path, only the restart one";
  EXPECT_EQ(robot.seen()[0].caption, L"ostrel! Antivirus Uninstall");
  EXPECT_NE(robot.seen()[0].text.find(L"Do you wish to restart now?"), std::wstring::npos);
}

TEST_F(ForcedUninstall, WithoutARestartRequestNothingIsAsked) {
  Plant(L"zp_tavlink_ok.dll", false);
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /silent /forceuninstallpro"));
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({}, kRunSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(Record(), kCall);
  EXPECT_TRUE(robot.seen().empty()) << Narrow(robot.seen().front().text);
}

TEST_F(ForcedUninstall, ACrashInsideTheLibraryDoesNotEndTheRun) {
  Plant(L"zp_tavlink_crash.dll");
  const std::wstring log = OwnFolder() + L"forced.log";
  DeleteFileW(log.c_str());
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /verysilent /forceuninstallpro /log \"" +
                          log + L"\""));
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({}, kRunSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u) << "the program ended normally";
  EXPECT_EQ(Record(), kCall);
  EXPECT_TRUE(robot.seen().empty());
  std::wstring text = Utf16Text(ReadFileBytes(log));
  EXPECT_NE(text.find(L"Exception 0xC0000005 in tavlinkUninstallProgram"), std::wstring::npos);
}

}  // namespace
}  // namespace zp::e2e
