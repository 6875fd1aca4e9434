// The window robot of the end-to-end tests: starts a program, finds the message boxes it shows,
// reads their caption and text, presses their buttons, and waits for the program to end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zp::e2e {

struct SeenBox {
  std::wstring caption;
  std::wstring text;
  int pressed;
};

class Robot {
 public:
  // Starts `commandLine` in the test's own folder; false when it could not be started.
  bool Start(const std::wstring& commandLine);
  ~Robot();

  // Waits up to `seconds` for a visible message box of the program, records it and presses
  // the button `button` (IDYES, IDNO, IDOK...). False when no box came.
  bool AnswerNextBox(int button, int seconds);
  // Answers every box the program shows until it ends: the next button of `script` for each box,
  // and No (or OK) for a box beyond the script. False when it did not end in time.
  bool RunScript(const std::vector<int>& script, int seconds, DWORD* exitCode);
  // Waits for the program to end; false (and the program killed) when it did not in time.
  bool WaitForExit(int seconds, DWORD* exitCode);

  const std::vector<SeenBox>& seen() const { return seen_; }
  DWORD processId() const { return process_.dwProcessId; }

 private:
  PROCESS_INFORMATION process_{};
  std::vector<SeenBox> seen_;
};

// The folder of the running test program, with a trailing backslash.
std::wstring OwnFolder();

// A file's bytes (empty when it cannot be read), such a file read as UTF-16 text (a log of the
// program, its byte-order mark kept), and text for a test's failure message.
std::string ReadFileBytes(const std::wstring& path);
std::wstring Utf16Text(const std::string& bytes);
std::string Narrow(const std::wstring& text);

}  // namespace zp::e2e
