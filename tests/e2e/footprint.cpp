#include "footprint.h"

#include <algorithm>

namespace zp::e2e {
namespace {

const wchar_t* kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
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

Item Key(HKEY root, std::wstring path, Expect expect, REGSAM view = 0) {
  Item item = Make(Item::Key, expect, std::move(path));
  item.root = root;
  item.view = view;
  return item;
}

Item Value(HKEY root, std::wstring path, std::wstring name, std::wstring data, Expect expect) {
  Item item = Make(Item::Value, expect, std::move(path));
  item.root = root;
  item.value = std::move(name);
  item.data = std::move(data);
  return item;
}

Item Service(std::wstring name, std::wstring binary, bool running, Expect expect) {
  Item item = Make(Item::Service, expect, std::move(name));
  item.value = std::move(binary);
  item.running = running;
  return item;
}

Item ListEntry(std::wstring path, std::wstring name, std::wstring entry, Expect expect) {
  Item item = Make(Item::ListEntry, expect, std::move(path));
  item.root = HKEY_LOCAL_MACHINE;
  item.value = std::move(name);
  item.data = std::move(entry);
  return item;
}

const wchar_t* kKeyboardClass =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const wchar_t* kVdd = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";

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

bool ListHolds(const std::vector<std::wstring>& list, const std::wstring& entry) {
  return std::any_of(list.begin(), list.end(), [&](const std::wstring& e) {
    return Upper(e) == Upper(entry);
  });
}

Item FileItem(std::wstring path, Expect expect) { return Make(Item::File, expect, std::move(path)); }
Item FolderItem(std::wstring path, Expect expect) {
  return Make(Item::Folder, expect, std::move(path));
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

Footprint Gen7ConsumerProduct(const std::wstring& folder, const std::wstring& service) {
  const std::wstring current = L"Software\\OSTREL Software\\Ostrel";
  Footprint product{L"generation-7 consumer product", {}};
  auto& items = product.items;
  // The keys detection reads (the 32-bit view, as the 32-bit product wrote them).
  items.push_back(Value(HKEY_LOCAL_MACHINE, current, L"Product", L"ois", Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, current, L"Version", L"7.0.1466", Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, current, L"ProgramFolder", folder, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, current, Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"ostrel", L"InstallLocation",
                        folder, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"ostrel", Expect::Removed));
  items.push_back(Key(HKEY_CURRENT_USER, current, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.ostrellic", Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"ostrel", L"\"" + folder + L"\\OstrelUI.exe\" /tray", Expect::Removed));
  // Its shell registrations: the context menu (64-bit Explorer's view) and the App Paths entry
  // of its old user interface.
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel",
                      Expect::Removed, KEY_WOW64_64KEY));
  items.push_back(Value(HKEY_LOCAL_MACHINE,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zohOstrel.exe",
                        L"Path", folder, Expect::Removed));
  // Its services: the antivirus runs and is stopped first; the others are stopped.
  items.push_back(Service(L"ostrel! Antivirus", service, true, Expect::Removed));
  items.push_back(Service(L"ostrel! Mail Scanner", service, false, Expect::Removed));
  items.push_back(Service(L"ostrel! Firewall", service, false, Expect::Removed));
  // Its shortcuts in the common folders.
  const std::wstring desktop = ShellFolder(L"Common Desktop");
  const std::wstring programs = ShellFolder(L"Common Programs");
  if (!desktop.empty())
    items.push_back(FileItem(desktop + L"\\ostrel! Free Antivirus.lnk", Expect::Removed));
  if (!programs.empty()) {
    items.push_back(FileItem(programs + L"\\ostrel! Free Antivirus\\ostrel! Free Antivirus.lnk",
                             Expect::Removed));
    items.push_back(FolderItem(programs + L"\\ostrel! Free Antivirus", Expect::Removed));
  }
  // Its entries in lists shared with others: the drivers step is not built yet.
  items.push_back(ListEntry(kKeyboardClass, L"UpperFilters", L"zorKbd", Expect::Later));
  items.push_back(ListEntry(kVdd, L"VDD", folder + L"\\zorMonVd.dll", Expect::Later));
  // Its program folder.
  items.push_back(FileItem(folder + L"\\OstrelUI.exe", Expect::Removed));
  items.push_back(FolderItem(folder, Expect::Removed));
  return product;
}

Footprint Collateral(const std::wstring& folder) {
  const std::wstring parent = folder.substr(0, folder.find_last_of(L'\\'));
  Footprint others{L"other software", {}};
  auto& items = others.items;
  items.push_back(Value(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"OtherVendorTray", L"C:\\Other\\tray.exe", Expect::Kept));
  items.push_back(Key(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe",
                      Expect::Kept));
  items.push_back(Key(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"OtherProduct",
                      Expect::Kept));
  Item shared = Value(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                      parent + L"\\Common\\shared.dll", L"", Expect::Kept);
  shared.dword = true;
  shared.number = 1;  // counted by another program
  items.push_back(shared);
  items.push_back(FileItem(parent + L"\\Common\\shared.dll", Expect::Kept));
  items.push_back(FileItem(parent + L"\\Sibling\\keep.txt", Expect::Kept));
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Other Vendor\\Settings", Expect::Kept));
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Other Vendor\\Settings", Expect::Kept,
                      KEY_WOW64_64KEY));
  const std::wstring desktop = ShellFolder(L"Common Desktop");
  if (!desktop.empty()) items.push_back(FileItem(desktop + L"\\Other Tool.lnk", Expect::Kept));
  items.push_back(ListEntry(kKeyboardClass, L"UpperFilters", L"kbdclass", Expect::Kept));
  items.push_back(ListEntry(kKeyboardClass, L"UpperFilters", L"otherKbdFilter", Expect::Kept));
  items.push_back(ListEntry(kVdd, L"VDD", L"C:\\Other\\othervdd.dll", Expect::Kept));
  return others;
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
        HANDLE file = CreateFileW(item.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        planted = planted && file != INVALID_HANDLE_VALUE;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        break;
      }
      case Item::Service: {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager ? CreateServiceW(manager, item.path.c_str(), item.path.c_str(),
                                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                     item.value.c_str(), nullptr, nullptr, nullptr,
                                                     nullptr, nullptr)
                                    : nullptr;
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
      RegCloseKey(key);
      return present ? State::Present : State::Absent;
    }
    case Item::ListEntry: {
      bool exists = false;
      return ListHolds(ReadList(item, &exists), item.data) ? State::Present : State::Absent;
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

std::vector<std::wstring> KnownLeftovers(const Footprint& footprint) {
  std::vector<std::wstring> left;
  for (const Item& item : footprint.items)
    if (item.expect == Expect::Later && StateOf(item) != State::Absent)
      left.push_back(Describe(item));
  return left;
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
