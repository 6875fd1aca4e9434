#include "toolkit/mail_clients.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

// The add-in, its client extension and ribbon wrapper, their classes and type library.
constexpr std::u16string_view kOutlookKeys[] = {
    u"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrelAddin",
    u"SOFTWARE\\Classes\\ostrelAddin",
    u"SOFTWARE\\Classes\\ostrelAddin.1",
    u"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrel.ZsOutExt",
    u"SOFTWARE\\Classes\\ostrel.ZsOutExt",
    u"SOFTWARE\\Classes\\ostrel.ZsOutExt.1",
    u"SOFTWARE\\Classes\\ZsOutExt.RibbonWrapper",
    u"SOFTWARE\\Classes\\ZsOutExt.RibbonWrapper.1",
    u"SOFTWARE\\Classes\\CLSID\\{B342E21B-AD7E-4568-AE3F-D0D844537A7A}",
    u"SOFTWARE\\Classes\\CLSID\\{CD2CE11F-5C26-4217-A773-914FADDA6FD9}",
    u"SOFTWARE\\Classes\\TypeLib\\{EDDBDEA4-5C07-453F-BE8C-81D738984381}",
};

constexpr const char16_t* kShellFolders =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char16_t* kTheBatKey = u"Software\\RIT\\The Bat!";
constexpr DWORD kTheBatFolderChars = 1024;
constexpr DWORD kWorkingDirectoryBytes = 32768;
constexpr int kLineChars = 1024;     // one fgetws call
constexpr int kLastListNumber = 999;  // the list's keys are looked for up to this number
constexpr DWORD kListValueChars = 260;
constexpr DWORD kMaxListValueChars = 32768;

std::u16string SetupIniPath() { return g_setup.Expand(u"%SETUPPATH%", u"setup.ini"); }

struct StreamTraits {
  static CrtStream* Invalid() { return nullptr; }
  static bool IsValid(CrtStream* stream) { return stream != nullptr; }
  static void Close(CrtStream* stream) { Files().fclose(stream); }
};
using UniqueStream = UniqueHandle<CrtStream*, StreamTraits>;

// One whole line (its line feed included, when it has one), read in pieces of the line buffer.
// The buffer is pre-filled with a character no byte reads as, so that the end of what fgetws
// stored is found even past a NUL byte of the file; such a byte cannot be written back as text
// and is left out of the line. False at the end of the file or on an error.
bool ReadLine(CrtStream* stream, std::u16string* line) {
  line->clear();
  char16_t buffer[kLineChars];
  while (true) {
    std::fill(std::begin(buffer), std::end(buffer), u'\xFFFF');
    if (Files().fgetws(buffer, kLineChars, stream) == nullptr) return !line->empty();
    size_t end = kLineChars - 1;
    while (end > 0 && buffer[end] == u'\xFFFF') --end;  // the terminator fgetws stored
    std::copy_if(buffer, buffer + end, std::back_inserter(*line),
                 [](char16_t c) { return c != u'\0'; });
    if (end == 0 || buffer[end - 1] == u'\n') return true;
  }
}

bool WriteLine(CrtStream* stream, const std::u16string& line) {
  return Files().fputws(line.c_str(), stream) != CRT_WEOF;
}

using LineTest = std::function<bool(const std::u16string& upperLine)>;

// The copy of folder + iniName without the lines `drop` picks, through folder + "temp.ini".
// The copy takes the file's place when `replaceAlways` or a line was dropped (*replaced);
// otherwise, or on any failure, the file stays and the copy goes. 2 when a file does not open,
// ERROR_READ_FAULT or ERROR_WRITE_FAULT when a line could not be read or written, the error of
// the deletion or the rename when the file could not be replaced.
LONG CopyWithout(std::u16string_view folder, std::u16string_view iniName, const LineTest& drop,
                 bool replaceAlways, bool* replaced) {
  *replaced = false;
  const std::u16string temp = std::u16string(folder) + u"temp.ini";
  const std::u16string ini = std::u16string(folder) + std::u16string(iniName);
  UniqueStream out(Files()._wfopen(temp.c_str(), u"w"));
  if (!out) return ERROR_FILE_NOT_FOUND;
  LONG result = ERROR_SUCCESS;
  int dropped = 0;
  UniqueStream in(Files()._wfopen(ini.c_str(), u"r"));
  if (!in) {
    result = ERROR_FILE_NOT_FOUND;
  } else {
    std::u16string line;
    while (result == ERROR_SUCCESS && ReadLine(in.get(), &line)) {
      if (drop(UpperCase(line))) ++dropped;
      else if (!WriteLine(out.get(), line)) result = ERROR_WRITE_FAULT;
    }
    if (result == ERROR_SUCCESS && Files().ferror(in.get()) != 0) result = ERROR_READ_FAULT;
    in.reset();
  }
  const bool writeError = Files().ferror(out.get()) != 0;
  if ((Files().fclose(out.release()) != 0 || writeError) && result == ERROR_SUCCESS)
    result = ERROR_WRITE_FAULT;  // what was buffered did not reach the copy
  if (result != ERROR_SUCCESS || (!replaceAlways && dropped == 0)) {
    Files().DeleteFileW(temp.c_str());
    return result;
  }
  if (!Files().DeleteFileW(ini.c_str())) {
    result = static_cast<LONG>(Sys().GetLastError());
    Files().DeleteFileW(temp.c_str());
    return result;
  }
  // Should the rename fail, the copy keeps the lines under its own name.
  if (!Files().MoveFileExW(temp.c_str(), ini.c_str(), 0))
    return static_cast<LONG>(Sys().GetLastError());
  *replaced = true;
  return ERROR_SUCCESS;
}

// Drops the lines that contain `text` in any case; an empty text is in no line worth dropping.
LineTest Containing(std::u16string_view text) {
  return [needle = UpperCase(text)](const std::u16string& line) {
    return !needle.empty() && line.find(needle) != std::u16string::npos;
  };
}

}  // namespace

void RemoveOutlookAddins() {
  for (std::u16string_view key : kOutlookKeys) {
    DeleteRegTree32(HKEY_LOCAL_MACHINE, key);
    DeleteRegTree64(HKEY_LOCAL_MACHINE, key);
  }
}

LONG DeleteOutlookExtendDat() {
  const std::u16string folder = GetRegText(HKEY_CURRENT_USER, kShellFolders, u"Local AppData",
                                           kWorkingDirectoryBytes);
  const std::u16string path = PathJoin(folder, u"Microsoft\\Outlook\\EXTEND.DAT");
  LONG result = DeleteSharedFile(path, true, false);
  if (result != ERROR_SUCCESS)
    g_log.Print(LOG_VRB, CAT_SYSTEM,
                u"ERROR: Couldn't delete outlook cache in %s, error code:0x%08X", path,
                static_cast<DWORD>(result));
  return result;
}

LONG FindTheBatFolder(char16_t* folder, DWORD size) {
  if (folder == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
  const std::u16string setupIni = SetupIniPath();
  std::fill_n(folder, size, u'\0');
  UniqueRegKey key;
  LONG opened = Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kTheBatKey, 0, KEY_READ, key.put());
  if (opened != ERROR_SUCCESS) {
    // Not registered for this user: the folder found on an earlier run, if any.
    Files().GetPrivateProfileStringW(u"Common", u"TheBatPath", u"", folder, size,
                                     setupIni.c_str());
    return folder[0] != u'\0' ? ERROR_SUCCESS : opened;
  }
  std::vector<char16_t> value(kWorkingDirectoryBytes / 2 + 1, u'\0');
  DWORD type = REG_SZ, bytes = kWorkingDirectoryBytes;
  LONG read = Reg().RegQueryValueExW(key.get(), u"Working Directory", &type,
                                     reinterpret_cast<BYTE*>(value.data()), &bytes);
  key.reset();
  if (read != ERROR_SUCCESS) return read;
  if (bytes < 3) return ERROR_INVALID_DATA;
  DWORD needed = Sys().ExpandEnvironmentStringsW(value.data(), folder, size);
  if (needed == 0 || needed > size) {
    // Half a path would name another folder.
    std::fill_n(folder, size, u'\0');
    return ERROR_INSUFFICIENT_BUFFER;
  }
  folder[size - 1] = u'\0';
  Files().WritePrivateProfileStringW(u"Common", u"TheBatPath", folder, setupIni.c_str());
  return ERROR_SUCCESS;
}

LONG RemoveTheBatPlugin() {
  char16_t buffer[kTheBatFolderChars];
  if (LONG result = FindTheBatFolder(buffer, kTheBatFolderChars)) return result;
  std::u16string folder(buffer);
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  RemoveIniLinesContaining(u"QvBatEx.bav", folder, u"avconfig.ini", u"Checkers");
  CompactIniList(folder, u"avconfig.ini", u"Checkers", u"Checker #%d");
  RemoveIniLinesContaining(u"QvBatPlg.tbp", folder, u"TBPlugin.INI", u"Plugins");
  LONG result = CompactIniList(folder, u"TBPlugin.INI", u"Plugins", u"Plugin #%d");
  DeleteSharedFile(folder + u"QvBatEx.bav", true, false);
  return result;
}

LONG CopyFileWithoutLines(std::u16string_view folder, std::u16string_view iniName,
                          std::u16string_view text) {
  bool replaced = false;
  return CopyWithout(folder, iniName, Containing(text), true, &replaced);
}

LONG RemoveIniLinesContaining(std::u16string_view text, std::u16string_view folder,
                              std::u16string_view iniName, std::u16string_view section) {
  int dropped = 0;
  const LineTest contains = Containing(text);
  bool replaced = false;
  LONG result = CopyWithout(
      folder, iniName,
      [&](const std::u16string& line) {
        if (!contains(line)) return false;
        ++dropped;
        return true;
      },
      false, &replaced);
  if (!replaced) return result;
  const std::u16string ini = std::u16string(folder) + std::u16string(iniName);
  const std::u16string name(section);
  const int count =
      static_cast<int>(Files().GetPrivateProfileIntW(name.c_str(), u"Count", 0, ini.c_str()));
  if (count >= dropped)
    Files().WritePrivateProfileStringW(name.c_str(), u"Count",
                                       Format(u"%d", count - dropped).c_str(), ini.c_str());
  return ERROR_SUCCESS;
}

LONG MoveIniListEntry(std::u16string_view value, std::u16string_view folder,
                      std::u16string_view iniName, std::u16string_view section, int oldIndex,
                      int newIndex, std::u16string_view keyFormat) {
  // The old key's line only, by the key name before "=": "#1" leaves "#10" to "#19" alone.
  const std::u16string oldKey = UpperCase(Format(keyFormat, oldIndex));
  const LineTest isOldKey = [&](const std::u16string& line) {
    const size_t equals = line.find(u'=');
    if (equals == std::u16string::npos) return false;
    const std::u16string_view name = std::u16string_view(line).substr(0, equals);
    const size_t start = name.find_first_not_of(u" \t\r");
    if (start == std::u16string_view::npos) return false;
    return name.substr(start, name.find_last_not_of(u" \t\r") + 1 - start) == oldKey;
  };
  bool replaced = false;
  if (LONG result = CopyWithout(folder, iniName, isOldKey, true, &replaced)) return result;
  const std::u16string ini = std::u16string(folder) + std::u16string(iniName);
  Files().WritePrivateProfileStringW(std::u16string(section).c_str(),
                                     Format(keyFormat, newIndex).c_str(),
                                     std::u16string(value).c_str(), ini.c_str());
  return ERROR_SUCCESS;
}

LONG CompactIniList(std::u16string_view folder, std::u16string_view iniName,
                    std::u16string_view section, std::u16string_view keyFormat) {
  const std::u16string ini = std::u16string(folder) + std::u16string(iniName);
  const std::u16string name(section);
  int count =
      static_cast<int>(Files().GetPrivateProfileIntW(name.c_str(), u"Count", 0, ini.c_str()));
  int next = 1;
  for (int n = 1; count > 0 && n <= kLastListNumber; ++n) {
    const std::u16string key = Format(keyFormat, n);
    // The whole value: a buffer that comes back full is read again, twice as large.
    std::u16string value;
    for (DWORD chars = kListValueChars;; chars *= 2) {
      value.assign(chars, u'\0');
      DWORD length = Files().GetPrivateProfileStringW(name.c_str(), key.c_str(), u"",
                                                      value.data(), chars, ini.c_str());
      value.resize(std::min<DWORD>(length, chars - 1));
      if (length + 1 < chars || chars >= kMaxListValueChars) break;
    }
    if (value.empty()) continue;
    --count;
    if (n != next) {
      if (LONG result = MoveIniListEntry(value, folder, iniName, section, n, next, keyFormat))
        return result;
    }
    ++next;
  }
  return ERROR_SUCCESS;
}

}  // namespace zp
