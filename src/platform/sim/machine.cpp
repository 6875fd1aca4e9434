// The simulated machine: its operating-system facts, the test's view of its registry and files,
// and the system, window and resource facets.
#include "platform/sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/sim/impl.h"

namespace zp::sim {

std::u16string Upper(std::u16string_view text) {
  std::u16string result(text);
  for (char16_t& c : result) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
    else if (c >= 0x100 && c <= 0x17F && (c & 1)) c -= 1;  // Latin Extended-A pairs
  }
  return result;
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

std::u16string Text(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

namespace {

OsFacts Nt(DWORD major, DWORD minor, DWORD build, std::u16string_view servicePack, WORD spMajor,
           BYTE productType = VER_NT_WORKSTATION) {
  OsFacts os;
  os.version.majorVersion = major;
  os.version.minorVersion = minor;
  os.version.buildNumber = build;
  os.version.platformId = VER_PLATFORM_WIN32_NT;
  std::copy(servicePack.begin(), servicePack.end(), os.version.csdVersion);
  os.version.servicePackMajor = spMajor;
  os.version.productType = productType;
  return os;
}

void AddExports(OsFacts& os, std::initializer_list<const char*> exports) {
  for (const char* name : exports) os.lateExports.insert(name);
}

constexpr auto kXpExports = {"kernel32.dll!getnativesysteminfo", "kernel32.dll!iswow64process",
                             "advapi32.dll!createwellknownsid",
                             "advapi32.dll!initiatesystemshutdownexw",
                             "kernel32.dll!getsystemwow64directoryw",
                             "setupapi.dll!setupuninstalloeminfw"};
constexpr auto kX64Exports = {"kernel32.dll!wow64disablewow64fsredirection",
                              "kernel32.dll!wow64revertwow64fsredirection",
                              "kernel32.dll!wow64enablewow64fsredirection"};
constexpr auto kVistaExports = {"advapi32.dll!regdeletekeyexw"};

bool IsBaseExport(const std::string& key) {
  static constexpr const char* kBaseExports[] = {
      "advapi32.dll!initiatesystemshutdownw", "user32.dll!exitwindowsex",
      "user32.dll!allowsetforegroundwindow",
      "shell32.dll!shgetspecialfolderpathw",
      "advapi32.dll!initializesecuritydescriptor", "advapi32.dll!setsecuritydescriptordacl",
      "advapi32.dll!setsecuritydescriptorgroup", "advapi32.dll!setsecuritydescriptorowner",
      "advapi32.dll!setentriesinaclw",
      "ntdll.dll!ntdeletekey", "ntdll.dll!rtlntstatustodoserror"};
  for (const char* name : kBaseExports)
    if (key == name) return true;
  return false;
}

void MakeX64(OsFacts& os) {
  os.wow64 = true;
  os.nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  AddExports(os, kX64Exports);
}

}  // namespace

OsFacts OsFacts::Windows98() {
  OsFacts os;
  os.version.majorVersion = 4;
  os.version.minorVersion = 10;
  os.version.buildNumber = 1998;
  os.version.platformId = VER_PLATFORM_WIN32_WINDOWS;
  return os;
}
OsFacts OsFacts::WindowsMe() {
  OsFacts os = Windows98();
  os.version.minorVersion = 90;
  os.version.buildNumber = 3000;
  return os;
}
OsFacts OsFacts::WindowsNt4() {
  OsFacts os = Nt(4, 0, 1381, u"Service Pack 6", 6);
  os.windowsFolder = u"C:\\WINNT";
  return os;
}
OsFacts OsFacts::Windows2000() {
  OsFacts os = Nt(5, 0, 2195, u"Service Pack 4", 4);
  os.windowsFolder = u"C:\\WINNT";
  return os;
}
OsFacts OsFacts::WindowsXp() {
  OsFacts os = Nt(5, 1, 2600, u"Service Pack 3", 3);
  AddExports(os, kXpExports);
  return os;
}
OsFacts OsFacts::WindowsXpX64() {
  OsFacts os = Nt(5, 2, 3790, u"Service Pack 2", 2);
  AddExports(os, kXpExports);
  AddExports(os, {"advapi32.dll!regdeletekeyexw"});
  MakeX64(os);
  return os;
}
OsFacts OsFacts::Server2003() {
  OsFacts os = Nt(5, 2, 3790, u"Service Pack 2", 2, VER_NT_SERVER);
  AddExports(os, kXpExports);
  return os;
}
OsFacts OsFacts::Server2003Ia64() {
  OsFacts os = Server2003();
  AddExports(os, {"advapi32.dll!regdeletekeyexw"});
  MakeX64(os);
  os.nativeArchitecture = PROCESSOR_ARCHITECTURE_IA64;
  return os;
}
OsFacts OsFacts::Windows7() {
  OsFacts os = Nt(6, 1, 7601, u"Service Pack 1", 1);
  AddExports(os, kXpExports);
  AddExports(os, kVistaExports);
  return os;
}
OsFacts OsFacts::Windows7X64() {
  OsFacts os = Windows7();
  MakeX64(os);
  return os;
}
OsFacts OsFacts::Server2008R2() {
  OsFacts os = Windows7X64();
  os.version.productType = VER_NT_SERVER;
  return os;
}
OsFacts OsFacts::Windows8X64() {
  OsFacts os = Nt(6, 2, 9200, u"", 0);
  AddExports(os, kXpExports);
  AddExports(os, kVistaExports);
  MakeX64(os);
  return os;
}

Machine::Impl::Impl(Machine& m) : machine(m) {
  registry = MakeRegistry(*this);
  files = MakeFileSystem(*this);
  system = MakeSystem(*this);
  windows = MakeWindows(*this);
  resourceFacet = MakeResources(*this);
  services = MakeServices(*this);
  comFacet = MakeCom(*this);
  AddDefaultWmiNamespaces(*this);
  // The program does not import setupapi.dll: it is loaded only when a module asks for it.
  demandModules[u"SETUPAPI.DLL"] = {0, 0};
}

std::pair<int, int>* Machine::Impl::DemandModule(std::u16string_view upperName) {
  std::u16string name(upperName);
  size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name = name.substr(slash + 1);
  if (name.size() < 4 || name.substr(name.size() - 4) != u".DLL") name += u".DLL";
  auto it = demandModules.find(name);
  return it == demandModules.end() ? nullptr : &it->second;
}

bool Machine::Impl::Injected(const char* call, std::u16string_view path, LONG* error) {
  for (auto it = failures.begin(); it != failures.end(); ++it) {
    if (it->call != call) continue;
    if (!it->pathPart.empty() && Upper(path).find(Upper(it->pathPart)) == std::u16string::npos)
      continue;
    *error = it->error;
    if (--it->count == 0) failures.erase(it);
    return true;
  }
  return false;
}

Machine::Machine(OsFacts os) : os_(std::move(os)), impl_(std::make_unique<Impl>(*this)) {
  // What every Windows has: the system drive with its Windows folder, the system keys.
  const std::u16string windows = os_.windowsFolder;
  AddFolder(windows + u"\\system32");
  AddFolder(windows + u"\\Temp");
  if (os_.wow64) AddFolder(windows + u"\\SysWOW64");
  CreateKey(u"HKLM\\Software\\Classes");
  CreateKey(u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager");
  CreateKey(u"HKU\\.DEFAULT\\Software");
  CreateKey(u"HKCU\\Software");
  if (os_.wow64) CreateKey(u"HKLM\\Software\\Wow6432Node");
  if (os_.version.platformId == VER_PLATFORM_WIN32_NT)
    SetString(u"HKLM\\System\\CurrentControlSet\\Control\\ProductOptions", u"ProductType",
              os_.version.productType == VER_NT_WORKSTATION ? u"WinNT" : u"ServerNT");

  // Program folders, in the environment and the registry, as a 32-bit process sees them.
  const std::u16string drive = windows.substr(0, 2);
  const std::u16string programs = drive + u"\\Program Files";
  const std::u16string programs32 = os_.wow64 ? drive + u"\\Program Files (x86)" : programs;
  const std::u16string version = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion";
  CreateKey(version + u"\\RunOnce");
  SetString(version, u"ProgramFilesDir", programs);
  SetString(version, u"CommonFilesDir", programs + u"\\Common Files");
  if (os_.wow64) {
    const std::u16string version32 =
        u"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
    CreateKey(version32 + u"\\RunOnce");
    SetString(version32, u"ProgramFilesDir", programs32);
    SetString(version32, u"CommonFilesDir", programs32 + u"\\Common Files");
  }
  AddFolder(programs32 + u"\\Common Files");
  for (const auto& [name, value] : std::initializer_list<std::pair<std::u16string, std::u16string>>{
           {u"WINDIR", windows},
           {u"SYSTEMROOT", windows},
           {u"SYSTEMDRIVE", drive},
           {u"TEMP", windows + u"\\Temp"},
           {u"TMP", windows + u"\\Temp"},
           {u"ProgramFiles", programs32},
           {u"CommonProgramFiles", programs32 + u"\\Common Files"}})
    SetEnvironment(name, value);
  if (os_.wow64) {
    SetEnvironment(u"ProgramW6432", programs);
    SetEnvironment(u"CommonProgramW6432", programs + u"\\Common Files");
  }
  bool nt6 = os_.version.platformId == VER_PLATFORM_WIN32_NT && os_.version.majorVersion >= 6;
  SetSpecialFolder(CSIDL_COMMON_APPDATA,
                   nt6 ? drive + u"\\ProgramData"
                       : drive + u"\\Documents and Settings\\All Users\\Application Data");
  SetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON, programs32 + u"\\Common Files");
}

Machine::~Machine() {
  if (installed_) InstallPlatform(previous_);
}

void Machine::Install() {
  Platform platform{impl_->registry.get(), impl_->files.get(), impl_->system.get(),
                    impl_->windows.get(), impl_->resourceFacet.get(), impl_->services.get(),
                    impl_->comFacet.get()};
  Platform previous = InstallPlatform(platform);
  if (!installed_) previous_ = previous;
  installed_ = true;
}

// ---- registry, as the test sees it


void Machine::SetValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                       std::vector<BYTE> data) {
  RegNode* node = impl_->FindPhysical(keyPath, true);
  if (node == nullptr) return;
  RegValue* value = node->FindValue(name);
  if (value == nullptr) {
    node->values.push_back(RegValue{std::u16string(name), type, {}});
    value = &node->values.back();
  }
  value->type = type;
  value->data = std::move(data);
}

namespace {
std::vector<BYTE> Bytes(std::u16string_view text, bool terminate) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminate) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}
}  // namespace

void Machine::CreateLink(std::u16string_view linkPath, std::u16string_view targetPath) {
  std::vector<std::u16string> parts = SplitPath(targetPath);
  std::u16string root = parts.empty() ? u"" : Upper(parts[0]);
  std::u16string target = root == u"HKU"    ? u"\\REGISTRY\\USER"
                          : root == u"HKCU" ? u"\\REGISTRY\\USER\\" + impl_->currentUserSid
                          : root == u"HKCR" ? u"\\REGISTRY\\MACHINE\\Software\\Classes"
                                            : u"\\REGISTRY\\MACHINE";
  for (size_t i = 1; i < parts.size(); ++i) target += u"\\" + parts[i];
  RegNode* node = impl_->FindPhysical(linkPath, true);
  node->link = true;
  SetValue(linkPath, u"SymbolicLinkValue", REG_LINK, Bytes(target, false));
}

void Machine::SetString(std::u16string_view keyPath, std::u16string_view name,
                        std::u16string_view text, DWORD type) {
  SetValue(keyPath, name, type, Bytes(text, true));
}

void Machine::SetDword(std::u16string_view keyPath, std::u16string_view name, DWORD value) {
  SetValue(keyPath, name, REG_DWORD,
           {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
            static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)});
}

void Machine::SetMultiString(std::u16string_view keyPath, std::u16string_view name,
                             const std::vector<std::u16string>& items) {
  std::u16string joined;
  for (const std::u16string& item : items) joined += item + u'\0';
  joined += u'\0';
  SetValue(keyPath, name, REG_MULTI_SZ, Bytes(joined, false));
}

void Machine::CreateKey(std::u16string_view keyPath) { impl_->FindPhysical(keyPath, true); }

void Machine::DenyKeyAccess(std::u16string_view keyPath, REGSAM rights) {
  if (RegNode* node = impl_->FindPhysical(keyPath, true)) node->denied = rights;
}

bool Machine::KeyExists(std::u16string_view keyPath) const {
  return impl_->FindPhysical(keyPath, false) != nullptr;
}

std::optional<std::vector<BYTE>> Machine::Value(std::u16string_view keyPath,
                                                std::u16string_view name, DWORD* type) const {
  RegNode* node = impl_->FindPhysical(keyPath, false);
  RegValue* value = node ? node->FindValue(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  if (type) *type = value->type;
  return value->data;
}

std::optional<std::u16string> Machine::String(std::u16string_view keyPath,
                                              std::u16string_view name) const {
  auto data = Value(keyPath, name);
  if (!data) return std::nullopt;
  std::u16string text;
  for (size_t i = 0; i + 1 < data->size(); i += 2)
    text.push_back(static_cast<char16_t>((*data)[i] | ((*data)[i + 1] << 8)));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

std::vector<std::u16string> Machine::MultiString(std::u16string_view keyPath,
                                                 std::u16string_view name) const {
  std::vector<std::u16string> items;
  auto data = Value(keyPath, name);
  if (!data) return items;
  std::u16string text;
  for (size_t i = 0; i + 1 < data->size(); i += 2)
    text.push_back(static_cast<char16_t>((*data)[i] | ((*data)[i + 1] << 8)));
  // Each item ends with a NUL and the list with one more: the last, empty item is that end.
  // Empty items inside the list (a deletion's empty target) are kept.
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (!items.empty() && items.back().empty()) items.pop_back();
  return items;
}

void Machine::MoveToHive(std::u16string_view keyPath, std::u16string_view file) {
  RegNode* node = impl_->FindPhysical(keyPath, true);
  size_t slash = file.find_last_of(u'\\');
  FsNode* folder = impl_->MakeFolders(file.substr(0, slash));
  FsNode* hiveFile = folder->Child(file.substr(slash + 1));
  if (hiveFile == nullptr) hiveFile = impl_->NewFile(folder, file.substr(slash + 1));
  RegNode* parent = node->parent;
  auto owned = std::move(parent->children[Upper(node->name)]);
  parent->children.erase(Upper(node->name));
  owned->parent = nullptr;
  hiveFile->hive = std::move(owned);
}

bool Machine::HiveKeyExists(std::u16string_view file, std::u16string_view subKey) const {
  FsNode* node = impl_->FindFile(file);
  if (node == nullptr || !node->hive) return false;
  RegNode* key = node->hive.get();
  for (const std::u16string& part : SplitPath(subKey)) {
    key = key->Child(part);
    if (key == nullptr) return false;
  }
  return true;
}

std::vector<std::u16string> Machine::MountedHives() const {
  std::vector<std::u16string> names;
  for (const auto& [upper, file] : impl_->mountedHives)
    names.push_back(impl_->users.Child(upper)->name);
  return names;
}

// ---- files, as the test sees them

void Machine::AddFile(std::u16string_view path, std::string_view content, DWORD attributes) {
  size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string_view::npos) return;
  FsNode* parent = impl_->MakeFolders(path.substr(0, slash));
  std::u16string leaf(path.substr(slash + 1));
  FsNode* node = parent->Child(leaf);
  if (node == nullptr) node = impl_->NewFile(parent, leaf);
  node->data = std::string(content);
  node->attributes = attributes;
}

void Machine::AddFolder(std::u16string_view path) { impl_->MakeFolders(path); }

bool Machine::Exists(std::u16string_view path) const { return impl_->FindFile(path) != nullptr; }

std::optional<std::string> Machine::FileContent(std::u16string_view path) const {
  FsNode* node = impl_->FindFile(path);
  if (node == nullptr || node->folder) return std::nullopt;
  return node->data;
}

void Machine::LockFile(std::u16string_view path, bool locked) {
  if (FsNode* node = impl_->FindFile(path)) node->lockedByOther = locked;
}

void Machine::AddJunction(std::u16string_view path, std::u16string_view target) {
  if (FsNode* node = impl_->MakeFolders(path)) node->reparseTarget = std::u16string(target);
}

void Machine::SetShortName(std::u16string_view path, std::u16string_view shortName) {
  if (FsNode* node = impl_->FindFile(path)) node->shortName = std::u16string(shortName);
}

// ---- windows, modules, failures

const std::vector<MessageBoxCall>& Machine::messageBoxes() const { return impl_->messageBoxes; }

void Machine::AnswerMessageBoxes(std::initializer_list<int> answers) {
  impl_->answers.insert(impl_->answers.end(), answers.begin(), answers.end());
}

HWND Machine::AddDialog() {
  impl_->nextWindow += 0x10;
  return reinterpret_cast<HWND>(impl_->nextWindow);
}

void Machine::AddControl(HWND dialog, int id) {
  impl_->nextWindow += 0x10;
  impl_->controls[impl_->nextWindow] = Impl::Control{dialog, id, {}, {}, -1, true};
}

void Machine::ScriptDialog(std::vector<DialogAction> actions) {
  impl_->dialogScript = std::move(actions);
}

void Machine::AnswerFolderPicker(std::optional<std::u16string> folder) {
  impl_->pickerAnswers.push_back(std::move(folder));
}

HWND Machine::LastDialog() const { return impl_->lastDialog; }

std::vector<std::pair<WPARAM, LPARAM>> Machine::IconsSet(HWND window) const {
  auto it = impl_->icons.find(reinterpret_cast<std::uintptr_t>(window));
  return it == impl_->icons.end() ? std::vector<std::pair<WPARAM, LPARAM>>() : it->second;
}

const std::vector<FolderPickerCall>& Machine::folderPickers() const { return impl_->pickers; }
const std::vector<unsigned>& Machine::cursors() const { return impl_->cursors; }
int Machine::OpenItemLists() const { return static_cast<int>(impl_->itemLists.size()); }

namespace {
const Machine::Impl::Control* FindControl(const Machine::Impl& impl, HWND dialog, int id) {
  for (const auto& [handle, control] : impl.controls)
    if (control.dialog == dialog && control.id == id) return &control;
  return nullptr;
}
}  // namespace

bool Machine::ControlEnabled(HWND dialog, int id) const {
  const Impl::Control* control = FindControl(*impl_, dialog, id);
  return control != nullptr && control->enabled;
}

std::u16string Machine::ControlText(HWND dialog, int id) const {
  const Impl::Control* control = FindControl(*impl_, dialog, id);
  return control ? control->text : std::u16string();
}

void Machine::SetControlText(HWND dialog, int id, std::u16string_view text) {
  if (auto* control = const_cast<Impl::Control*>(FindControl(*impl_, dialog, id)))
    control->text = text;
}

std::vector<std::u16string> Machine::ControlItems(HWND dialog, int id) const {
  const Impl::Control* control = FindControl(*impl_, dialog, id);
  return control ? control->items : std::vector<std::u16string>();
}

int Machine::ControlSelection(HWND dialog, int id) const {
  const Impl::Control* control = FindControl(*impl_, dialog, id);
  return control ? control->selection : -1;
}

const std::vector<ShutdownCall>& Machine::shutdowns() const { return impl_->shutdowns; }

int Machine::ComInitializations() const { return impl_->comInitialized; }

const std::vector<StartedProcess>& Machine::processesStarted() const { return impl_->processes; }
const std::optional<ComSecurity>& Machine::comSecurity() const { return impl_->comSecurity; }

std::vector<AccessEntry> Machine::FileAccessList(std::u16string_view path,
                                                 bool* protectedList) const {
  FsNode* node = impl_->FindFile(path);
  if (protectedList) *protectedList = node && node->accessListProtected;
  return node ? node->accessList : std::vector<AccessEntry>();
}
int Machine::ComInitializeCalls() const { return impl_->comInitializeCalls; }

HWND Machine::AddWindow(std::u16string_view className, std::u16string_view title) {
  auto handle = reinterpret_cast<HWND>(impl_->nextWindow += 4);
  impl_->topWindows.push_back({std::u16string(className), std::u16string(title), handle});
  return handle;
}

const std::vector<PostedMessage>& Machine::postedMessages() const { return impl_->posted; }

bool Machine::PrivilegeEnabled(std::u16string_view name) const {
  return impl_->enabledPrivileges.count(Upper(name)) > 0;
}

void Machine::AddLibrary(std::u16string_view path, std::map<std::string, const void*> exports) {
  AddFile(path, "MZ");
  Impl::Library library;
  library.path = path;
  library.exports = std::move(exports);
  impl_->libraries.push_back(std::move(library));
}

void Machine::AddLibrary64(std::u16string_view path) {
  AddFile(path, "MZ");
  Impl::Library library;
  library.path = path;
  library.x64 = true;
  impl_->libraries.push_back(std::move(library));
}

std::vector<DWORD> Machine::LibraryLoadFlags(std::u16string_view path) const {
  for (const Impl::Library& library : impl_->libraries)
    if (Upper(library.path) == Upper(path)) return library.loadFlags;
  return {};
}

int Machine::OleInitializations() const { return impl_->oleInitialized; }

void Machine::AddProgram(std::u16string_view path, DWORD exitCode) {
  AddFile(path, "MZ");
  impl_->programExitCodes[Upper(path)] = exitCode;
}

int Machine::OpenProcessHandles() const { return static_cast<int>(impl_->processHandles.size()); }

std::u16string Machine::CurrentDirectory() const { return impl_->CurrentDirectory(); }

void Machine::SetSessionId(DWORD session) { impl_->sessionId = session; }

std::u16string Machine::Impl::CurrentDirectory() const {
  if (!currentDirectory.empty()) return currentDirectory;
  std::u16string folder = programPath.substr(0, programPath.find_last_of(u'\\'));
  return folder.size() == 2 ? folder + u"\\" : folder;
}

int Machine::LibraryLoadCount(std::u16string_view path) const {
  for (const Impl::Library& library : impl_->libraries)
    if (Upper(library.path) == Upper(path)) return library.loadCount;
  return 0;
}

int Machine::LibraryLoads(std::u16string_view path) const {
  for (const Impl::Library& library : impl_->libraries)
    if (Upper(library.path) == Upper(path)) return library.loads;
  return 0;
}

void Machine::LoadSystemModule(std::u16string_view name) {
  if (std::pair<int, int>* demand = impl_->DemandModule(Upper(name))) ++demand->first;
}

int Machine::SystemModuleLoadCount(std::u16string_view name) const {
  std::pair<int, int>* demand = impl_->DemandModule(Upper(name));
  return demand ? demand->first : 1;
}

int Machine::SystemModuleLoads(std::u16string_view name) const {
  std::pair<int, int>* demand = impl_->DemandModule(Upper(name));
  return demand ? demand->second : 0;
}

const std::vector<std::pair<std::u16string, DWORD>>& Machine::oemInfUninstalls() const {
  return impl_->oemInfUninstalls;
}

void Machine::SetSpecialFolder(int csidl, std::u16string_view path) {
  if (path.empty()) impl_->specialFolders.erase(csidl);
  else impl_->specialFolders[csidl] = std::u16string(path);
}

void Machine::SetEnvironment(std::u16string_view name, std::u16string_view value) {
  if (value.empty()) impl_->environment.erase(Upper(name));
  else impl_->environment[Upper(name)] = std::u16string(value);
}

void Machine::AddDevice(std::u16string_view name, DeviceHandler handler) {
  impl_->devices.push_back(Impl::Device{std::u16string(name), std::move(handler)});
}

const std::vector<std::pair<std::u16string, DWORD>>& Machine::deviceCalls() const {
  return impl_->deviceCalls;
}

void Machine::SetClock(std::int64_t unixSeconds, int utcOffsetMinutes) {
  impl_->fileTime = static_cast<std::uint64_t>(unixSeconds * 10000000 + 116444736000000000LL);
  impl_->utcOffsetMinutes = utcOffsetMinutes;
}

void Machine::SetTickCount(DWORD ticks) { impl_->tick = ticks; }

HMODULE Machine::ProgramModule() const { return reinterpret_cast<HMODULE>(0x400000); }

void Machine::SetProgramPath(std::u16string_view path) { impl_->programPath = path; }

void Machine::AddStringTable(HMODULE module, std::span<const StringResource> strings) {
  // RT_STRING blocks as the resource compiler lays them out: block id / 16 + 1 holds 16
  // entries, each a 16-bit length and that many UTF-16 characters.
  std::map<std::pair<LANGID, unsigned>, std::vector<std::u16string>> blocks;
  for (const StringResource& s : strings) {
    auto& block = blocks[{s.language, s.id / 16u + 1}];
    block.resize(16);
    block[s.id % 16] = std::u16string(s.text);
  }
  for (auto& [key, entries] : blocks) {
    std::vector<BYTE> data;
    for (const std::u16string& entry : entries) {
      data.push_back(static_cast<BYTE>(entry.size() & 0xFF));
      data.push_back(static_cast<BYTE>(entry.size() >> 8));
      std::vector<BYTE> bytes = Bytes(entry, false);
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    impl_->resources.push_back(Impl::Resource{module, RT_STRING_ID, key.second, key.first, data});
  }
}

void Machine::AddResource(HMODULE module, unsigned type, unsigned name, LANGID language,
                          std::vector<BYTE> data) {
  impl_->resources.push_back(Impl::Resource{module, type, name, language, std::move(data)});
}

void Machine::FailCall(std::string call, LONG error, std::u16string pathPart, int count) {
  impl_->failures.push_back(Failure{std::move(call), error, std::move(pathPart), count});
}

namespace {

UINT CopyPath(std::u16string_view text, char16_t* buffer, UINT chars) {
  if (text.size() + 1 > chars) return static_cast<UINT>(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<UINT>(text.size());
}

std::uint64_t Join(const FileTime& time) {
  return (static_cast<std::uint64_t>(time.highDateTime) << 32) | time.lowDateTime;
}

class SimSystem final : public System {
 public:
  explicit SimSystem(Machine::Impl& m) : m_(m) {}
  DWORD GetLastError() override { return m_.lastError; }
  void SetLastError(DWORD code) override { m_.lastError = code; }
  BOOL GetVersionExW(OsVersionInfo* info) override {
    *info = m_.os().version;
    return TRUE;
  }
  LANGID GetUserDefaultLangID() override { return m_.os().userLanguage; }
  BOOL GetComputerNameW(char16_t* buffer, DWORD* chars) override {
    const std::u16string& name = m_.os().computerName;
    if (name.size() + 1 > *chars) {
      *chars = static_cast<DWORD>(name.size() + 1);
      m_.lastError = ERROR_MORE_DATA;  // ERROR_BUFFER_OVERFLOW on some versions
      return FALSE;
    }
    *chars = CopyPath(name, buffer, *chars);
    return TRUE;
  }
  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD chars) override {
    if (module != nullptr && module != reinterpret_cast<HMODULE>(0x400000)) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return 0;
    }
    // A path that does not fit is cut to the buffer without a terminator and the result is the
    // buffer's size, as on Windows XP (later versions terminate it).
    const std::u16string& path = m_.programPath;
    if (path.size() >= chars) {
      std::copy_n(path.begin(), chars, buffer);
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return chars;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
  }
  int GetSystemMetrics(int index) override {
    return index == SM_CLEANBOOT ? (m_.os().safeMode ? 1 : 0) : 0;
  }
  UINT SetErrorMode(UINT mode) override { return std::exchange(errorMode_, mode); }
  bool CallGuarded(void (*function)(void*), void* context, DWORD* exceptionCode) override {
    try {
      function(context);
      return true;
    } catch (const StructuredException& exception) {
      if (exceptionCode) *exceptionCode = exception.code;
      return false;
    }
  }
  HMODULE LoadLibraryW(const char16_t* path) override { return Load("LoadLibraryW", path, 0); }
  HMODULE LoadLibraryExW(const char16_t* path, DWORD flags) override {
    return Load("LoadLibraryExW", path, flags);
  }
  BOOL FreeLibrary(HMODULE module) override {
    if (IsSystemModule(module)) {
      if (std::pair<int, int>* demand = DemandModuleOf(module)) {
        if (demand->first == 0) {
          m_.lastError = ERROR_INVALID_HANDLE;
          return FALSE;
        }
        --demand->first;
      }
      return TRUE;
    }
    Machine::Impl::Library* library = LibraryOf(module);
    if (library == nullptr || library->loadCount == 0) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    --library->loadCount;
    return TRUE;
  }
  HMODULE GetModuleHandleW(const char16_t* name) override {
    if (name == nullptr) return reinterpret_cast<HMODULE>(0x400000);
    std::u16string upper = Upper(name);
    if (upper.size() < 4 || upper.substr(upper.size() - 4) != u".DLL") upper += u".DLL";
    std::pair<int, int>* demand = m_.DemandModule(upper);
    for (size_t i = 0; i < std::size(kSystemModules); ++i) {
      if (upper != kSystemModules[i]) continue;
      if (demand && demand->first == 0) break;  // not loaded in this process
      return reinterpret_cast<HMODULE>(0x7C000000 + i * 0x100000);
    }
    m_.lastError = ERROR_MOD_NOT_FOUND;  // as Windows answers for a module not loaded
    return nullptr;
  }
  const void* GetProcAddress(HMODULE module, const char* name) override {
    if (Machine::Impl::Library* library = LibraryOf(module)) {
      auto it = library->exports.find(name);
      if (it != library->exports.end() && library->loadCount > 0) return it->second;
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return nullptr;
    }
    auto base = reinterpret_cast<std::uintptr_t>(module);
    size_t index = (base - 0x7C000000) / 0x100000;
    if (base < 0x7C000000 || index >= std::size(kSystemModules)) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return nullptr;
    }
    if (std::pair<int, int>* demand = DemandModuleOf(module); demand && demand->first == 0) {
      m_.lastError = ERROR_INVALID_HANDLE;  // the module was freed
      return nullptr;
    }
    std::string key;
    for (char16_t c : kSystemModules[index]) key += static_cast<char>(c | 0x20);
    key += '!';
    for (const char* c = name; *c; ++c) key += static_cast<char>(std::tolower(*c));
    // The functions of Windows 2000 that the system looks up are always there; later ones only
    // as the machine's facts say.
    if (!IsBaseExport(key) && !m_.os().lateExports.count(key)) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return nullptr;
    }
    return reinterpret_cast<const void*>(base + 0x1000 + (std::hash<std::string>{}(key) & 0xFFF0));
  }
  BOOL IsWow64Process(BOOL* wow64) override {
    if (!m_.os().lateExports.count("kernel32.dll!iswow64process")) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return FALSE;
    }
    *wow64 = m_.os().wow64 ? TRUE : FALSE;
    return TRUE;
  }
  void GetNativeSystemInfo(SystemInfo* info) override {
    info->processorArchitecture = m_.os().nativeArchitecture;
  }
  UINT GetWindowsDirectoryW(char16_t* buffer, UINT chars) override {
    return CopyPath(m_.os().windowsFolder, buffer, chars);
  }
  UINT GetSystemDirectoryW(char16_t* buffer, UINT chars) override {
    return CopyPath(m_.os().windowsFolder + u"\\system32", buffer, chars);
  }
  UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT chars) override {
    return CopyPath(m_.os().windowsFolder, buffer, chars);
  }
  UINT GetSystemWow64DirectoryW(char16_t* buffer, UINT chars) override {
    if (!m_.os().lateExports.count("kernel32.dll!getsystemwow64directoryw")) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return 0;
    }
    if (!m_.os().wow64) {
      m_.lastError = ERROR_CALL_NOT_IMPLEMENTED;  // 32-bit Windows has no WOW64 folder
      return 0;
    }
    return CopyPath(m_.os().windowsFolder + u"\\SysWOW64", buffer, chars);
  }
  DWORD GetTempPathW(DWORD chars, char16_t* buffer) override {
    return CopyPath(m_.os().windowsFolder + u"\\Temp\\", buffer, chars);
  }
  DWORD ExpandEnvironmentStringsW(const char16_t* text, char16_t* buffer, DWORD chars) override {
    std::u16string in = Text(text), out;
    for (size_t i = 0; i < in.size();) {
      size_t end = in[i] == u'%' ? in.find(u'%', i + 1) : std::u16string::npos;
      bool replaced = false;
      if (end != std::u16string::npos) {
        auto var = m_.environment.find(Upper(in.substr(i + 1, end - i - 1)));
        if (var != m_.environment.end()) {
          out += var->second;
          i = end + 1;
          replaced = true;
        }
      }
      if (!replaced) out += in[i++];
    }
    // The result counts the terminator, also when it does not fit.
    if (out.size() + 1 <= chars) {
      std::copy(out.begin(), out.end(), buffer);
      buffer[out.size()] = 0;
    }
    return static_cast<DWORD>(out.size() + 1);
  }
  DWORD GetTickCount() override { return m_.tick; }
  void GetSystemTimeAsFileTime(FileTime* time) override {
    time->lowDateTime = static_cast<DWORD>(m_.fileTime);
    time->highDateTime = static_cast<DWORD>(m_.fileTime >> 32);
  }
  BOOL FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) override {
    std::uint64_t value = Join(*utc) + static_cast<std::int64_t>(m_.utcOffsetMinutes) * 600000000;
    local->lowDateTime = static_cast<DWORD>(value);
    local->highDateTime = static_cast<DWORD>(value >> 32);
    return TRUE;
  }
  BOOL FileTimeToSystemTime(const FileTime* time, SystemTime* fields) override {
    std::uint64_t value = Join(*time);
    if (value >> 63) {  // Windows refuses times with the top bit set
      m_.lastError = ERROR_INVALID_PARAMETER;
      return FALSE;
    }
    std::uint64_t units = value % 864000000000ULL;
    std::int64_t days = static_cast<std::int64_t>(value / 864000000000ULL);  // since 1601-01-01
    fields->dayOfWeek = static_cast<WORD>((days + 1) % 7);                   // 1601-01-01: Monday
    // Civil date from a day count (days since 1970-03-01 in 400-year eras).
    std::int64_t z = days - 134774 + 719468;
    std::int64_t era = z / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    fields->year = static_cast<WORD>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    fields->month = static_cast<WORD>(month);
    fields->day = static_cast<WORD>(doy - (153 * mp + 2) / 5 + 1);
    fields->hour = static_cast<WORD>(units / 36000000000ULL);
    fields->minute = static_cast<WORD>(units / 600000000 % 60);
    fields->second = static_cast<WORD>(units / 10000000 % 60);
    fields->milliseconds = static_cast<WORD>(units / 10000 % 1000);
    return TRUE;
  }
  void Sleep(DWORD milliseconds) override { m_.tick += milliseconds; }
  LONG UuidCreate(Guid* uuid) override {
    LONG injected;
    if (m_.Injected("UuidCreate", {}, &injected)) return injected;
    std::uint32_t n = ++m_.uuidCounter;
    *uuid = Guid{0x1f2e3d4c + n,
                 0x5b6a,
                 0x4978,
                 {0x86, 0x95, 0xa4, 0xb3, 0xc2, 0xd1, 0xe0, static_cast<std::uint8_t>(n)}};
    return RPC_S_OK;
  }
  LONG UuidToStringW(const Guid* uuid, std::u16string* text) override {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  uuid->data1, uuid->data2, uuid->data3, uuid->data4[0], uuid->data4[1],
                  uuid->data4[2], uuid->data4[3], uuid->data4[4], uuid->data4[5], uuid->data4[6],
                  uuid->data4[7]);
    text->assign(buffer, buffer + std::strlen(buffer));
    return RPC_S_OK;
  }
  HRESULT CoInitialize() override {
    ++m_.comInitializeCalls;
    // S_FALSE when the thread's apartment was already initialised; each call needs its
    // CoUninitialize all the same.
    return m_.comInitialized++ > 0 ? S_FALSE : S_OK;
  }
  void CoUninitialize() override { --m_.comInitialized; }
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    LONG error;
    if (m_.Injected("OpenProcessToken", {}, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return FALSE;
    }
    *token = reinterpret_cast<HANDLE>(kTokenHandle);
    return TRUE;
  }
  BOOL LookupPrivilegeValueW(const char16_t*, const char16_t* name, Luid* luid) override {
    std::u16string upper = Upper(Text(name));
    for (size_t i = 0; i < std::size(kPrivileges); ++i) {
      if (Upper(kPrivileges[i].first) != upper) continue;
      *luid = Luid{kPrivileges[i].second, 0};
      return TRUE;
    }
    m_.lastError = ERROR_NO_SUCH_PRIVILEGE;
    return FALSE;
  }
  BOOL AdjustTokenPrivileges(HANDLE token, const Luid& privilege, DWORD attributes) override {
    if (reinterpret_cast<std::uintptr_t>(token) != kTokenHandle) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    for (const auto& [name, value] : kPrivileges) {
      if (value != privilege.lowPart) continue;
      if (attributes & SE_PRIVILEGE_ENABLED) m_.enabledPrivileges.insert(Upper(name));
      else m_.enabledPrivileges.erase(Upper(name));
      m_.lastError = ERROR_SUCCESS;
      return TRUE;
    }
    m_.lastError = ERROR_NOT_ALL_ASSIGNED;
    return TRUE;
  }
  BOOL CreateProcessW(const char16_t* commandLine, DWORD flags, ProcessInfo* info) override {
    std::u16string line = Text(commandLine);
    LONG error;
    if (m_.Injected("CreateProcessW", line, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return FALSE;
    }
    // The program is the quoted text at the start, or else the first word.
    std::u16string program;
    if (!line.empty() && line[0] == u'"') {
      size_t end = line.find(u'"', 1);
      program = line.substr(1, end == std::u16string::npos ? end : end - 1);
    } else {
      program = line.substr(0, line.find(u' '));
    }
    std::u16string found = FindProgram(program);
    if (found.empty()) {
      m_.lastError = ERROR_FILE_NOT_FOUND;
      return FALSE;
    }
    const size_t index = m_.processes.size();
    StartedProcess started;
    started.commandLine = line;
    started.flags = flags;
    started.redirectionOff = !m_.redirection;
    started.program = found;
    started.currentDirectory = m_.CurrentDirectory();
    started.processId = 1000 + static_cast<DWORD>(index + 1);
    m_.processes.push_back(started);
    auto handle = [&](bool thread) {
      std::uintptr_t value = m_.nextProcessHandle += 4;
      m_.processHandles[value] = Machine::Impl::ProcessHandle{index, thread};
      return reinterpret_cast<HANDLE>(value);
    };
    HANDLE process = handle(false);
    *info = ProcessInfo{process, handle(true), started.processId, 1};
    return TRUE;
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD) override {
    // A program runs until it is waited for; then it has ended.
    auto it = m_.processHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != m_.processHandles.end() && !it->second.thread)
      m_.processes[it->second.process].waitedFor = true;
    return WAIT_OBJECT_0;
  }
  DWORD ResumeThread(HANDLE thread) override {
    auto it = m_.processHandles.find(reinterpret_cast<std::uintptr_t>(thread));
    if (it == m_.processHandles.end() || !it->second.thread) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return static_cast<DWORD>(-1);
    }
    StartedProcess& process = m_.processes[it->second.process];
    DWORD previous = (process.flags & CREATE_SUSPENDED) && !process.resumed ? 1 : 0;
    process.resumed = true;
    return previous;
  }
  BOOL GetExitCodeProcess(HANDLE handle, DWORD* exitCode) override {
    auto it = m_.processHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_.processHandles.end() || it->second.thread) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    const StartedProcess& process = m_.processes[it->second.process];
    auto code = m_.programExitCodes.find(Upper(process.program));
    *exitCode = !process.waitedFor                  ? STILL_ACTIVE
                : code == m_.programExitCodes.end() ? 0
                                                    : code->second;
    return TRUE;
  }
  BOOL AllowSetForegroundWindow(DWORD processId) override {
    for (StartedProcess& process : m_.processes) {
      if (process.processId != processId) continue;
      process.foregroundAllowed = true;
      return TRUE;
    }
    m_.lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  DWORD GetCurrentDirectoryW(DWORD chars, char16_t* buffer) override {
    // The length without the terminator when it fits; otherwise the size it needs.
    const std::u16string folder = m_.CurrentDirectory();
    if (folder.size() + 1 > chars) return static_cast<DWORD>(folder.size() + 1);
    std::copy(folder.begin(), folder.end(), buffer);
    buffer[folder.size()] = 0;
    return static_cast<DWORD>(folder.size());
  }
  BOOL SetCurrentDirectoryW(const char16_t* path) override {
    std::u16string folder = Text(path);
    LONG error = ERROR_PATH_NOT_FOUND;
    if (m_.Injected("SetCurrentDirectoryW", folder, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return FALSE;
    }
    if (folder.size() < 2 || folder[1] != u':') folder = m_.CurrentDirectory() + u"\\" + folder;
    FsNode* node = folder.empty() ? nullptr : m_.FindFile(m_.Redirect(folder), &error);
    if (node == nullptr || !node->folder) {
      m_.lastError = static_cast<DWORD>(node ? ERROR_DIRECTORY : error);
      return FALSE;
    }
    while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    m_.currentDirectory = folder;
    return TRUE;
  }
  DWORD GetCurrentProcessId() override { return m_.processId; }
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override {
    LONG error;
    if (m_.Injected("ProcessIdToSessionId", {}, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return FALSE;
    }
    if (processId != m_.processId) {
      m_.lastError = ERROR_INVALID_PARAMETER;
      return FALSE;
    }
    *sessionId = m_.sessionId;
    return TRUE;
  }
  HRESULT OleInitialize() override { return ++m_.oleInitialized > 1 ? S_FALSE : S_OK; }
  void OleUninitialize() override { --m_.oleInitialized; }
  DWORD SetEntriesInAclW(DWORD count, const ExplicitAccess* entries, void** acl) override {
    std::vector<AccessEntry> list;
    for (DWORD i = 0; i < count; ++i) {
      const auto* sid = static_cast<const BYTE*>(entries[i].sid);
      size_t length = 8 + 4 * static_cast<size_t>(sid[1]);  // revision, count, authority, subs
      list.push_back(AccessEntry{std::vector<BYTE>(sid, sid + length), entries[i].permissions});
    }
    std::uintptr_t handle = m_.nextAcl += 0x10;
    m_.acls[handle] = std::move(list);
    *acl = reinterpret_cast<void*>(handle);
    return ERROR_SUCCESS;
  }
  DWORD SetNamedSecurityInfoW(const char16_t* name, int, DWORD information, const void*,
                              const void*, const void* dacl, const void*) override {
    LONG error;
    if (m_.Injected("SetNamedSecurityInfoW", Text(name), &error)) return static_cast<DWORD>(error);
    FsNode* node = m_.FindFile(m_.Redirect(Text(name)));
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    auto acl = m_.acls.find(reinterpret_cast<std::uintptr_t>(dacl));
    if (acl == m_.acls.end()) return ERROR_INVALID_PARAMETER;
    node->accessList = acl->second;
    node->accessListProtected = (information & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
    return ERROR_SUCCESS;
  }
  void LocalFree(void* memory) override { m_.acls.erase(reinterpret_cast<std::uintptr_t>(memory)); }
  BOOL CreateWellKnownSid(int type, void* sid, DWORD* size) override {
    if (!m_.os().lateExports.count("advapi32.dll!createwellknownsid")) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return FALSE;
    }
    std::vector<BYTE> bytes;
    switch (type) {
      case WinBuiltinAdministratorsSid: bytes = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}; break;
      case WinLocalServiceSid: bytes = {1, 1, 0, 0, 0, 0, 0, 5, 19, 0, 0, 0}; break;
      case WinNetworkServiceSid: bytes = {1, 1, 0, 0, 0, 0, 0, 5, 20, 0, 0, 0}; break;
      case WinSelfSid: bytes = {1, 1, 0, 0, 0, 0, 0, 5, 10, 0, 0, 0}; break;
      case WinLocalSystemSid: bytes = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}; break;
      default: m_.lastError = ERROR_INVALID_PARAMETER; return FALSE;
    }
    if (*size < bytes.size()) {
      *size = static_cast<DWORD>(bytes.size());
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    std::memcpy(sid, bytes.data(), bytes.size());
    *size = static_cast<DWORD>(bytes.size());
    return TRUE;
  }
  BOOL InitializeSecurityDescriptor(void* descriptor, DWORD revision) override {
    if (revision != SECURITY_DESCRIPTOR_REVISION) return FALSE;
    m_.descriptors[descriptor] = Machine::Impl::Descriptor{};
    return TRUE;
  }
  BOOL SetSecurityDescriptorOwner(void* descriptor, const void* owner, BOOL) override {
    auto it = m_.descriptors.find(descriptor);
    if (it == m_.descriptors.end()) return FALSE;
    it->second.owner = SidBytes(owner);
    return TRUE;
  }
  BOOL SetSecurityDescriptorGroup(void* descriptor, const void* group, BOOL) override {
    auto it = m_.descriptors.find(descriptor);
    if (it == m_.descriptors.end()) return FALSE;
    it->second.group = SidBytes(group);
    return TRUE;
  }
  BOOL SetSecurityDescriptorDacl(void* descriptor, BOOL, const void* acl, BOOL) override {
    auto it = m_.descriptors.find(descriptor);
    if (it == m_.descriptors.end() || !m_.acls.count(reinterpret_cast<std::uintptr_t>(acl)))
      return FALSE;
    it->second.dacl = reinterpret_cast<std::uintptr_t>(acl);
    return TRUE;
  }
  HRESULT CoInitializeSecurity(const void* descriptor, DWORD authenticationLevel,
                               DWORD impersonationLevel, DWORD capabilities) override {
    if (m_.comSecurity) return RPC_E_TOO_LATE;
    auto it = m_.descriptors.find(descriptor);
    if (it == m_.descriptors.end()) return static_cast<HRESULT>(0x80070057);  // E_INVALIDARG
    ComSecurity security{it->second.owner, it->second.group, {}, authenticationLevel,
                         impersonationLevel, capabilities};
    auto acl = m_.acls.find(it->second.dacl);
    if (acl != m_.acls.end()) security.dacl = acl->second;
    m_.comSecurity = security;
    return 0;
  }
  BOOL GetUserNameW(char16_t* buffer, DWORD* chars) override {
    const std::u16string& name = m_.os().userName;
    if (name.size() + 1 > *chars) {
      *chars = static_cast<DWORD>(name.size() + 1);
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    *chars = static_cast<DWORD>(name.size() + 1);
    return TRUE;
  }
  BOOL GetTokenInformation(HANDLE token, int infoClass, void* buffer, DWORD size,
                           DWORD* returned) override {
    // TOKEN_USER: the SID pointer, its attributes, then the SID (here: a marker).
    const DWORD needed = sizeof(void*) + sizeof(DWORD) + 4;
    if (reinterpret_cast<std::uintptr_t>(token) != kTokenHandle || infoClass != TokenUser) {
      m_.lastError = ERROR_INVALID_PARAMETER;
      return FALSE;
    }
    if (returned) *returned = needed;
    if (size < needed) {
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    auto* bytes = static_cast<BYTE*>(buffer);
    BYTE* sid = bytes + sizeof(void*) + sizeof(DWORD);
    std::memcpy(sid, "SID1", 4);
    std::memcpy(bytes, &sid, sizeof(void*));
    return TRUE;
  }
  BOOL LookupAccountSidW(const char16_t*, const void* sid, char16_t* name, DWORD* nameChars,
                         char16_t* domain, DWORD* domainChars) override {
    const std::u16string& account = m_.os().accountName;
    const std::u16string& where = m_.os().accountDomain;
    if (sid == nullptr || std::memcmp(sid, "SID1", 4) != 0 || account.empty()) {
      m_.lastError = 1332;  // ERROR_NONE_MAPPED
      return FALSE;
    }
    if (account.size() + 1 > *nameChars || where.size() + 1 > *domainChars) {
      *nameChars = static_cast<DWORD>(account.size() + 1);
      *domainChars = static_cast<DWORD>(where.size() + 1);
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    std::copy(account.begin(), account.end(), name);
    name[account.size()] = 0;
    std::copy(where.begin(), where.end(), domain);
    domain[where.size()] = 0;
    *nameChars = static_cast<DWORD>(account.size());
    *domainChars = static_cast<DWORD>(where.size());
    return TRUE;
  }
  void GlobalMemoryStatus(MemoryStatus* status) override { *status = m_.os().memory; }
  BOOL ExitWindowsEx(UINT flags, DWORD reason) override {
    ShutdownCall call = Shutdown("ExitWindowsEx", nullptr, 0, FALSE, TRUE, reason);
    call.flags = flags;
    m_.shutdowns.push_back(call);
    return Refused("ExitWindowsEx") ? FALSE : TRUE;
  }
  BOOL InitiateSystemShutdownW(const char16_t*, const char16_t* message, DWORD timeout,
                               BOOL forceClose, BOOL reboot) override {
    m_.shutdowns.push_back(
        Shutdown("InitiateSystemShutdownW", message, timeout, forceClose, reboot, 0));
    return Refused("InitiateSystemShutdownW") ? FALSE : TRUE;
  }
  BOOL InitiateSystemShutdownExW(const char16_t*, const char16_t* message, DWORD timeout,
                                 BOOL forceClose, BOOL reboot, DWORD reason) override {
    if (!m_.os().lateExports.count("advapi32.dll!initiatesystemshutdownexw")) {
      m_.lastError = ERROR_PROC_NOT_FOUND;
      return FALSE;
    }
    m_.shutdowns.push_back(
        Shutdown("InitiateSystemShutdownExW", message, timeout, forceClose, reboot, reason));
    return Refused("InitiateSystemShutdownExW") ? FALSE : TRUE;
  }

 private:
  static constexpr std::uintptr_t kLibraryBase = 0x10000000;

  // The places a name without a folder is looked for: this program's folder, the system folder,
  // the Windows folder and the current directory for a DLL (the safe search order); this
  // program's folder, the current directory, the system and the Windows folder for a program.
  std::vector<std::u16string> SearchPath(const std::u16string& name, bool program) const {
    if ((name.size() >= 2 && name[1] == u':') || name.rfind(u"\\\\", 0) == 0) return {name};
    const std::u16string own = m_.programPath.substr(0, m_.programPath.find_last_of(u'\\'));
    const std::u16string system = m_.os().windowsFolder + u"\\system32";
    const std::u16string current = m_.CurrentDirectory();
    std::vector<std::u16string> folders =
        program ? std::vector<std::u16string>{own, current, system, m_.os().windowsFolder}
                : std::vector<std::u16string>{own, system, m_.os().windowsFolder, current};
    std::vector<std::u16string> paths;
    for (const std::u16string& folder : folders)
      paths.push_back(folder.back() == u'\\' ? folder + name : folder + u"\\" + name);
    return paths;
  }

  // The file a command line's program names (".exe" added when it has no extension), or empty.
  std::u16string FindProgram(const std::u16string& name) const {
    if (name.empty()) return {};
    const size_t slash = name.find_last_of(u'\\');
    const bool extension = name.find(u'.', slash == std::u16string::npos ? 0 : slash) !=
                           std::u16string::npos;
    for (std::u16string path : SearchPath(name, true)) {
      if (!extension) path += u".exe";
      FsNode* node = m_.FindFile(m_.Redirect(path));
      if (node != nullptr && !node->folder) return path;
    }
    return {};
  }

  HMODULE Load(const char* call, const char16_t* path, DWORD flags) {
    std::u16string name = Text(path);
    std::u16string upper = Upper(name);
    LONG error;
    if (m_.Injected(call, upper, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return nullptr;
    }
    if (HMODULE system = SystemModule(upper)) {
      if (std::pair<int, int>* demand = m_.DemandModule(upper)) {
        ++demand->first;
        ++demand->second;
      }
      return system;
    }
    for (const std::u16string& candidate : SearchPath(name, false)) {
      for (size_t i = 0; i < m_.libraries.size(); ++i) {
        Machine::Impl::Library& library = m_.libraries[i];
        if (Upper(library.path) != Upper(candidate) || m_.FindFile(library.path) == nullptr)
          continue;
        library.loadFlags.push_back(flags);
        if (library.x64) {
          m_.lastError = ERROR_BAD_EXE_FORMAT;  // a 64-bit image in a 32-bit process
          return nullptr;
        }
        ++library.loadCount;
        ++library.loads;
        return reinterpret_cast<HMODULE>(kLibraryBase + i * 0x10000);
      }
    }
    m_.lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }

  // The system libraries are always there, whatever path names them.
  HMODULE SystemModule(std::u16string upper) {
    size_t slash = upper.find_last_of(u"\\/");
    if (slash != std::u16string::npos) upper = upper.substr(slash + 1);
    if (upper.size() < 4 || upper.substr(upper.size() - 4) != u".DLL") upper += u".DLL";
    for (size_t i = 0; i < std::size(kSystemModules); ++i)
      if (upper == kSystemModules[i]) return reinterpret_cast<HMODULE>(0x7C000000 + i * 0x100000);
    return nullptr;
  }
  std::pair<int, int>* DemandModuleOf(HMODULE module) {
    auto base = reinterpret_cast<std::uintptr_t>(module);
    return m_.DemandModule(kSystemModules[(base - 0x7C000000) / 0x100000]);
  }
  static bool IsSystemModule(HMODULE module) {
    auto base = reinterpret_cast<std::uintptr_t>(module);
    return base >= 0x7C000000 && (base - 0x7C000000) / 0x100000 < std::size(kSystemModules);
  }
  static constexpr std::pair<std::u16string_view, DWORD> kPrivileges[] = {
      {u"SeBackupPrivilege", 17},
      {u"SeRestorePrivilege", 18},
      {u"SeShutdownPrivilege", 19},
      {u"SeDebugPrivilege", 20}};

  static std::vector<BYTE> SidBytes(const void* sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    return bytes ? std::vector<BYTE>(bytes, bytes + 8 + 4 * static_cast<size_t>(bytes[1]))
                 : std::vector<BYTE>();
  }

  Machine::Impl::Library* LibraryOf(HMODULE module) {
    auto value = reinterpret_cast<std::uintptr_t>(module);
    if (value < kLibraryBase || (value - kLibraryBase) % 0x10000) return nullptr;
    size_t index = (value - kLibraryBase) / 0x10000;
    return index < m_.libraries.size() ? &m_.libraries[index] : nullptr;
  }
  ShutdownCall Shutdown(const char* call, const char16_t* message, DWORD timeout,
                        BOOL forceClose, BOOL reboot, DWORD reason) {
    return ShutdownCall{call, Text(message), timeout, forceClose, reboot, reason, 0,
                        m_.enabledPrivileges.count(u"SESHUTDOWNPRIVILEGE") > 0};
  }
  // An injected failure refuses the request (e.g. ERROR_SHUTDOWN_IN_PROGRESS).
  bool Refused(const char* call) {
    LONG error;
    if (!m_.Injected(call, {}, &error)) return false;
    m_.lastError = static_cast<DWORD>(error);
    return true;
  }

  static constexpr std::u16string_view kSystemModules[] = {
      u"KERNEL32.DLL", u"ADVAPI32.DLL", u"USER32.DLL", u"SHELL32.DLL", u"SETUPAPI.DLL",
      u"OLE32.DLL",    u"RPCRT4.DLL",   u"NTDLL.DLL"};
  Machine::Impl& m_;
  UINT errorMode_ = 0;
};

class SimWindows final : public Windows {
 public:
  explicit SimWindows(Machine::Impl& m) : m_(m) {}
  int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) override {
    // An unscripted box is answered 0, as a MessageBoxW that could not be shown.
    int answer = 0;
    if (!m_.answers.empty()) {
      answer = m_.answers.front();
      m_.answers.pop_front();
    }
    m_.messageBoxes.push_back(MessageBoxCall{owner, Text(text), Text(caption), type, answer});
    return answer;
  }
  INT_PTR DialogBoxParamW(HMODULE, const char16_t* templateName, HWND, DialogProc procedure,
                          LPARAM parameter) override {
    // Template 102, the program's one dialog, with its controls.
    if (!IsIntResource(templateName) || reinterpret_cast<std::uintptr_t>(templateName) != 102) {
      m_.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
      return -1;
    }
    HWND dialog = m_.machine.AddDialog();
    for (int id : {1005, 1004, 1008, 1000, 1003, 8, 1006, 1007}) m_.machine.AddControl(dialog, id);
    m_.dialogs[reinterpret_cast<std::uintptr_t>(dialog)] = Machine::Impl::Dialog{procedure};
    m_.lastDialog = dialog;
    Machine::Impl::Dialog& state = m_.dialogs[reinterpret_cast<std::uintptr_t>(dialog)];
    procedure(dialog, WM_INITDIALOG, 0, parameter);
    std::vector<DialogAction> script = std::move(m_.dialogScript);
    m_.dialogScript.clear();
    for (const DialogAction& action : script) {
      if (state.ended) break;
      HWND control = GetDlgItem(dialog, action.id);
      Machine::Impl::Control* target = control ? ControlOf(control) : nullptr;
      switch (action.kind) {
        case DialogAction::Select:
          if (target == nullptr || !target->enabled) break;
          SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(action.index), 0);
          procedure(dialog, WM_COMMAND, (CBN_SELCHANGE << 16) | static_cast<WPARAM>(action.id),
                    reinterpret_cast<LPARAM>(control));
          break;
        case DialogAction::Type:
          if (target != nullptr && target->enabled) target->text = action.text;
          break;
        case DialogAction::Press:
          if (target == nullptr || !target->enabled) break;
          procedure(dialog, WM_COMMAND, (BN_CLICKED << 16) | static_cast<WPARAM>(action.id),
                    reinterpret_cast<LPARAM>(control));
          break;
        case DialogAction::Close: procedure(dialog, WM_CLOSE, 0, 0); break;
      }
    }
    if (!state.ended) procedure(dialog, WM_CLOSE, 0, 0);  // the user closes the window
    return state.ended ? state.result : -1;
  }
  BOOL EndDialog(HWND dialog, INT_PTR result) override {
    auto it = m_.dialogs.find(reinterpret_cast<std::uintptr_t>(dialog));
    if (it == m_.dialogs.end()) return FALSE;
    it->second.ended = true;
    it->second.result = result;
    return TRUE;
  }
  BOOL EnableWindow(HWND window, BOOL enable) override {
    Machine::Impl::Control* control = ControlOf(window);
    if (control == nullptr) return FALSE;
    bool wasDisabled = !control->enabled;
    control->enabled = enable != FALSE;
    return wasDisabled ? TRUE : FALSE;
  }
  HICON LoadIconW(HMODULE, const char16_t* name) override {
    return reinterpret_cast<HICON>(0x30000 + reinterpret_cast<std::uintptr_t>(name));
  }
  HCURSOR LoadCursorW(HMODULE, const char16_t* name) override {
    return reinterpret_cast<HCURSOR>(0x40000 + reinterpret_cast<std::uintptr_t>(name));
  }
  HCURSOR SetCursor(HCURSOR cursor) override {
    HCURSOR previous = current_;
    current_ = cursor;
    m_.cursors.push_back(static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cursor) - 0x40000));
    return previous;
  }
  void* SHBrowseForFolderW(HWND owner, const char16_t* title, UINT, BrowseCallback callback,
                           LPARAM data, char16_t* displayName) override {
    m_.pickers.push_back(FolderPickerCall{owner, Text(title), {}, {}, false});
    HWND picker = m_.machine.AddDialog();
    m_.machine.AddControl(picker, 0);  // the picker window itself, for its caption
    HWND self = GetDlgItem(picker, 0);
    if (callback) callback(self, BFFM_INITIALIZED, 0, data);
    m_.pickers.back().caption = ControlOf(self)->text;
    std::optional<std::u16string> answer;
    if (!m_.pickerAnswers.empty()) {
      answer = m_.pickerAnswers.front();
      m_.pickerAnswers.pop_front();
    }
    if (!answer) return nullptr;
    std::uintptr_t item = m_.nextItemList += 0x10;
    m_.itemLists[item] = *answer;
    if (callback) callback(self, BFFM_SELCHANGED, static_cast<LPARAM>(item), data);
    std::u16string name = answer->substr(answer->find_last_of(u'\\') + 1).substr(0, 259);
    std::copy(name.begin(), name.end(), displayName);
    displayName[name.size()] = 0;
    return reinterpret_cast<void*>(item);
  }
  BOOL SHGetPathFromIDListW(const void* item, char16_t* path) override {
    auto it = m_.itemLists.find(reinterpret_cast<std::uintptr_t>(item));
    if (it == m_.itemLists.end() || it->second.size() >= 260) return FALSE;
    std::copy(it->second.begin(), it->second.end(), path);
    path[it->second.size()] = 0;
    return TRUE;
  }
  void CoTaskMemFree(void* memory) override {
    if (m_.FreeCoTaskMemory(memory)) return;
    m_.itemLists.erase(reinterpret_cast<std::uintptr_t>(memory));
  }
  HWND FindWindowW(const char16_t* className, const char16_t* windowName) override {
    for (const Machine::Impl::TopWindow& window : m_.topWindows)
      if ((className == nullptr || Upper(window.className) == Upper(className)) &&
          (windowName == nullptr || window.title == windowName))
        return window.handle;
    m_.lastError = ERROR_SUCCESS;  // Windows reports no error for a window that is not there
    return nullptr;
  }
  BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    for (const Machine::Impl::TopWindow& top : m_.topWindows)
      if (top.handle == window) {
        m_.posted.push_back({window, message, wParam, lParam});
        return TRUE;
      }
    m_.lastError = 1400;  // ERROR_INVALID_WINDOW_HANDLE
    return FALSE;
  }
  HWND GetDlgItem(HWND dialog, int id) override {
    for (const auto& [handle, control] : m_.controls)
      if (control.dialog == dialog && control.id == id) return reinterpret_cast<HWND>(handle);
    m_.lastError = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
    return nullptr;
  }
  int GetWindowTextW(HWND window, char16_t* buffer, int chars) override {
    Machine::Impl::Control* control = ControlOf(window);
    if (control == nullptr || chars <= 0) return 0;
    size_t count = std::min(control->text.size(), static_cast<size_t>(chars - 1));
    std::copy_n(control->text.begin(), count, buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
  }
  BOOL SetWindowTextW(HWND window, const char16_t* text) override {
    Machine::Impl::Control* control = ControlOf(window);
    if (control == nullptr) return FALSE;
    control->text = Text(text);
    return TRUE;
  }
  LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    auto dialog = m_.dialogs.find(reinterpret_cast<std::uintptr_t>(window));
    if (dialog != m_.dialogs.end()) {
      if (message == WM_SETICON) {
        m_.icons[dialog->first].emplace_back(wParam, lParam);
        return 0;
      }
      return dialog->second.procedure(window, message, wParam, lParam);
    }
    Machine::Impl::Control* control = ControlOf(window);
    if (control == nullptr) return 0;
    auto& items = control->items;
    auto index = static_cast<size_t>(wParam);
    switch (message) {
      case CB_ADDSTRING:
        items.push_back(Text(reinterpret_cast<const char16_t*>(lParam)));
        return static_cast<LRESULT>(items.size() - 1);
      case CB_GETCOUNT: return static_cast<LRESULT>(items.size());
      case CB_GETCURSEL: return control->selection;
      case CB_RESETCONTENT:
        items.clear();
        control->selection = -1;
        return 0;
      case CB_SETCURSEL:
        if (index >= items.size()) {
          control->selection = -1;
          control->text.clear();
          return CB_ERR;
        }
        control->selection = static_cast<int>(index);
        control->text = items[index];  // a drop-down list's text is its selected entry
        return control->selection;
      case BFFM_SETSELECTIONW:
        if (!m_.pickers.empty())
          m_.pickers.back().selection = Text(reinterpret_cast<const char16_t*>(lParam));
        return 0;
      case BFFM_ENABLEOK:
        if (!m_.pickers.empty()) m_.pickers.back().okEnabled = lParam != 0;
        return 0;
      case CB_GETLBTEXTLEN:
        return index < items.size() ? static_cast<LRESULT>(items[index].size()) : CB_ERR;
      case CB_GETLBTEXT: {
        if (index >= items.size()) return CB_ERR;
        auto* out = reinterpret_cast<char16_t*>(lParam);
        std::copy(items[index].begin(), items[index].end(), out);
        out[items[index].size()] = 0;
        return static_cast<LRESULT>(items[index].size());
      }
      default: return 0;
    }
  }

 private:
  HCURSOR current_ = nullptr;

  Machine::Impl::Control* ControlOf(HWND window) {
    auto it = m_.controls.find(reinterpret_cast<std::uintptr_t>(window));
    if (it == m_.controls.end()) {
      m_.lastError = ERROR_INVALID_HANDLE;  // ERROR_INVALID_WINDOW_HANDLE on Windows
      return nullptr;
    }
    return &it->second;
  }

 public:

 private:
  Machine::Impl& m_;
};

class SimResources final : public Resources {
 public:
  explicit SimResources(Machine::Impl& m) : m_(m) {}
  HRSRC FindResourceExW(HMODULE module, const char16_t* type, const char16_t* name,
                        LANGID language) override {
    if (!IsIntResource(type) || !IsIntResource(name)) {
      m_.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
      return nullptr;
    }
    auto typeId = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(type));
    auto nameId = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(name));
    bool nameFound = false;
    for (size_t i = 0; i < m_.resources.size(); ++i) {
      const auto& r = m_.resources[i];
      if (r.module != module || r.type != typeId || r.name != nameId) continue;
      nameFound = true;
      if (r.language == language) return reinterpret_cast<HRSRC>(i + 1);
    }
    m_.lastError = nameFound ? ERROR_RESOURCE_LANG_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
  }
  HGLOBAL LoadResource(HMODULE, HRSRC resource) override {
    auto index = reinterpret_cast<std::uintptr_t>(resource);
    if (index == 0 || index > m_.resources.size()) return nullptr;
    return m_.resources[index - 1].data.data();
  }
  const void* LockResource(HGLOBAL data) override { return data; }
  DWORD SizeofResource(HMODULE, HRSRC resource) override {
    auto index = reinterpret_cast<std::uintptr_t>(resource);
    if (index == 0 || index > m_.resources.size()) return 0;
    return static_cast<DWORD>(m_.resources[index - 1].data.size());
  }

 private:
  Machine::Impl& m_;
};

}  // namespace

std::unique_ptr<System> MakeSystem(Machine::Impl& impl) {
  return std::make_unique<SimSystem>(impl);
}
std::unique_ptr<Windows> MakeWindows(Machine::Impl& impl) {
  return std::make_unique<SimWindows>(impl);
}
std::unique_ptr<Resources> MakeResources(Machine::Impl& impl) {
  return std::make_unique<SimResources>(impl);
}

}  // namespace zp::sim
