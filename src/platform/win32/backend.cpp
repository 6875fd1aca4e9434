// The real backend. Each method forwards to the Windows call of its name in a line or two; what
// to call, with which flags, and what to make of the result is decided above the seam.
#include "platform/win32/backend.h"

#include <windows.h>
#include <rpc.h>
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>
#include <aclapi.h>
#include <oleauto.h>
#include <netcfgx.h>  // interfaces only: the GUIDs come from above the seam
#include <wbemcli.h>

#include <string>
#include <vector>

#include <errno.h>
#include <stdio.h>
#include <wchar.h>
#include <setjmp.h>
#include <fcntl.h>
#include <io.h>

namespace zp::win32 {
namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// A function that Windows 2000 lacks, looked up at the moment of the call.
template <typename Fn>
Fn Late(const wchar_t* module, const char* name) {
  HMODULE handle = ::GetModuleHandleW(module);
  return handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(handle, name)))
                : nullptr;
}

void CopyFindData(const WIN32_FIND_DATAW& from, FindData* to) {
  to->attributes = from.dwFileAttributes;
  to->sizeHigh = from.nFileSizeHigh;
  to->sizeLow = from.nFileSizeLow;
  static_assert(sizeof(to->fileName) == sizeof(from.cFileName));
  static_assert(sizeof(to->alternateFileName) == sizeof(from.cAlternateFileName));
  memcpy(to->fileName, from.cFileName, sizeof(to->fileName));
  memcpy(to->alternateFileName, from.cAlternateFileName, sizeof(to->alternateFileName));
}

class RealRegistry final : public Registry {
 public:
  LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, REGSAM sam,
                     HKEY* result) override {
    return ::RegOpenKeyExW(root, W(subKey), options, sam, result);
  }
  LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, const char16_t* keyClass, DWORD options,
                       REGSAM sam, HKEY* result, DWORD* disposition) override {
    return ::RegCreateKeyExW(root, W(subKey), 0, const_cast<wchar_t*>(W(keyClass)), options, sam,
                             nullptr, result, disposition);
  }
  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
  LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                        DWORD* size) override {
    return ::RegQueryValueExW(key, W(name), nullptr, type, data, size);
  }
  LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data,
                      DWORD size) override {
    return ::RegSetValueExW(key, W(name), 0, type, data, size);
  }
  LONG RegDeleteKeyW(HKEY root, const char16_t* subKey) override {
    return ::RegDeleteKeyW(root, W(subKey));
  }
  LONG RegDeleteKeyExW(HKEY root, const char16_t* subKey, REGSAM view) override {
    using Fn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    auto fn = Late<Fn>(L"advapi32.dll", "RegDeleteKeyExW");
    return fn ? fn(root, W(subKey), view, 0) : ERROR_PROC_NOT_FOUND;
  }
  LONG RegDeleteValueW(HKEY key, const char16_t* name) override {
    return ::RegDeleteValueW(key, W(name));
  }
  LONG RegEnumKeyW(HKEY key, DWORD index, char16_t* name, DWORD nameChars) override {
    return ::RegEnumKeyW(key, index, W(name), nameChars);
  }
  LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars, DWORD* type,
                     BYTE* data, DWORD* size) override {
    return ::RegEnumValueW(key, index, W(name), nameChars, nullptr, type, data, size);
  }
  NTSTATUS NtDeleteKey(HKEY key) override {
    using Fn = LONG(WINAPI*)(HANDLE);
    auto fn = Late<Fn>(L"ntdll.dll", "NtDeleteKey");
    return fn ? fn(key) : static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
  }
  DWORD RtlNtStatusToDosError(NTSTATUS status) override {
    using Fn = ULONG(WINAPI*)(LONG);
    auto fn = Late<Fn>(L"ntdll.dll", "RtlNtStatusToDosError");
    return fn ? fn(status) : ERROR_CALL_NOT_IMPLEMENTED;
  }
  LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyChars) override {
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subKeys, maxSubKeyChars, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars) override {
    return ::RegEnumKeyExW(key, index, W(name), nameChars, nullptr, nullptr, nullptr, nullptr);
  }
  LONG RegLoadKeyW(HKEY root, const char16_t* subKey, const char16_t* file) override {
    return ::RegLoadKeyW(root, W(subKey), W(file));
  }
  LONG RegUnLoadKeyW(HKEY root, const char16_t* subKey) override {
    return ::RegUnLoadKeyW(root, W(subKey));
  }
  LONG RegSaveKeyW(HKEY key, const char16_t* file) override {
    return ::RegSaveKeyW(key, W(file), nullptr);
  }
};

class RealFileSystem final : public FileSystem {
 public:
  DWORD GetFileAttributesW(const char16_t* path) override { return ::GetFileAttributesW(W(path)); }
  BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) override {
    return ::SetFileAttributesW(W(path), attributes);
  }
  BOOL DeleteFileW(const char16_t* path) override { return ::DeleteFileW(W(path)); }
  BOOL CreateDirectoryW(const char16_t* path) override {
    return ::CreateDirectoryW(W(path), nullptr);
  }
  BOOL RemoveDirectoryW(const char16_t* path) override { return ::RemoveDirectoryW(W(path)); }
  BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) override {
    return ::MoveFileExW(W(from), W(to), flags);
  }
  BOOL CopyFileW(const char16_t* from, const char16_t* to, BOOL failIfExists) override {
    return ::CopyFileW(W(from), W(to), failIfExists);
  }
  HANDLE FindFirstFileW(const char16_t* pattern, FindData* data) override {
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW(W(pattern), &found);
    if (find != INVALID_HANDLE_VALUE) CopyFindData(found, data);
    return find;
  }
  BOOL FindNextFileW(HANDLE find, FindData* data) override {
    WIN32_FIND_DATAW found{};
    BOOL ok = ::FindNextFileW(find, &found);
    if (ok) CopyFindData(found, data);
    return ok;
  }
  BOOL FindClose(HANDLE find) override { return ::FindClose(find); }
  DWORD GetShortPathNameW(const char16_t* path, char16_t* buffer, DWORD bufferChars) override {
    return ::GetShortPathNameW(W(path), W(buffer), bufferChars);
  }
  UINT GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int fallback,
                             const char16_t* file) override {
    return ::GetPrivateProfileIntW(W(section), W(key), fallback, W(file));
  }
  DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                 const char16_t* fallback, char16_t* buffer, DWORD bufferChars,
                                 const char16_t* file) override {
    return ::GetPrivateProfileStringW(W(section), W(key), W(fallback), W(buffer), bufferChars,
                                      W(file));
  }
  BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key,
                                  const char16_t* value, const char16_t* file) override {
    return ::WritePrivateProfileStringW(W(section), W(key), W(value), W(file));
  }
  HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD creation,
                     DWORD flags) override {
    return ::CreateFileW(W(path), access, share, nullptr, creation, flags, nullptr);
  }
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inBytes, void* out,
                       DWORD outBytes, DWORD* returned) override {
    return ::DeviceIoControl(device, code, const_cast<void*>(in), inBytes, out, outBytes,
                             returned, nullptr);
  }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  BOOL SHGetSpecialFolderPathW(char16_t* path, int csidl, BOOL create) override {
    return ::SHGetSpecialFolderPathW(nullptr, W(path), csidl, create);
  }
  BOOL Wow64EnableWow64FsRedirection(BOOL enable) override {
    using Fn = BOOLEAN(WINAPI*)(BOOLEAN);
    auto fn = Late<Fn>(L"kernel32.dll", "Wow64EnableWow64FsRedirection");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(enable ? TRUE : FALSE);
  }
  int _wopen(const char16_t* path, int flags, int mode) override {
    return ::_wopen(W(path), flags, mode);
  }
  int _read(int fd, void* buffer, unsigned count) override { return ::_read(fd, buffer, count); }
  int _write(int fd, const void* buffer, unsigned count) override {
    return ::_write(fd, buffer, count);
  }
  long _lseek(int fd, long offset, int origin) override { return ::_lseek(fd, offset, origin); }
  int _commit(int fd) override { return ::_commit(fd); }
  int _close(int fd) override { return ::_close(fd); }
  int Errno() override { return errno; }
  BOOL SetupUninstallOEMInfW(const char16_t* infFileName, DWORD flags) override {
    using Fn = BOOL(WINAPI*)(PCWSTR, DWORD, PVOID);
    auto fn = Late<Fn>(L"setupapi.dll", "SetupUninstallOEMInfW");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(W(infFileName), flags, nullptr);
  }


  CrtStream* _wfopen(const char16_t* path, const char16_t* mode) override {
    return reinterpret_cast<CrtStream*>(::_wfopen(W(path), W(mode)));
  }
  char16_t* fgetws(char16_t* buffer, int count, CrtStream* stream) override {
    return reinterpret_cast<char16_t*>(::fgetws(W(buffer), count, F(stream)));
  }
  int fputws(const char16_t* text, CrtStream* stream) override {
    return ::fputws(W(text), F(stream));
  }
  int ferror(CrtStream* stream) override { return ::ferror(F(stream)); }
  int fclose(CrtStream* stream) override { return ::fclose(F(stream)); }

 private:
  static FILE* F(CrtStream* stream) { return reinterpret_cast<FILE*>(stream); }
};

// An exception registration on the FS:[0] chain whose handler returns to a setjmp point.
struct GuardFrame {
  GuardFrame* next;
  void* handler;
  jmp_buf resume;
  DWORD code;
};

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                     CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  auto* guard = static_cast<GuardFrame*>(frame);
  guard->code = record->ExceptionCode;
  longjmp(guard->resume, 1);
}

GuardFrame* ChainHead() {
  GuardFrame* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetChainHead(GuardFrame* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

class RealSystem final : public System {
 public:
  bool CallGuarded(void (*function)(void*), void* context, DWORD* exceptionCode) override {
    GuardFrame guard{};
    guard.handler = reinterpret_cast<void*>(&GuardHandler);
    GuardFrame* volatile before = ChainHead();
    guard.next = before;
    if (setjmp(guard.resume) == 0) {
      SetChainHead(&guard);
      function(context);
      SetChainHead(before);
      return true;
    }
    SetChainHead(before);
    if (exceptionCode) *exceptionCode = guard.code;
    return false;
  }
  DWORD GetLastError() override { return ::GetLastError(); }
  void SetLastError(DWORD code) override { ::SetLastError(code); }
  BOOL GetVersionExW(OsVersionInfo* info) override {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return FALSE;
    info->majorVersion = version.dwMajorVersion;
    info->minorVersion = version.dwMinorVersion;
    info->buildNumber = version.dwBuildNumber;
    info->platformId = version.dwPlatformId;
    static_assert(sizeof(info->csdVersion) == sizeof(version.szCSDVersion));
    memcpy(info->csdVersion, version.szCSDVersion, sizeof(info->csdVersion));
    info->servicePackMajor = version.wServicePackMajor;
    info->servicePackMinor = version.wServicePackMinor;
    info->suiteMask = version.wSuiteMask;
    info->productType = version.wProductType;
    return TRUE;
  }
  LANGID GetUserDefaultLangID() override { return ::GetUserDefaultLangID(); }
  BOOL GetComputerNameW(char16_t* buffer, DWORD* chars) override {
    return ::GetComputerNameW(W(buffer), chars);
  }
  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD bufferChars) override {
    return ::GetModuleFileNameW(module, W(buffer), bufferChars);
  }
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }
  UINT SetErrorMode(UINT mode) override { return ::SetErrorMode(mode); }
  HMODULE GetModuleHandleW(const char16_t* name) override { return ::GetModuleHandleW(W(name)); }
  HMODULE LoadLibraryW(const char16_t* path) override { return ::LoadLibraryW(W(path)); }
  BOOL FreeLibrary(HMODULE module) override { return ::FreeLibrary(module); }
  const void* GetProcAddress(HMODULE module, const char* name) override {
    return reinterpret_cast<const void*>(::GetProcAddress(module, name));
  }
  BOOL IsWow64Process(BOOL* wow64) override {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = Late<Fn>(L"kernel32.dll", "IsWow64Process");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(::GetCurrentProcess(), wow64);
  }
  void GetNativeSystemInfo(SystemInfo* info) override {
    using Fn = void(WINAPI*)(LPSYSTEM_INFO);
    SYSTEM_INFO native{};
    if (auto fn = Late<Fn>(L"kernel32.dll", "GetNativeSystemInfo")) fn(&native);
    else ::GetSystemInfo(&native);
    info->processorArchitecture = native.wProcessorArchitecture;
  }
  UINT GetWindowsDirectoryW(char16_t* buffer, UINT bufferChars) override {
    return ::GetWindowsDirectoryW(W(buffer), bufferChars);
  }
  UINT GetSystemDirectoryW(char16_t* buffer, UINT bufferChars) override {
    return ::GetSystemDirectoryW(W(buffer), bufferChars);
  }
  UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT bufferChars) override {
    return ::GetSystemWindowsDirectoryW(W(buffer), bufferChars);
  }
  UINT GetSystemWow64DirectoryW(char16_t* buffer, UINT bufferChars) override {
    using Fn = UINT(WINAPI*)(LPWSTR, UINT);
    auto fn = Late<Fn>(L"kernel32.dll", "GetSystemWow64DirectoryW");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return 0;
    }
    return fn(W(buffer), bufferChars);
  }
  DWORD GetTempPathW(DWORD bufferChars, char16_t* buffer) override {
    return ::GetTempPathW(bufferChars, W(buffer));
  }
  DWORD ExpandEnvironmentStringsW(const char16_t* text, char16_t* buffer,
                                  DWORD bufferChars) override {
    return ::ExpandEnvironmentStringsW(W(text), W(buffer), bufferChars);
  }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  void GetSystemTimeAsFileTime(FileTime* time) override {
    static_assert(sizeof(FileTime) == sizeof(FILETIME));
    ::GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(time));
  }
  BOOL FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) override {
    return ::FileTimeToLocalFileTime(reinterpret_cast<const FILETIME*>(utc),
                                     reinterpret_cast<FILETIME*>(local));
  }
  BOOL FileTimeToSystemTime(const FileTime* time, SystemTime* fields) override {
    static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME));
    return ::FileTimeToSystemTime(reinterpret_cast<const FILETIME*>(time),
                                  reinterpret_cast<SYSTEMTIME*>(fields));
  }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
  LONG UuidCreate(Guid* uuid) override {
    static_assert(sizeof(Guid) == sizeof(UUID));
    return ::UuidCreate(reinterpret_cast<UUID*>(uuid));
  }
  LONG UuidToStringW(const Guid* uuid, std::u16string* text) override {
    RPC_WSTR raw = nullptr;
    RPC_STATUS status =
        ::UuidToStringW(const_cast<UUID*>(reinterpret_cast<const UUID*>(uuid)), &raw);
    if (status != RPC_S_OK) return status;
    *text = reinterpret_cast<const char16_t*>(raw);
    ::RpcStringFreeW(&raw);
    return RPC_S_OK;
  }
  HRESULT CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    return ::OpenProcessToken(::GetCurrentProcess(), access, token);
  }
  BOOL LookupPrivilegeValueW(const char16_t* system, const char16_t* name, Luid* luid) override {
    static_assert(sizeof(Luid) == sizeof(LUID));
    return ::LookupPrivilegeValueW(W(system), W(name), reinterpret_cast<LUID*>(luid));
  }
  BOOL AdjustTokenPrivileges(HANDLE token, const Luid& privilege, DWORD attributes) override {
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0].Luid.LowPart = privilege.lowPart;
    state.Privileges[0].Luid.HighPart = privilege.highPart;
    state.Privileges[0].Attributes = attributes;
    return ::AdjustTokenPrivileges(token, FALSE, &state, sizeof(state), nullptr, nullptr);
  }
  BOOL CreateProcessW(const char16_t* commandLine, DWORD flags, ProcessInfo* info) override {
    std::wstring line(reinterpret_cast<const wchar_t*>(commandLine));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                          &startup, &process))
      return FALSE;
    *info = ProcessInfo{process.hProcess, process.hThread, process.dwProcessId, process.dwThreadId};
    return TRUE;
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return ::WaitForSingleObject(handle, milliseconds);
  }
  DWORD ResumeThread(HANDLE thread) override { return ::ResumeThread(thread); }
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override {
    return ::GetExitCodeProcess(process, exitCode);
  }
  BOOL AllowSetForegroundWindow(DWORD processId) override {
    using Fn = BOOL(WINAPI*)(DWORD);
    auto fn = Late<Fn>(L"user32.dll", "AllowSetForegroundWindow");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(processId);
  }
  DWORD GetCurrentDirectoryW(DWORD bufferChars, char16_t* buffer) override {
    return ::GetCurrentDirectoryW(bufferChars, W(buffer));
  }
  BOOL SetCurrentDirectoryW(const char16_t* path) override {
    return ::SetCurrentDirectoryW(W(path));
  }
  DWORD GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override {
    return ::ProcessIdToSessionId(processId, sessionId);
  }
  HMODULE LoadLibraryExW(const char16_t* path, DWORD flags) override {
    return ::LoadLibraryExW(W(path), nullptr, flags);
  }
  HRESULT OleInitialize() override { return ::OleInitialize(nullptr); }
  void OleUninitialize() override { ::OleUninitialize(); }
  DWORD SetEntriesInAclW(DWORD count, const ExplicitAccess* entries, void** acl) override {
    std::vector<EXPLICIT_ACCESSW> access(count);
    for (DWORD i = 0; i < count; ++i) {
      access[i].grfAccessPermissions = entries[i].permissions;
      access[i].grfAccessMode = static_cast<ACCESS_MODE>(entries[i].mode);
      access[i].grfInheritance = entries[i].inheritance;
      access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      access[i].Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(entries[i].trusteeType);
      access[i].Trustee.ptstrName = static_cast<LPWSTR>(const_cast<void*>(entries[i].sid));
    }
    PACL result = nullptr;
    DWORD error = ::SetEntriesInAclW(count, access.data(), nullptr, &result);
    *acl = result;
    return error;
  }
  DWORD SetNamedSecurityInfoW(const char16_t* name, int objectType, DWORD information,
                              const void* owner, const void* group, const void* dacl,
                              const void* sacl) override {
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(W(name)),
                                   static_cast<SE_OBJECT_TYPE>(objectType), information,
                                   const_cast<PSID>(owner), const_cast<PSID>(group),
                                   static_cast<PACL>(const_cast<void*>(dacl)),
                                   static_cast<PACL>(const_cast<void*>(sacl)));
  }
  void LocalFree(void* memory) override { ::LocalFree(memory); }
  BOOL CreateWellKnownSid(int type, void* sid, DWORD* size) override {
    using Fn = BOOL(WINAPI*)(WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*);
    auto fn = Late<Fn>(L"advapi32.dll", "CreateWellKnownSid");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(static_cast<WELL_KNOWN_SID_TYPE>(type), nullptr, sid, size);
  }
  BOOL InitializeSecurityDescriptor(void* descriptor, DWORD revision) override {
    return ::InitializeSecurityDescriptor(descriptor, revision);
  }
  BOOL SetSecurityDescriptorOwner(void* descriptor, const void* owner, BOOL defaulted) override {
    return ::SetSecurityDescriptorOwner(descriptor, const_cast<PSID>(owner), defaulted);
  }
  BOOL SetSecurityDescriptorGroup(void* descriptor, const void* group, BOOL defaulted) override {
    return ::SetSecurityDescriptorGroup(descriptor, const_cast<PSID>(group), defaulted);
  }
  BOOL SetSecurityDescriptorDacl(void* descriptor, BOOL present, const void* acl,
                                 BOOL defaulted) override {
    return ::SetSecurityDescriptorDacl(descriptor, present,
                                       static_cast<PACL>(const_cast<void*>(acl)), defaulted);
  }
  HRESULT CoInitializeSecurity(const void* descriptor, DWORD authenticationLevel,
                               DWORD impersonationLevel, DWORD capabilities) override {
    return ::CoInitializeSecurity(const_cast<void*>(descriptor), -1, nullptr, nullptr,
                                  authenticationLevel, impersonationLevel, nullptr, capabilities,
                                  nullptr);
  }
  BOOL GetUserNameW(char16_t* buffer, DWORD* chars) override {
    return ::GetUserNameW(W(buffer), chars);
  }
  BOOL GetTokenInformation(HANDLE token, int infoClass, void* buffer, DWORD size,
                           DWORD* returned) override {
    return ::GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), buffer,
                                 size, returned);
  }
  BOOL LookupAccountSidW(const char16_t* system, const void* sid, char16_t* name,
                         DWORD* nameChars, char16_t* domain, DWORD* domainChars) override {
    SID_NAME_USE use;
    return ::LookupAccountSidW(W(system), const_cast<PSID>(sid), W(name), nameChars, W(domain),
                               domainChars, &use);
  }
  void GlobalMemoryStatus(MemoryStatus* status) override {
    MEMORYSTATUS memory{};
    memory.dwLength = sizeof(memory);
    ::GlobalMemoryStatus(&memory);
    status->memoryLoad = memory.dwMemoryLoad;
    status->totalPhys = static_cast<std::uint32_t>(memory.dwTotalPhys);
    status->availPhys = static_cast<std::uint32_t>(memory.dwAvailPhys);
    status->totalPageFile = static_cast<std::uint32_t>(memory.dwTotalPageFile);
    status->availPageFile = static_cast<std::uint32_t>(memory.dwAvailPageFile);
    status->totalVirtual = static_cast<std::uint32_t>(memory.dwTotalVirtual);
    status->availVirtual = static_cast<std::uint32_t>(memory.dwAvailVirtual);
  }
  BOOL ExitWindowsEx(UINT flags, DWORD reason) override { return ::ExitWindowsEx(flags, reason); }
  BOOL InitiateSystemShutdownW(const char16_t* machine, const char16_t* message, DWORD timeout,
                               BOOL forceClose, BOOL reboot) override {
    return ::InitiateSystemShutdownW(const_cast<wchar_t*>(W(machine)),
                                     const_cast<wchar_t*>(W(message)), timeout, forceClose,
                                     reboot);
  }
  BOOL InitiateSystemShutdownExW(const char16_t* machine, const char16_t* message, DWORD timeout,
                                 BOOL forceClose, BOOL reboot, DWORD reason) override {
    using Fn = BOOL(WINAPI*)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD);
    auto fn = Late<Fn>(L"advapi32.dll", "InitiateSystemShutdownExW");
    if (!fn) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return fn(const_cast<wchar_t*>(W(machine)), const_cast<wchar_t*>(W(message)), timeout,
              forceClose, reboot, reason);
  }
};

class RealWindows final : public Windows {
 public:
  int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) override {
    return ::MessageBoxW(owner, W(text), W(caption), type);
  }
  HWND GetDlgItem(HWND dialog, int id) override { return ::GetDlgItem(dialog, id); }
  int GetWindowTextW(HWND window, char16_t* buffer, int bufferChars) override {
    return ::GetWindowTextW(window, W(buffer), bufferChars);
  }
  BOOL SetWindowTextW(HWND window, const char16_t* text) override {
    return ::SetWindowTextW(window, W(text));
  }
  LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return ::SendMessageW(window, message, wParam, lParam);
  }
  INT_PTR DialogBoxParamW(HMODULE instance, const char16_t* templateName, HWND owner,
                          DialogProc procedure, LPARAM parameter) override {
    return ::DialogBoxParamW(instance, W(templateName), owner,
                             reinterpret_cast<DLGPROC>(procedure), parameter);
  }
  BOOL EndDialog(HWND dialog, INT_PTR result) override { return ::EndDialog(dialog, result); }
  BOOL EnableWindow(HWND window, BOOL enable) override { return ::EnableWindow(window, enable); }
  HICON LoadIconW(HMODULE instance, const char16_t* name) override {
    return ::LoadIconW(instance, W(name));
  }
  HCURSOR LoadCursorW(HMODULE instance, const char16_t* name) override {
    return ::LoadCursorW(instance, W(name));
  }
  HCURSOR SetCursor(HCURSOR cursor) override { return ::SetCursor(cursor); }
  void* SHBrowseForFolderW(HWND owner, const char16_t* title, UINT flags,
                           BrowseCallback callback, LPARAM data, char16_t* displayName) override {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pszDisplayName = W(displayName);
    info.lpszTitle = W(title);
    info.ulFlags = flags;
    info.lpfn = reinterpret_cast<BFFCALLBACK>(callback);
    info.lParam = data;
    return ::SHBrowseForFolderW(&info);
  }
  BOOL SHGetPathFromIDListW(const void* item, char16_t* path) override {
    return ::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(item), W(path));
  }
  void CoTaskMemFree(void* memory) override { ::CoTaskMemFree(memory); }
  HWND FindWindowW(const char16_t* className, const char16_t* windowName) override {
    return ::FindWindowW(W(className), W(windowName));
  }
  BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageW(window, message, wParam, lParam);
  }
};

class RealResources final : public Resources {
 public:
  HRSRC FindResourceExW(HMODULE module, const char16_t* type, const char16_t* name,
                        LANGID language) override {
    return ::FindResourceExW(module, W(type), W(name), language);
  }
  HGLOBAL LoadResource(HMODULE module, HRSRC resource) override {
    return ::LoadResource(module, resource);
  }
  const void* LockResource(HGLOBAL data) override { return ::LockResource(data); }
  DWORD SizeofResource(HMODULE module, HRSRC resource) override {
    return ::SizeofResource(module, resource);
  }
};

class RealServices final : public Services {
 public:
  SC_HANDLE OpenSCManagerW(const char16_t* machine, const char16_t* database,
                           DWORD access) override {
    return ::OpenSCManagerW(W(machine), W(database), access);
  }
  SC_HANDLE OpenServiceW(SC_HANDLE manager, const char16_t* name, DWORD access) override {
    return ::OpenServiceW(manager, W(name), access);
  }
  SC_HANDLE CreateServiceW(SC_HANDLE manager, const char16_t* name, const char16_t* displayName,
                           DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                           const char16_t* binaryPath) override {
    return ::CreateServiceW(manager, W(name), W(displayName), access, serviceType, startType,
                            errorControl, W(binaryPath), nullptr, nullptr, nullptr, nullptr,
                            nullptr);
  }
  BOOL StartServiceW(SC_HANDLE service) override { return ::StartServiceW(service, 0, nullptr); }
  BOOL ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) override {
    static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS));
    return ::ControlService(service, control, reinterpret_cast<SERVICE_STATUS*>(status));
  }
  BOOL QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) override {
    return ::QueryServiceStatus(service, reinterpret_cast<SERVICE_STATUS*>(status));
  }
  BOOL DeleteService(SC_HANDLE service) override { return ::DeleteService(service); }
  BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }
};

const GUID& G(const Guid& guid) {
  static_assert(sizeof(Guid) == sizeof(GUID));
  return reinterpret_cast<const GUID&>(guid);
}
template <typename Interface>
Interface* As(ComObject object) {
  return reinterpret_cast<Interface*>(object);
}
void** Out(ComObject* object) { return reinterpret_cast<void**>(object); }
wchar_t* Mutable(const char16_t* text) { return const_cast<wchar_t*>(W(text)); }

class RealCom final : public ComObjects {
 public:
  HRESULT CoCreateInstance(const Guid& clsid, DWORD context, const Guid& iid,
                           ComObject* object) override {
    return ::CoCreateInstance(G(clsid), nullptr, context, G(iid), Out(object));
  }
  HRESULT QueryInterface(ComObject object, const Guid& iid, ComObject* result) override {
    return As<IUnknown>(object)->QueryInterface(G(iid), Out(result));
  }
  DWORD Release(ComObject object) override { return As<IUnknown>(object)->Release(); }
  HRESULT NetCfgInitialize(ComObject netCfg) override {
    return As<INetCfg>(netCfg)->Initialize(nullptr);
  }
  HRESULT NetCfgUninitialize(ComObject netCfg) override {
    return As<INetCfg>(netCfg)->Uninitialize();
  }
  HRESULT NetCfgApply(ComObject netCfg) override { return As<INetCfg>(netCfg)->Apply(); }
  HRESULT NetCfgFindComponent(ComObject netCfg, const char16_t* componentId,
                              ComObject* component) override {
    return As<INetCfg>(netCfg)->FindComponent(
        W(componentId), reinterpret_cast<INetCfgComponent**>(component));
  }
  HRESULT NetCfgQueryNetCfgClass(ComObject netCfg, const Guid& classGuid, const Guid& iid,
                                 ComObject* netCfgClass) override {
    return As<INetCfg>(netCfg)->QueryNetCfgClass(&G(classGuid), G(iid), Out(netCfgClass));
  }
  HRESULT NetCfgLockAcquireWriteLock(ComObject lock, DWORD timeoutMs,
                                     const char16_t* clientDescription,
                                     char16_t** holder) override {
    return As<INetCfgLock>(lock)->AcquireWriteLock(timeoutMs, W(clientDescription),
                                                   reinterpret_cast<LPWSTR*>(holder));
  }
  HRESULT NetCfgLockReleaseWriteLock(ComObject lock) override {
    return As<INetCfgLock>(lock)->ReleaseWriteLock();
  }
  HRESULT NetCfgComponentGetClassGuid(ComObject component, Guid* classGuid) override {
    return As<INetCfgComponent>(component)->GetClassGuid(reinterpret_cast<GUID*>(classGuid));
  }
  HRESULT NetCfgClassSetupDeInstall(ComObject classSetup, ComObject component,
                                    const OboToken* obo, char16_t** references) override {
    OBO_TOKEN token{};
    if (obo) {
      token.Type = static_cast<OBO_TOKEN_TYPE>(obo->type);
      token.pncc = As<INetCfgComponent>(obo->component);
      token.pszwManufacturer = Mutable(obo->manufacturer);
      token.pszwProduct = Mutable(obo->product);
      token.pszwDisplayName = Mutable(obo->displayName);
      token.fRegistered = obo->registered;
    }
    return As<INetCfgClassSetup>(classSetup)->DeInstall(
        As<INetCfgComponent>(component), obo ? &token : nullptr,
        reinterpret_cast<LPWSTR*>(references));
  }
  HRESULT WbemLocatorConnectServer(ComObject locator, BSTR networkResource, BSTR user,
                                   BSTR password, BSTR locale, LONG securityFlags,
                                   BSTR authority, ComObject context,
                                   ComObject* services) override {
    return As<IWbemLocator>(locator)->ConnectServer(
        W(networkResource), W(user), W(password), W(locale), securityFlags, W(authority),
        As<IWbemContext>(context), reinterpret_cast<IWbemServices**>(services));
  }
  HRESULT WbemServicesDeleteInstance(ComObject services, BSTR objectPath, LONG flags,
                                     ComObject context, ComObject* callResult) override {
    return As<IWbemServices>(services)->DeleteInstance(
        W(objectPath), flags, As<IWbemContext>(context),
        reinterpret_cast<IWbemCallResult**>(callResult));
  }
  BSTR SysAllocString(const char16_t* text) override {
    return reinterpret_cast<BSTR>(::SysAllocString(W(text)));
  }
  void SysFreeString(BSTR text) override { ::SysFreeString(W(text)); }
  int StringFromGUID2(const Guid& guid, char16_t* buffer, int bufferChars) override {
    return ::StringFromGUID2(G(guid), W(buffer), bufferChars);
  }
};

}  // namespace

namespace {
// Namespace-scope objects rather than function statics: a guarded static would bring in the
// threads library, and with it functions that Windows 2000 lacks.
RealRegistry g_registry;
RealFileSystem g_files;
RealSystem g_system;
RealWindows g_windows;
RealResources g_resources;
RealServices g_services;
RealCom g_com;
}  // namespace

Platform RealPlatform() {
  return Platform{&g_registry, &g_files, &g_system, &g_windows, &g_resources, &g_services,
                  &g_com};
}

}  // namespace zp::win32
