// The simulated Windows machine of the host tests: a plain in-memory model of exactly what the
// system uses. A test builds one, describes the machine (operating system, keys, files, answers
// to message boxes) and installs it; the system then runs against it through the seam.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp::sim {

std::u16string Upper(std::u16string_view text);

// The operating system the machine runs and the process's place in it.
struct OsFacts {
  OsVersionInfo version;
  bool wow64 = false;                   // a 32-bit process on 64-bit Windows
  WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  LANGID userLanguage = 1033;
  std::u16string computerName = u"SIMPC";
  // The account the process runs as: GetUserNameW's name, and the token user's account.
  std::u16string userName = u"Administrator";
  std::u16string accountName = u"Administrator";
  std::u16string accountDomain = u"SIMPC";
  MemoryStatus memory{42, 512u << 20, 256u << 20, 1024u << 20, 768u << 20, 2047u << 20, 2000u << 20};
  std::u16string windowsFolder = u"C:\\WINDOWS";
  bool safeMode = false;
  // Exports of the system libraries beyond those of Windows 2000, as "module!function" in lower
  // case ("kernel32.dll!iswow64process").
  std::set<std::string> lateExports;

  static OsFacts Windows98();
  static OsFacts WindowsMe();
  static OsFacts WindowsNt4();
  static OsFacts Windows2000();
  static OsFacts WindowsXp();
  static OsFacts WindowsXpX64();
  static OsFacts Server2003();
  static OsFacts Server2003Ia64();  // a 32-bit process on 64-bit Windows on an Itanium
  static OsFacts Windows7();
  static OsFacts Windows7X64();
  static OsFacts Server2008R2();
  static OsFacts Windows8X64();
};

struct MessageBoxCall {
  HWND owner = nullptr;
  std::u16string text;
  std::u16string caption;
  UINT type = 0;
  int answer = 0;
};

// A shutdown request the system made.
struct ShutdownCall {
  std::string call;  // "ExitWindowsEx", "InitiateSystemShutdownW", "InitiateSystemShutdownExW"
  std::u16string message;
  DWORD timeout = 0;
  BOOL forceClose = FALSE;
  BOOL reboot = FALSE;
  DWORD reason = 0;
  UINT flags = 0;                  // ExitWindowsEx
  bool shutdownPrivilege = false;  // enabled in the process token at the time of the call
};

// A device of a driver: answers DeviceIoControl with `code` and the input; fills `out` and
// returns true on success.
using DeviceHandler =
    std::function<bool(DWORD code, std::span<const BYTE> in, std::vector<BYTE>* out)>;

// What the user does in a dialog the program shows (DialogBoxParamW), in order; when the script
// ends the user closes the window.
struct DialogAction {
  enum Kind { Select, Type, Press, Close } kind;
  int id = 0;           // the control (Select: the combo box)
  int index = 0;        // Select: the entry
  std::u16string text;  // Type: the text

  static DialogAction SelectEntry(int id, int index) { return {Select, id, index, {}}; }
  static DialogAction TypeText(int id, std::u16string text) {
    return {Type, id, 0, std::move(text)};
  }
  static DialogAction PressButton(int id) { return {Press, id, 0, {}}; }
  static DialogAction CloseWindow() { return {Close, 0, 0, {}}; }
};

// One use of the folder picker.
struct FolderPickerCall {
  HWND owner = nullptr;
  std::u16string prompt;
  std::u16string caption;    // set by the program when the picker opened
  std::u16string selection;  // where the program opened it; empty when it did not say
  bool okEnabled = false;    // the last BFFM_ENABLEOK
};

// Thrown by a test's stand-in export to play a structured exception (an access violation) inside
// the products' code; CallGuarded catches it as Windows would.
struct StructuredException {
  DWORD code;
};

// A message the system posted to another program's window.
struct PostedMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// A program the system started.
struct StartedProcess {
  std::u16string commandLine;
  DWORD flags = 0;
  bool redirectionOff = false;  // the 32-bit process's file-system redirection at the start
  std::u16string program;           // the file the command line's first word was found as
  std::u16string currentDirectory;  // the starting process's, which the program inherits
  DWORD processId = 0;
  bool resumed = false;            // ResumeThread on its main thread (started suspended)
  bool foregroundAllowed = false;  // AllowSetForegroundWindow with its id
  bool waitedFor = false;          // waited for until it ended
};

// An access-list entry as the system set it on a file: the SID's bytes, the rights.
struct AccessEntry {
  std::vector<BYTE> sid;
  DWORD permissions = 0;
};

// The process's COM security as CoInitializeSecurity received it.
struct ComSecurity {
  std::vector<BYTE> owner;
  std::vector<BYTE> group;
  std::vector<AccessEntry> dacl;
  DWORD authenticationLevel = 0;
  DWORD impersonationLevel = 0;
  DWORD capabilities = 0;
};

// ---- COM
// A network component of the network configuration (INetCfg), by its id ("ms_tcpip").
struct NetComponent {
  std::u16string id;
  Guid classGuid = GUID_DEVCLASS_NETSERVICE;
  // What INetCfgClassSetup::DeInstall answers for it: S_OK, NETCFG_S_REBOOT, or a failure such
  // as HresultFromWin32(ERROR_CANCELLED) (its notify object refused).
  HRESULT deinstallResult = S_OK;
};

// The machine's network configuration and what the system did with it.
struct NetworkConfiguration {
  std::vector<NetComponent> components;
  // Another program (an open network properties window) holds the write lock under this
  // description; an AcquireWriteLock then waits its time-out and answers S_FALSE.
  std::optional<std::u16string> otherLockHolder;
  HRESULT applyResult = S_OK;       // NETCFG_S_REBOOT: the change takes effect at restart
  bool findNotImplemented = false;  // FindComponent answers E_NOTIMPL, as Wine's does

  // What happened: the components whose removal was applied, the Apply calls, each
  // AcquireWriteLock's time-out and client description, each DeInstall's OBO token type.
  std::vector<std::u16string> removed;
  int applies = 0;
  std::vector<DWORD> lockTimeouts;
  std::vector<std::u16string> lockClients;
  std::vector<int> oboTypes;
  // The system's own state now: its write lock, and INetCfg objects still initialised.
  bool writeLockHeld = false;
  int initialized = 0;
};

// WMI: namespaces ("root\SecurityCenter") with the object paths of their instances.
struct WmiModel {
  bool serviceDisabled = false;  // ConnectServer answers HresultFromWin32(ERROR_SERVICE_DISABLED)
  std::vector<std::u16string> connects;  // the namespace texts given to ConnectServer
  std::vector<std::u16string> deletes;   // the object paths given to DeleteInstance
};

struct StringResource {
  LANGID language;
  WORD id;
  std::u16string_view text;
};

class Machine {
 public:
  explicit Machine(OsFacts os = OsFacts::Windows7());
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this machine the one every facet call goes to, until it is destroyed.
  void Install();

  OsFacts& os() { return os_; }

  // ---- registry: keys by full path, e.g. "HKLM\\Software\\Ostrel" (HKLM, HKCU, HKCR, HKU);
  // the paths name the physical keys (a 32-bit key of a 64-bit machine is under Wow6432Node).
  void SetValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                std::vector<BYTE> data);
  void SetString(std::u16string_view keyPath, std::u16string_view name, std::u16string_view text,
                 DWORD type = REG_SZ);
  void SetDword(std::u16string_view keyPath, std::u16string_view name, DWORD value);
  void SetMultiString(std::u16string_view keyPath, std::u16string_view name,
                      const std::vector<std::u16string>& items);
  void CreateKey(std::u16string_view keyPath);
  // The key's access list refuses `rights`: an open asking for any of them gets 5.
  void DenyKeyAccess(std::u16string_view keyPath, REGSAM rights);
  bool KeyExists(std::u16string_view keyPath) const;
  std::optional<std::vector<BYTE>> Value(std::u16string_view keyPath, std::u16string_view name,
                                         DWORD* type = nullptr) const;
  std::optional<std::u16string> String(std::u16string_view keyPath,
                                       std::u16string_view name) const;
  std::vector<std::u16string> MultiString(std::u16string_view keyPath,
                                          std::u16string_view name) const;

  // Symbolic link `linkPath` to `targetPath` (both full paths as above).
  void CreateLink(std::u16string_view linkPath, std::u16string_view targetPath);

  // Hive files. MoveToHive takes the key tree at `keyPath` out of the registry into the hive
  // file `file` (its folders are created): a profile whose user is not logged on. HiveKeyExists
  // looks into a hive file that is not mounted ("" names its root); MountedHives lists the mount
  // names below HKEY_USERS of the hives RegLoadKeyW mounted and nothing unmounted yet.
  void MoveToHive(std::u16string_view keyPath, std::u16string_view file);
  bool HiveKeyExists(std::u16string_view file, std::u16string_view subKey) const;
  std::vector<std::u16string> MountedHives() const;

  // ---- files: full paths, e.g. "C:\\Program Files\\Ostrel\\a.dll"; parents are created.
  void AddFile(std::u16string_view path, std::string_view content = {},
               DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
  void AddFolder(std::u16string_view path);
  bool Exists(std::u16string_view path) const;
  std::optional<std::string> FileContent(std::u16string_view path) const;
  // Held open by another process without delete sharing: deletion gives 32.
  void LockFile(std::u16string_view path, bool locked = true);
  void SetShortName(std::u16string_view path, std::u16string_view shortName);
  // A junction (a directory reparse point) at `path` leading to the folder `target`.
  void AddJunction(std::u16string_view path, std::u16string_view target);
  // A special folder (CSIDL) as SHGetSpecialFolderPathW reports it; empty makes the call fail.
  void SetSpecialFolder(int csidl, std::u16string_view path);
  // An environment variable; an empty value removes it.
  void SetEnvironment(std::u16string_view name, std::u16string_view value);
  // A device "\\.\<name>" of a driver.
  void AddDevice(std::u16string_view name, DeviceHandler handler);
  // Control codes sent to the devices, in order.
  const std::vector<std::pair<std::u16string, DWORD>>& deviceCalls() const;

  // ---- windows
  void AnswerMessageBoxes(std::initializer_list<int> answers);
  const std::vector<MessageBoxCall>& messageBoxes() const;
  // A dialog window with controls by id (edit fields, combo boxes).
  HWND AddDialog();
  void AddControl(HWND dialog, int id);
  std::u16string ControlText(HWND dialog, int id) const;
  void SetControlText(HWND dialog, int id, std::u16string_view text);
  std::vector<std::u16string> ControlItems(HWND dialog, int id) const;
  int ControlSelection(HWND dialog, int id) const;

  // The user's actions in the next dialog, and the folder the picker's user confirms (none:
  // cancelled), one per use.
  void ScriptDialog(std::vector<DialogAction> actions);
  void AnswerFolderPicker(std::optional<std::u16string> folder);
  HWND LastDialog() const;
  bool ControlEnabled(HWND dialog, int id) const;
  // WM_SETICON received by a window: (which, icon), in order.
  std::vector<std::pair<WPARAM, LPARAM>> IconsSet(HWND window) const;
  const std::vector<FolderPickerCall>& folderPickers() const;
  // A top-level window of another program (FindWindowW finds it), and what was posted to such
  // windows, in order.
  HWND AddWindow(std::u16string_view className, std::u16string_view title = {});
  const std::vector<PostedMessage>& postedMessages() const;
  // The cursors set with SetCursor, in order, as the names LoadCursorW was given (32512 arrow,
  // 32514 wait); item lists of the picker not yet freed.
  const std::vector<unsigned>& cursors() const;
  int OpenItemLists() const;

  // ---- processes and access lists
  // A program at `path` (the file is created) that ends with `exitCode` once it runs. A command
  // line's first word that is no full path is looked for, as Windows does, in the folder of
  // this program, the current directory, the system folder and the Windows folder.
  void AddProgram(std::u16string_view path, DWORD exitCode = 0);
  const std::vector<StartedProcess>& processesStarted() const;
  // Process and thread handles of started programs not yet closed.
  int OpenProcessHandles() const;
  // The process's current directory (at first the folder of this program).
  std::u16string CurrentDirectory() const;
  // The session the process runs in (ProcessIdToSessionId of its own id).
  void SetSessionId(DWORD session);
  // The access list set on a file with SetNamedSecurityInfoW, and whether it was protected.
  std::vector<AccessEntry> FileAccessList(std::u16string_view path, bool* protectedList) const;

  const std::optional<ComSecurity>& comSecurity() const;

  // ---- shutdown and privileges
  const std::vector<ShutdownCall>& shutdowns() const;
  // CoInitialize calls not undone by CoUninitialize.
  int ComInitializations() const;
  int ComInitializeCalls() const;
  bool PrivilegeEnabled(std::u16string_view name) const;

  // ---- clock: wall-clock time in seconds since 1970 (UTC), the local zone's offset, the ticks
  void SetClock(std::int64_t unixSeconds, int utcOffsetMinutes = 0);
  void SetTickCount(DWORD ticks);

  // ---- modules and resources
  HMODULE ProgramModule() const;
  void SetProgramPath(std::u16string_view path);
  void AddStringTable(HMODULE module, std::span<const StringResource> strings);
  // A resource of any content (a string-table block as raw bytes, for example).
  void AddResource(HMODULE module, unsigned type, unsigned name, LANGID language,
                   std::vector<BYTE> data);
  // A DLL at `path` (the file is created) with its exports, real functions of the test.
  void AddLibrary(std::u16string_view path, std::map<std::string, const void*> exports);
  // A 64-bit DLL at `path`: this 32-bit process cannot load it (ERROR_BAD_EXE_FORMAT).
  void AddLibrary64(std::u16string_view path);
  // How often the DLL is loaded now (LoadLibraryW minus FreeLibrary), and was ever loaded.
  int LibraryLoadCount(std::u16string_view path) const;
  int LibraryLoads(std::u16string_view path) const;
  // The flags of each LoadLibraryExW of the DLL that found it (LoadLibraryW: 0), in order.
  std::vector<DWORD> LibraryLoadFlags(std::u16string_view path) const;
  // OleInitialize calls not undone by OleUninitialize.
  int OleInitializations() const;

  // ---- services: a service (or driver) entry of the service control manager, with its key
  // HKLM\System\CurrentControlSet\Services\<name>. A stop keeps it STOP_PENDING for
  // `stopPendingMs` of simulated time (Sleep advances it; -1: for ever, 0: it stops at once).
  // A service marked for deletion vanishes once it is stopped and no handle to it is open.
  void AddService(std::u16string_view name, DWORD type = SERVICE_WIN32_OWN_PROCESS,
                  DWORD state = SERVICE_STOPPED, int stopPendingMs = 0);
  void SetServiceStopPending(std::u16string_view name, int stopPendingMs);
  // OpenServiceW asking for any of `rights` gives ERROR_ACCESS_DENIED (the service's own ACL).
  void DenyServiceAccess(std::u16string_view name, DWORD rights);
  bool ServiceExists(std::u16string_view name) const;
  DWORD ServiceState(std::u16string_view name) const;  // 0 when there is no such service
  bool ServiceMarkedForDeletion(std::u16string_view name) const;
  std::u16string ServiceBinaryPath(std::u16string_view name) const;
  // Service control manager handles open now; the access asked of each OpenSCManagerW, in order.
  int OpenServiceHandles() const;
  const std::vector<DWORD>& ServiceManagerOpens() const;

  // ---- system libraries loaded on demand (setupapi.dll): another module of the process
  // loaded it; how often it is loaded now, and how often LoadLibraryW loaded it.
  void LoadSystemModule(std::u16string_view name);
  int SystemModuleLoadCount(std::u16string_view name) const;
  int SystemModuleLoads(std::u16string_view name) const;
  // SetupUninstallOEMInfW calls: the name given and the flags, in order.
  const std::vector<std::pair<std::u16string, DWORD>>& oemInfUninstalls() const;

  // ---- COM: the network configuration, WMI, the objects the system created (their CLSIDs, in
  // order), references not yet released, strings (BSTR, CoTaskMem) not yet freed.
  NetworkConfiguration& network();
  WmiModel& wmi();
  void AddWmiNamespace(std::u16string_view name);
  void RemoveWmiNamespace(std::u16string_view name);
  void AddWmiInstance(std::u16string_view wmiNamespace, std::u16string_view objectPath);
  bool WmiInstanceExists(std::u16string_view wmiNamespace, std::u16string_view objectPath) const;
  const std::vector<Guid>& comObjectsCreated() const;
  int LiveComObjects() const;
  int OpenComStrings() const;

  // ---- the whole machine as text, to compare two moments or two machines: one line per
  // registry key and value (the pending renames of the restart included), file and folder (its
  // attributes and content), hive file, service, WMI instance and network component, and what the
  // system had done to the world outside (programs started, shutdowns, driver packages uninstalled,
  // network components removed, WMI instances deleted, messages posted), in a fixed order.
  // Each line is its kind ("key", "value", "file", "folder", "service", ...), a tab and the item's
  // path (registry paths name the physical keys: "HKLM\...", "HKU\<sid>\..."), then its other
  // fields after tabs.
  std::vector<std::u16string> StateLines() const;

  // ---- failure injection: the next `count` calls of `call` (a method name such as
  // "RegOpenKeyExW") whose path contains `pathPart` (any, when empty) fail with `error`
  // (CoCreateInstance: the CLSID's braced text; SysAllocString: the text).
  void FailCall(std::string call, LONG error, std::u16string pathPart = {}, int count = 1);

  struct Impl;

 private:
  OsFacts os_;
  std::unique_ptr<Impl> impl_;
  Platform previous_;
  bool installed_ = false;
  friend struct Impl;
};

}  // namespace zp::sim
