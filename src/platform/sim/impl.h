// The simulated machine's state and facets (private to platform/sim).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace zp::sim {

std::vector<std::u16string> SplitPath(std::u16string_view path);
std::u16string Text(const char16_t* text);  // null reads as empty
bool IsValidShortName(std::u16string_view name);

// ---- registry model
struct RegValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegNode {
  std::u16string name;
  RegNode* parent = nullptr;
  std::map<std::u16string, std::unique_ptr<RegNode>> children;  // by upper-case name
  std::vector<RegValue> values;                                  // in creation order
  bool link = false;  // a symbolic link: its "SymbolicLinkValue" names the target
  REGSAM denied = 0;  // rights its access list refuses (an open asking any of them gets 5)
  RegValue* FindValue(std::u16string_view name);
  RegNode* Child(std::u16string_view name);
  RegNode* AddChild(std::u16string_view name);
};

enum class RegRoot { LocalMachine, Users, CurrentUser, ClassesRoot };

// A key as the caller named it: the root, the path below it and the view asked for (0, or
// KEY_WOW64_64KEY / KEY_WOW64_32KEY). Every use resolves it anew to the physical key, so a handle
// to a deleted key finds nothing, as on Windows.
struct RegLogical {
  RegRoot root = RegRoot::LocalMachine;
  std::vector<std::u16string> path;
  REGSAM view = 0;
  bool openLink = false;  // the last part, if a link, is the link itself (REG_OPTION_OPEN_LINK)
};

// ---- file system model
struct FsNode {
  std::u16string name;
  std::u16string shortName;  // empty when the name is itself a valid 8.3 name
  FsNode* parent = nullptr;
  bool folder = false;
  DWORD attributes = 0;
  std::string data;
  int openCount = 0;   // opened through the run-time library
  bool lockedByOther = false;
  std::unique_ptr<RegNode> hive;  // a hive file (RegSaveKeyW) while it is not mounted
  bool hiveMounted = false;       // held by the registry while mounted (RegLoadKeyW)
  bool HeldByOther() const { return lockedByOther || hiveMounted; }
  std::u16string reparseTarget;  // a junction: the folder it leads to
  std::vector<AccessEntry> accessList;  // set by SetNamedSecurityInfoW
  bool accessListProtected = false;
  std::map<std::u16string, std::unique_ptr<FsNode>> children;  // by upper-case name
  FsNode* Child(std::u16string_view name);
  DWORD Attributes() const;
};

// The process token's pseudo handle in the simulator.
inline constexpr std::uintptr_t kTokenHandle = 0x7000;

struct Failure {
  std::string call;
  LONG error;
  std::u16string pathPart;
  int count;
};

// ---- COM model (sim/com.cpp)
// What a COM object of the simulator is; each kind answers for its interfaces.
enum class ComKind { NetCfg, NetComponent, NetClass, Locator, Services };

struct ComObjectState {
  explicit ComObjectState(ComKind k) : kind(k) {}
  ComKind kind;
  int refs = 1;
  // NetCfg
  bool initialized = false;
  std::vector<std::u16string> pendingRemovals;  // applied by Apply, dropped by Uninitialize
  // NetComponent, NetClass: the component and the class; the INetCfg they came from
  std::u16string componentId;
  Guid classGuid;
  std::uintptr_t netCfg = 0;
  // Services: the namespace (upper case)
  std::u16string wmiNamespace;
};

// An interface pointer: the object and the interface it was asked for.
struct ComPointer {
  std::uintptr_t object;
  Guid iid;
};

struct ComState {
  std::map<std::uintptr_t, ComObjectState> objects;
  std::map<std::uintptr_t, ComPointer> pointers;
  std::uintptr_t next = 0xA0000;
  std::uintptr_t lockOwner = 0;      // the INetCfg object holding the system's write lock
  std::u16string lockOwnerClient;
  std::map<std::uintptr_t, std::unique_ptr<char16_t[]>> strings;  // BSTRs and CoTaskMem texts
  std::set<std::uintptr_t> coTaskTexts;
};

struct Machine::Impl {
  explicit Impl(Machine& machine);
  ~Impl();
  Machine& machine;
  OsFacts& os() { return machine.os_; }

  DWORD lastError = 0;
  std::vector<Failure> failures;
  // True (and the error recorded) when an injected failure applies to this call.
  bool Injected(const char* call, std::u16string_view path, LONG* error);

  // registry
  RegNode localMachine;
  RegNode users;
  std::u16string currentUserSid = u"S-1-5-21-1000";
  std::map<std::uintptr_t, RegLogical> keys;
  std::uintptr_t nextKey = 0x1000;
  bool LogicalFromHandle(HKEY key, RegLogical* logical);
  HKEY NewKeyHandle(RegLogical logical);
  // The physical root and path of a logical key, with the 32-bit view's redirection applied.
  std::pair<RegNode*, std::vector<std::u16string>> Physical(const RegLogical& logical);
  RegNode* Find(const RegLogical& logical);
  // The key a link points to, or null.
  RegNode* LinkTarget(RegNode* link, int depth = 0);
  RegNode* FindPhysical(std::u16string_view fullPath, bool create);
  // Mounted hives by upper-case mount name below HKEY_USERS: their files.
  std::map<std::u16string, FsNode*> mountedHives;
  std::unique_ptr<Registry> registry;

  // files
  std::map<char16_t, std::unique_ptr<FsNode>> drives;
  struct Fd {
    FsNode* node;
    long position;
    bool append;
    bool write;
  };
  std::map<int, Fd> fds;
  int nextFd = 3;
  int crtErrno = 0;
  struct Search {
    std::vector<FindData> entries;
    size_t next;
  };
  std::map<std::uintptr_t, Search> searches;
  std::uintptr_t nextSearch = 0x5000;
  // Resolves a path; `error` tells why not: 3 when a parent is missing, 2 when only the last part.
  FsNode* FindFile(std::u16string_view path, LONG* error = nullptr);
  FsNode* ParentOf(std::u16string_view path, std::u16string* leaf, LONG* error);
  FsNode* MakeFolders(std::u16string_view path);
  // A new empty file `name` in the folder `parent` (with its generated short name).
  FsNode* NewFile(FsNode* parent, std::u16string_view name);
  FsNode* JunctionTarget(FsNode* junction, int depth = 0);
  // A 32-bit process on 64-bit Windows sees system32 as SysWOW64 while redirection is on.
  bool redirection = true;
  std::u16string Redirect(std::u16string path) const;
  void AppendPendingOperation(const std::u16string& from, const std::u16string& to);
  std::u16string GeneratedShortName(FsNode* parent, std::u16string_view name);
  // A new file or folder in `parent`, with its generated 8.3 name.
  FsNode* AddNode(FsNode* parent, std::u16string_view name, bool folder);
  // The run-time library's streams (streams.cpp), by the pointer value handed out.
  struct Stream {
    FsNode* node;
    size_t position;  // in the file's bytes
    bool read;
    bool write;
    bool append;
    bool text;
    bool error = false;
    bool eof = false;  // a Ctrl-Z was read in text mode
  };
  std::map<std::uintptr_t, Stream> streams;
  std::uintptr_t nextStream = 0x8000;
  std::unique_ptr<FileSystem> files;

  // system, windows, resources
  std::u16string programPath = u"C:\\Tools\\zorPurge.exe";
  DWORD tick = 100000;
  std::uint64_t fileTime =
      129756027090000000ULL;  // UTC, 100-ns units since 1601: 2012-03-07 14:05:09
  std::int32_t utcOffsetMinutes = 0;
  std::uint32_t uuidCounter = 0;
  std::deque<int> answers;
  std::vector<MessageBoxCall> messageBoxes;
  struct Resource {
    HMODULE module;
    unsigned type;
    unsigned name;
    LANGID language;
    std::vector<BYTE> data;
  };
  std::vector<Resource> resources;
  std::map<std::u16string, std::u16string> environment;  // by upper-case name
  std::map<int, std::u16string> specialFolders;
  struct Device {
    std::u16string name;
    DeviceHandler handler;
  };
  std::vector<Device> devices;
  std::map<std::uintptr_t, size_t> deviceHandles;  // handle -> device index
  std::uintptr_t nextHandle = 0x9000;
  std::vector<std::pair<std::u16string, DWORD>> deviceCalls;
  struct Library {
    std::u16string path;
    std::map<std::string, const void*> exports;
    int loadCount = 0;
    int loads = 0;
    bool x64 = false;  // a 64-bit DLL: never loads into this process
    std::vector<DWORD> loadFlags;
  };
  std::vector<Library> libraries;
  struct Control {
    HWND dialog;
    int id;
    std::u16string text;
    std::vector<std::u16string> items;
    int selection = -1;
    bool enabled = true;
  };
  struct Dialog {
    DialogProc procedure = nullptr;
    bool ended = false;
    INT_PTR result = 0;
  };
  std::map<std::uintptr_t, Dialog> dialogs;  // by window handle
  std::vector<DialogAction> dialogScript;
  HWND lastDialog = nullptr;
  std::map<std::uintptr_t, std::vector<std::pair<WPARAM, LPARAM>>> icons;
  std::deque<std::optional<std::u16string>> pickerAnswers;
  std::vector<FolderPickerCall> pickers;
  std::map<std::uintptr_t, std::u16string> itemLists;  // picker results not yet freed
  std::uintptr_t nextItemList = 0x60000;
  std::vector<unsigned> cursors;
  std::vector<StartedProcess> processes;
  std::map<std::u16string, DWORD> programExitCodes;  // by upper-case path
  struct ProcessHandle {
    size_t process;  // index in `processes`
    bool thread;
  };
  std::map<std::uintptr_t, ProcessHandle> processHandles;
  std::uintptr_t nextProcessHandle = 0xA0000;
  std::u16string currentDirectory;  // empty: the folder of this program
  std::u16string CurrentDirectory() const;
  DWORD processId = 0x0F2C;
  DWORD sessionId = 1;
  int oleInitialized = 0;
  std::map<std::uintptr_t, std::vector<AccessEntry>> acls;  // SetEntriesInAclW results
  std::uintptr_t nextAcl = 0x70000;
  struct Descriptor {
    std::vector<BYTE> owner, group;
    std::uintptr_t dacl = 0;
  };
  std::map<const void*, Descriptor> descriptors;
  std::optional<ComSecurity> comSecurity;
  std::map<std::uintptr_t, Control> controls;  // by window handle
  struct TopWindow {
    std::u16string className, title;
    HWND handle;
  };
  std::vector<TopWindow> topWindows;  // of other programs
  std::vector<PostedMessage> posted;
  std::uintptr_t nextWindow = 0x20000;
  std::set<std::u16string> enabledPrivileges;  // upper-case names
  std::vector<ShutdownCall> shutdowns;
  int comInitialized = 0;  // CoInitialize calls not yet undone
  int comInitializeCalls = 0;
  std::unique_ptr<System> system;
  std::unique_ptr<Windows> windows;
  std::unique_ptr<Resources> resourceFacet;

  // service control manager
  struct Service {
    std::u16string name;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD state = SERVICE_STOPPED;
    int stopPendingMs = 0;  // how long a stop stays STOP_PENDING; -1: for ever
    DWORD stopRequested = 0;  // the tick of the stop request
    bool markedForDeletion = false;
    std::u16string binaryPath;
    DWORD deniedAccess = 0;
    int handles = 0;
  };
  std::map<std::u16string, Service> serviceTable;  // by upper-case name
  struct ScHandle {
    std::u16string service;  // upper-case name; empty for a manager handle
    DWORD access = 0;
  };
  std::map<std::uintptr_t, ScHandle> scHandles;
  std::uintptr_t nextScHandle = 0xC000;
  std::vector<DWORD> managerOpens;  // the access asked of each OpenSCManagerW
  // Ends the stops whose time has passed and removes the services marked for deletion that are
  // stopped and no longer open, with their registry keys.
  void SettleServices();
  std::unique_ptr<Services> services;

  // system libraries loaded on demand: upper-case name -> (loaded now, loads by LoadLibraryW)
  std::map<std::u16string, std::pair<int, int>> demandModules;
  std::pair<int, int>* DemandModule(std::u16string_view upperName);
  std::vector<std::pair<std::u16string, DWORD>> oemInfUninstalls;

  // COM (sim/com.cpp)
  NetworkConfiguration network;
  WmiModel wmi;
  std::map<std::u16string, std::set<std::u16string>> wmiNamespaces;  // upper-case names, paths
  std::vector<Guid> comCreated;
  std::unique_ptr<ComState> com;  // the objects and strings handed out
  // Memory COM handed out (a lock holder's description); CoTaskMemFree frees it.
  bool FreeCoTaskMemory(void* memory);
  int LiveComObjects() const;
  int OpenComStrings() const;
  std::unique_ptr<ComObjects> comFacet;
};

// The run-time library's streams behind the file-system facet (streams.cpp); paths come
// already redirected.
CrtStream* StreamOpen(Machine::Impl& impl, const std::u16string& path, const char16_t* mode);
char16_t* StreamGets(Machine::Impl& impl, char16_t* buffer, int count, CrtStream* stream);
int StreamPuts(Machine::Impl& impl, const char16_t* text, CrtStream* stream);
int StreamError(Machine::Impl& impl, CrtStream* stream);
int StreamClose(Machine::Impl& impl, CrtStream* stream);

std::unique_ptr<Registry> MakeRegistry(Machine::Impl& impl);
std::unique_ptr<FileSystem> MakeFileSystem(Machine::Impl& impl);
std::unique_ptr<System> MakeSystem(Machine::Impl& impl);
std::unique_ptr<Windows> MakeWindows(Machine::Impl& impl);
std::unique_ptr<Resources> MakeResources(Machine::Impl& impl);
std::unique_ptr<Services> MakeServices(Machine::Impl& impl);
std::unique_ptr<ComObjects> MakeCom(Machine::Impl& impl);
// The default namespaces of WMI for the machine's Windows.
void AddDefaultWmiNamespaces(Machine::Impl& impl);

}  // namespace zp::sim
