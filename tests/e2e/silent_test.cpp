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

  HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "no log file";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
  std::wstring text(bytes.size() / 2 - 1, L'\0');
  memcpy(&text[0], bytes.data() + 2, text.size() * 2);
  EXPECT_EQ(text.find(L"min/gen  Started: "), 9u) << "the first line starts the run";
  EXPECT_NE(text.find(L"/verysilent /prod ois /log"), std::wstring::npos);
  EXPECT_NE(text.find(L"vrb/reg  Set registry: OstrelPersistentStorage\\GUID="), std::wstring::npos);
  EXPECT_NE(text.find(L"nrm/sys  Operating system: "), std::wstring::npos);
  EXPECT_NE(text.find(L"min/sys  Windows Net User: "), std::wstring::npos);
}

}  // namespace
}  // namespace zp::e2e
