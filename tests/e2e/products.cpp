// The footprints of the products and of the other software beside them.
#include "footprint.h"

namespace zp::e2e {
namespace {

const wchar_t* kVdd = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";

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
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, detection, L"Product", edition.productId,
                        Expect::Removed));
  if (!gen5Layout) {
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, current, L"Version",
                          edition.generation == 6 ? L"6.0.316" : L"7.0.1466", Expect::Removed));
  }
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, detection, L"ProgramFolder", folder, Expect::Removed));
  if (!edition.dataFolder.empty())
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, detection, L"DataFolder", edition.dataFolder,
                          Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, detection, Expect::Removed));
  const std::wstring uninstall = std::wstring(kUninstall) + (gen5Layout ? L"ostrel5" : L"ostrel");
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, uninstall, L"InstallLocation", folder, Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, uninstall, Expect::Removed));
  items.push_back(KeyItem(HKEY_CURRENT_USER, current, Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.ostrellic", Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"ostrel", L"\"" + folder + L"\\OstrelUI.exe\" /tray", Expect::Removed));
  // Its shell registrations: the context menu (64-bit Explorer's view) and the App Paths entries.
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel",
                      Expect::Removed, KEY_WOW64_64KEY));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zohOstrel.exe",
                        L"Path", folder, Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OstrelUI.exe",
                      Expect::Removed));
  // Its services: the antivirus runs and is stopped first; the others are stopped.
  items.push_back(ServiceItem(L"ostrel! Antivirus", edition.service, true, Expect::Removed));
  items.push_back(ServiceItem(L"ostrel! Mail Scanner", edition.service, false, Expect::Removed));
  items.push_back(ServiceItem(L"ostrel! Firewall", edition.service, false, Expect::Removed));
  // Its kernel drivers: entries of the service manager, files of the native system folder (and
  // one of the folder the 32-bit process sees), a key of the self-protection driver.
  const std::wstring windows = WindowsFolder();
  const std::wstring nativeDrivers = windows + L"\\Sysnative\\drivers\\";
  for (const wchar_t* driver : {L"zorKbd", L"zorTdi", L"zormonflt", L"zorNdis"}) {
    Item entry = ServiceItem(driver, L"system32\\drivers\\" + std::wstring(driver) + L".sys", false,
                         Expect::Removed);
    entry.driver = true;
    items.push_back(entry);
  }
  for (const wchar_t* file : {L"zorKbd.sys", L"zortdi.sys", L"zormonflt.sys", L"zorNdis.sys",
                              L"zorSP.sys", L"zorFsBlk.sys"})
    items.push_back(FileItem(nativeDrivers + file, Expect::Removed));
  items.push_back(FileItem(windows + L"\\system32\\drivers\\zormon.sys", Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\zorSP",
                      Expect::Removed));
  // Its entries in lists shared with others: the keyboard class filter of two control sets, the
  // virtual DOS driver and its config.nt line.
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"})
    items.push_back(ListItem(KeyboardClass(set), L"UpperFilters", L"zorKbd", Expect::Removed));
  items.push_back(ListItem(kVdd, L"VDD", folder + L"\\zorMonVd.dll", Expect::Removed));
  items.push_back(LineItem(ConfigNt(), L"device=%SystemRoot%\\system32\\zormonds.sys",
                           Expect::Removed));
  // The script scanner: its classes, the script engine it took over (the engine's own server is
  // put back, Collateral checks it), its sounds in the user's registry.
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Classes\\QvAScr.sbScanner", Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                      L"Software\\Classes\\CLSID\\{7BFC2BD7-0937-41EA-8872-CE3B27E08F84}",
                      Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, kScriptEngine, L"", folder + L"\\ZhAScr.dll",
                        Expect::Removed));
  items.back().exact = true;
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, kScriptEngine, L"Default Engine", kScriptEngineServer,
                        Expect::Removed));
  items.push_back(KeyItem(HKEY_CURRENT_USER, L"AppEvents\\Schemes\\Apps\\Ostrel\\Scan",
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
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        L"OtherVendorTray", L"C:\\Other\\tray.exe", Expect::Kept));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\other.exe",
                      Expect::Kept));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"OtherProduct",
                      Expect::Kept));
  Item shared = ValueItem(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                      parent + L"\\Common\\shared.dll", L"", Expect::Kept);
  shared.dword = true;
  shared.number = 1;  // counted by another program
  items.push_back(shared);
  items.push_back(FileItem(parent + L"\\Common\\shared.dll", Expect::Kept));
  items.push_back(FileItem(parent + L"\\Sibling\\keep.txt", Expect::Kept));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Other Vendor\\Settings", Expect::Kept));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Other Vendor\\Settings", Expect::Kept,
                      KEY_WOW64_64KEY));
  const std::wstring desktop = ShellFolder(L"Common Desktop");
  if (!desktop.empty()) items.push_back(FileItem(desktop + L"\\Other Tool.lnk", Expect::Kept));
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    items.push_back(ListItem(KeyboardClass(set), L"UpperFilters", L"kbdclass", Expect::Kept));
    items.push_back(ListItem(KeyboardClass(set), L"UpperFilters", L"otherKbdFilter", Expect::Kept));
  }
  items.push_back(ListItem(kVdd, L"VDD", L"C:\\Other\\othervdd.dll", Expect::Kept));
  items.push_back(LineItem(ConfigNt(), L"files=40", Expect::Kept));
  // The script engine's own server, which the product's removal puts back.
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, kScriptEngine, L"", kScriptEngineServer, Expect::Kept));
  items.back().exact = true;
  items.push_back(KeyItem(HKEY_CURRENT_USER, L"AppEvents\\Schemes\\Apps\\Other", Expect::Kept));
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


Footprint SideProduct(const std::wstring& productId, const std::wstring& folder,
                      const std::wstring& service, const std::wstring& components) {
  struct Side {
    const wchar_t* id;
    const wchar_t* key;          // detection's key, which is the product's own key too
    const wchar_t* folderValue;
    const wchar_t* productValue;  // the "Product" value detection insists on; null: none
    const wchar_t* uninstall;
    const wchar_t* programGroup;
    const wchar_t* desktopLink;   // null: none
    std::vector<const wchar_t*> runValues;
    std::vector<const wchar_t*> services;
  };
  const Side sides[] = {
      {L"vork", L"Software\\Keswin Software\\Vork\\4.0", L"Ostrel4ProgramFolder", nullptr,
       L"VORK", L"ostrel! VORK CD Manager", L"ostrel! VORK CD Manager.lnk", {}, {}},
      {L"qv_ker", L"Software\\Keswin Software\\Ostrel\\Kerio\\4.0", L"Ostrel4ProgramFolder",
       nullptr, L"ostrel!Kerio", L"ostrel! for Kerio", nullptr, {L"ostrel! Kerio Update"},
       {L"ostrel! for Kerio"}},
      {L"qv_pda_palm", L"Software\\Keswin Software\\PDA\\4.0", L"Ostrel4ProgramFolder", nullptr,
       L"ostrel! PDA Edition", L"ostrel! PDA Edition", nullptr, {L"ostrel! PDA Edition Updater"},
       {}},
      {L"qv_32", L"Software\\KESWIN Software\\OSTREL32", L"ROPath", nullptr, L"OSTREL32",
       L"OSTREL32 Antivirus", L"Ostrel32.lnk", {L"Ostrel32", L"QvMaiSrv"},
       {L"Ostrel32 Start as Service", L"QvUpdSvc"}},
      {L"qv_mgm", L"Software\\Keswin Software\\Ostrel\\qv_mgm\\4.0", L"Ostrel4ProgramFolder",
       L"qv_mgm", L"ostrel!MGM", L"ostrel! Management Tools", L"ZDNM Console.lnk", {},
       {L"ostrel! Management Server", L"zorHTTPMirror"}},
  };
  const Side* side = nullptr;
  for (const Side& candidate : sides)
    if (productId == candidate.id) side = &candidate;
  Footprint product{productId, {}};
  if (side == nullptr) return product;
  auto& items = product.items;
  const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, side->key, side->folderValue, folder,
                            Expect::Removed));
  if (side->productValue)
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, side->key, L"Product", side->productValue,
                              Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, side->key, Expect::Removed));
  items.push_back(KeyItem(HKEY_CURRENT_USER, side->key, Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + side->uninstall,
                          Expect::Removed));
  for (const wchar_t* value : side->runValues)
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, run, value, folder + L"\\update.exe",
                              Expect::Removed));
  for (size_t i = 0; i < side->services.size(); ++i)  // the first one runs
    items.push_back(ServiceItem(side->services[i], service, i == 0, Expect::Removed));
  const std::wstring programs = ShellFolder(L"Common Programs");
  if (!programs.empty()) {
    const std::wstring group = programs + L"\\" + side->programGroup;
    items.push_back(FileItem(group + L"\\" + side->programGroup + L".lnk", Expect::Removed));
    items.push_back(FolderItem(group, Expect::Removed));
  }
  const std::wstring desktop = ShellFolder(L"Common Desktop");
  if (side->desktopLink && !desktop.empty())
    items.push_back(FileItem(desktop + L"\\" + side->desktopLink, Expect::Removed));

  const std::wstring windows = WindowsFolder();
  if (productId == L"vork") {
    // Its images, which Vista moved to the common application data.
    const std::wstring images = EnvironmentFolder(L"ProgramData", L"C:\\ProgramData") +
                                L"\\Keswin Software\\VORK";
    items.push_back(FileItem(images + L"\\rescue.iso", Expect::Removed));
    items.push_back(FolderItem(images, Expect::Removed));
  }
  if (productId == L"qv_32") {
    items.push_back(ValueItem(HKEY_CURRENT_USER, run, L"QvMaiSrv", folder + L"\\qvmaisrv.exe",
                              Expect::Removed));
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions",
                              L"ostrel32", L"4.0;" + folder + L"\\qvexch.dll", Expect::Removed));
    items.push_back(ListItem(kVdd, L"VDD", folder + L"\\ZARORUVO.DLL", Expect::Removed));
    items.push_back(LineItem(ConfigNt(), L"device=%SystemRoot%\\system32\\QVMONDOS.SYS",
                             Expect::Removed));
    for (const wchar_t* driver : {L"zavmker", L"qvmon", L"qvmon2"}) {
      items.push_back(FileItem(windows + L"\\system32\\drivers\\" + driver + L".sys",
                               Expect::Removed));
      items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                              std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") +
                                  (std::wstring(driver) == L"zavmker" ? L"Zavmker" : driver),
                              Expect::Removed));
    }
    items.push_back(KeyItem(HKEY_CURRENT_USER, L"AppEvents\\Schemes\\Apps\\Ostrel",
                            Expect::Removed));
    items.push_back(FileItem(windows + L"\\system32\\qvss32.scr", Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                            L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\Ostrel32",
                            Expect::Removed, KEY_WOW64_64KEY));
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE,
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OSTREL32.EXE",
                              L"Path", folder, Expect::Removed));
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"Software\\KESWIN Software\\qvSetup",
                              L"ostrel32", folder, Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Applications\\ostrel32.exe",
                            Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"qvSetup32",
                            Expect::Removed));
  }
  if (productId == L"qv_mgm" && !components.empty()) {
    // The database library and the secure storage with their answers, the database settings,
    // and the database engine, whose own uninstaller is asked to run.
    Item install = FileItem(folder + L"\\Install.dll", Expect::Removed);
    install.source = components + L"Install.dll";
    items.push_back(install);
    Item storage = FileItem(folder + L"\\zorCmnS.dll", Expect::Removed);
    storage.source = components + L"zorCmnS.dll";
    items.push_back(storage);
    Item secrets = FileItem(folder + L"\\zorCmnS.ini", Expect::Removed);
    secrets.content = "[Items]\r\nCatalog=ZDNM\r\nUserId=sa\r\nPassword=s3cret\r\n";
    items.push_back(secrets);
    Item settings = FileItem(folder + L"\\data\\ostrel4.ini", Expect::Removed);
    settings.content = "[SQL]\r\nDataSource=NETSRV\\OSTREL\r\n";
    items.push_back(settings);
  }
  items.push_back(FileItem(folder + L"\\readme.txt", Expect::Removed));
  items.push_back(FolderItem(folder, Expect::Removed));
  return product;
}

// The database engine the network manager installed, which its own uninstaller removes.
Footprint DatabaseEngine(const std::wstring& uninstallCommand) {
  Footprint engine{L"database engine", {}};
  const std::wstring key = std::wstring(kUninstall) + L"{MSDE-OSTREL}";
  engine.items.push_back(ValueItem(HKEY_LOCAL_MACHINE, key, L"SqlInstanceName", L"OSTREL",
                                   Expect::Kept));
  engine.items.push_back(ValueItem(HKEY_LOCAL_MACHINE, key, L"UninstallString", uninstallCommand,
                                   Expect::Kept));
  return engine;
}

Footprint Gen4Product(const std::wstring& productId, const std::wstring& folder,
                      const std::wstring& service, const std::wstring& components,
                      bool serverWindows) {
  const bool desktopEdition = productId == L"qv_pro";
  const bool homeServer = productId == L"qv_whs";
  const bool newNames = !desktopEdition;
  const std::wstring key = L"Software\\Keswin Software\\Ostrel\\4.0";
  const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  Footprint product{productId, {}};
  auto& items = product.items;
  // Detection's key, which is the product's own key too, and the user's copy of it.
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, key, L"Product", productId, Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, key, L"Ostrel4ProgramFolder", folder,
                            Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, key, Expect::Removed));
  items.push_back(KeyItem(HKEY_CURRENT_USER, key, Expect::Removed));
  // The uninstall entries of the edition.
  if (homeServer) {
    const wchar_t* product = L"{773410C0-7622-4949-A598-2F671CF337EA}";
    items.push_back(KeyItem(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\Installer\\Products\\0C014377226794945A89F276C13F73AE",
                            Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + product, Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                            std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\App "
                                         L"Management\\ARPCache\\") + product,
                            Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                            L"Software\\Microsoft\\Windows Home Server\\RegisteredAdditions\\"
                            L"{773410c0-7622-4949-a598-2f671cf337ea}",
                            Expect::Removed));
  }
  const wchar_t* uninstall = desktopEdition         ? L"ostrel!"
                             : productId == L"qv_srv" ? L"ostrel!SRV"
                             : productId == L"qv_net" ? L"ostrel!NET"
                                                      : L"ostrel!WHS";
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + uninstall,
                          Expect::Removed));
  // Services and the TDI driver.
  items.push_back(ServiceItem(L"ostrel! Antivirus", service, true, Expect::Removed));
  items.push_back(ServiceItem(L"ostrel! Mail Scanner", service, false, Expect::Removed));
  if (productId == L"qv_net")
    items.push_back(ServiceItem(L"ostrel! NetAgent", service, false, Expect::Removed));
  Item tdi = ServiceItem(L"zorTdi", L"system32\\drivers\\zortdi.sys", false, Expect::Removed);
  tdi.driver = true;
  items.push_back(tdi);
  // Driver files, deleted with the redirection in force: the folder the 32-bit process sees.
  const std::wstring windows = WindowsFolder();
  for (const wchar_t* file : {L"zavmker4.sys", L"zormon.sys", L"zortdi.sys", L"zorSP.sys"})
    items.push_back(FileItem(windows + L"\\system32\\drivers\\" + file, Expect::Removed));
  // Mail hooks, autostart values and shell registrations.
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions",
                            L"ostrel! 4", L"4.0;" + folder + L"\\zohExch.dll", Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, run, newNames ? L"zorMaiSv" : L"zohMaiSv",
                            folder + L"\\maisv.exe", Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, run, L"ostrel!", folder + L"\\ostrel.exe",
                            Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel",
                          Expect::Removed, KEY_WOW64_64KEY));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE,
                            std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") +
                                (newNames ? L"zorOstrel.exe" : L"zohOstrel.exe"),
                            L"Path", folder, Expect::Removed));
  items.push_back(ListItem(kVdd, L"VDD", folder + L"\\zorMonVd.dll", Expect::Removed));
  items.push_back(LineItem(ConfigNt(), L"device=%SystemRoot%\\system32\\zormonds.sys",
                           Expect::Removed));
  // Script scanner, file types, the ODBC data source, the event log source.
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"Software\\Classes\\QvAScr.sbScanner", Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, kScriptEngine, L"", folder + L"\\QvAScr.dll",
                            Expect::Removed));
  items.back().exact = true;
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, kScriptEngine, L"Default Engine",
                            kScriptEngineServer, Expect::Removed));
  for (const wchar_t* type : {L".csk", L"zorsfile"})
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + type,
                            Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\Ostrel4", Expect::Removed));
  items.push_back(ValueItem(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources",
                            L"ostrel4", L"SQL Server", Expect::Removed));
  items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Antivirus",
                          Expect::Removed));
  // The skin control and the screensaver and boot scanner (native folder).
  Item skin = FileItem(windows + L"\\system32\\actskin4.ocx", Expect::Removed);
  if (!components.empty()) skin.source = components + L"zp_comsrv_ok.dll";
  items.push_back(skin);
  items.push_back(FileItem(windows + L"\\Sysnative\\" + (newNames ? L"ostrelssw.scr" : L"ostrelss.scr"),
                           Expect::Removed));
  items.push_back(FileItem(windows + L"\\Sysnative\\zorBoot.exe", Expect::Removed));
  // Shortcuts.
  const std::wstring programs = ShellFolder(L"Common Programs");
  const std::wstring desktop = ShellFolder(L"Common Desktop");
  if (!programs.empty()) {
    std::vector<const wchar_t*> groups = {L"ostrel! Antivirus"};
    if (homeServer) groups.push_back(L"ostrel! Windows Home Server Edition");
    for (const wchar_t* group : groups) {
      items.push_back(FileItem(programs + L"\\" + group + L"\\ostrel!.lnk", Expect::Removed));
      items.push_back(FolderItem(programs + L"\\" + group, Expect::Removed));
    }
  }
  if (!desktop.empty()) items.push_back(FileItem(desktop + L"\\ostrel!.lnk", Expect::Removed));
  // The server integrations: the Exchange store's scan sink, the ISA filter, the IIS extension.
  if (!desktopEdition) {
    items.push_back(ValueItem(HKEY_LOCAL_MACHINE, run, L"zorSdWiz", folder + L"\\sdwiz.exe",
                              Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Services\\MSExchangeIS\\VirusScan",
                            Expect::Removed));
    items.push_back(KeyItem(HKEY_LOCAL_MACHINE,
                            L"Software\\Microsoft\\Shared Tools\\Web Server Extensions\\QVScanner",
                            Expect::Removed));
  }
  if (productId == L"qv_srv") {
    // The ISA Server edition: its filter in the ISA folder that the settings name.
    Item settings = FileItem(folder + L"\\data\\ostrel4.ini", Expect::Removed);
    settings.content = "[Common]\r\nISAFolder=C:\\ISA Server\r\n";
    items.push_back(settings);
    items.push_back(FileItem(L"C:\\ISA Server\\QvPxyFtr.dll", Expect::Removed));
  }
  if (homeServer) {
    const std::wstring whs = EnvironmentFolder(L"ProgramW6432", L"C:\\Program Files") +
                             L"\\Windows Home Server";
    for (const wchar_t* file : {L"HomeServerConsoleTab.OstrelTab.dll", L"zorWhs.dll", L"whsNotif.exe"})
      items.push_back(FileItem(whs + L"\\" + file, Expect::Removed));
  }
  if (serverWindows && !desktopEdition) {
    // The file server parameters the edition changed: back to Windows's defaults.
    const wchar_t* parameters = L"System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
    for (const wchar_t* name : {L"EnableOplocks", L"CachedOpenLimit"}) {
      Item value = ValueItem(HKEY_LOCAL_MACHINE, parameters, name, L"", Expect::Removed);
      value.dword = true;
      items.push_back(value);
    }
  }
  // The program folder with the product's own components.
  if (!components.empty()) {
    struct Component {
      const wchar_t* name;
      const wchar_t* standIn;
    };
    std::vector<Component> parts = {
        {newNames ? L"QvAScr.dll" : L"ZhAScr.dll", L"zp_comsrv_ok.dll"},
        {newNames ? L"zorPopWz.exe" : L"zohPopWz.exe", newNames ? L"zorPopWz.exe" : L"zohPopWz.exe"}};
    if (!desktopEdition) {
      parts.push_back({L"qvSMTP2K.dll", L"zp_cdosink_ok.dll"});
      parts.push_back({L"QvIsaHlp.dll", L"zp_isahelper_ok.dll"});
    }
    for (const Component& part : parts) {
      Item copy = FileItem(folder + L"\\" + part.name, Expect::Removed);
      copy.source = components + part.standIn;
      items.push_back(copy);
    }
  }
  items.push_back(FileItem(folder + L"\\readme.txt", Expect::Removed));
  items.push_back(FolderItem(folder, Expect::Removed));
  return product;
}

}  // namespace zp::e2e
