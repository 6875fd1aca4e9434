#include "robot.h"

#include "dialog_robot.h"

namespace zp::e2e {
namespace {

std::wstring WindowText(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return text;
}

}  // namespace

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool done = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                          &written, nullptr) &&
                                written == bytes.size());
  CloseHandle(file);
  return done;
}

std::wstring Utf16Text(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * 2);
  return text;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool Robot::Start(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring line = commandLine;
  std::wstring folder = OwnFolder();
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process_) != FALSE;
}

Robot::~Robot() {
  if (process_.hProcess) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool Robot::AnswerNextBox(int button, int seconds) {
  for (int tick = 0; tick < seconds * 10; ++tick) {
    if (HWND found = FindMessageBox(process_.dwProcessId, 0)) {
      Sleep(200);  // let the box finish drawing before it is pressed
      SeenBox box{WindowText(found), {}, button};
      if (HWND text = GetDlgItem(found, 0xFFFF)) box.text = WindowText(text);
      seen_.push_back(box);
      SendMessageW(found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(found, button)));
      // Wait until the box is gone, so the next search does not find it again.
      for (int i = 0; i < 100 && IsWindow(found); ++i) Sleep(100);
      return true;
    }
    if (WaitForSingleObject(process_.hProcess, 100) == WAIT_OBJECT_0) return false;
  }
  return false;
}

bool Robot::RunScript(const std::vector<int>& script, int seconds, DWORD* exitCode) {
  const DWORD deadline = GetTickCount() + seconds * 1000u;
  size_t next = 0;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_.hProcess, exitCode);
      return true;
    }
    if (HWND found = FindMessageBox(process_.dwProcessId, 0)) {
      int button = next < script.size() ? script[next++]
                   : GetDlgItem(found, IDNO) ? IDNO
                                             : IDOK;
      AnswerNextBox(button, 5);
      continue;
    }
    Sleep(100);
  }
  TerminateProcess(process_.hProcess, 99);
  return false;
}

bool Robot::WaitForExit(int seconds, DWORD* exitCode) {
  if (WaitForSingleObject(process_.hProcess, seconds * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.hProcess, 99);
    return false;
  }
  GetExitCodeProcess(process_.hProcess, exitCode);
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

ProgramRun RunZorPurge(const std::wstring& name, const std::wstring& arguments,
                       const std::vector<int>& script, int seconds) {
  const std::wstring log = OwnFolder() + name + L".log";
  const std::wstring calls = OwnFolder() + name + L"-calls.txt";
  DeleteFileW(log.c_str());
  DeleteFileW(calls.c_str());
  SetEnvironmentVariableW(L"ZP_FIXTURE_RECORD", calls.c_str());
  ProgramRun run;
  Robot robot;
  if (robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" " + arguments + L" /log \"" + log +
                  L"\""))
    run.ended = robot.RunScript(script, seconds, &run.exitCode);
  run.seen = robot.seen();
  run.log = Utf16Text(ReadFileBytes(log));
  run.calls = Lines(ReadFileBytes(calls));
  return run;
}

}  // namespace zp::e2e
