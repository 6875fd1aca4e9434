#include "toolkit/driver_packages.h"

#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"

namespace zp {
namespace {

constexpr DWORD kProfileChars = 32768;
constexpr DWORD kLockTimeoutMs = 5000;
constexpr HRESULT kCancelled = HresultFromWin32(ERROR_CANCELLED);

// A [Version] entry of an INF as the profile reader returns it (string tokens unresolved).
std::u16string VersionEntry(const std::u16string& inf, const char16_t* key) {
  std::u16string value(kProfileChars, u'\0');
  DWORD length = Files().GetPrivateProfileStringW(u"Version", key, u"", value.data(),
                                                  kProfileChars, inf.c_str());
  value.resize(length);
  return value;
}

bool SameText(std::u16string_view a, std::u16string_view b) { return UpperCase(a) == UpperCase(b); }

bool Matches(const std::u16string& inf, const InfMatch& match) {
  if (!SameText(VersionEntry(inf, u"CatalogFile"), match.catalogFile)) return false;
  return match.provider.empty() || SameText(VersionEntry(inf, u"Provider"), match.provider);
}

// The package's uninstall through SetupAPI. The program does not import setupapi.dll: when no
// module of the process has loaded it, it is loaded for this call and freed again. Windows 2000
// has no SetupUninstallOEMInfW; there the files are only deleted.
void UninstallPackage(const std::u16string& inf, const std::u16string& fileName) {
  UniqueModule loaded;
  HMODULE setupApi = Sys().GetModuleHandleW(u"setupapi.dll");
  if (setupApi == nullptr) {
    loaded.reset(Sys().LoadLibraryW(u"setupapi.dll"));
    setupApi = loaded.get();
  }
  if (setupApi == nullptr) {
    g_log.Print(LOG_MIN, CAT_SYSTEM,
                u"Error: Unable to get the handle to the SetupAPI.dll with error 0x%08lx!",
                Sys().GetLastError());
    return;
  }
  if (Sys().GetProcAddress(setupApi, "SetupUninstallOEMInfW") == nullptr) {
    g_log.Print(LOG_VRB, CAT_SYSTEM,
                u"Notice: Unable to get address of the SetupUninstallOEMInf function with error "
                u"0x%08lx. It is to be expected on Windows 2000.",
                Sys().GetLastError());
    return;
  }
  // SetupAPI names the package by the INF's file name in the Inf folder, not by its path.
  if (!Files().SetupUninstallOEMInfW(fileName.c_str(), SUOI_FORCEDELETE))
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Error: Unable to uninstall OEM inf file '%s' with error 0x%08lx!",
                inf, Sys().GetLastError());
}

// The INF files of the Inf folder (no folders), read before anything is deleted.
std::vector<std::u16string> InfFiles(const std::u16string& folder) {
  std::vector<std::u16string> names;
  FindData data;
  UniqueFind find(Files().FindFirstFileW(PathJoin(folder, u"*.inf").c_str(), &data));
  if (!find) return names;
  do {
    const std::u16string_view name = data.fileName;
    if (name == u"." || name == u".." || (data.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    names.emplace_back(name);
  } while (Files().FindNextFileW(find.get(), &data));
  return names;
}

}  // namespace

LONG RemoveOemInfs(const InfMatch& match) {
  char16_t windows[260] = {};
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  if (length == 0 || length >= 260) return 0;
  const std::u16string folder = std::u16string(windows, length) + u"\\Inf";
  for (const std::u16string& name : InfFiles(folder)) {
    const std::u16string inf = PathJoin(folder, name);
    if (!Matches(inf, match)) continue;
    UninstallPackage(inf, name);
    // Whatever SetupAPI achieved, the copies go: the INF and its precompiled form.
    DeleteSharedFile(inf, true, false);
    DeleteSharedFile(inf.substr(0, inf.size() - 3) + u"pnf", true, false);
  }
  return 0;
}

LONG RemoveOemInfs(std::u16string_view catalogFile, std::u16string_view provider) {
  return RemoveOemInfs(InfMatch{std::u16string(catalogFile), std::u16string(provider)});
}

HRESULT RemoveNetworkComponent(std::u16string_view componentId, std::u16string_view catalogFile,
                               std::u16string_view) {
  const HRESULT hr = UninstallNetComponent(componentId);
  if (hr == S_OK)
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"zorNdis uninstalled successfully.");
  else if (hr == kCancelled)
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Cancelled uninstall the network component.");
  else if (hr == NETCFG_E_NO_WRITE_LOCK)
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Other application currently holds the lock, try later.");
  else
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"Couldn't uninstall the network component, result: 0x%08X.",
                static_cast<DWORD>(hr));
  if (hr == S_OK && !catalogFile.empty()) return RemoveOemInfs(catalogFile, u"");
  return hr;
}

HRESULT UninstallNetComponent(std::u16string_view componentId) {
  UniqueComObject netCfg;
  UniqueCoTaskText lockHolder;
  HRESULT hr = AcquireNetCfg(g_setup.networkLockClient, &netCfg, &lockHolder);
  if (hr != S_OK) {
    if (hr == NETCFG_E_NO_WRITE_LOCK && lockHolder)
      g_log.Print(LOG_MIN, CAT_SYSTEM, u"%s application currently holds the lock, try later.",
                  lockHolder.get());
    return hr;
  }
  hr = DeinstallNetComponent(netCfg.get(), componentId);
  if (hr == S_OK || hr == NETCFG_S_REBOOT) hr = Com().NetCfgApply(netCfg.get());
  ReleaseNetCfg(std::move(netCfg));
  return hr;
}

namespace {

// AcquireNetCfg's COM calls; what it obtained is released before COM is uninitialised.
HRESULT OpenNetCfg(const std::u16string& clientDescription, UniqueComObject* netCfg,
                   UniqueCoTaskText* lockHolder) {
  UniqueComObject config;
  HRESULT hr = Com().CoCreateInstance(CLSID_CNetCfg, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                      config.put());
  if (hr < 0) return hr;
  UniqueComObject lock;
  hr = Com().QueryInterface(config.get(), IID_INetCfgLock, lock.put());
  if (hr < 0) return hr;
  char16_t* holder = nullptr;
  hr = Com().NetCfgLockAcquireWriteLock(lock.get(), kLockTimeoutMs, clientDescription.c_str(),
                                        &holder);
  lockHolder->reset(holder);
  if (hr == S_FALSE) return NETCFG_E_NO_WRITE_LOCK;  // another program kept it
  if (hr < 0) return hr;
  hr = Com().NetCfgInitialize(config.get());
  if (hr < 0) {
    Com().NetCfgLockReleaseWriteLock(lock.get());
    return hr;
  }
  *netCfg = std::move(config);
  return S_OK;
}

}  // namespace

HRESULT AcquireNetCfg(std::u16string_view clientDescription, UniqueComObject* netCfg,
                      UniqueCoTaskText* lockHolder) {
  netCfg->reset();
  lockHolder->reset();
  HRESULT hr = Sys().CoInitialize();
  if (hr != S_OK && hr != S_FALSE) return hr;
  hr = OpenNetCfg(std::u16string(clientDescription), netCfg, lockHolder);
  if (hr != S_OK) Sys().CoUninitialize();
  return hr;
}

HRESULT DeinstallNetComponent(ComObject netCfg, std::u16string_view componentId) {
  const std::u16string id(componentId);
  UniqueComObject component;
  HRESULT hr = Com().NetCfgFindComponent(netCfg, id.c_str(), component.put());
  if (hr != S_OK) return hr;  // S_FALSE: not installed
  Guid classGuid;
  hr = Com().NetCfgComponentGetClassGuid(component.get(), &classGuid);
  if (hr < 0) return hr;
  UniqueComObject netClass;
  hr = Com().NetCfgQueryNetCfgClass(netCfg, classGuid, IID_INetCfgClass, netClass.put());
  if (hr < 0) return hr;
  UniqueComObject classSetup;
  hr = Com().QueryInterface(netClass.get(), IID_INetCfgClassSetup, classSetup.put());
  if (hr < 0) return hr;
  OboToken obo;
  obo.type = OBO_USER;
  hr = Com().NetCfgClassSetupDeInstall(classSetup.get(), component.get(), &obo, nullptr);
  if (hr == S_OK) hr = Com().NetCfgApply(netCfg);
  return hr;
}

HRESULT ReleaseNetCfg(UniqueComObject netCfg) {
  HRESULT hr = Com().NetCfgUninitialize(netCfg.get());
  if (hr >= 0) {
    UniqueComObject lock;
    hr = Com().QueryInterface(netCfg.get(), IID_INetCfgLock, lock.put());
    if (hr >= 0) hr = Com().NetCfgLockReleaseWriteLock(lock.get());
  }
  netCfg.reset();
  Sys().CoUninitialize();
  return hr;
}

}  // namespace zp
