// Silent runs of the real zorPurge.exe under Wine: the Safe Mode question comes first in every
// run mode, and the exit code tells a script whether there was anything to remove.
#include <gtest/gtest.h>

#include <string>

#include "robot.h"

namespace zp::e2e {
namespace {

constexpr int kStartSeconds = 300;  // a Wine process starts slowly where its loader is emulated
constexpr const wchar_t* kRecommendation =
    L"It is recommended to run this tool from Windows Safe Mode. Do you want to do that?\n\n"
    L"Press \"Yes\" to reboot into Safe Mode now and run this tool from there.\n"
    L"Press \"No\" to continue running this tool as it is (not recommended).";

// Runs the program with `options`, answers the Safe Mode question No and returns the exit code;
// the run must show nothing else.
DWORD RunAnsweringNo(const std::wstring& options) {
  Robot robot;
  EXPECT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" " + options));
  EXPECT_TRUE(robot.AnswerNextBox(IDNO, kStartSeconds)) << "no message box appeared";
  DWORD exitCode = 12345;
  EXPECT_TRUE(robot.WaitForExit(kStartSeconds, &exitCode)) << "the program did not end";
  EXPECT_EQ(robot.seen().size(), 1u);
  if (!robot.seen().empty()) {
    EXPECT_EQ(robot.seen()[0].caption, L"OSTREL Software Uninstall Utility");
    EXPECT_EQ(robot.seen()[0].text, kRecommendation);
  }
  return exitCode;
}

TEST(SilentRun, WithoutAProductRemovesNothingAndSaysSo) {
  EXPECT_EQ(RunAnsweringNo(L"/verysilent"), 87u);
}

TEST(SilentRun, UnknownProductExitsWithInvalidParameter) {
  EXPECT_EQ(RunAnsweringNo(L"/verysilent /prod qv_unknown"), 87u);
}

TEST(SilentRun, CleanMachineExitsWithZeroAndTheLogFileShowsTheRun) {
  // The persistent-storage GUID is written again, so the run has a registry line to log.
  RegDeleteKeyW(HKEY_CLASSES_ROOT, L"OstrelPersistentStorage");
  const std::wstring log = OwnFolder() + L"silent run.log";
  DeleteFileW(log.c_str());
  EXPECT_EQ(RunAnsweringNo(L"/verysilent /prod ois /log \"" + log + L"\""), 0u);

  std::string bytes = ReadFileBytes(log);
  ASSERT_GE(bytes.size(), 2u) << "no log file";
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
  std::wstring text = Utf16Text(bytes.substr(2));
  EXPECT_EQ(text.find(L"min/gen  Started: "), 9u) << "the first line starts the run";
  EXPECT_NE(text.find(L"/verysilent /prod ois /log"), std::wstring::npos);
  EXPECT_NE(text.find(L"vrb/reg  Set registry: OstrelPersistentStorage\\GUID="), std::wstring::npos);
  EXPECT_NE(text.find(L"nrm/sys  Operating system: "), std::wstring::npos);
  EXPECT_NE(text.find(L"min/sys  Windows Net User: "), std::wstring::npos);
}

}  // namespace
}  // namespace zp::e2e

namespace zp::e2e {
namespace {

TEST(SafeModePreparation, TwoYesAnswersRegisterTheCopyAndRestart) {
  const std::wstring log = OwnFolder() + L"safe mode.log";
  DeleteFileW(log.c_str());
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /verysilent /log \"" + log + L"\""));
  ASSERT_TRUE(robot.AnswerNextBox(IDYES, kStartSeconds)) << "no recommendation";
  ASSERT_TRUE(robot.AnswerNextBox(IDYES, kStartSeconds)) << "no restart confirmation";
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.WaitForExit(kStartSeconds, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(robot.seen().size(), 2u) << "registered: no warning";

  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring copy = std::wstring(windows) + L"\\Temp\\zorPurge.exe";
  HKEY runOnce = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                          0, KEY_ALL_ACCESS, &runOnce),
            ERROR_SUCCESS);
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(runOnce, L"*zorPurge", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), copy);
  EXPECT_NE(GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES) << "the copy exists";
  // Nothing of it may run at a later restart of the test prefix.
  RegDeleteValueW(runOnce, L"*zorPurge");
  RegCloseKey(runOnce);
  DeleteFileW(copy.c_str());

  std::wstring text = Utf16Text(ReadFileBytes(log));
  ASSERT_FALSE(text.empty()) << "no log file";
  EXPECT_NE(text.find(L"vrb/sys  Restart windows"), std::wstring::npos)
      << "the restart was requested (Wine has no bcdedit.exe: the flow went on past it)";
}

}  // namespace
}  // namespace zp::e2e
