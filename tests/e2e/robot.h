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

// One run of zorPurge.exe from the test's folder with `arguments` and a log of its own
// (<name>.log there); the stand-ins of the products' components record into <name>-calls.txt
// (the run inherits ZP_FIXTURE_RECORD); the boxes it shows are answered as RunScript answers
// them.
struct ProgramRun {
  bool ended = false;  // false: it did not end within the time and was stopped
  DWORD exitCode = 0;
  std::vector<SeenBox> seen;
  std::wstring log;                // the log's text
  std::vector<std::string> calls;  // the record of the components, line by line
};
ProgramRun RunZorPurge(const std::wstring& name, const std::wstring& arguments,
                       const std::vector<int>& script, int seconds = 300);

// A file's bytes (empty when it cannot be read), such a file read as UTF-16 text (a log of the
// program, its byte-order mark kept), and text for a test's failure message.
std::string ReadFileBytes(const std::wstring& path);
// Creates or replaces a file with `bytes`; false when it cannot be written whole.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring Utf16Text(const std::string& bytes);
std::string Narrow(const std::wstring& text);
// The lines of a text (LF ends a line; a final line without one counts).
std::vector<std::string> Lines(const std::string& text);

}  // namespace zp::e2e
