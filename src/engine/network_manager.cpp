// The network management console: its services, its SQL database (removed by the product's own
// Install.dll, with the logon the product keeps in its secure storage), the SQL engine installed
// for it, and the report engine it shares with other software.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "engine/legacy_steps.h"
#include "engine/removal_run.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "startup/strings.h"
#include "toolkit/files.h"
#include "toolkit/processes.h"
#include "toolkit/registry.h"
#include "toolkit/restart_list.h"
#include "toolkit/services.h"

namespace zp {
namespace {

constexpr size_t kTextChars = 32768;
constexpr std::u16string_view kUninstallKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// ---- the product's libraries
constexpr const char16_t* kInstallLibrary = u"Install.dll";
constexpr const char16_t* kSecureLibrary = u"zorCmnS.dll";

// Install.dll: the standard Windows calling convention, under the decorated names.
constexpr const char* kInstInit = "_instInit@0";
constexpr const char* kInstSql = "_instSQL@28";
constexpr const char* kInstFree = "_instFree@0";
constexpr DWORD kInstSqlRemoveDatabase = 2;
using InstProgress = DWORD(ZP_STDCALL*)(DWORD);
using InstInit = DWORD(ZP_STDCALL*)();  // 0 (false) on failure
using InstSql = DWORD(ZP_STDCALL*)(DWORD operation, const char16_t* dataSource,
                                   const char16_t* catalog, const char16_t* userId,
                                   const char16_t* password, const char16_t* reserved,
                                   InstProgress progress);
using InstFree = DWORD(ZP_STDCALL*)();

// zorCmnS.dll: the C calling convention, the caller removes the arguments.
constexpr const char* kInitSecureStorage = "cmnsInitializeSecureStorage";
constexpr const char* kReadSecureData = "cmnsReadSecureData";
using InitSecureStorage = DWORD (*)();
using ReadSecureData = DWORD (*)(const char16_t* item, char16_t* buffer, DWORD bufferChars,
                                 DWORD flags);
constexpr DWORD kReadSecureDataFlags = 1;

// A question asked in every run mode; a preview shows none and takes Yes.
int AskStep(const char16_t* text, const char16_t* caption, UINT type) {
  if (g_run.preview) return IDYES;
  return Ui().MessageBoxW(g_run.dialogWindow, text, caption, type);
}

// The database removal reports its progress; nothing here shows it.
DWORD ZP_STDCALL IgnoreDatabaseProgress(DWORD) { return 0; }

template <typename Fn>
Fn Export(const UniqueModule& library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<Fn>(const_cast<void*>(Sys().GetProcAddress(library.get(), name)));
}

// The product's library in its folder. With no folder there is nothing of the product to load:
// a bare name would be looked for along the search path and could find an unrelated library.
UniqueModule LoadProductLibrary(const std::u16string& path) {
  if (g_product.productFolder.empty()) return UniqueModule();
  return UniqueModule(Sys().LoadLibraryExW(path.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
}

// One call into the product's code under the exception guard. False when it crashed (logged);
// the caller treats that as a failed call.
template <typename Invoke>
bool CallProduct(const std::u16string& library, const char* name, Invoke invoke, DWORD* result) {
  struct Guarded {
    Invoke invoke;
    DWORD result;
    void operator()() { result = invoke(); }
  } call{invoke, 0};
  DWORD exception = 0;
  if (!CallProductCode(call, &exception)) {
    LogCaughtException(library, std::u16string(name, name + std::strlen(name)), exception,
                       CAT_GENERAL);
    *result = exception;
    return false;
  }
  *result = call.result;
  return true;
}

// ---- the SQL engine installed for the console
// The uninstall command of the engine instance named "ostrel"; empty when there is none.
std::u16string FindSqlEngineUninstallCommand() {
  const std::u16string root(kUninstallKey);
  UniqueRegKey uninstall;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, root.c_str(), 0, KEY_READ, uninstall.put()) !=
      ERROR_SUCCESS)
    return {};
  char16_t name[520] = {};
  for (DWORD index = 0; Reg().RegEnumKeyW(uninstall.get(), index, name, 520) == ERROR_SUCCESS;
       ++index) {
    const std::u16string entry =
        Format(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s", name)
            .substr(0, 259);
    if (SameText(GetRegText(HKEY_LOCAL_MACHINE, entry, u"SqlInstanceName", 260), u"ostrel"))
      return GetRegText(HKEY_LOCAL_MACHINE, entry, u"UninstallString", kTextChars);
  }
  return {};
}

void OfferSqlEngineUninstall() {
  const std::u16string command = FindSqlEngineUninstallCommand();
  if (command.empty()) return;
  // Asked in every run mode: the engine may serve other databases.
  const int answer = AskStep(u"Do you want to uninstall Microsoft SQL Desktop Engine?",
                             u"ostrel! Management Tools", MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES || answer == 0) RunProcess(command, true, nullptr);
}

// ---- the report engine
constexpr std::u16string_view kCrystalFolder = u"Common Files\\Crystal Decisions\\2.5";
constexpr std::u16string_view kCrystalMain = u"bin\\craxdrt.dll";
constexpr std::u16string_view kCrystalViewer =
    u"crystalreportviewers10\\ActiveXControls\\crviewer.dll";

constexpr std::u16string_view kCrystalServers[] = {
    kCrystalMain,           u"bin\\crqe.dll",           u"bin\\ExportModeller.dll",
    u"bin\\crtslv.dll",     u"bin\\ReportRenderer.dll", u"bin\\pageObjectModel.dll",
    u"bin\\webReporting.dll", u"bin\\CommonobjModel.dll", u"bin\\Rptdefmodel.dll",
    kCrystalViewer,
};
// The main file is counted twice by the console's setup.
constexpr std::u16string_view kCrystalCounted[] = {
    kCrystalMain,           kCrystalMain,              u"bin\\crqe.dll",
    u"bin\\implode.dll",    u"bin\\querybuilder.dll",  u"bin\\ufmanager.dll",
    u"bin\\crdb_ado.dll",   u"bin\\ExportModeller.dll", u"bin\\crtslv.dll",
    u"bin\\ReportRenderer.dll", u"bin\\pageObjectModel.dll", u"bin\\webReporting.dll",
    u"bin\\CommonobjModel.dll", u"bin\\Rptdefmodel.dll", u"bin\\sscsdk80.dll",
    u"bin\\DataDefModel.dll", u"bin\\u2fcompress.dll",  u"bin\\u2ddisk.dll",
    u"bin\\u2fcr.dll",      u"bin\\u2ftext.dll",       u"bin\\crxf_xls.dll",
    u"bin\\crxf_html.dll",  u"bin\\crxf_pdf.dll",      u"bin\\crxf_rtf.dll",
    u"bin\\crxf_wordw.dll",
};
// System files the report engine brought: these go when no one counts on them any more.
constexpr std::u16string_view kCrystalSystemFiles[] = {
    u"cxlib-1-6.dll", u"cxlibw-1-6.dll", u"cxlibw7-1-6.dll", u"etc-1-0-12-1.dll"};
// Windows's own libraries: only their count goes down, they are never deleted.
constexpr std::u16string_view kCrystalWindowsFiles[] = {u"msvcrt.dll", u"msvcp60.dll",
                                                        u"riched20.dll", u"gdiplus.dll"};

std::u16string CrystalFolder() {
  return g_setup.Expand(u"%PRGFILES%", std::u16string(kCrystalFolder).c_str());
}
std::u16string CrystalFile(std::u16string_view name) { return PathJoin(CrystalFolder(), name); }
std::u16string SystemFile(std::u16string_view name) {
  return g_setup.Expand(u"%SYS%", std::u16string(name).c_str());
}

bool Present(const std::u16string& path) {
  return Files().GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
         Sys().GetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

constexpr std::u16string_view kServices[] = {u"ostrel! Management Server", u"zorHTTPMirror"};

}  // namespace

DbSettings ReadDbSettings() {
  DbSettings settings;
  if (g_product.productFolder.empty()) return settings;  // nothing of the product to read
  std::u16string buffer(kTextChars, u'\0');
  const std::u16string ini = PathJoin(g_product.productFolder, u"data\\ostrel4.ini");
  Files().GetPrivateProfileStringW(u"SQL", u"DataSource", u"", buffer.data(), kTextChars,
                                   ini.c_str());
  settings.dataSource = buffer.c_str();

  const std::u16string path = g_setup.Expand(u"%ROPATH%", kSecureLibrary);
  UniqueModule library = LoadProductLibrary(path);
  auto initialize = Export<InitSecureStorage>(library, kInitSecureStorage);
  auto read = Export<ReadSecureData>(library, kReadSecureData);
  if (initialize == nullptr || read == nullptr) return settings;
  DWORD result = 0;
  if (!CallProduct(path, kInitSecureStorage, [&] { return initialize(); }, &result) || result != 0)
    return settings;

  struct Item {
    const char16_t* name;
    std::u16string* setting;
  };
  const Item items[] = {{u"Catalog", &settings.catalog},
                        {u"UserId", &settings.userId},
                        {u"Password", &settings.password}};
  std::fill(buffer.begin(), buffer.end(), u'\0');  // once: each read writes its own text
  char16_t* text = buffer.data();
  for (const Item& item : items) {
    const char16_t* name = item.name;
    if (CallProduct(path, kReadSecureData,
                    [&] { return read(name, text, static_cast<DWORD>(kTextChars),
                                      kReadSecureDataFlags); },
                    &result) &&
        result == 0)
      *item.setting = std::u16string(text, std::char_traits<char16_t>::length(text));
  }
  return settings;
}

void RemoveManagementDatabase(const DbSettings& settings) {
  const std::u16string path = PathJoin(g_product.productFolder, kInstallLibrary);
  UniqueModule library = LoadProductLibrary(path);
  if (!library) return;  // no library, no database of this product: nothing to ask
  auto init = Export<InstInit>(library, kInstInit);
  auto sql = Export<InstSql>(library, kInstSql);
  auto release = Export<InstFree>(library, kInstFree);

  DWORD result = 0;
  const bool initialized =
      init == nullptr || (CallProduct(path, kInstInit, [&] { return init(); }, &result) &&
                          result != 0);
  if (initialized && sql != nullptr) {
    // Asked in every run mode: the database holds the network's data.
    const int answer = AskStep(u"Do you want to remove database?", u"Information",
                               MB_YESNO | MB_ICONINFORMATION);
    if (answer == IDYES || answer == 0) {
      const char16_t* dataSource = settings.dataSource.c_str();
      const char16_t* catalog = settings.catalog.c_str();
      const char16_t* userId = settings.userId.c_str();
      const char16_t* password = settings.password.c_str();
      CallProduct(path, kInstSql,
                  [&] {
                    return sql(kInstSqlRemoveDatabase, dataSource, catalog, userId, password, u"",
                               IgnoreDatabaseProgress);
                  },
                  &result);  // a crash reports its exception code as the failure
      if (result != 0) {
        const std::u16string text = Format(u"Error removing database: 0x%08x", result);
        Ui().MessageBoxW(g_run.dialogWindow, text.c_str(), u"Error", MB_ICONERROR);
      }
    }
    OfferSqlEngineUninstall();
  }
  if (release != nullptr) CallProduct(path, kInstFree, [&] { return release(); }, &result);
}

void RemoveCrystalReportsComponents() {
  // Other software still uses the components.
  DWORD count = 0;
  GetHklmDword(u"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
               CrystalFile(kCrystalMain), &count);
  if (count > 1) return;

  DeleteRegValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Crystal Decisions\\10.0\\Crystal Reports",
                 u"Common Files");
  for (std::u16string_view server : kCrystalServers) UnregisterServerDll(CrystalFile(server));
  for (std::u16string_view file : kCrystalCounted) DecrementSharedDllCount(CrystalFile(file));
  for (std::u16string_view file : kCrystalSystemFiles) {
    DecrementSharedDllCount(SystemFile(file));
    DeleteSharedFile(SystemFile(file), true, false);
  }
  for (std::u16string_view file : kCrystalWindowsFiles) DecrementSharedDllCount(SystemFile(file));
  DecrementSharedDllCount(CrystalFile(kCrystalViewer));
  // Nothing of the report engine waits for a restart.
  if (Present(CrystalFile(kCrystalMain))) DeleteTree(CrystalFolder(), u"*.*", true, false, false);
}

bool RemoveNetworkManager() {
  AppendProgress(u"");
  const DbSettings settings = ReadDbSettings();
  for (std::u16string_view service : kServices) {
    if (IsServiceRunning(service)) StopService(service);
    RemoveService(service);
  }
  RemoveManagementDatabase(settings);
  AppendProgress(LoadText(IDS_PROGRESS_SERVICE));
  DeleteProgramsFolder(u"ostrel! Management Tools");
  DeleteDesktopFile(u"ZDNM Console.lnk");
  AppendProgress(LoadText(IDS_PROGRESS_EXPLORER));
  if (g_setup.IsPlatform(PLAT_SERVER) && g_setup.IsPlatform(PLAT_NT)) RestoreServerOplocks();
  DeleteRegTree(HKEY_CURRENT_USER, g_product.productRegistryKey);
  DeleteRegTree(HKEY_LOCAL_MACHINE, g_product.productRegistryKey);
  RemoveCrystalReportsComponents();
  AppendProgress(LoadText(IDS_PROGRESS_REGISTRY));
  RemoveSideProductFolder();
  DeleteRegTree(HKEY_LOCAL_MACHINE,
                u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel!MGM");
  AppendProgress(LoadText(IDS_PROGRESS_DONE));
  CommitRestartOperations();
  return true;
}

}  // namespace zp
