// zp_demo_robot.exe: the demo's hands. Starts zorPurge.exe from its own folder, and at the Safe
// Mode question and at the dialog leaves a marker file there ("question.ready", "dialog.ready")
// and waits until the demo script has taken its screenshot ("question.shot", "dialog.shot");
// then answers No, and finally closes the dialog.
#include <windows.h>

#include <string>

#include "dialog_robot.h"
#include "robot.h"

namespace {

void Touch(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool WaitForFile(const std::wstring& path, int seconds) {
  for (int tick = 0; tick < seconds * 10; ++tick) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(100);
  }
  return false;
}

}  // namespace

int wmain() {
  using namespace zp::e2e;
  const std::wstring folder = OwnFolder();
  Robot robot;
  if (!robot.Start(L"\"" + folder + L"zorPurge.exe\"")) return 2;
  if (!FindMessageBox(robot.processId(), 300)) return 3;
  Touch(folder + L"question.ready");
  WaitForFile(folder + L"question.shot", 120);
  if (!robot.AnswerNextBox(IDNO, 30)) return 4;
  HWND dialog = FindMainDialog(robot.processId(), 300);
  if (!dialog) return 5;
  Touch(folder + L"dialog.ready");
  WaitForFile(folder + L"dialog.shot", 120);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  DWORD exitCode = 0;
  return robot.WaitForExit(60, &exitCode) ? static_cast<int>(exitCode) : 6;
}
