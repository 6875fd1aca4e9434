// The simulated Windows machine of the host tests: a plain in-memory model of exactly what the
// system uses. A test builds one, describes the machine (operating system, keys, files, answers
// to message boxes) and installs it; the system then runs against it through the seam.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp::sim {

std::u16string Upper(std::u16string_view text);

// The operating system the machine runs and the process's place in it.
struct OsFacts {
  OsVersionInfo version;
  bool wow64 = false;                   // a 32-bit process on 64-bit Windows
  WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  LANGID userLanguage = 1033;
  std::u16string computerName = u"SIMPC";
  std::u16string windowsFolder = u"C:\\WINDOWS";
  bool safeMode = false;
  // Exports of the system libraries beyond those of Windows 2000, as "module!function" in lower
  // case ("kernel32.dll!iswow64process").
  std::set<std::string> lateExports;

  static OsFacts Windows98();
  static OsFacts Windows2000();
  static OsFacts WindowsXp();
  static OsFacts WindowsXpX64();
  static OsFacts Windows7();
  static OsFacts Windows7X64();
  static OsFacts Server2008R2();
  static OsFacts Windows8X64();
};

struct MessageBoxCall {
  HWND owner = nullptr;
  std::u16string text;
  std::u16string caption;
  UINT type = 0;
  int answer = 0;
};

struct StringResource {
  LANGID language;
  WORD id;
  std::u16string_view text;
};

class Machine {
 public:
  explicit Machine(OsFacts os = OsFacts::Windows7());
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this machine the one every facet call goes to, until it is destroyed.
  void Install();

  OsFacts& os() { return os_; }

  // ---- registry: keys by full path, e.g. "HKLM\\Software\\Ostrel" (HKLM, HKCU, HKCR, HKU);
  // the paths name the physical keys (a 32-bit key of a 64-bit machine is under Wow6432Node).
  void SetValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                std::vector<BYTE> data);
  void SetString(std::u16string_view keyPath, std::u16string_view name, std::u16string_view text,
                 DWORD type = REG_SZ);
  void SetDword(std::u16string_view keyPath, std::u16string_view name, DWORD value);
  void SetMultiString(std::u16string_view keyPath, std::u16string_view name,
                      const std::vector<std::u16string>& items);
  void CreateKey(std::u16string_view keyPath);
  bool KeyExists(std::u16string_view keyPath) const;
  std::optional<std::vector<BYTE>> Value(std::u16string_view keyPath, std::u16string_view name,
                                         DWORD* type = nullptr) const;
  std::optional<std::u16string> String(std::u16string_view keyPath,
                                       std::u16string_view name) const;
  std::vector<std::u16string> MultiString(std::u16string_view keyPath,
                                          std::u16string_view name) const;

  // ---- files: full paths, e.g. "C:\\Program Files\\Ostrel\\a.dll"; parents are created.
  void AddFile(std::u16string_view path, std::string_view content = {},
               DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
  void AddFolder(std::u16string_view path);
  bool Exists(std::u16string_view path) const;
  std::optional<std::string> FileContent(std::u16string_view path) const;
  // Held open by another process without delete sharing: deletion gives 32.
  void LockFile(std::u16string_view path, bool locked = true);
  void SetShortName(std::u16string_view path, std::u16string_view shortName);

  // ---- windows
  void AnswerMessageBoxes(std::initializer_list<int> answers);
  const std::vector<MessageBoxCall>& messageBoxes() const;

  // ---- modules and resources
  HMODULE ProgramModule() const;
  void SetProgramPath(std::u16string_view path);
  void AddStringTable(HMODULE module, std::span<const StringResource> strings);

  // ---- failure injection: the next `count` calls of `call` (a method name such as
  // "RegOpenKeyExW") whose path contains `pathPart` (any, when empty) fail with `error`.
  void FailCall(std::string call, LONG error, std::u16string pathPart = {}, int count = 1);

  struct Impl;

 private:
  OsFacts os_;
  std::unique_ptr<Impl> impl_;
  Platform previous_;
  bool installed_ = false;
  friend struct Impl;
};

}  // namespace zp::sim
