// SetupAPI's package uninstall, the network configuration and WMI as the system uses them.
#include <cstdint>
#include <cstdio>

#include "contract.h"

namespace zp::contract {
namespace {

using ComContract = Contract;

std::u16string InfFolder() {
  char16_t windows[260] = {};
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  return std::u16string(windows, length) + u"\\Inf";
}

// What the real backend answered, in the test's output.
void Note(const char* what, long value) {
  const auto bits = static_cast<unsigned long>(static_cast<std::uint32_t>(value));
  std::printf("%s: 0x%08lX\n", what, bits);
}

TEST_F(ComContract, GuidTextIsBracedUpperCase) {
  const Guid guid = {0x7591db91, 0x41f0, 0x48a3, {0xb1, 0x28, 0x1a, 0x29, 0x3f, 0xd8, 0x23, 0x3d}};
  char16_t text[40] = {};
  EXPECT_EQ(Com().StringFromGUID2(guid, text, 40), 39);
  EXPECT_EQ(std::u16string(text), u"{7591DB91-41F0-48A3-B128-1A293FD8233D}");
  EXPECT_EQ(Com().StringFromGUID2(guid, text, 38), 0) << "no room for the terminator";
#ifdef _WIN32
  EXPECT_TRUE(GuidConstantsMatchWindows());
#endif
}

TEST_F(ComContract, SetupUninstallOemInfTakesTheFileNameOfAnInfInTheInfFolder) {
  const std::u16string folder = InfFolder();
  Files().CreateDirectoryW(folder.c_str());
  const std::u16string inf = folder + u"\\oem9731.inf";
  const std::u16string pnf = folder + u"\\oem9731.pnf";
  ASSERT_TRUE(WriteFile(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=NetService\r\n"
                             "Provider=%ZP%\r\nCatalogFile=zpcontract.cat\r\n"
                             "[Strings]\r\nZP=\"zorPurge contract\"\r\n"));
  ASSERT_TRUE(WriteFile(pnf, "PNF"));

  // The program does not import setupapi.dll; the uninstall loads it.
  HMODULE setupApi = Sys().GetModuleHandleW(u"setupapi.dll");
  UniqueModule loaded;
  if (setupApi == nullptr) {
    loaded.reset(Sys().LoadLibraryW(u"setupapi.dll"));
    setupApi = loaded.get();
  }
  ASSERT_NE(setupApi, nullptr);
  ASSERT_NE(Sys().GetProcAddress(setupApi, "SetupUninstallOEMInfW"), nullptr);

  EXPECT_FALSE(Files().SetupUninstallOEMInfW(inf.c_str(), SUOI_FORCEDELETE)) << "a path";
  Note("SetupUninstallOEMInfW(path): error", Sys().GetLastError());
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_NE(Files().GetFileAttributesW(inf.c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(Files().SetupUninstallOEMInfW(u"oem9731.inf", SUOI_FORCEDELETE));
  EXPECT_EQ(Files().GetFileAttributesW(inf.c_str()), INVALID_FILE_ATTRIBUTES);
  const bool pnfLeft = Files().GetFileAttributesW(pnf.c_str()) != INVALID_FILE_ATTRIBUTES;
  // Wine limitation: it leaves the precompiled copy; Windows removes it with the INF. The system
  // deletes both files itself either way.
  EXPECT_EQ(pnfLeft, OnWine());

  EXPECT_FALSE(Files().SetupUninstallOEMInfW(u"oem9731.inf", SUOI_FORCEDELETE)) << "gone";
  Note("SetupUninstallOEMInfW(missing): error", Sys().GetLastError());

  Files().DeleteFileW(inf.c_str());
  Files().DeleteFileW(pnf.c_str());
}

TEST_F(ComContract, NetworkConfigurationWithItsWriteLock) {
  const HRESULT initialized = Sys().CoInitialize();
  ASSERT_TRUE(initialized == S_OK || initialized == S_FALSE);
  {
    UniqueComObject netCfg;
    ASSERT_EQ(Com().CoCreateInstance(CLSID_CNetCfg, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                     netCfg.put()),
              S_OK);
    UniqueComObject lock;
    ASSERT_EQ(Com().QueryInterface(netCfg.get(), IID_INetCfgLock, lock.put()), S_OK);
    char16_t* holderText = nullptr;
    HRESULT hr = Com().NetCfgLockAcquireWriteLock(lock.get(), 5000, u"zorPurge contract",
                                                  &holderText);
    UniqueCoTaskText holder(holderText);
    Note("AcquireWriteLock", hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(holder);
    hr = Com().NetCfgInitialize(netCfg.get());
    Note("Initialize", hr);
    EXPECT_EQ(hr, S_OK);

    // Only a component that does not exist is asked for: nothing is changed on this machine.
    UniqueComObject component;
    hr = Com().NetCfgFindComponent(netCfg.get(), u"zp_no_such_component", component.put());
    Note("FindComponent(missing)", hr);
    // Wine limitation: FindComponent is not implemented there.
    EXPECT_EQ(hr, OnWine() ? E_NOTIMPL : S_FALSE);
    EXPECT_FALSE(component);

    hr = Com().NetCfgUninitialize(netCfg.get());
    Note("Uninitialize", hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Com().NetCfgLockReleaseWriteLock(lock.get()), S_OK);
  }
  Sys().CoUninitialize();
}

TEST_F(ComContract, WmiLocatorAndTheSecurityCenterNamespace) {
  const HRESULT initialized = Sys().CoInitialize();
  ASSERT_TRUE(initialized == S_OK || initialized == S_FALSE);
  {
    UniqueComObject locator;
    ASSERT_EQ(Com().CoCreateInstance(CLSID_WbemLocator, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                     IID_IWbemLocator, locator.put()),
              S_OK);
    auto connect = [&](const char16_t* name, UniqueComObject* services) {
      UniqueBstr resource(Com().SysAllocString(name));
      EXPECT_TRUE(resource);
      return Com().WbemLocatorConnectServer(locator.get(), resource.get(), nullptr, nullptr,
                                            nullptr, 0, nullptr, nullptr, services->put());
    };
    UniqueComObject cimv2;
    EXPECT_EQ(connect(u"\\\\.\\root\\cimv2", &cimv2), S_OK);
    EXPECT_TRUE(cimv2);

    UniqueComObject missing;
    HRESULT hr = connect(u"\\\\.\\root\\zpNoSuchNamespace", &missing);
    Note("ConnectServer(root\\zpNoSuchNamespace)", hr);
    EXPECT_EQ(hr, WBEM_E_INVALID_NAMESPACE);
    EXPECT_FALSE(missing);

    UniqueComObject securityCenter;
    hr = connect(u"\\\\.\\root\\SecurityCenter", &securityCenter);
    Note("ConnectServer(root\\SecurityCenter)", hr);
    // Wine limitation: no Security Center namespace (Windows XP to 8 workstations have it).
    EXPECT_EQ(hr, OnWine() ? WBEM_E_INVALID_NAMESPACE : S_OK);
  }
  Sys().CoUninitialize();
}

}  // namespace
}  // namespace zp::contract
