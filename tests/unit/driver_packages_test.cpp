// Driver packages and network components on the simulated machine: which OEM INF copies are
// selected and how they go, with and without SetupAPI; the network removal's outcomes and their
// log lines.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/driver_packages.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

std::string Inf(std::string_view catalog, std::string_view provider) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=NetService\r\nProvider=" +
         std::string(provider) + "\r\nCatalogFile=" + std::string(catalog) +
         "\r\n\r\n[Strings]\r\nOSTR=\"Ostrel Software\"\r\n";
}

class DriverPackages : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os = sim::OsFacts::Windows7()) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    g_setup.Init();
    g_log.entries.clear();
  }
  std::u16string InfPath(std::u16string_view name) const {
    return machine_->os().windowsFolder + u"\\Inf\\" + std::u16string(name);
  }
  // An OEM INF copy and its precompiled form.
  void AddPackage(std::u16string_view name, std::string_view catalog,
                  std::string_view provider = "%OSTR%") {
    machine_->AddFile(InfPath(name), Inf(catalog, provider));
    std::u16string pnf = InfPath(name);
    pnf.replace(pnf.size() - 3, 3, u"pnf");
    machine_->AddFile(pnf, "PNF");
  }
  bool PackageThere(std::u16string_view name, bool* pnfThere = nullptr) const {
    std::u16string pnf = InfPath(name);
    pnf.replace(pnf.size() - 3, 3, u"pnf");
    if (pnfThere) *pnfThere = machine_->Exists(pnf);
    return machine_->Exists(InfPath(name));
  }
  int Count(std::u16string_view text) const {
    int n = 0;
    for (const std::u16string& line : test::LogTexts()) n += line == text;
    return n;
  }
  std::unique_ptr<sim::Machine> machine_;
};

using Uninstalls = std::vector<std::pair<std::u16string, DWORD>>;

TEST_F(DriverPackages, PackagesAreChosenByCatalogAndProviderAsWritten) {
  struct Case {
    const char* name;
    const char* oem3Provider;
    const char16_t* catalogFile;
    const char16_t* provider;
    bool removed;
  };
  const Case cases[] = {
      {"the catalog, any provider", "%OSTR%", u"zorNdis.cat", u"", true},
      {"catalog and provider token without case", "%OSTR%", u"ZORNDIS.CAT", u"%ostr%", true},
      {"a provider token that differs", "%Other%", u"zorNdis.cat", u"%OSTR%", false},
      {"the token is not resolved", "%OSTR%", u"zorNdis.cat", u"Ostrel Software", false},
      {"another catalog", "%OSTR%", u"zorNdisR.cat", u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    AddPackage(u"oem3.inf", "zorndis.cat", c.oem3Provider);
    AddPackage(u"oem4.inf", "other.cat");
    machine_->AddFile(InfPath(u"oem5.inf"), "; no [Version] section\r\n");
    machine_->AddFolder(InfPath(u"oem6.inf"));  // a folder named like an INF

    EXPECT_EQ(RemoveOemInfs(InfMatch{c.catalogFile, c.provider}), 0);
    bool pnf = false;
    EXPECT_EQ(PackageThere(u"oem3.inf", &pnf), !c.removed);
    EXPECT_EQ(pnf, !c.removed);
    EXPECT_TRUE(PackageThere(u"oem4.inf", &pnf));
    EXPECT_TRUE(pnf);
    EXPECT_TRUE(machine_->Exists(InfPath(u"oem5.inf")));
    EXPECT_TRUE(machine_->Exists(InfPath(u"oem6.inf")));
    // SetupAPI is given the file name in the Inf folder, not the path.
    const Uninstalls expected =
        c.removed ? Uninstalls{{u"oem3.inf", SUOI_FORCEDELETE}} : Uninstalls{};
    EXPECT_EQ(machine_->oemInfUninstalls(), expected);
  }
}

TEST_F(DriverPackages, SetupApiIsLoadedForTheUninstallAndFreedAgain) {
  struct Case {
    const char* name;
    bool loadedElsewhere;
    bool loadFails;
    int loads;      // by the operation
    int loadedAfter;
  };
  const Case cases[] = {
      {"not loaded in the process", false, false, 1, 0},
      {"loaded by another module", true, false, 0, 1},
      {"the load fails", false, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    AddPackage(u"oem3.inf", "zorndis.cat");
    if (c.loadedElsewhere) machine_->LoadSystemModule(u"setupapi.dll");
    if (c.loadFails) machine_->FailCall("LoadLibraryW", ERROR_MOD_NOT_FOUND, u"setupapi");

    RemoveOemInfs(u"zorndis.cat", u"");
    EXPECT_EQ(machine_->SystemModuleLoads(u"setupapi.dll"), c.loads);
    EXPECT_EQ(machine_->SystemModuleLoadCount(u"setupapi.dll"), c.loadedAfter);
    EXPECT_EQ(machine_->oemInfUninstalls().size(), c.loadFails ? 0u : 1u);
    EXPECT_EQ(Count(u"Error: Unable to get the handle to the SetupAPI.dll with error 0x0000007e!"),
              c.loadFails ? 1 : 0);
    bool pnf = true;
    EXPECT_FALSE(PackageThere(u"oem3.inf", &pnf)) << "deleted also without SetupAPI";
    EXPECT_FALSE(pnf);
  }
}

TEST_F(DriverPackages, WindowsTwoThousandDeletesTheFilesWithANoticeForEach) {
  Start(sim::OsFacts::Windows2000());
  AddPackage(u"oem3.inf", "zorndis.cat");
  AddPackage(u"oem7.inf", "ZorNdis.cat");
  AddPackage(u"oem8.inf", "other.cat");

  EXPECT_EQ(RemoveOemInfs(u"zorNdis.cat", u""), 0);
  const std::u16string notice =
      u"Notice: Unable to get address of the SetupUninstallOEMInf function with error "
      u"0x0000007f. It is to be expected on Windows 2000.";
  EXPECT_EQ(Count(notice), 2);
  for (const LogEntry& entry : g_log.entries)
    if (entry.text == notice) {
      EXPECT_EQ(entry.level, LOG_VRB);
    }
  EXPECT_TRUE(machine_->oemInfUninstalls().empty());
  bool pnf = true;
  EXPECT_FALSE(PackageThere(u"oem3.inf", &pnf));
  EXPECT_FALSE(pnf);
  EXPECT_FALSE(PackageThere(u"oem7.inf", &pnf));
  EXPECT_FALSE(pnf);
  EXPECT_TRUE(PackageThere(u"oem8.inf"));
  EXPECT_EQ(machine_->SystemModuleLoadCount(u"setupapi.dll"), 0);
}

TEST_F(DriverPackages, AnInfInUseIsDeletedAtTheNextRestart) {
  Start();
  AddPackage(u"oem3.inf", "zorndis.cat");
  machine_->LockFile(InfPath(u"oem3.inf"));

  EXPECT_EQ(RemoveOemInfs(u"zorndis.cat", u""), 0);
  EXPECT_EQ(Count(u"Error: Unable to uninstall OEM inf file 'C:\\WINDOWS\\Inf\\oem3.inf' with "
                  u"error 0x00000020!"),
            1);
  bool pnf = true;
  EXPECT_TRUE(PackageThere(u"oem3.inf", &pnf));
  EXPECT_FALSE(pnf) << "the precompiled copy is not in use";
  EXPECT_TRUE(IsScheduledForRestart(InfPath(u"oem3.inf")));
  EXPECT_TRUE(g_setup.RebootPending);
}

// ---- network components

constexpr const char16_t* kComponent = u"sw_zorndis";

TEST_F(DriverPackages, NetworkComponentOutcomes) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    HRESULT result;
    std::vector<std::u16string> lines;  // the system lines, in order
    bool componentRemoved;
    bool packagesRemoved;
  };
  const std::vector<Case> cases = {
      {"installed and removable", [](sim::Machine&) {}, S_OK,
       {u"zorNdis uninstalled successfully."}, true, true},
      {"not installed", [](sim::Machine& m) { m.network().components.clear(); }, S_FALSE,
       {u"Couldn't uninstall the network component, result: 0x00000001."}, false, false},
      {"the write lock held by another program",
       [](sim::Machine& m) { m.network().otherLockHolder = u"Network Connections"; },
       NETCFG_E_NO_WRITE_LOCK,
       {u"Network Connections application currently holds the lock, try later.",
        u"Other application currently holds the lock, try later."},
       false, false},
      {"the final Apply asks for a restart",
       [](sim::Machine& m) { m.network().applyResult = NETCFG_S_REBOOT; }, NETCFG_S_REBOOT,
       {u"Couldn't uninstall the network component, result: 0x0004A020."}, true, false},
      {"cancelled by the component's notify object",
       [](sim::Machine& m) {
         m.network().components[0].deinstallResult = HresultFromWin32(ERROR_CANCELLED);
       },
       HresultFromWin32(ERROR_CANCELLED), {u"Cancelled uninstall the network component."}, false,
       false},
      {"FindComponent not implemented (Wine)",
       [](sim::Machine& m) { m.network().findNotImplemented = true; }, E_NOTIMPL,
       {u"Couldn't uninstall the network component, result: 0x80004001."}, false, false},
      {"the network configuration cannot be created",
       [](sim::Machine& m) { m.FailCall("CoCreateInstance", REGDB_E_CLASSNOTREG); },
       REGDB_E_CLASSNOTREG,
       {u"Couldn't uninstall the network component, result: 0x80040154."}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    machine_->network().components.push_back({kComponent, GUID_DEVCLASS_NETSERVICE});
    machine_->network().components.push_back({u"ms_tcpip", GUID_DEVCLASS_NETTRANS});
    AddPackage(u"oem3.inf", "zorNdis.cat");
    c.arrange(*machine_);
    const DWORD ticks = Sys().GetTickCount();

    EXPECT_EQ(RemoveNetworkComponent(kComponent, u"zorNdis.cat", u"unused"), c.result);
    std::vector<std::u16string> lines;
    for (const LogEntry& entry : g_log.entries) {
      if (entry.category != CAT_SYSTEM) continue;
      lines.push_back(entry.text);
      EXPECT_EQ(entry.level, LOG_MIN);
    }
    EXPECT_EQ(lines, c.lines);
    const sim::NetworkConfiguration& net = machine_->network();
    EXPECT_EQ(net.removed, c.componentRemoved ? std::vector<std::u16string>{kComponent}
                                              : std::vector<std::u16string>{});
    EXPECT_EQ(PackageThere(u"oem3.inf"), !c.packagesRemoved);
    // Everything obtained is given back: the lock, the configuration, the references, the
    // holder's name, COM.
    EXPECT_FALSE(net.writeLockHeld);
    EXPECT_EQ(net.initialized, 0);
    EXPECT_EQ(machine_->LiveComObjects(), 0);
    EXPECT_EQ(machine_->OpenComStrings(), 0);
    EXPECT_EQ(machine_->ComInitializations(), 0);
    for (DWORD timeout : net.lockTimeouts) EXPECT_EQ(timeout, 5000u);
    for (const std::u16string& client : net.lockClients) EXPECT_EQ(client, u"");
    for (int type : net.oboTypes) EXPECT_EQ(type, OBO_USER);
    EXPECT_EQ(Sys().GetTickCount() - ticks, c.result == NETCFG_E_NO_WRITE_LOCK ? 5000u : 0u)
        << "the only wait is for the lock";
  }
}

TEST_F(DriverPackages, TheRemovalIsAppliedBeforeTheConfigurationIsReleased) {
  Start();
  machine_->network().components.push_back({u"zorNdisFlt", GUID_DEVCLASS_NETSERVICE});
  EXPECT_EQ(UninstallNetComponent(u"ZORNDISFLT"), S_OK);
  // DeInstall's own Apply, then the final one; the configuration forgets what was not applied.
  EXPECT_EQ(machine_->network().applies, 2);
  EXPECT_EQ(machine_->network().removed, std::vector<std::u16string>{u"zorNdisFlt"});
  EXPECT_TRUE(machine_->network().components.empty());
  EXPECT_EQ(UninstallNetComponent(u"zorNdisFlt"), S_FALSE) << "gone for good";
}

TEST_F(DriverPackages, TheConfigurationStaysOpenFromAcquireToRelease) {
  Start();
  Sys().CoInitialize();  // the apartment of the run, opened by the system report
  UniqueComObject netCfg;
  UniqueCoTaskText holder;
  ASSERT_EQ(AcquireNetCfg(u"zorPurge", &netCfg, &holder), S_OK);
  EXPECT_TRUE(netCfg);
  EXPECT_FALSE(holder);
  EXPECT_TRUE(machine_->network().writeLockHeld);
  EXPECT_EQ(machine_->network().initialized, 1);
  EXPECT_EQ(machine_->network().lockClients, std::vector<std::u16string>{u"zorPurge"});
  EXPECT_EQ(ReleaseNetCfg(std::move(netCfg)), S_OK);
  EXPECT_FALSE(machine_->network().writeLockHeld);
  EXPECT_EQ(machine_->LiveComObjects(), 0);
  EXPECT_EQ(machine_->ComInitializations(), 1) << "the run's apartment stays";
  Sys().CoUninitialize();
}

}  // namespace
}  // namespace zp
