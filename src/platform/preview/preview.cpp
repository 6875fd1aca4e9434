#include "platform/preview/preview.h"

#include <array>
#include <csetjmp>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

#include "platform/constants.h"

namespace zp {

using Kind = PreviewChange::Kind;

// What the wrappers share: the backend they wrap, the record, and the stand-in handles they hand
// out for what a change would have created (addresses of `slots`, which no backend hands out).
struct PreviewPlatform::State {
  explicit State(const Platform& wrapped) : real(wrapped) {}
  Platform real;
  std::vector<PreviewChange> changes;
  std::array<char, 256> slots{};
  size_t nextSlot = 0;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<FileSystem> files;
  std::unique_ptr<System> system;
  std::unique_ptr<Windows> windows;
  std::unique_ptr<Services> services;
  std::unique_ptr<ComObjects> com;

  void Record(Kind kind, std::u16string target, std::u16string detail = {}) {
    changes.push_back({kind, std::move(target), std::move(detail)});
  }
  template <typename Handle>
  Handle NewStandIn() {
    // Running out would take hundreds of created keys, stand-in libraries and processes in one
    // run; the last slot is then shared, which only merges their names.
    void* slot = &slots[nextSlot < slots.size() - 1 ? nextSlot++ : nextSlot];
    return reinterpret_cast<Handle>(slot);
  }
  // GetFileAttributesW leaves the not-found error (2 or 3) a change of the path would report.
  bool Exists(const char16_t* path) {
    return real.files->GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
  }
  BOOL RecordIfPresent(Kind kind, const char16_t* path, std::u16string detail = {}) {
    if (!Exists(path)) return FALSE;
    Record(kind, Text(path), std::move(detail));
    return TRUE;
  }
  static std::u16string Text(const char16_t* text) { return text ? text : u""; }
  static std::u16string Hex(DWORD value) {
    std::u16string text = u"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += u"0123456789ABCDEF"[(value >> shift) & 0xF];
    return text;
  }
};

namespace {

using State = PreviewPlatform::State;

// ---- registry
class PreviewRegistry final : public Registry {
 public:
  explicit PreviewRegistry(State& state) : s_(state), real_(*state.real.registry) {}

  LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, REGSAM sam,
                     HKEY* result) override {
    if (created_.count(root)) return ERROR_FILE_NOT_FOUND;
    LONG opened = real_.RegOpenKeyExW(root, subKey, options, sam, result);
    if (opened == ERROR_SUCCESS) names_[*result] = PathOf(root, subKey);
    return opened;
  }
  LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, const char16_t*, DWORD options,
                       REGSAM sam, HKEY* result, DWORD* disposition) override {
    LONG opened = RegOpenKeyExW(root, subKey, options & REG_OPTION_OPEN_LINK, sam, result);
    if (disposition) *disposition = opened == ERROR_SUCCESS ? REG_OPENED_EXISTING_KEY
                                                            : REG_CREATED_NEW_KEY;
    if (opened == ERROR_SUCCESS) return opened;
    s_.Record(Kind::CreateKey, PathOf(root, subKey), ViewOf(sam));
    *result = s_.NewStandIn<HKEY>();
    created_.insert(*result);
    names_[*result] = PathOf(root, subKey);
    return ERROR_SUCCESS;
  }
  LONG RegCloseKey(HKEY key) override {
    names_.erase(key);
    return created_.erase(key) ? ERROR_SUCCESS : real_.RegCloseKey(key);
  }
  LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                        DWORD* size) override {
    if (created_.count(key)) return ERROR_FILE_NOT_FOUND;
    return real_.RegQueryValueExW(key, name, type, data, size);
  }
  LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD, const BYTE*, DWORD) override {
    s_.Record(Kind::SetValue, PathOf(key, nullptr), State::Text(name));
    return ERROR_SUCCESS;
  }
  LONG RegDeleteKeyW(HKEY root, const char16_t* subKey) override {
    return DeleteKey(root, subKey, 0);
  }
  LONG RegDeleteKeyExW(HKEY root, const char16_t* subKey, REGSAM view) override {
    return DeleteKey(root, subKey, view);
  }
  LONG RegDeleteValueW(HKEY key, const char16_t* name) override {
    LONG found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr);
    if (found == ERROR_SUCCESS) s_.Record(Kind::DeleteValue, PathOf(key, nullptr), State::Text(name));
    return found;
  }
  LONG RegEnumKeyW(HKEY key, DWORD index, char16_t* name, DWORD nameChars) override {
    if (created_.count(key)) return ERROR_NO_MORE_ITEMS;
    return real_.RegEnumKeyW(key, index, name, nameChars);
  }
  LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars, DWORD* type,
                     BYTE* data, DWORD* size) override {
    if (created_.count(key)) return ERROR_NO_MORE_ITEMS;
    return real_.RegEnumValueW(key, index, name, nameChars, type, data, size);
  }
  NTSTATUS NtDeleteKey(HKEY key) override {
    s_.Record(Kind::DeleteKey, PathOf(key, nullptr));
    return STATUS_SUCCESS;
  }
  DWORD RtlNtStatusToDosError(NTSTATUS status) override {
    return real_.RtlNtStatusToDosError(status);
  }
  LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyChars) override {
    if (!created_.count(key)) return real_.RegQueryInfoKeyW(key, subKeys, maxSubKeyChars);
    if (subKeys) *subKeys = 0;
    if (maxSubKeyChars) *maxSubKeyChars = 0;
    return ERROR_SUCCESS;
  }
  LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars) override {
    if (created_.count(key)) return ERROR_NO_MORE_ITEMS;
    return real_.RegEnumKeyExW(key, index, name, nameChars);
  }
  LONG RegLoadKeyW(HKEY root, const char16_t* subKey, const char16_t* file) override {
    return real_.RegLoadKeyW(root, subKey, file);
  }
  LONG RegUnLoadKeyW(HKEY root, const char16_t* subKey) override {
    return real_.RegUnLoadKeyW(root, subKey);
  }
  LONG RegSaveKeyW(HKEY key, const char16_t* file) override {
    s_.Record(Kind::SaveKey, PathOf(key, nullptr), State::Text(file));
    return ERROR_SUCCESS;
  }

 private:
  // "HKLM\Software\Ostrel": the root's short name, or the path the handle was opened with.
  std::u16string PathOf(HKEY key, const char16_t* subKey) const {
    std::u16string path;
    if (key == HKEY_LOCAL_MACHINE) path = u"HKLM";
    else if (key == HKEY_CURRENT_USER) path = u"HKCU";
    else if (key == HKEY_CLASSES_ROOT) path = u"HKCR";
    else if (key == HKEY_USERS) path = u"HKU";
    else if (auto known = names_.find(key); known != names_.end()) path = known->second;
    if (subKey && *subKey) path.append(u"\\").append(subKey);
    return path;
  }
  static std::u16string ViewOf(REGSAM sam) {
    if (sam & KEY_WOW64_64KEY) return u"64-bit view";
    if (sam & KEY_WOW64_32KEY) return u"32-bit view";
    return {};
  }
  LONG DeleteKey(HKEY root, const char16_t* subKey, REGSAM view) {
    HKEY probe = nullptr;
    LONG found = RegOpenKeyExW(root, subKey, REG_OPTION_OPEN_LINK, KEY_READ | view, &probe);
    if (found != ERROR_SUCCESS) return found;
    RegCloseKey(probe);
    s_.Record(Kind::DeleteKey, PathOf(root, subKey), ViewOf(view));
    return ERROR_SUCCESS;
  }

  State& s_;
  Registry& real_;
  std::map<HKEY, std::u16string> names_;
  std::set<HKEY> created_;  // stand-ins for keys a create would have made: empty, reads fail
};

// ---- files
class PreviewFiles final : public FileSystem {
 public:
  explicit PreviewFiles(State& state) : s_(state), real_(*state.real.files) {}

  DWORD GetFileAttributesW(const char16_t* path) override { return real_.GetFileAttributesW(path); }
  BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) override {
    return s_.RecordIfPresent(Kind::SetAttributes, path, State::Hex(attributes));
  }
  BOOL DeleteFileW(const char16_t* path) override {
    return s_.RecordIfPresent(Kind::DeleteFile, path);
  }
  BOOL CreateDirectoryW(const char16_t* path) override {
    s_.Record(Kind::CreateFolder, State::Text(path));
    return TRUE;
  }
  BOOL RemoveDirectoryW(const char16_t* path) override {
    return s_.RecordIfPresent(Kind::RemoveFolder, path);
  }
  BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) override {
    const bool atRestart = (flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    const Kind kind = !atRestart ? Kind::MoveFile : to ? Kind::MoveAtRestart : Kind::DeleteAtRestart;
    return s_.RecordIfPresent(kind, from, State::Text(to));
  }
  BOOL CopyFileW(const char16_t* from, const char16_t* to, BOOL) override {
    return s_.RecordIfPresent(Kind::CopyFile, from, State::Text(to));
  }
  HANDLE FindFirstFileW(const char16_t* pattern, FindData* data) override {
    return real_.FindFirstFileW(pattern, data);
  }
  BOOL FindNextFileW(HANDLE find, FindData* data) override { return real_.FindNextFileW(find, data); }
  BOOL FindClose(HANDLE find) override { return real_.FindClose(find); }
  DWORD GetShortPathNameW(const char16_t* path, char16_t* buffer, DWORD bufferChars) override {
    return real_.GetShortPathNameW(path, buffer, bufferChars);
  }
  UINT GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int fallback,
                             const char16_t* file) override {
    return real_.GetPrivateProfileIntW(section, key, fallback, file);
  }
  DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                 const char16_t* fallback, char16_t* buffer, DWORD bufferChars,
                                 const char16_t* file) override {
    return real_.GetPrivateProfileStringW(section, key, fallback, buffer, bufferChars, file);
  }
  BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t*,
                                  const char16_t* file) override {
    std::u16string entry = u"[" + State::Text(section) + u"]";
    if (key) entry.append(u" ").append(key);
    return s_.RecordIfPresent(Kind::WriteProfile, file, entry);
  }
  HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD creation,
                     DWORD flags) override {
    const std::u16string name = State::Text(path);
    const bool device = name.rfind(u"\\\\.\\", 0) == 0;
    if (!device && ((access & GENERIC_WRITE) || creation != OPEN_EXISTING)) {
      // A file opened to be written: recorded, and opened for reading when it is there.
      if (!s_.RecordIfPresent(Kind::WriteFile, path)) return INVALID_HANDLE_VALUE;
      access = GENERIC_READ;
      creation = OPEN_EXISTING;
    }
    HANDLE handle = real_.CreateFileW(path, access, share, creation, flags);
    if (handle != INVALID_HANDLE_VALUE) devices_[handle] = name;
    return handle;
  }
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inBytes, void* out,
                       DWORD outBytes, DWORD* returned) override {
    if (inBytes == 0) return real_.DeviceIoControl(device, code, in, inBytes, out, outBytes, returned);
    // A control that hands the driver data may change what the driver does.
    s_.Record(Kind::ControlDevice, devices_[device], State::Hex(code));
    if (returned) *returned = 0;
    return TRUE;
  }
  BOOL CloseHandle(HANDLE handle) override {
    devices_.erase(handle);
    return standInHandles.erase(handle) ? TRUE : real_.CloseHandle(handle);
  }
  BOOL SHGetSpecialFolderPathW(char16_t* path, int csidl, BOOL create) override {
    return real_.SHGetSpecialFolderPathW(path, csidl, create);
  }
  BOOL Wow64EnableWow64FsRedirection(BOOL enable) override {
    return real_.Wow64EnableWow64FsRedirection(enable);
  }

  int _wopen(const char16_t* path, int flags, int mode) override {
    constexpr int kWriting = CRT_O_WRONLY | CRT_O_RDWR | CRT_O_APPEND | CRT_O_CREAT | CRT_O_TRUNC;
    // A write-open of a missing file without CRT_O_CREAT fails for real, creating nothing.
    if (!(flags & kWriting) || (!s_.Exists(path) && !(flags & CRT_O_CREAT)))
      return real_._wopen(path, flags, mode);
    s_.Record(Kind::WriteFile, State::Text(path));
    // An existing file is read as it is; a new one is a stand-in that reads as empty.
    if (s_.Exists(path)) {
      int fd = real_._wopen(path, (flags & ~(kWriting | CRT_O_EXCL)) | CRT_O_RDONLY, mode);
      if (fd >= 0) mutedFds_.insert(fd);
      return fd;
    }
    int fd = kStandInFd + nextFd_++;
    standInFds_.insert(fd);
    return fd;
  }
  int _read(int fd, void* buffer, unsigned count) override {
    return standInFds_.count(fd) ? 0 : real_._read(fd, buffer, count);
  }
  int _write(int fd, const void* buffer, unsigned count) override {
    if (standInFds_.count(fd) || mutedFds_.count(fd)) return static_cast<int>(count);
    return real_._write(fd, buffer, count);
  }
  long _lseek(int fd, long offset, int origin) override {
    return standInFds_.count(fd) ? 0 : real_._lseek(fd, offset, origin);
  }
  int _commit(int fd) override {
    return standInFds_.count(fd) || mutedFds_.count(fd) ? 0 : real_._commit(fd);
  }
  int _close(int fd) override {
    mutedFds_.erase(fd);
    return standInFds_.erase(fd) ? 0 : real_._close(fd);
  }
  int Errno() override { return real_.Errno(); }

  BOOL SetupUninstallOEMInfW(const char16_t* infFileName, DWORD) override {
    char16_t windows[260] = {};
    s_.real.system->GetWindowsDirectoryW(windows, 260);
    const std::u16string inf = std::u16string(windows) + u"\\Inf\\" + State::Text(infFileName);
    if (!s_.Exists(inf.c_str())) return FALSE;
    s_.Record(Kind::UninstallDriverPackage, State::Text(infFileName));
    return TRUE;
  }

  CrtStream* _wfopen(const char16_t* path, const char16_t* mode) override {
    const std::u16string how = State::Text(mode);
    if (how.find_first_of(u"wa+") == std::u16string::npos) return real_._wfopen(path, mode);
    s_.Record(Kind::WriteFile, State::Text(path));
    CrtStream* stream = s_.NewStandIn<CrtStream*>();
    standInStreams_.insert(stream);
    return stream;
  }
  char16_t* fgetws(char16_t* buffer, int count, CrtStream* stream) override {
    return standInStreams_.count(stream) ? nullptr : real_.fgetws(buffer, count, stream);
  }
  int fputws(const char16_t* text, CrtStream* stream) override {
    return standInStreams_.count(stream) ? 0 : real_.fputws(text, stream);
  }
  int ferror(CrtStream* stream) override {
    return standInStreams_.count(stream) ? 0 : real_.ferror(stream);
  }
  int fclose(CrtStream* stream) override {
    return standInStreams_.erase(stream) ? 0 : real_.fclose(stream);
  }

  // Stand-ins of started processes, closed through CloseHandle (filled by PreviewSystem).
  std::set<HANDLE> standInHandles;

 private:
  static constexpr int kStandInFd = 0x40000000;  // far above any descriptor the library hands out
  State& s_;
  FileSystem& real_;
  std::map<HANDLE, std::u16string> devices_;
  std::set<int> mutedFds_;     // existing files opened to be written: their writes are dropped
  std::set<int> standInFds_;   // files a create would have made
  int nextFd_ = 0;
  std::set<CrtStream*> standInStreams_;
};

// ---- system: the products' components are stand-ins, their calls are caught
class PreviewSystem;
PreviewSystem* g_guarding = nullptr;  // the preview whose CallGuarded runs now
constexpr int kEntryPoints = 64;
template <int N>
void StandInEntryPoint();

template <int... N>
constexpr std::array<void (*)(), kEntryPoints> EntryPoints(std::integer_sequence<int, N...>) {
  return {&StandInEntryPoint<N>...};
}

class PreviewSystem final : public System {
 public:
  PreviewSystem(State& state, PreviewFiles& files)
      : s_(state), real_(*state.real.system), files_(files) {}

  // The guarded call runs the caller's own code; the product's entry point it reaches is a
  // stand-in that records the call and jumps back here, whatever its calling convention. The
  // caller's result keeps the value it started with.
  bool CallGuarded(void (*function)(void*), void* context, DWORD* exceptionCode) override {
    std::jmp_buf jump;
    std::jmp_buf* outer = jump_;
    PreviewSystem* outerGuard = g_guarding;
    jump_ = &jump;
    g_guarding = this;
    if (setjmp(jump) == 0) function(context);
    jump_ = outer;
    g_guarding = outerGuard;
    if (exceptionCode) *exceptionCode = 0;
    return true;
  }
  [[noreturn]] void Reached(int entryPoint) {
    s_.Record(Kind::CallExport, entryNames_[entryPoint]);
    if (jump_ == nullptr) std::abort();  // the products' code is only ever called guarded
    std::longjmp(*jump_, 1);
  }

  HMODULE LoadLibraryW(const char16_t* path) override { return Load(path, 0, false); }
  HMODULE LoadLibraryExW(const char16_t* path, DWORD flags) override {
    return Load(path, flags, true);
  }
  BOOL FreeLibrary(HMODULE module) override {
    return modules_.erase(module) ? TRUE : real_.FreeLibrary(module);
  }
  const void* GetProcAddress(HMODULE module, const char* name) override {
    auto library = modules_.find(module);
    if (library == modules_.end()) return real_.GetProcAddress(module, name);
    const std::u16string entry = library->second + u"!" + std::u16string(name, name + std::char_traits<char>::length(name));
    size_t index = 0;
    while (index < entryNames_.size() && entryNames_[index] != entry) ++index;
    if (index == entryNames_.size()) {
      if (index == kEntryPoints) return nullptr;
      entryNames_.push_back(entry);
    }
    return reinterpret_cast<const void*>(kEntryPointTable[index]);
  }

  BOOL CreateProcessW(const char16_t* commandLine, DWORD, ProcessInfo* info) override {
    s_.Record(Kind::RunProgram, State::Text(commandLine));
    *info = ProcessInfo{};
    info->process = s_.NewStandIn<HANDLE>();
    info->thread = s_.NewStandIn<HANDLE>();
    files_.standInHandles.insert({info->process, info->thread});
    return TRUE;
  }
  DWORD ResumeThread(HANDLE thread) override {
    return files_.standInHandles.count(thread) ? 1 : real_.ResumeThread(thread);
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return files_.standInHandles.count(handle) ? WAIT_OBJECT_0
                                               : real_.WaitForSingleObject(handle, milliseconds);
  }
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override {
    if (!files_.standInHandles.count(process)) return real_.GetExitCodeProcess(process, exitCode);
    *exitCode = 0;
    return TRUE;
  }
  DWORD SetNamedSecurityInfoW(const char16_t* name, int, DWORD, const void*, const void*,
                              const void*, const void*) override {
    s_.Record(Kind::SetSecurity, State::Text(name));
    return ERROR_SUCCESS;
  }
  BOOL ExitWindowsEx(UINT, DWORD) override { return Shutdown(u"ExitWindowsEx"); }
  BOOL InitiateSystemShutdownW(const char16_t*, const char16_t*, DWORD, BOOL, BOOL) override {
    return Shutdown(u"InitiateSystemShutdownW");
  }
  BOOL InitiateSystemShutdownExW(const char16_t*, const char16_t*, DWORD, BOOL, BOOL,
                                 DWORD) override {
    return Shutdown(u"InitiateSystemShutdownExW");
  }

  // Passed through.
  DWORD GetLastError() override { return real_.GetLastError(); }
  void SetLastError(DWORD code) override { real_.SetLastError(code); }
  BOOL GetVersionExW(OsVersionInfo* info) override { return real_.GetVersionExW(info); }
  LANGID GetUserDefaultLangID() override { return real_.GetUserDefaultLangID(); }
  BOOL GetComputerNameW(char16_t* buffer, DWORD* chars) override {
    return real_.GetComputerNameW(buffer, chars);
  }
  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD chars) override {
    return real_.GetModuleFileNameW(module, buffer, chars);
  }
  int GetSystemMetrics(int index) override { return real_.GetSystemMetrics(index); }
  UINT SetErrorMode(UINT mode) override { return real_.SetErrorMode(mode); }
  HMODULE GetModuleHandleW(const char16_t* name) override { return real_.GetModuleHandleW(name); }
  BOOL IsWow64Process(BOOL* wow64) override { return real_.IsWow64Process(wow64); }
  void GetNativeSystemInfo(SystemInfo* info) override { real_.GetNativeSystemInfo(info); }
  UINT GetWindowsDirectoryW(char16_t* buffer, UINT chars) override {
    return real_.GetWindowsDirectoryW(buffer, chars);
  }
  UINT GetSystemDirectoryW(char16_t* buffer, UINT chars) override {
    return real_.GetSystemDirectoryW(buffer, chars);
  }
  UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT chars) override {
    return real_.GetSystemWindowsDirectoryW(buffer, chars);
  }
  UINT GetSystemWow64DirectoryW(char16_t* buffer, UINT chars) override {
    return real_.GetSystemWow64DirectoryW(buffer, chars);
  }
  DWORD GetTempPathW(DWORD chars, char16_t* buffer) override { return real_.GetTempPathW(chars, buffer); }
  DWORD ExpandEnvironmentStringsW(const char16_t* text, char16_t* buffer, DWORD chars) override {
    return real_.ExpandEnvironmentStringsW(text, buffer, chars);
  }
  DWORD GetTickCount() override { return real_.GetTickCount(); }
  void GetSystemTimeAsFileTime(FileTime* time) override { real_.GetSystemTimeAsFileTime(time); }
  BOOL FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) override {
    return real_.FileTimeToLocalFileTime(utc, local);
  }
  BOOL FileTimeToSystemTime(const FileTime* time, SystemTime* fields) override {
    return real_.FileTimeToSystemTime(time, fields);
  }
  void Sleep(DWORD milliseconds) override { real_.Sleep(milliseconds); }
  LONG UuidCreate(Guid* uuid) override { return real_.UuidCreate(uuid); }
  LONG UuidToStringW(const Guid* uuid, std::u16string* text) override {
    return real_.UuidToStringW(uuid, text);
  }
  HRESULT CoInitialize() override { return real_.CoInitialize(); }
  void CoUninitialize() override { real_.CoUninitialize(); }
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    return real_.OpenProcessToken(access, token);
  }
  BOOL LookupPrivilegeValueW(const char16_t* system, const char16_t* name, Luid* luid) override {
    return real_.LookupPrivilegeValueW(system, name, luid);
  }
  BOOL AdjustTokenPrivileges(HANDLE token, const Luid& privilege, DWORD attributes) override {
    return real_.AdjustTokenPrivileges(token, privilege, attributes);
  }
  BOOL GetUserNameW(char16_t* buffer, DWORD* chars) override { return real_.GetUserNameW(buffer, chars); }
  BOOL GetTokenInformation(HANDLE token, int infoClass, void* buffer, DWORD size,
                           DWORD* returned) override {
    return real_.GetTokenInformation(token, infoClass, buffer, size, returned);
  }
  BOOL LookupAccountSidW(const char16_t* system, const void* sid, char16_t* name, DWORD* nameChars,
                         char16_t* domain, DWORD* domainChars) override {
    return real_.LookupAccountSidW(system, sid, name, nameChars, domain, domainChars);
  }
  void GlobalMemoryStatus(MemoryStatus* status) override { real_.GlobalMemoryStatus(status); }
  BOOL AllowSetForegroundWindow(DWORD processId) override {
    return real_.AllowSetForegroundWindow(processId);
  }
  DWORD GetCurrentDirectoryW(DWORD chars, char16_t* buffer) override {
    return real_.GetCurrentDirectoryW(chars, buffer);
  }
  BOOL SetCurrentDirectoryW(const char16_t* path) override { return real_.SetCurrentDirectoryW(path); }
  DWORD GetCurrentProcessId() override { return real_.GetCurrentProcessId(); }
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override {
    return real_.ProcessIdToSessionId(processId, sessionId);
  }
  HRESULT OleInitialize() override { return real_.OleInitialize(); }
  void OleUninitialize() override { real_.OleUninitialize(); }
  DWORD SetEntriesInAclW(DWORD count, const ExplicitAccess* entries, void** acl) override {
    return real_.SetEntriesInAclW(count, entries, acl);
  }
  void LocalFree(void* memory) override { real_.LocalFree(memory); }
  BOOL CreateWellKnownSid(int type, void* sid, DWORD* size) override {
    return real_.CreateWellKnownSid(type, sid, size);
  }
  BOOL InitializeSecurityDescriptor(void* descriptor, DWORD revision) override {
    return real_.InitializeSecurityDescriptor(descriptor, revision);
  }
  BOOL SetSecurityDescriptorOwner(void* descriptor, const void* owner, BOOL defaulted) override {
    return real_.SetSecurityDescriptorOwner(descriptor, owner, defaulted);
  }
  BOOL SetSecurityDescriptorGroup(void* descriptor, const void* group, BOOL defaulted) override {
    return real_.SetSecurityDescriptorGroup(descriptor, group, defaulted);
  }
  BOOL SetSecurityDescriptorDacl(void* descriptor, BOOL present, const void* acl,
                                 BOOL defaulted) override {
    return real_.SetSecurityDescriptorDacl(descriptor, present, acl, defaulted);
  }
  HRESULT CoInitializeSecurity(const void* descriptor, DWORD authenticationLevel,
                               DWORD impersonationLevel, DWORD capabilities) override {
    return real_.CoInitializeSecurity(descriptor, authenticationLevel, impersonationLevel,
                                      capabilities);
  }

 private:
  static constexpr std::array<void (*)(), kEntryPoints> kEntryPointTable =
      EntryPoints(std::make_integer_sequence<int, kEntryPoints>{});

  // A library named without a folder is a system library found along the search path.
  static bool IsSystemLibrary(const std::u16string& path) {
    return path.find_first_of(u"\\/:") == std::u16string::npos;
  }
  HMODULE Load(const char16_t* path, DWORD flags, bool extended) {
    const std::u16string name = State::Text(path);
    if (IsSystemLibrary(name))
      return extended ? real_.LoadLibraryExW(path, flags) : real_.LoadLibraryW(path);
    if (!s_.Exists(path)) {
      real_.SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    s_.Record(Kind::LoadLibrary, name);
    HMODULE module = s_.NewStandIn<HMODULE>();
    modules_[module] = name.substr(name.find_last_of(u"\\/:") + 1);
    return module;
  }
  BOOL Shutdown(const char16_t* call) {
    s_.Record(Kind::Shutdown, call);
    return TRUE;
  }

  State& s_;
  System& real_;
  PreviewFiles& files_;
  std::map<HMODULE, std::u16string> modules_;  // stand-in modules: the DLL's file name
  std::vector<std::u16string> entryNames_;     // "Install.dll!_instSQL@28" by entry point
  std::jmp_buf* jump_ = nullptr;
};

template <int N>
void StandInEntryPoint() {
  if (g_guarding == nullptr) std::abort();
  g_guarding->Reached(N);
}

// ---- services
class PreviewServices final : public Services {
 public:
  explicit PreviewServices(State& state) : s_(state), real_(*state.real.services) {}

  SC_HANDLE OpenSCManagerW(const char16_t* machine, const char16_t* database,
                           DWORD access) override {
    return real_.OpenSCManagerW(machine, database, access);
  }
  SC_HANDLE OpenServiceW(SC_HANDLE manager, const char16_t* name, DWORD access) override {
    SC_HANDLE service = real_.OpenServiceW(manager, name, access);
    if (service) names_[service] = State::Text(name);
    return service;
  }
  SC_HANDLE CreateServiceW(SC_HANDLE, const char16_t* name, const char16_t*, DWORD, DWORD, DWORD,
                           DWORD, const char16_t* binaryPath) override {
    // No handle to hand out for a service that does not exist.
    s_.Record(Kind::CreateService, State::Text(name), State::Text(binaryPath));
    s_.real.system->SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  BOOL StartServiceW(SC_HANDLE service) override {
    s_.Record(Kind::StartService, names_[service]);
    return TRUE;
  }
  BOOL ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) override {
    s_.Record(control == SERVICE_CONTROL_STOP ? Kind::StopService : Kind::ControlDevice,
              names_[service], control == SERVICE_CONTROL_STOP ? u"" : State::Hex(control));
    return real_.QueryServiceStatus(service, status);
  }
  BOOL QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) override {
    return real_.QueryServiceStatus(service, status);
  }
  BOOL DeleteService(SC_HANDLE service) override {
    s_.Record(Kind::DeleteService, names_[service]);
    return TRUE;
  }
  BOOL CloseServiceHandle(SC_HANDLE handle) override {
    names_.erase(handle);
    return real_.CloseServiceHandle(handle);
  }

 private:
  State& s_;
  Services& real_;
  std::map<SC_HANDLE, std::u16string> names_;
};

// ---- windows: the program's own windows and boxes are real; other programs are left alone
class PreviewWindows final : public Windows {
 public:
  explicit PreviewWindows(State& state) : s_(state), real_(*state.real.windows) {}

  HWND FindWindowW(const char16_t* className, const char16_t* windowName) override {
    HWND window = real_.FindWindowW(className, windowName);
    if (window) names_[window] = State::Text(className ? className : windowName);
    return window;
  }
  BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (!names_.count(window)) return real_.PostMessageW(window, message, wParam, lParam);
    s_.Record(Kind::PostMessage, names_[window], State::Hex(message));
    return TRUE;
  }

  int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) override {
    return real_.MessageBoxW(owner, text, caption, type);
  }
  HWND GetDlgItem(HWND dialog, int id) override { return real_.GetDlgItem(dialog, id); }
  int GetWindowTextW(HWND window, char16_t* buffer, int chars) override {
    return real_.GetWindowTextW(window, buffer, chars);
  }
  BOOL SetWindowTextW(HWND window, const char16_t* text) override {
    return real_.SetWindowTextW(window, text);
  }
  LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return real_.SendMessageW(window, message, wParam, lParam);
  }
  INT_PTR DialogBoxParamW(HMODULE instance, const char16_t* templateName, HWND owner,
                          DialogProc procedure, LPARAM parameter) override {
    return real_.DialogBoxParamW(instance, templateName, owner, procedure, parameter);
  }
  BOOL EndDialog(HWND dialog, INT_PTR result) override { return real_.EndDialog(dialog, result); }
  BOOL EnableWindow(HWND window, BOOL enable) override { return real_.EnableWindow(window, enable); }
  HICON LoadIconW(HMODULE instance, const char16_t* name) override {
    return real_.LoadIconW(instance, name);
  }
  HCURSOR LoadCursorW(HMODULE instance, const char16_t* name) override {
    return real_.LoadCursorW(instance, name);
  }
  HCURSOR SetCursor(HCURSOR cursor) override { return real_.SetCursor(cursor); }
  void* SHBrowseForFolderW(HWND owner, const char16_t* title, UINT flags, BrowseCallback callback,
                           LPARAM data, char16_t* displayName) override {
    return real_.SHBrowseForFolderW(owner, title, flags, callback, data, displayName);
  }
  BOOL SHGetPathFromIDListW(const void* item, char16_t* path) override {
    return real_.SHGetPathFromIDListW(item, path);
  }
  void CoTaskMemFree(void* memory) override { real_.CoTaskMemFree(memory); }

 private:
  State& s_;
  Windows& real_;
  std::map<HWND, std::u16string> names_;  // other programs' windows: the class they were found by
};

// ---- COM: the network configuration is read, its removals recorded; WMI deletions recorded
class PreviewCom final : public ComObjects {
 public:
  explicit PreviewCom(State& state) : s_(state), real_(*state.real.com) {}

  HRESULT NetCfgFindComponent(ComObject netCfg, const char16_t* componentId,
                              ComObject* component) override {
    HRESULT hr = real_.NetCfgFindComponent(netCfg, componentId, component);
    if (hr == S_OK && *component) components_[*component] = State::Text(componentId);
    return hr;
  }
  HRESULT NetCfgClassSetupDeInstall(ComObject, ComObject component, const OboToken*,
                                    char16_t** references) override {
    s_.Record(Kind::RemoveNetworkComponent, components_[component]);
    if (references) *references = nullptr;
    return S_OK;
  }
  // Nothing was changed, so there is nothing to apply.
  HRESULT NetCfgApply(ComObject) override { return S_OK; }
  HRESULT WbemServicesDeleteInstance(ComObject, BSTR objectPath, LONG, ComObject,
                                     ComObject* callResult) override {
    s_.Record(Kind::DeleteWmiInstance, State::Text(objectPath));
    if (callResult) *callResult = nullptr;
    return S_OK;
  }
  DWORD Release(ComObject object) override {
    DWORD left = real_.Release(object);
    if (left == 0) components_.erase(object);
    return left;
  }

  HRESULT CoCreateInstance(const Guid& clsid, DWORD context, const Guid& iid,
                           ComObject* object) override {
    return real_.CoCreateInstance(clsid, context, iid, object);
  }
  HRESULT QueryInterface(ComObject object, const Guid& iid, ComObject* result) override {
    return real_.QueryInterface(object, iid, result);
  }
  HRESULT NetCfgInitialize(ComObject netCfg) override { return real_.NetCfgInitialize(netCfg); }
  HRESULT NetCfgUninitialize(ComObject netCfg) override { return real_.NetCfgUninitialize(netCfg); }
  HRESULT NetCfgQueryNetCfgClass(ComObject netCfg, const Guid& classGuid, const Guid& iid,
                                 ComObject* netCfgClass) override {
    return real_.NetCfgQueryNetCfgClass(netCfg, classGuid, iid, netCfgClass);
  }
  HRESULT NetCfgLockAcquireWriteLock(ComObject lock, DWORD timeoutMs, const char16_t* client,
                                     char16_t** holder) override {
    return real_.NetCfgLockAcquireWriteLock(lock, timeoutMs, client, holder);
  }
  HRESULT NetCfgLockReleaseWriteLock(ComObject lock) override {
    return real_.NetCfgLockReleaseWriteLock(lock);
  }
  HRESULT NetCfgComponentGetClassGuid(ComObject component, Guid* classGuid) override {
    return real_.NetCfgComponentGetClassGuid(component, classGuid);
  }
  HRESULT WbemLocatorConnectServer(ComObject locator, BSTR networkResource, BSTR user,
                                   BSTR password, BSTR locale, LONG securityFlags, BSTR authority,
                                   ComObject context, ComObject* services) override {
    return real_.WbemLocatorConnectServer(locator, networkResource, user, password, locale,
                                          securityFlags, authority, context, services);
  }
  BSTR SysAllocString(const char16_t* text) override { return real_.SysAllocString(text); }
  void SysFreeString(BSTR text) override { real_.SysFreeString(text); }
  int StringFromGUID2(const Guid& guid, char16_t* buffer, int chars) override {
    return real_.StringFromGUID2(guid, buffer, chars);
  }

 private:
  State& s_;
  ComObjects& real_;
  std::map<ComObject, std::u16string> components_;  // found components: their ids
};

}  // namespace

PreviewPlatform::PreviewPlatform(const Platform& real) : state_(std::make_unique<State>(real)) {
  auto files = std::make_unique<PreviewFiles>(*state_);
  state_->system = std::make_unique<PreviewSystem>(*state_, *files);
  state_->files = std::move(files);
  state_->registry = std::make_unique<PreviewRegistry>(*state_);
  state_->windows = std::make_unique<PreviewWindows>(*state_);
  state_->services = std::make_unique<PreviewServices>(*state_);
  state_->com = std::make_unique<PreviewCom>(*state_);
}

PreviewPlatform::~PreviewPlatform() = default;

Platform PreviewPlatform::Facets() const {
  Platform facets;
  facets.registry = state_->registry.get();
  facets.files = state_->files.get();
  facets.system = state_->system.get();
  facets.windows = state_->windows.get();
  facets.resources = state_->real.resources;  // string tables and dialogs only read
  facets.services = state_->services.get();
  facets.com = state_->com.get();
  return facets;
}

const std::vector<PreviewChange>& PreviewPlatform::Changes() const { return state_->changes; }

void PreviewPlatform::ClearChanges() { state_->changes.clear(); }

}  // namespace zp
