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

// config.nt as the 32-bit process sees it.
std::wstring ConfigNt() { return WindowsFolder() + L"\\system32\\config.nt"; }

std::wstring KeyboardClass(const wchar_t* controlSet) {
  return std::wstring(L"SYSTEM\\") + controlSet +
         L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
}

// The encoded VBScript engine's server key, which the script scanner takes over.
const wchar_t* kScriptEngine =
    L"SOFTWARE\\Classes\\CLSID\\{B54F3743-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32";
const wchar_t* kScriptEngineServer = L"C:\\windows\\system32\\vbscript.dll";

std::wstring EnvironmentFolder(const wchar_t* name, const wchar_t* fallback) {
  wchar_t folder[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? folder : fallback;
}

// The profile folder of the one profile of the profile list (Wine's current user).
std::wstring CurrentProfileFolder() {
  HKEY list = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0, KEY_READ,
                    &list) != ERROR_SUCCESS)
    return {};
  wchar_t name[260] = {};
  std::wstring folder;
  if (RegEnumKeyW(list, 0, name, 260) == ERROR_SUCCESS) {
    wchar_t path[MAX_PATH] = {}, expanded[MAX_PATH] = {};
    DWORD size = sizeof(path) - sizeof(wchar_t);
    HKEY profile = nullptr;
    if (RegOpenKeyExW(list, name, 0, KEY_READ, &profile) == ERROR_SUCCESS) {
      if (RegQueryValueExW(profile, L"ProfileImagePath", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS &&
          ExpandEnvironmentStringsW(path, expanded, MAX_PATH) > 0)
        folder = expanded;
      RegCloseKey(profile);
    }
  }
  RegCloseKey(list);
  return folder;
}

// The lines of a text file (CR LF or LF), and the file written back from lines.
std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
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

bool WriteLines(const std::wstring& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return WriteBytes(path, text);
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

Footprint CurrentProduct(const CurrentEdition& edition) {
  const std::wstring& folder = edition.programFolder;
  const std::wstring current = L"Software\\OSTREL Software\\Ostrel";
  const std::wstring gen5 = L"Software\\Keswin Software\\Ostrel\\5.0";
  const bool gen5Layout = edition.generation == 5;
  Footprint product{L"generation-" + std::to_wstring(edition.generation) + L" " +
                        edition.productId,
                    {}};
  auto& items = product.items;
  // The keys detection reads (the 32-bit view, as the 32-bit product wrote them).
  const std::wstring detection = gen5Layout ? gen5 : current;
  items.push_back(Value(HKEY_LOCAL_MACHINE, detection, L"Product", edition.productId,
                        Expect::Removed));
  if (!gen5Layout) {
    items.push_back(Value(HKEY_LOCAL_MACHINE, current, L"Version",
                          edition.generation == 6 ? L"6.0.316" : L"7.0.1466", Expect::Removed));
  }
  items.push_back(Value(HKEY_LOCAL_MACHINE, detection, L"ProgramFolder", folder, Expect::Removed));
  if (!edition.dataFolder.empty())
    items.push_back(Value(HKEY_LOCAL_MACHINE, detection, L"DataFolder", edition.dataFolder,
                          Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, detection, Expect::Removed));
  const std::wstring uninstall = std::wstring(kUninstall) + (gen5Layout ? L"ostrel5" : L"ostrel");
  items.push_back(Value(HKEY_LOCAL_MACHINE, uninstall, L"InstallLocation", folder, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, uninstall, Expect::Removed));
  items.push_back(Key(HKEY_CURRENT_USER, current, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.ostrellic", Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"ostrel", L"\"" + folder + L"\\OstrelUI.exe\" /tray", Expect::Removed));
  // Its shell registrations: the context menu (64-bit Explorer's view) and the App Paths entries.
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel",
                      Expect::Removed, KEY_WOW64_64KEY));
  items.push_back(Value(HKEY_LOCAL_MACHINE,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zohOstrel.exe",
                        L"Path", folder, Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OstrelUI.exe",
                      Expect::Removed));
  // Its services: the antivirus runs and is stopped first; the others are stopped.
  items.push_back(Service(L"ostrel! Antivirus", edition.service, true, Expect::Removed));
  items.push_back(Service(L"ostrel! Mail Scanner", edition.service, false, Expect::Removed));
  items.push_back(Service(L"ostrel! Firewall", edition.service, false, Expect::Removed));
  // Its kernel drivers: entries of the service manager, files of the native system folder (and
  // one of the folder the 32-bit process sees), a key of the self-protection driver.
  const std::wstring windows = WindowsFolder();
  const std::wstring nativeDrivers = windows + L"\\Sysnative\\drivers\\";
  for (const wchar_t* driver : {L"zorKbd", L"zorTdi", L"zormonflt", L"zorNdis"}) {
    Item entry = Service(driver, L"system32\\drivers\\" + std::wstring(driver) + L".sys", false,
                         Expect::Removed);
    entry.driver = true;
    items.push_back(entry);
  }
  for (const wchar_t* file : {L"zorKbd.sys", L"zortdi.sys", L"zormonflt.sys", L"zorNdis.sys",
                              L"zorSP.sys", L"zorFsBlk.sys"})
    items.push_back(FileItem(nativeDrivers + file, Expect::Removed));
  items.push_back(FileItem(windows + L"\\system32\\drivers\\zormon.sys", Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\zorSP",
                      Expect::Removed));
  // Its entries in lists shared with others: the keyboard class filter of two control sets, the
  // virtual DOS driver and its config.nt line.
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"})
    items.push_back(ListEntry(KeyboardClass(set), L"UpperFilters", L"zorKbd", Expect::Removed));
  items.push_back(ListEntry(kVdd, L"VDD", folder + L"\\zorMonVd.dll", Expect::Removed));
  items.push_back(LineItem(ConfigNt(), L"device=%SystemRoot%\\system32\\zormonds.sys",
                           Expect::Removed));
  // The script scanner: its classes, the script engine it took over (the engine's own server is
  // put back, Collateral checks it), its sounds in the user's registry.
  items.push_back(Key(HKEY_LOCAL_MACHINE, L"Software\\Classes\\QvAScr.sbScanner", Expect::Removed));
  items.push_back(Key(HKEY_LOCAL_MACHINE,
                      L"Software\\Classes\\CLSID\\{7BFC2BD7-0937-41EA-8872-CE3B27E08F84}",
                      Expect::Removed));
  items.push_back(Value(HKEY_LOCAL_MACHINE, kScriptEngine, L"", folder + L"\\ZhAScr.dll",
                        Expect::Removed));
  items.back().exact = true;
  items.push_back(Value(HKEY_LOCAL_MACHINE, kScriptEngine, L"Default Engine", kScriptEngineServer,
                        Expect::Removed));
  items.push_back(Key(HKEY_CURRENT_USER, L"AppEvents\\Schemes\\Apps\\Ostrel\\Scan",
                      Expect::Removed));
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
  // Its driver package: the Inf folder's copy of the network driver's INF and its .pnf.
  Item inf = FileItem(windows + L"\\inf\\oem90.inf", Expect::Removed);
  inf.content = "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%SW%\r\n"
                "CatalogFile=zorndis.cat\r\n";
  items.push_back(inf);
  items.push_back(FileItem(windows + L"\\inf\\oem90.pnf", Expect::Removed));
  // The screensaver and the boot-time scanner in both system folders, the screensaver's old place.
  for (const wchar_t* file : {L"ostrelss.scr", L"zorBoot.exe"}) {
    items.push_back(FileItem(windows + L"\\system32\\" + file, Expect::Removed));
    items.push_back(FileItem(windows + L"\\Sysnative\\" + file, Expect::Removed));
  }
  items.push_back(FileItem(windows + L"\\ostrelss.scr", Expect::Removed));
  items.push_back(FileItem(L"C:\\~QVINSTL\\setup.log", Expect::Removed));
  items.push_back(FolderItem(L"C:\\~QVINSTL", Expect::Removed));
  // The gadget (generations 6 and later) and the home-server console add-in (7 and later).
  const std::wstring programFiles = EnvironmentFolder(L"ProgramW6432", L"C:\\Program Files");
  if (edition.generation >= 6) {
    const std::wstring gadget = programFiles + L"\\Windows Sidebar\\Shared Gadgets\\zorSidebar.gadget";
    items.push_back(FileItem(gadget + L"\\gadget.xml", Expect::Removed));
    items.push_back(FolderItem(gadget, Expect::Removed));
  }
  if (edition.generation >= 7)
    items.push_back(FileItem(programFiles + L"\\Windows Server\\Bin\\Addins\\Primary\\"
                                            L"OstrelWhsAddinConfig.addin",
                             Expect::Removed));
  // Its program folder, with the stand-ins of its components and a file in use, and its data.
  items.push_back(FileItem(folder + L"\\OstrelUI.exe", Expect::Removed));
  if (!edition.components.empty()) {
    const std::wstring& from = edition.components;
    struct Component {
      const wchar_t* name;
      const wchar_t* standIn;
    };
    const Component components[] = {
        {L"zohBase.dll", L"zohBase.dll"},         {L"ZhAScr.dll", L"zp_comsrv_ok.dll"},
        {L"redemption.dll", L"zp_comsrv_ok.dll"}, {L"zorOtl.dll", L"zp_comsrv_fail.dll"},
        {L"zsOutExt.dll", L"zp_comsrv_crash.dll"}, {L"snxPlugins.dll", L"zp_comsrv_ok.dll"},
        {L"zorRegSvr64.exe", L"zorRegSvr64.exe"}, {L"OstrelGUIProxy64.dll", L"zp_comsrv_ok.dll"},
    };
    for (const Component& component : components) {
      Item copy = FileItem(folder + L"\\" + component.name, Expect::Removed);
      copy.source = from + component.standIn;
      items.push_back(copy);
    }
    // The base library's answers: Firefox is installed, the Sidebar was running.
    Item answers = FileItem(folder + L"\\zohBase.ini", Expect::Removed);
    answers.content = "[zohBase]\r\nInstalled2=2\r\nKillSidebar=1\r\n";
    items.push_back(answers);
    Item held = FileItem(folder + L"\\Data\\scan.lock", Expect::Removed);
    held.held = true;
    items.push_back(held);
  }
  items.push_back(FolderItem(folder, Expect::Removed));
  if (!edition.dataFolder.empty()) {
    items.push_back(FileItem(edition.dataFolder + L"\\settings.ini", Expect::Removed));
    items.push_back(FolderItem(edition.dataFolder, Expect::Removed));
  }
  return product;
}

Footprint Gen7ConsumerProduct(const std::wstring& folder, const std::wstring& service) {
  CurrentEdition edition;
  edition.programFolder = folder;
  edition.service = service;
  return CurrentProduct(edition);
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
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    items.push_back(ListEntry(KeyboardClass(set), L"UpperFilters", L"kbdclass", Expect::Kept));
    items.push_back(ListEntry(KeyboardClass(set), L"UpperFilters", L"otherKbdFilter", Expect::Kept));
  }
  items.push_back(ListEntry(kVdd, L"VDD", L"C:\\Other\\othervdd.dll", Expect::Kept));
  items.push_back(LineItem(ConfigNt(), L"files=40", Expect::Kept));
  // The script engine's own server, which the product's removal puts back.
  items.push_back(Value(HKEY_LOCAL_MACHINE, kScriptEngine, L"", kScriptEngineServer, Expect::Kept));
  items.back().exact = true;
  items.push_back(Key(HKEY_CURRENT_USER, L"AppEvents\\Schemes\\Apps\\Other", Expect::Kept));
  // Another vendor's driver package in the Inf folder.
  const std::wstring windows = WindowsFolder();
  Item inf = FileItem(windows + L"\\inf\\oem91.inf", Expect::Kept);
  inf.content = "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%OTHER%\r\n"
                "CatalogFile=other.cat\r\n";
  items.push_back(inf);
  items.push_back(FileItem(windows + L"\\inf\\oem91.pnf", Expect::Kept));
  const std::wstring programFiles = EnvironmentFolder(L"ProgramW6432", L"C:\\Program Files");
  items.push_back(FileItem(programFiles + L"\\Windows Sidebar\\Shared Gadgets\\Other.gadget\\gadget.xml",
                           Expect::Kept));
  // The current user's hive file, held as Windows holds the hive of a logged-on user: the walk
  // over the profiles then uses the user's loaded registry.
  const std::wstring profile = CurrentProfileFolder();
  if (!profile.empty()) {
    Item hive = FileItem(profile + L"\\NtUser.dat", Expect::Kept);
    hive.held = true;
    items.push_back(hive);
  }
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
        planted = planted && (item.source.empty() ? WriteBytes(item.path, item.content)
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
