#include "footprint.h"

#include "robot.h"

#include <algorithm>

namespace zp::e2e {
namespace {

const wchar_t* kSessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

Item Make(Item::Kind kind, Expect expect, std::wstring path) {
  Item item;
  item.kind = kind;
  item.expect = expect;
  item.path = std::move(path);
  return item;
}


// The strings of a REG_MULTI_SZ value; `exists` false when there is no such value.
std::vector<std::wstring> ReadList(const Item& item, bool* exists) {
  std::vector<std::wstring> list;
  *exists = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(item.root, item.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return list;
  DWORD size = 0;
  if (RegQueryValueExW(key, item.value.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    *exists = true;
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(key, item.value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                     &size);
    for (size_t i = 0; i < size / sizeof(wchar_t) && data[i];) {
      list.push_back(data.c_str() + i);
      i += list.back().size() + 1;
    }
  }
  RegCloseKey(key);
  return list;
}

bool WriteList(const Item& item, const std::vector<std::wstring>& list) {
  std::wstring data;
  for (const std::wstring& entry : list) data += entry + L'\0';
  data += L'\0';
  HKEY key = nullptr;
  if (RegCreateKeyExW(item.root, item.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool written = RegSetValueExW(key, item.value.c_str(), 0, REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

bool ListHolds(const std::vector<std::wstring>& list, const std::wstring& entry) {
  return std::any_of(list.begin(), list.end(), [&](const std::wstring& e) {
    return Upper(e) == Upper(entry);
  });
}

bool CreateFolders(const std::wstring& folder) {
  for (size_t slash = folder.find(L'\\', 3); ; slash = folder.find(L'\\', slash + 1)) {
    std::wstring part = folder.substr(0, slash);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (slash == std::wstring::npos) return true;
  }
}

std::wstring Describe(const Item& item) {
  const wchar_t* root = item.root == HKEY_LOCAL_MACHINE ? L"HKLM\\"
                        : item.root == HKEY_CURRENT_USER ? L"HKCU\\"
                                                         : L"HKCR\\";
  std::wstring view = item.view == KEY_WOW64_64KEY ? L" (64-bit)"
                      : item.view == KEY_WOW64_32KEY ? L" (32-bit)"
                                                     : L"";
  switch (item.kind) {
    case Item::Key: return L"key " + std::wstring(root) + item.path + view;
    case Item::Value: return L"value " + std::wstring(root) + item.path + L"\\" + item.value;
    case Item::File: return L"file " + item.path;
    case Item::ListEntry:
      return L"entry " + item.data + L" of " + std::wstring(root) + item.path + L"\\" + item.value;
    case Item::Folder: return L"folder " + item.path;
    case Item::Service: return L"service " + item.path;
    case Item::Line: return L"line " + item.data + L" of " + item.path;
  }
  return item.path;
}

// The pending renames of the session manager, as \??\ paths, upper case.
std::vector<std::wstring> PendingDeletions() {
  std::vector<std::wstring> paths;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return paths;
  DWORD size = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&data[0]), &size);
    for (size_t i = 0; i < data.size() && data[i];) {
      std::wstring item = data.c_str() + i;
      i += item.size() + 1;
      std::wstring target = data.c_str() + i;  // the rename's target: empty for a deletion
      i += target.size() + 1;
      if (target.empty()) paths.push_back(Upper(item));
    }
  }
  RegCloseKey(key);
  return paths;
}


// The lines of a text file (CR LF or LF), and the file written back from lines.
std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

bool WriteLines(const std::wstring& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return WriteFileBytes(path, text);
}

bool SameLine(const std::string& a, const std::wstring& b) {
  return Upper(std::wstring(a.begin(), a.end())) == Upper(b);
}

std::vector<HANDLE> g_heldFiles;

bool Scheduled(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  std::vector<std::wstring> forms = {Upper(L"\\??\\" + path)};
  if (GetShortPathNameW(path.c_str(), shortPath, MAX_PATH))
    forms.push_back(Upper(L"\\??\\" + std::wstring(shortPath)));
  std::vector<std::wstring> pending = PendingDeletions();
  return std::any_of(forms.begin(), forms.end(), [&](const std::wstring& form) {
    return std::find(pending.begin(), pending.end(), form) != pending.end();
  });
}

}  // namespace


Item KeyItem(HKEY root, std::wstring path, Expect expect, REGSAM view) {
  Item item = Make(Item::Key, expect, std::move(path));
  item.root = root;
  item.view = view;
  return item;
}

Item ValueItem(HKEY root, std::wstring path, std::wstring name, std::wstring data, Expect expect) {
  Item item = Make(Item::Value, expect, std::move(path));
  item.root = root;
  item.value = std::move(name);
  item.data = std::move(data);
  return item;
}

Item ServiceItem(std::wstring name, std::wstring binary, bool running, Expect expect) {
  Item item = Make(Item::Service, expect, std::move(name));
  item.value = std::move(binary);
  item.running = running;
  return item;
}

Item ListItem(std::wstring path, std::wstring name, std::wstring entry, Expect expect) {
  Item item = Make(Item::ListEntry, expect, std::move(path));
  item.root = HKEY_LOCAL_MACHINE;
  item.value = std::move(name);
  item.data = std::move(entry);
  return item;
}

// A folder of the shell as the system reads it ("Common Desktop", "Common Programs").
std::wstring ShellFolder(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  DWORD size = sizeof(folder);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
  }
  return folder;
}

Item FileItem(std::wstring path, Expect expect) { return Make(Item::File, expect, std::move(path)); }
Item FolderItem(std::wstring path, Expect expect) {
  return Make(Item::Folder, expect, std::move(path));
}

Item LineItem(std::wstring file, std::wstring line, Expect expect) {
  Item item = Make(Item::Line, expect, std::move(file));
  item.data = std::move(line);
  return item;
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length < MAX_PATH ? length : 0);
}


std::wstring EnvironmentFolder(const wchar_t* name, const wchar_t* fallback) {
  wchar_t folder[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? folder : fallback;
}

bool Plant(const Footprint& footprint, std::wstring* error) {
  for (const Item& item : footprint.items) {
    bool planted = true;
    switch (item.kind) {
      case Item::Key:
      case Item::Value: {
        HKEY key = nullptr;
        planted = RegCreateKeyExW(item.root, item.path.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | item.view, nullptr, &key, nullptr) ==
                  ERROR_SUCCESS;
        if (planted && item.kind == Item::Value && item.dword) {
          planted = RegSetValueExW(key, item.value.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&item.number), 4) == ERROR_SUCCESS;
        } else if (planted && item.kind == Item::Value) {
          planted = RegSetValueExW(key, item.value.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(item.data.c_str()),
                                   static_cast<DWORD>((item.data.size() + 1) * 2)) == ERROR_SUCCESS;
        }
        if (key) RegCloseKey(key);
        break;
      }
      case Item::Folder: planted = CreateFolders(item.path); break;
      case Item::ListEntry: {
        bool exists = false;
        std::vector<std::wstring> list = ReadList(item, &exists);
        if (!ListHolds(list, item.data)) list.push_back(item.data);
        planted = WriteList(item, list);
        break;
      }
      case Item::File: {
        planted = CreateFolders(item.path.substr(0, item.path.find_last_of(L'\\')));
        planted = planted && (item.source.empty() ? WriteFileBytes(item.path, item.content)
                                                  : CopyFileW(item.source.c_str(),
                                                              item.path.c_str(), FALSE) != FALSE);
        if (planted && item.held) {
          HANDLE file = CreateFileW(item.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
          planted = file != INVALID_HANDLE_VALUE;
          if (planted) g_heldFiles.push_back(file);
        }
        break;
      }
      case Item::Line: {
        planted = CreateFolders(item.path.substr(0, item.path.find_last_of(L'\\')));
        std::vector<std::string> lines = ReadLines(item.path);
        if (std::none_of(lines.begin(), lines.end(),
                         [&](const std::string& line) { return SameLine(line, item.data); }))
          lines.push_back(std::string(item.data.begin(), item.data.end()));
        planted = planted && WriteLines(item.path, lines);
        break;
      }
      case Item::Service: {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager ? CreateServiceW(manager, item.path.c_str(), item.path.c_str(),
                                                     SERVICE_ALL_ACCESS,
                                                     item.driver ? SERVICE_KERNEL_DRIVER
                                                                 : SERVICE_WIN32_OWN_PROCESS,
                                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                     item.value.c_str(), nullptr, nullptr, nullptr,
                                                     nullptr, nullptr)
                                    : nullptr;
        // Left by an earlier test that could not clean up: planted all the same.
        if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS)
          service = OpenServiceW(manager, item.path.c_str(), SERVICE_ALL_ACCESS);
        planted = service != nullptr;
        if (planted && item.running) {
          planted = StartServiceW(service, 0, nullptr) != FALSE;
          SERVICE_STATUS status{};
          for (int i = 0; planted && i < 100; ++i) {
            QueryServiceStatus(service, &status);
            if (status.dwCurrentState == SERVICE_RUNNING) break;
            Sleep(100);
          }
          planted = planted && status.dwCurrentState == SERVICE_RUNNING;
        }
        if (service) CloseServiceHandle(service);
        if (manager) CloseServiceHandle(manager);
        break;
      }
    }
    if (!planted) {
      *error = Describe(item) + L" (error " + std::to_wstring(GetLastError()) + L")";
      return false;
    }
  }
  return true;
}

State StateOf(const Item& item) {
  switch (item.kind) {
    case Item::Key:
    case Item::Value: {
      HKEY key = nullptr;
      if (RegOpenKeyExW(item.root, item.path.c_str(), 0, KEY_READ | item.view, &key) !=
          ERROR_SUCCESS)
        return State::Absent;
      bool present = item.kind == Item::Key ||
                     RegQueryValueExW(key, item.value.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                         ERROR_SUCCESS;
      if (present && item.kind == Item::Value && item.exact) {
        wchar_t data[MAX_PATH + 1] = {};
        DWORD size = sizeof(data) - sizeof(wchar_t);
        present = RegQueryValueExW(key, item.value.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
                  Upper(data) == Upper(item.data);
      }
      RegCloseKey(key);
      return present ? State::Present : State::Absent;
    }
    case Item::ListEntry: {
      bool exists = false;
      return ListHolds(ReadList(item, &exists), item.data) ? State::Present : State::Absent;
    }
    case Item::Line: {
      std::vector<std::string> lines = ReadLines(item.path);
      return std::any_of(lines.begin(), lines.end(),
                         [&](const std::string& line) { return SameLine(line, item.data); })
                 ? State::Present
                 : State::Absent;
    }
    case Item::File:
    case Item::Folder:
      if (GetFileAttributesW(item.path.c_str()) == INVALID_FILE_ATTRIBUTES) return State::Absent;
      return Scheduled(item.path) ? State::Scheduled : State::Present;
    case Item::Service: {
      SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
      SC_HANDLE service = manager ? OpenServiceW(manager, item.path.c_str(), SERVICE_QUERY_STATUS)
                                  : nullptr;
      if (service) CloseServiceHandle(service);
      if (manager) CloseServiceHandle(manager);
      return service ? State::Present : State::Absent;
    }
  }
  return State::Present;
}

std::vector<std::wstring> Remnants(const Footprint& footprint) {
  std::vector<std::wstring> wrong;
  for (const Item& item : footprint.items) {
    State state = StateOf(item);
    if (item.expect == Expect::Removed && state == State::Present)
      wrong.push_back(L"left behind: " + Describe(item));
    if (item.expect == Expect::Kept && state != State::Present)
      wrong.push_back(state == State::Absent ? L"deleted although not the product's: " + Describe(item)
                                             : L"scheduled although not the product's: " +
                                                   Describe(item));
  }
  return wrong;
}

std::vector<std::wstring> NotAbsent(const Footprint& footprint) {
  std::vector<std::wstring> left;
  for (const Item& item : footprint.items)
    if (StateOf(item) != State::Absent) left.push_back(L"still there: " + Describe(item));
  return left;
}

std::string Report(const std::vector<std::wstring>& lines) {
  std::string report;
  for (const std::wstring& line : lines) report += "\n  " + Narrow(line);
  return report;
}

void ReleaseHeldFiles() {
  for (HANDLE file : g_heldFiles) CloseHandle(file);
  g_heldFiles.clear();
}

bool RestartWindows() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t line[] = L"wineboot.exe -r";
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  bool done = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return done;
}

void CleanUp(const Footprint& footprint) {
  ReleaseHeldFiles();
  for (auto it = footprint.items.rbegin(); it != footprint.items.rend(); ++it) {
    const Item& item = *it;
    switch (item.kind) {
      case Item::Key:
        RegDeleteTreeW(item.root, item.path.c_str());
        RegDeleteKeyW(item.root, item.path.c_str());
        break;
      case Item::Value: {
        HKEY key = nullptr;
        if (RegOpenKeyExW(item.root, item.path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
          RegDeleteValueW(key, item.value.c_str());
          RegCloseKey(key);
        }
        break;
      }
      case Item::File: DeleteFileW(item.path.c_str()); break;
      case Item::ListEntry: {
        bool exists = false;
        std::vector<std::wstring> list = ReadList(item, &exists), kept;
        for (const std::wstring& entry : list)
          if (Upper(entry) != Upper(item.data)) kept.push_back(entry);
        if (exists) WriteList(item, kept);
        break;
      }
      case Item::Folder: RemoveDirectoryW(item.path.c_str()); break;
      case Item::Line: {
        std::vector<std::string> lines = ReadLines(item.path), kept;
        for (const std::string& line : lines)
          if (!SameLine(line, item.data)) kept.push_back(line);
        WriteLines(item.path, kept);
        break;
      }
      case Item::Service: {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager ? OpenServiceW(manager, item.path.c_str(), SERVICE_ALL_ACCESS)
                                    : nullptr;
        if (service) {
          SERVICE_STATUS status{};
          ControlService(service, SERVICE_CONTROL_STOP, &status);
          DeleteService(service);
          CloseServiceHandle(service);
        }
        if (manager) CloseServiceHandle(manager);
        break;
      }
    }
  }
}

}  // namespace zp::e2e

