// The seam to the operating system. Everything the system asks of Windows goes through one of
// these facets: one method per Windows call, with the Windows semantics (Win32 error codes and
// GetLastError, the same flags and masks, registry data in bytes, UTF-16 text). The entry point
// installs the real backend (platform/win32); a host test installs a simulated machine
// (platform/sim). No rule of the system lives behind the seam.
//
// Functions that Windows 2000 lacks are marked "late": a caller asks GetProcAddress first and
// takes its fallback when the function is missing; a backend asked anyway answers
// ERROR_PROC_NOT_FOUND instead of failing.
#pragma once

#include "platform/types.h"

namespace zp {

class Registry {
 public:
  virtual ~Registry() = default;
  virtual LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, REGSAM sam,
                             HKEY* result) = 0;
  virtual LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, const char16_t* keyClass,
                               DWORD options, REGSAM sam, HKEY* result, DWORD* disposition) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
  virtual LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                                DWORD* size) = 0;
  virtual LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data,
                              DWORD size) = 0;
  virtual LONG RegDeleteKeyW(HKEY root, const char16_t* subKey) = 0;
  // late (Vista, XP x64)
  virtual LONG RegDeleteKeyExW(HKEY root, const char16_t* subKey, REGSAM view) = 0;
  virtual LONG RegDeleteValueW(HKEY key, const char16_t* name) = 0;
  virtual LONG RegEnumKeyW(HKEY key, DWORD index, char16_t* name, DWORD nameChars) = 0;
  virtual LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars,
                             DWORD* type, BYTE* data, DWORD* size) = 0;
  // ntdll: deletes the key the handle names (a symbolic link opened with REG_OPTION_OPEN_LINK
  // is deleted itself, not its target).
  virtual NTSTATUS NtDeleteKey(HKEY key) = 0;
  virtual DWORD RtlNtStatusToDosError(NTSTATUS status) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual DWORD GetFileAttributesW(const char16_t* path) = 0;
  virtual BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) = 0;
  virtual BOOL DeleteFileW(const char16_t* path) = 0;
  virtual BOOL CreateDirectoryW(const char16_t* path) = 0;
  virtual BOOL RemoveDirectoryW(const char16_t* path) = 0;
  virtual BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) = 0;
  virtual BOOL CopyFileW(const char16_t* from, const char16_t* to, BOOL failIfExists) = 0;
  virtual HANDLE FindFirstFileW(const char16_t* pattern, FindData* data) = 0;
  virtual BOOL FindNextFileW(HANDLE find, FindData* data) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;
  virtual DWORD GetShortPathNameW(const char16_t* path, char16_t* buffer, DWORD bufferChars) = 0;
  virtual UINT GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int fallback,
                                     const char16_t* file) = 0;
  virtual DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                         const char16_t* fallback, char16_t* buffer,
                                         DWORD bufferChars, const char16_t* file) = 0;
  virtual BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key,
                                          const char16_t* value, const char16_t* file) = 0;

  virtual HANDLE CreateFileW(const char16_t* path, DWORD access, DWORD share, DWORD creation,
                             DWORD flags) = 0;
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inBytes,
                               void* out, DWORD outBytes, DWORD* returned) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL SHGetSpecialFolderPathW(char16_t* path, int csidl, BOOL create) = 0;
  // late (XP x64): the file-system redirection of a 32-bit process on 64-bit Windows.
  virtual BOOL Wow64EnableWow64FsRedirection(BOOL enable) = 0;

  // The run-time library's file descriptors (msvcrt): CRT_O_ flags, CRT_E error numbers.
  virtual int _wopen(const char16_t* path, int flags, int mode) = 0;
  virtual int _read(int fd, void* buffer, unsigned count) = 0;
  virtual int _write(int fd, const void* buffer, unsigned count) = 0;
  virtual long _lseek(int fd, long offset, int origin) = 0;
  virtual int _commit(int fd) = 0;
  virtual int _close(int fd) = 0;
  virtual int Errno() = 0;

  // The run-time library's streams (msvcrt), for text files handled line by line. The modes
  // "r" and "w" open in text mode: a CR LF is read as LF, a LF is written as CR LF, a Ctrl-Z
  // ends what is read, and each character passes through the locale's code page (the "C"
  // locale: one byte per character, 0 to 255). Errors as CRT_E numbers through Errno.
  virtual CrtStream* _wfopen(const char16_t* path, const char16_t* mode) = 0;
  // At most count - 1 characters, up to and including a line feed; null at the end of the
  // file or on an error.
  virtual char16_t* fgetws(char16_t* buffer, int count, CrtStream* stream) = 0;
  // 0, or CRT_WEOF on an error (the wide end-of-file 0xFFFF as an int, not -1).
  virtual int fputws(const char16_t* text, CrtStream* stream) = 0;
  virtual int ferror(CrtStream* stream) = 0;
  virtual int fclose(CrtStream* stream) = 0;
};

class System {
 public:
  virtual ~System() = default;
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD code) = 0;
  virtual BOOL GetVersionExW(OsVersionInfo* info) = 0;
  virtual LANGID GetUserDefaultLangID() = 0;
  virtual BOOL GetComputerNameW(char16_t* buffer, DWORD* chars) = 0;
  virtual DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD bufferChars) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual UINT SetErrorMode(UINT mode) = 0;
  virtual HMODULE GetModuleHandleW(const char16_t* name) = 0;
  // Runs `function(context)` under a structured exception frame: false, and the exception's
  // code, when the code called raised one (an access violation in a removed product's DLL).
  // Works on every supported Windows (no vectored handlers, which Windows 2000 lacks).
  virtual bool CallGuarded(void (*function)(void*), void* context, DWORD* exceptionCode) = 0;
  virtual HMODULE LoadLibraryW(const char16_t* path) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;
  // Non-null when the module exports the function.
  virtual const void* GetProcAddress(HMODULE module, const char* name) = 0;
  // late (XP SP2): for the current process
  virtual BOOL IsWow64Process(BOOL* wow64) = 0;
  // late (XP)
  virtual void GetNativeSystemInfo(SystemInfo* info) = 0;
  virtual UINT GetWindowsDirectoryW(char16_t* buffer, UINT bufferChars) = 0;
  virtual UINT GetSystemDirectoryW(char16_t* buffer, UINT bufferChars) = 0;
  virtual UINT GetSystemWindowsDirectoryW(char16_t* buffer, UINT bufferChars) = 0;
  // late (XP)
  virtual UINT GetSystemWow64DirectoryW(char16_t* buffer, UINT bufferChars) = 0;
  virtual DWORD GetTempPathW(DWORD bufferChars, char16_t* buffer) = 0;
  virtual DWORD ExpandEnvironmentStringsW(const char16_t* text, char16_t* buffer,
                                          DWORD bufferChars) = 0;
  virtual DWORD GetTickCount() = 0;
  virtual void GetSystemTimeAsFileTime(FileTime* time) = 0;
  virtual BOOL FileTimeToLocalFileTime(const FileTime* utc, FileTime* local) = 0;
  virtual BOOL FileTimeToSystemTime(const FileTime* time, SystemTime* fields) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual LONG UuidCreate(Guid* uuid) = 0;
  // RPC_S_OK and the lower-case text with hyphens, or an RPC error.
  virtual LONG UuidToStringW(const Guid* uuid, std::u16string* text) = 0;

  // COM on the calling thread.
  virtual HRESULT CoInitialize() = 0;
  virtual void CoUninitialize() = 0;

  // The process token and its privileges (one privilege per adjustment).
  virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
  virtual BOOL LookupPrivilegeValueW(const char16_t* system, const char16_t* name, Luid* luid) = 0;
  virtual BOOL AdjustTokenPrivileges(HANDLE token, const Luid& privilege, DWORD attributes) = 0;

  virtual BOOL GetUserNameW(char16_t* buffer, DWORD* chars) = 0;
  // TokenUser (1): the buffer starts with the user's SID pointer (TOKEN_USER).
  virtual BOOL GetTokenInformation(HANDLE token, int infoClass, void* buffer, DWORD size,
                                   DWORD* returned) = 0;
  virtual BOOL LookupAccountSidW(const char16_t* system, const void* sid, char16_t* name,
                                 DWORD* nameChars, char16_t* domain, DWORD* domainChars) = 0;
  virtual void GlobalMemoryStatus(MemoryStatus* status) = 0;

  // Processes: started without an application name; waited for.
  virtual BOOL CreateProcessW(const char16_t* commandLine, DWORD flags, ProcessInfo* info) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;

  // Access lists: a new ACL (freed with LocalFree) and the security of a named object.
  virtual DWORD SetEntriesInAclW(DWORD count, const ExplicitAccess* entries, void** acl) = 0;
  virtual DWORD SetNamedSecurityInfoW(const char16_t* name, int objectType, DWORD information,
                                      const void* owner, const void* group, const void* dacl,
                                      const void* sacl) = 0;
  virtual void LocalFree(void* memory) = 0;
  // late (XP): a well-known SID (WELL_KNOWN_SID_TYPE) into `sid` of `*size` bytes.
  virtual BOOL CreateWellKnownSid(int type, void* sid, DWORD* size) = 0;
  // An absolute security descriptor in the caller's buffer (SECURITY_DESCRIPTOR_MIN_LENGTH).
  virtual BOOL InitializeSecurityDescriptor(void* descriptor, DWORD revision) = 0;
  virtual BOOL SetSecurityDescriptorOwner(void* descriptor, const void* owner, BOOL defaulted) = 0;
  virtual BOOL SetSecurityDescriptorGroup(void* descriptor, const void* group, BOOL defaulted) = 0;
  virtual BOOL SetSecurityDescriptorDacl(void* descriptor, BOOL present, const void* acl,
                                         BOOL defaulted) = 0;
  // The process's COM security, from the descriptor (authentication services: COM chooses).
  virtual HRESULT CoInitializeSecurity(const void* descriptor, DWORD authenticationLevel,
                                       DWORD impersonationLevel, DWORD capabilities) = 0;

  // Shutdown.
  virtual BOOL ExitWindowsEx(UINT flags, DWORD reason) = 0;
  virtual BOOL InitiateSystemShutdownW(const char16_t* machine, const char16_t* message,
                                       DWORD timeout, BOOL forceClose, BOOL reboot) = 0;
  // late (XP)
  virtual BOOL InitiateSystemShutdownExW(const char16_t* machine, const char16_t* message,
                                         DWORD timeout, BOOL forceClose, BOOL reboot,
                                         DWORD reason) = 0;
};

// The service control manager (Windows NT family).
class Services {
 public:
  virtual ~Services() = default;
  virtual SC_HANDLE OpenSCManagerW(const char16_t* machine, const char16_t* database,
                                   DWORD access) = 0;
  virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const char16_t* name, DWORD access) = 0;
  virtual SC_HANDLE CreateServiceW(SC_HANDLE manager, const char16_t* name,
                                   const char16_t* displayName, DWORD access, DWORD serviceType,
                                   DWORD startType, DWORD errorControl,
                                   const char16_t* binaryPath) = 0;
  virtual BOOL StartServiceW(SC_HANDLE service) = 0;
  virtual BOOL ControlService(SC_HANDLE service, DWORD control, ServiceStatus* status) = 0;
  virtual BOOL QueryServiceStatus(SC_HANDLE service, ServiceStatus* status) = 0;
  virtual BOOL DeleteService(SC_HANDLE service) = 0;
  virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
};

class Windows {
 public:
  virtual ~Windows() = default;
  virtual int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption,
                          UINT type) = 0;
  virtual HWND GetDlgItem(HWND dialog, int id) = 0;
  virtual int GetWindowTextW(HWND window, char16_t* buffer, int bufferChars) = 0;
  virtual BOOL SetWindowTextW(HWND window, const char16_t* text) = 0;
  virtual LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual INT_PTR DialogBoxParamW(HMODULE instance, const char16_t* templateName, HWND owner,
                                  DialogProc procedure, LPARAM parameter) = 0;
  virtual BOOL EndDialog(HWND dialog, INT_PTR result) = 0;
  virtual BOOL EnableWindow(HWND window, BOOL enable) = 0;
  virtual HICON LoadIconW(HMODULE instance, const char16_t* name) = 0;
  virtual HCURSOR LoadCursorW(HMODULE instance, const char16_t* name) = 0;
  virtual HCURSOR SetCursor(HCURSOR cursor) = 0;
  // The folder picker: the chosen item list, or null when cancelled; freed with CoTaskMemFree.
  virtual void* SHBrowseForFolderW(HWND owner, const char16_t* title, UINT flags,
                                   BrowseCallback callback, LPARAM data,
                                   char16_t* displayName) = 0;
  virtual BOOL SHGetPathFromIDListW(const void* item, char16_t* path) = 0;
  virtual void CoTaskMemFree(void* memory) = 0;
};

class Resources {
 public:
  virtual ~Resources() = default;
  virtual HRSRC FindResourceExW(HMODULE module, const char16_t* type, const char16_t* name,
                                LANGID language) = 0;
  virtual HGLOBAL LoadResource(HMODULE module, HRSRC resource) = 0;
  virtual const void* LockResource(HGLOBAL data) = 0;
  virtual DWORD SizeofResource(HMODULE module, HRSRC resource) = 0;
};

// One backend, all facets.
struct Platform {
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
  System* system = nullptr;
  Windows* windows = nullptr;
  Resources* resources = nullptr;
  Services* services = nullptr;
};

// Installs the backend every facet call goes to; returns the one it replaces.
Platform InstallPlatform(const Platform& platform);

Registry& Reg();
FileSystem& Files();
System& Sys();
Windows& Ui();
Resources& Res();
Services& Svc();

}  // namespace zp
