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
  // The key's number of sub-keys and the length of its longest sub-key name (characters).
  virtual LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyChars) = 0;
  // `*nameChars` in: the buffer's size; out: the name's length without its terminator.
  virtual LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars) = 0;

  // Hives: a hive file mounted as root\subKey (HKEY_USERS or HKEY_LOCAL_MACHINE) and unmounted
  // again need SeRestorePrivilege; saving a key to a new hive file needs SeBackupPrivilege.
  virtual LONG RegLoadKeyW(HKEY root, const char16_t* subKey, const char16_t* file) = 0;
  virtual LONG RegUnLoadKeyW(HKEY root, const char16_t* subKey) = 0;
  virtual LONG RegSaveKeyW(HKEY key, const char16_t* file) = 0;
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

  // SetupAPI (setupapi.dll, which the program does not import): the driver package of an INF of
  // the Windows Inf folder, named by its file name ("oem5.inf"), not a path.
  // late (XP): the caller finds it with GetProcAddress on the loaded setupapi module first.
  virtual BOOL SetupUninstallOEMInfW(const char16_t* infFileName, DWORD flags) = 0;

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

  // Processes and the products' DLLs: a started process's thread and exit code, the process's
  // current directory, its id and session, and libraries loaded with search flags. COM with OLE
  // on the calling thread, for the products' in-process servers.
  virtual DWORD ResumeThread(HANDLE thread) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
  // late (user32; Windows 2000): lets the started process bring its windows to the front.
  virtual BOOL AllowSetForegroundWindow(DWORD processId) = 0;
  virtual DWORD GetCurrentDirectoryW(DWORD bufferChars, char16_t* buffer) = 0;
  virtual BOOL SetCurrentDirectoryW(const char16_t* path) = 0;
  virtual DWORD GetCurrentProcessId() = 0;
  virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) = 0;
  virtual HMODULE LoadLibraryExW(const char16_t* path, DWORD flags) = 0;
  virtual HRESULT OleInitialize() = 0;
  virtual void OleUninitialize() = 0;

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

  // Top-level windows of other programs (a null name matches any).
  virtual HWND FindWindowW(const char16_t* className, const char16_t* windowName) = 0;
  virtual BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
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

// COM objects: the network configuration (INetCfg and its companions, netcfgx) and WMI
// (IWbemLocator, IWbemServices). One method per interface call, named after the interface
// without its leading I and the call; the first argument is the interface pointer. Every pointer
// handed out carries its own reference, released with Release (UniqueComObject). COM itself is
// initialised through System::CoInitialize; memory COM hands out is freed with
// Windows::CoTaskMemFree.
class ComObjects {
 public:
  virtual ~ComObjects() = default;
  // No outer object.
  virtual HRESULT CoCreateInstance(const Guid& clsid, DWORD context, const Guid& iid,
                                   ComObject* object) = 0;
  // IUnknown
  virtual HRESULT QueryInterface(ComObject object, const Guid& iid, ComObject* result) = 0;
  virtual DWORD Release(ComObject object) = 0;
  // INetCfg
  virtual HRESULT NetCfgInitialize(ComObject netCfg) = 0;
  virtual HRESULT NetCfgUninitialize(ComObject netCfg) = 0;
  virtual HRESULT NetCfgApply(ComObject netCfg) = 0;
  // S_FALSE and a null component when the configuration holds no component of that id.
  virtual HRESULT NetCfgFindComponent(ComObject netCfg, const char16_t* componentId,
                                      ComObject* component) = 0;
  virtual HRESULT NetCfgQueryNetCfgClass(ComObject netCfg, const Guid& classGuid,
                                         const Guid& iid, ComObject* netCfgClass) = 0;
  // INetCfgLock. S_FALSE when another program kept the lock for `timeoutMs`; `holder` then
  // receives its description (CoTaskMemFree) or null.
  virtual HRESULT NetCfgLockAcquireWriteLock(ComObject lock, DWORD timeoutMs,
                                             const char16_t* clientDescription,
                                             char16_t** holder) = 0;
  virtual HRESULT NetCfgLockReleaseWriteLock(ComObject lock) = 0;
  // INetCfgComponent
  virtual HRESULT NetCfgComponentGetClassGuid(ComObject component, Guid* classGuid) = 0;
  // INetCfgClassSetup; `references` may be null.
  virtual HRESULT NetCfgClassSetupDeInstall(ComObject classSetup, ComObject component,
                                            const OboToken* obo, char16_t** references) = 0;
  // IWbemLocator; `context` null.
  virtual HRESULT WbemLocatorConnectServer(ComObject locator, BSTR networkResource, BSTR user,
                                           BSTR password, BSTR locale, LONG securityFlags,
                                           BSTR authority, ComObject context,
                                           ComObject* services) = 0;
  // IWbemServices; `context` null, `callResult` may be null.
  virtual HRESULT WbemServicesDeleteInstance(ComObject services, BSTR objectPath, LONG flags,
                                             ComObject context, ComObject* callResult) = 0;
  // OLE automation strings (oleaut32): null when out of memory.
  virtual BSTR SysAllocString(const char16_t* text) = 0;
  virtual void SysFreeString(BSTR text) = 0;
  // The braced upper-case text of a GUID: characters written with the terminator (39), or 0
  // when the buffer is too small.
  virtual int StringFromGUID2(const Guid& guid, char16_t* buffer, int bufferChars) = 0;
};

// One backend, all facets.
struct Platform {
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
  System* system = nullptr;
  Windows* windows = nullptr;
  Resources* resources = nullptr;
  Services* services = nullptr;
  ComObjects* com = nullptr;
};

// Installs the backend every facet call goes to; returns the one it replaces.
Platform InstallPlatform(const Platform& platform);
// The backend installed now (a decorator such as the preview's wraps it).
Platform InstalledPlatform();

Registry& Reg();
FileSystem& Files();
System& Sys();
Windows& Ui();
Resources& Res();
Services& Svc();
ComObjects& Com();

}  // namespace zp
