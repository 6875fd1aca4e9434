#include "toolkit/files.h"

#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/file_stream.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

constexpr std::u16string_view kSharedDlls =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr std::u16string_view kShellFolders =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kMaxEditableBytes = 32767;

bool IsDots(const char16_t* name) {
  std::u16string_view text(name);
  return text == u"." || text == u"..";
}

struct Entry {
  std::u16string name;
  DWORD attributes;
};

// The entries matching a pattern, without "." and "..", read before anything is deleted.
std::vector<Entry> List(const std::u16string& pattern) {
  std::vector<Entry> entries;
  FindData data;
  UniqueFind find(Files().FindFirstFileW(pattern.c_str(), &data));
  if (!find) return entries;
  do {
    if (!IsDots(data.fileName)) entries.push_back({data.fileName, data.attributes});
  } while (Files().FindNextFileW(find.get(), &data));
  return entries;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsReparsePoint(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// A folder that was neither removed nor scheduled counts; with allowRestart it is scheduled.
void RemoveFolder(const std::u16string& folder, bool allowRestart, bool restartOnly,
                  LONG* result) {
  if (!restartOnly && Files().RemoveDirectoryW(folder.c_str())) return;
  DWORD error = restartOnly ? ERROR_SUCCESS : Sys().GetLastError();
  if (allowRestart) {
    if (LONG scheduled = DeleteSharedFile(folder, true, true)) *result = scheduled;
  } else if (error != ERROR_SUCCESS) {
    *result = static_cast<LONG>(error);
  }
}

bool Wow64Process() {
  HMODULE kernel32 = Sys().GetModuleHandleW(u"kernel32.dll");
  BOOL wow64 = FALSE;
  return kernel32 && Sys().GetProcAddress(kernel32, "IsWow64Process") &&
         Sys().IsWow64Process(&wow64) && wow64;
}

std::u16string Narrow(std::u16string_view text) {
  std::u16string narrow;  // bytes held as characters below 0x100
  for (char16_t c : text) narrow += c < 0x80 ? c : u'?';
  return narrow;
}

char UpperByte(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

}  // namespace

bool PathPresent(std::u16string_view path) {
  const std::u16string file(path);
  return Files().GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES ||
         Sys().GetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

LONG filRenameOnReboot(std::u16string_view path, bool allowRestart, bool restartOnly) {
  const std::u16string file(path);
  if (!PathPresent(file)) return ERROR_FILE_NOT_FOUND;
  Files().SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  DWORD error = ERROR_SUCCESS;
  if (!restartOnly) {
    if (Files().DeleteFileW(file.c_str())) {
      g_log.Print(LOG_NRM, CAT_FILE, u"Direct delete of file: %s", file);
      return ERROR_SUCCESS;
    }
    error = Sys().GetLastError();
  }
  g_log.Add(u"filRenameOnReboot:!bSuccess", LOG_DBG, CAT_FILE);
  if (!allowRestart) return static_cast<LONG>(error);
  g_log.Add(u"filRenameOnReboot:bOnReboot", LOG_DBG, CAT_FILE);
  if (!IsScheduledForRestart(file)) {
    ScheduleDeleteOnRestart(file);
    g_setup.RebootPending = true;
  }
  return ERROR_SUCCESS;
}

LONG DeleteSharedFile(std::u16string_view path, bool allowRestart, bool restartOnly) {
  const std::u16string file(path);
  if (!PathPresent(file)) return ERROR_SUCCESS;
  DWORD count = 0;
  if (GetHklmDword(kSharedDlls, file, &count) == ERROR_SUCCESS && count != 0) {
    LogJoined(u"Ignoring remove shared file:", file, LOG_VRB, CAT_FILE);
    return ERROR_SUCCESS;
  }
  Files().SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  LONG result = filRenameOnReboot(file, allowRestart, restartOnly);
  return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

LONG DeleteTree(std::u16string_view folder, std::u16string_view pattern, bool recurse,
                bool allowRestart, bool restartOnly) {
  // A folder written with a final backslash names the folder itself (a drive root stays).
  std::u16string path(folder);
  while (path.size() > 1 && path.back() == u'\\' && !(path.size() == 3 && path[1] == u':'))
    path.pop_back();
  size_t slash = path.rfind(u'\\');
  const std::u16string parent = slash == std::u16string::npos ? u"" : path.substr(0, slash + 1);
  const std::u16string last = slash == std::u16string::npos ? path : path.substr(slash + 1);

  LONG result = ERROR_SUCCESS;
  for (const Entry& match : List(PathJoin(parent, last))) {
    if (!IsFolder(match.attributes)) continue;
    const std::u16string sub = PathJoin(parent, match.name);
    if (IsReparsePoint(match.attributes)) {
      // A junction or directory link: the link goes, what it leads to stays.
      RemoveFolder(sub, allowRestart, restartOnly, &result);
      continue;
    }
    for (const Entry& entry : List(PathJoin(sub, pattern))) {
      const std::u16string full = PathJoin(sub, entry.name);
      LONG done = recurse && IsFolder(entry.attributes)
                      ? DeleteTree(full, pattern, recurse, allowRestart, restartOnly)
                      : DeleteSharedFile(full, allowRestart, restartOnly);
      if (!allowRestart && done != ERROR_SUCCESS) result = done;
    }
    RemoveFolder(sub, allowRestart, restartOnly, &result);
  }
  return result;
}

bool DeleteFileNative(std::u16string_view path) {
  const std::u16string file(path);
  HMODULE kernel32 = Sys().GetModuleHandleW(u"kernel32.dll");
  bool redirectionOff = false;
  if (Wow64Process() && kernel32 &&
      Sys().GetProcAddress(kernel32, "Wow64EnableWow64FsRedirection"))
    redirectionOff = Files().Wow64EnableWow64FsRedirection(FALSE) != FALSE;

  BOOL deleted = Files().DeleteFileW(file.c_str());
  DWORD error = deleted ? ERROR_SUCCESS : Sys().GetLastError();
  if (deleted) {
    g_log.Print(LOG_NRM, CAT_FILE, u"Direct delete of file: %s", file);
  } else if (error == static_cast<DWORD>(ERROR_SHARING_VIOLATION) ||
             error == static_cast<DWORD>(ERROR_ACCESS_DENIED)) {
    // A loaded driver: scheduled on its native path now, while the redirection is still off.
    if (Files().MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      g_log.Print(LOG_NRM, CAT_FILE, u"Delete on reboot(%s)", file);
      g_setup.RebootPending = true;
    } else {
      g_log.Print(LOG_MIN, CAT_FILE, u"Cannot delete file: %s (0x%08X)", file, error);
    }
  }

  if (redirectionOff) Files().Wow64EnableWow64FsRedirection(TRUE);
  Sys().SetLastError(error);
  return deleted != FALSE;
}

LONG DecrementSharedDllCount(std::u16string_view path) {
  DWORD count = 0;
  if (GetHklmDword(kSharedDlls, path, &count) != ERROR_SUCCESS || count == 0)
    return ERROR_SUCCESS;
  if (count > 1) return SetHklmDword(kSharedDlls, path, count - 1);
  const std::u16string key(kSharedDlls), name(path);
  UniqueRegKey shared;
  if (LONG error = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS,
                                       shared.put()))
    return error;
  return Reg().RegDeleteValueW(shared.get(), name.c_str());
}

std::u16string GetShortPath(std::u16string_view path, size_t size) {
  if (size == 0) return {};
  const std::u16string file(path);
  DWORD disabled = 0;
  if (GetHklmDword(u"System\\CurrentControlSet\\Control\\FileSystem",
                   u"NtfsDisable8dot3NameCreation", &disabled) == ERROR_SUCCESS &&
      disabled != 0)
    return file.substr(0, size - 1);

  std::u16string buffer(size, u'\0');
  DWORD length = Files().GetShortPathNameW(file.c_str(), buffer.data(), static_cast<DWORD>(size));
  if (length >= 1 && length <= size - 1 && buffer[0] != 0) return buffer.substr(0, length);

  // A file that does not exist: the short form of its folder and the long name.
  size_t slash = file.rfind(u'\\');
  if (slash != std::u16string::npos) {
    std::u16string folder(260, u'\0');
    DWORD folderLength =
        Files().GetShortPathNameW(file.substr(0, slash).c_str(), folder.data(), 260);
    const std::u16string name = file.substr(slash + 1);
    if (folderLength >= 1 && folderLength < 260 && folderLength + name.size() + 2 < size)
      return folder.substr(0, folderLength) + u"\\" + name;
  }
  std::u16string quoted = !file.empty() && file[0] == u'"' ? file : u"\"" + file + u"\"";
  return quoted.substr(0, size - 1);
}

bool GetSpecialFolder(std::u16string* folder, int csidl) {
  HMODULE shell = Sys().LoadLibraryW(u"shell32.dll");
  if (shell == nullptr) return false;
  bool found = false;
  if (Sys().GetProcAddress(shell, "SHGetSpecialFolderPathW")) {
    char16_t path[260] = {};
    found = Files().SHGetSpecialFolderPathW(path, csidl, FALSE) != FALSE;
    if (found) *folder = path;
  }
  Sys().FreeLibrary(shell);
  return found;
}

namespace {

LONG ShellFolder(std::u16string_view common, std::u16string_view perUser,
                 std::u16string* folder) {
  const bool nt = g_setup.IsPlatform(PLAT_NT);
  char16_t path[260] = {};
  LONG result = GetRegString(nt ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kShellFolders,
                             nt ? common : perUser, path, sizeof(path), false);
  folder->assign(result == ERROR_SUCCESS ? path : u"");
  return result;
}

}  // namespace

LONG GetDesktopFolder(std::u16string* folder) {
  return ShellFolder(u"Common Desktop", u"Desktop", folder);
}

LONG GetProgramsFolder(std::u16string* folder) {
  return ShellFolder(u"Common Programs", u"Programs", folder);
}

bool DeleteDesktopFile(std::u16string_view name) {
  // Without the desktop folder the name would be taken relative to the current folder.
  std::u16string desktop;
  if (name.empty() || GetDesktopFolder(&desktop) != ERROR_SUCCESS || desktop.empty()) return false;
  return Files().DeleteFileW(PathJoin(desktop, name).c_str()) != FALSE;
}

LONG DeleteProgramsFolder(std::u16string_view name) {
  if (name.empty()) return ERROR_INVALID_PARAMETER;  // it would name the Programs folder itself
  std::u16string programs;
  if (LONG error = GetProgramsFolder(&programs)) return error;
  if (programs.empty()) return ERROR_PATH_NOT_FOUND;
  return DeleteTree(PathJoin(programs, name), u"*.*", false, false, false);
}

LONG RemoveLinesContaining(std::u16string_view text, std::u16string_view file) {
  std::string needle;
  for (char16_t c : Narrow(text)) needle += UpperByte(static_cast<char>(c));
  if (needle.empty()) return ERROR_INVALID_PARAMETER;  // every line would match

  std::string content;
  {
    CUFile stream;
    if (!stream.OpenReadWrite(file)) return static_cast<LONG>(stream.lastError);
    const std::int32_t size = stream.GetSize();
    if (size < 0 || static_cast<DWORD>(size) > kMaxEditableBytes) {
      // Beyond what the line editor holds: the file stays as it is.
      g_log.Print(LOG_MIN, CAT_FILE, u"File too large to edit: %s", std::u16string(file));
      return ERROR_FILE_TOO_LARGE;
    }
    content.assign(static_cast<size_t>(size), '\0');
    DWORD done = 0;
    if (size > 0 && !stream.Read(content.data(), static_cast<DWORD>(size), &done))
      return static_cast<LONG>(stream.lastError);
  }
  if (!content.empty() && content.back() == '\x1A') content.pop_back();

  while (true) {
    std::string upper = content;
    for (char& c : upper) c = UpperByte(c);
    size_t match = upper.find(needle);
    if (match == std::string::npos) break;
    size_t feed = content.rfind('\n', match);
    size_t start = feed == std::string::npos ? 0 : feed + 1;
    size_t end = content.find('\n', match);
    if (end == std::string::npos) content.resize(start);
    else content.erase(start, end + 1 - start);
  }

  CUFile stream;
  if (!stream.Create(file)) return static_cast<LONG>(stream.lastError);
  if (!content.empty() &&
      !stream.Write(content.data(), static_cast<DWORD>(content.size()), nullptr))
    return static_cast<LONG>(stream.lastError);
  return ERROR_SUCCESS;
}

HANDLE FindFirstIn(std::u16string_view folder, FindData* data, std::u16string_view pattern) {
  return Files().FindFirstFileW(PathJoin(folder, pattern).c_str(), data);
}

}  // namespace zp
