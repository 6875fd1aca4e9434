// Everything of the current family below the user level: kernel drivers and their load-order
// and class-filter entries, network components and driver packages, the virtual DOS driver
// hooks, the tray application, the mail hooks outside the program folder and the script
// scanner. A long fixed list: every action runs whatever the others did, and each toolkit
// operation logs its own outcome.
#include <memory>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/driver_packages.h"
#include "toolkit/files.h"
#include "toolkit/mail_clients.h"
#include "toolkit/registry.h"
#include "toolkit/services.h"
#include "toolkit/shell_registrations.h"
#include "toolkit/user_hives.h"

namespace zp {
namespace {

constexpr std::u16string_view kRunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kExchangeExtensions =
    u"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr std::u16string_view kKeyboardClass =
    u"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
constexpr std::u16string_view kKeyboardFilter = u"zorKbd";

std::u16string ServiceKey(std::u16string_view name) {
  return u"SYSTEM\\CurrentControlSet\\Services\\" + std::u16string(name);
}

void DeleteServiceKey(std::u16string_view name) {
  DeleteRegTree(HKEY_LOCAL_MACHINE, ServiceKey(name));
}

// A driver file of the native system folder (reached with the redirection switched off) or of
// the folder the 32-bit process sees as its system folder.
std::u16string NativeDriver(std::u16string_view relative) {
  return g_setup.Expand(u"%SYS64%", std::u16string(relative).c_str());
}
std::u16string SystemDriver(std::u16string_view relative) {
  return g_setup.Expand(u"%SYS%", std::u16string(relative).c_str());
}
void DeleteSharedSystemFile(std::u16string_view relative) {
  DeleteSharedFile(SystemDriver(relative), true, false);
}

enum class Deletion { Native, System, NativeThenShared };

struct DriverFile {
  std::u16string_view file;
  Deletion deletion;
  std::u16string_view serviceKey;
};

constexpr DriverFile kDriverFiles[] = {
    {u"drivers\\zavmker4.sys", Deletion::Native, u"Zavmker4"},
    {u"drivers\\zormon.sys", Deletion::System, u"zormon"},
    {u"drivers\\zormon2.sys", Deletion::Native, u"zormon2"},
    {u"drivers\\zortdi.sys", Deletion::Native, u"zorTdi"},
    {u"drivers\\zormonflt.sys", Deletion::Native, u"zormonflt"},
    {u"drivers\\zorRdr.sys", Deletion::Native, u"zorRdr"},
    {u"drivers\\zorRdr2.sys", Deletion::Native, u"zorRdr2"},
    {u"drivers\\zorSnx.sys", Deletion::Native, u"zorSnx"},
    {u"drivers\\zornet.sys", Deletion::Native, u"zornet"},
    {u"drivers\\zorKbd.sys", Deletion::Native, u"zorKbd"},
    {u"drivers\\zorNdis.sys", Deletion::Native, u"zorNdis"},
    {u"drivers\\zorNdis2.sys", Deletion::Native, u"zorNdis2"},
    {u"drivers\\zorNdis2k.sys", Deletion::Native, u"zorNdis2k"},
    {u"drivers\\zorNdisFlt.sys", Deletion::Native, u"zorNdisFlt"},
    {u"drivers\\zorNdisR.sys", Deletion::NativeThenShared, u"zorNdisR"},
    {u"drivers\\zorFW.sys", Deletion::Native, u"zorFW"},
    {u"drivers\\zorVmm.sys", Deletion::Native, u"zorVmm"},
    {u"drivers\\zorRvrt.sys", Deletion::Native, u"zorRvrt"},
    {u"drivers\\zorRoot.sys", Deletion::NativeThenShared, u"zorRoot"},
};

struct NetworkComponent {
  std::u16string_view id;
  std::u16string_view catalogFile;
};

constexpr NetworkComponent kNetworkComponents[] = {
    {u"sw_zorndis", u"zorNdis.cat"},
    {u"zorNdisFlt", u"zorNdisFlt.cat"},
    {u"zorndisR", u"zorNdisR.cat"},
};

// The script scanner's COM registrations, in every user's classes and the machine's.
constexpr std::u16string_view kScriptScannerKeys[] = {
    u"QvAScr.sbScanner",
    u"QvAScr.sbScanner.1",
    u"CLSID\\{7BFC2BD7-0937-41EA-8872-CE3B27E08F84}",
    u"TypeLib\\{03A25D6C-293E-4420-8551-E580F8009343}",
    u"Interface\\{040CF329-035F-4985-A198-CC17D02AE06E}",
    u"AppID\\{66A841F2-956C-4631-BFE7-C90225F417D6}",
    u"AppID\\QvAScr.DLL",
};

// The script engines whose in-process server the scanner replaced; "Default Engine" keeps the
// server it replaced.
constexpr std::u16string_view kScriptEngines[] = {
    u"SOFTWARE\\Classes\\CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32",
    u"SOFTWARE\\Classes\\CLSID\\{f414c262-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32",
    u"SOFTWARE\\Classes\\CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32",
    u"SOFTWARE\\Classes\\CLSID\\{B54F3743-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32",
};

void LogRegistryError(std::int32_t level, std::u16string_view format, LONG code) {
  g_log.Print(level, CAT_REGISTRY, format, static_cast<DWORD>(code));
}

// Drops the first "zorKbd" (any case) from a REG_MULTI_SZ list; false when it is not there.
bool DropKeyboardFilter(std::vector<BYTE>& data) {
  size_t units = data.size() / sizeof(char16_t);
  auto text = [&](size_t i) {
    return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  size_t start = 0;
  while (start < units && text(start) != 0) {
    size_t end = start;
    while (end < units && text(end) != 0) ++end;
    std::u16string item;
    for (size_t i = start; i < end; ++i) item += text(i);
    size_t next = end < units ? end + 1 : units;  // past the item's terminator
    if (UpperCase(item) == UpperCase(kKeyboardFilter)) {
      data.erase(data.begin() + 2 * start, data.begin() + 2 * next);
      return true;
    }
    start = next;
  }
  return false;
}

// The keyboard filter leaves the keyboard class's UpperFilters of every control set, not only
// of the current one (CurrentControlSet is a link to one of them and is skipped).
void RemoveKeyboardClassFilter() {
  UniqueRegKey system;
  LONG code = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0,
                                  KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, system.put());
  if (code != ERROR_SUCCESS) {
    LogRegistryError(LOG_MIN, u"Error: Unable to open HKLM\\SYSTEM key with error 0x%08lx!", code);
    return;
  }
  DWORD subKeys = 0, longest = 0;
  code = Reg().RegQueryInfoKeyW(system.get(), &subKeys, &longest);
  if (code != ERROR_SUCCESS) {
    LogRegistryError(LOG_MIN, u"Error: Unable to query HKLM\\SYSTEM key with error 0x%08lx!",
                     code);
    subKeys = 0;
  }
  std::u16string name(longest + 1, u'\0');
  for (DWORD index = 0; index < subKeys; ++index) {
    DWORD length = longest + 1;
    code = Reg().RegEnumKeyExW(system.get(), index, name.data(), &length);
    if (code != ERROR_SUCCESS || length >= longest + 1) {
      LogRegistryError(LOG_MIN, u"Error: Unable to retrieve HKLM\\SYSTEM subkey with error 0x%08lx!",
                       code);
      continue;
    }
    std::u16string controlSet(name.data(), length);
    if (controlSet.compare(0, 10, u"ControlSet") != 0) {
      g_log.Print(LOG_VRB, CAT_REGISTRY, u"Debug: Skipping subkey HKLM\\SYSTEM\\%s.",
                  controlSet.c_str());
      continue;
    }
    std::u16string classPath = u"SYSTEM\\" + controlSet + std::u16string(kKeyboardClass);
    UniqueRegKey keyboard;
    if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, classPath.c_str(), 0, KEY_ALL_ACCESS,
                            keyboard.put()) != ERROR_SUCCESS)
      continue;
    DWORD size = 0;
    if (Reg().RegQueryValueExW(keyboard.get(), u"UpperFilters", nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
      continue;
    std::vector<BYTE> data(size);
    if (Reg().RegQueryValueExW(keyboard.get(), u"UpperFilters", nullptr, data.data(), &size) !=
        ERROR_SUCCESS)
      continue;
    data.resize(size);
    if (DropKeyboardFilter(data))
      Reg().RegSetValueExW(keyboard.get(), u"UpperFilters", REG_MULTI_SZ, data.data(),
                           static_cast<DWORD>(data.size()));
  }
  code = Reg().RegCloseKey(system.release());
  if (code != ERROR_SUCCESS)
    LogRegistryError(LOG_VRB, u"Debug: Unable to close HKLM\\SYSTEM registry key with error 0x%08lx!",
                     code);
}

bool AtLeast(DWORD major, DWORD minor) {
  const OsVersionInfo& os = g_setup.osVersion;
  return os.majorVersion > major || (os.majorVersion == major && os.minorVersion >= minor);
}

}  // namespace

void RemoveMonitorFromFilterGroup() {
  if (!AtLeast(5, 2)) return;
  UniqueRegKey filterManager;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Services\\fltmgr", 0,
                          KEY_READ, filterManager.put()) != ERROR_SUCCESS)
    return;
  filterManager.reset();
  RemoveFromGroupOrderList(u"FSFilter Anti-Virus", u"zorMonFlt");
}

void RemoveScriptScanner() {
  DeleteRegTreeAllUsers(u"AppEvents\\Schemes\\Apps\\Ostrel");
  for (std::u16string_view key : kScriptScannerKeys) {
    DeleteRegTreeAllUsers(key);
    DeleteRegTree(HKEY_CLASSES_ROOT, key);
  }
  for (std::u16string_view key : kScriptEngines) {
    char16_t engine[260] = {};
    if (GetRegString(HKEY_LOCAL_MACHINE, key, u"Default Engine", engine, sizeof(engine), false) !=
        ERROR_SUCCESS)
      continue;
    SetRegString(HKEY_LOCAL_MACHINE, key, {}, engine);
    DeleteRegValue(HKEY_LOCAL_MACHINE, key, u"Default Engine");
  }
}

void RemoveDriversAndFilters() {
  const std::u16string& productFolder = g_product.productFolder;

  // Mail client hooks
  DeleteRegValue(HKEY_LOCAL_MACHINE, kExchangeExtensions, u"ostrel!");
  DeleteRegValue(HKEY_LOCAL_MACHINE, kExchangeExtensions, u"ostrel! 5");
  RemoveOutlookAddins();
  DeleteOutlookExtendDat();
  DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"zohMaiSv");
  DeleteRegValue(HKEY_CURRENT_USER, kRunKey, u"zohMaiSv");

  // TDI drivers, web scanner, redirector, sandbox
  RemoveFromGroupOrderList(u"PNP_TDI", u"zorTdi");
  RemoveService(u"zorTdi");
  DeleteServiceKey(u"zorTdi");
  RemoveFromGroupOrderList(u"PNP_TDI", u"zorNet");
  RemoveService(u"zorNet");
  DeleteServiceKey(u"zorNet");
  StopService(u"ostrel! Web Scanner");
  RemoveService(u"ostrel! Web Scanner");
  RemoveService(u"zorRdr");
  RemoveService(u"zorSnx");

  // Keyboard filter
  RemoveFromGroupOrderList(u"Keyboard Port", u"zorKbd");
  RemoveService(u"zorKbd");
  DeleteFileNative(NativeDriver(u"drivers\\zorKbd.sys"));
  DeleteSharedSystemFile(u"drivers\\zorKbd.sys");
  DeleteServiceKey(u"zorKbd");
  RemoveKeyboardClassFilter();

  // Tray application
  if (!productFolder.empty()) {
    if (HWND tray = Ui().FindWindowW(u"zor_qv_tray_icon_wndclass", nullptr))
      Ui().PostMessageW(tray, WM_QUIT, 1, static_cast<LPARAM>(0x80000000u));
    DeleteRegValue(HKEY_LOCAL_MACHINE, kRunKey, u"ostrel5");
  }

  // Self-protection and file-system blocker (Windows 2000 and later)
  if (g_setup.osVersion.majorVersion >= 5) {
    DeleteFileNative(NativeDriver(u"drivers\\zorSP.sys"));
    DeleteServiceKey(u"zorSP");
    RemoveFromGroupOrderList(u"FSFilter Activity Monitor", u"zorFsBlk");
    DeleteFileNative(NativeDriver(u"drivers\\zorFsBlk.sys"));
    DeleteServiceKey(u"zorFsBlk");
  }

  // Virtual DOS driver
  RemoveVirtualDeviceDriver(PathJoin(productFolder, u"zorMonVd.dll"));
  RemoveLinesContaining(u"zormonds.sys", NativeDriver(u"config.nt"));

  // Firewall and network drivers
  RemoveService(u"ostrel! Firewall");
  RemoveFromGroupOrderList(u"PNP_TDI", u"zorFw");
  RemoveService(u"zorFW");
  RemoveService(u"zorNdisR");
  RemoveService(u"zorRoot");
  for (const NetworkComponent& component : kNetworkComponents)
    RemoveNetworkComponent(component.id, component.catalogFile, productFolder);
  RemoveFromGroupOrderList(u"NDIS", u"zorNdis");
  RemoveFromGroupOrderList(u"NDIS", u"zorNdisFlt");
  for (std::u16string_view service : {u"zorNdis", u"zorNdis2k", u"zorNdis2", u"zorNdisFlt"})
    RemoveService(service);
  RemoveFromGroupOrderList(u"NDIS", u"zorNdisR");
  RemoveService(u"zorNdisR");

  // File-system monitors; the filter manager's load-order group exists from Server 2003 on
  for (std::u16string_view service : {u"Zavmker4", u"zormon", u"zormon2"}) RemoveService(service);
  RemoveMonitorFromFilterGroup();
  RemoveService(u"zormonflt");

  // Driver files and service keys
  for (const DriverFile& driver : kDriverFiles) {
    if (driver.deletion == Deletion::System) {
      DeleteFileNative(SystemDriver(driver.file));
    } else {
      DeleteFileNative(NativeDriver(driver.file));
      if (driver.deletion == Deletion::NativeThenShared) DeleteSharedSystemFile(driver.file);
    }
    DeleteServiceKey(driver.serviceKey);
  }

  RemoveScriptScanner();
}

}  // namespace zp
