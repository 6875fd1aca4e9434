// The browser plug-ins and the Sidebar gadget, removed by the product's base library, and the
// home-server add-in's configuration file.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kProduct = u"C:\\Program Files\\Ostrel";
constexpr const char16_t* kBase = u"C:\\Program Files\\Ostrel\\zohBase.dll";

// What the stand-in base library answers, and the calls it received ("name arg...").
struct BaseScript {
  std::map<DWORD, DWORD> installed;  // browser id -> installed-test answer
  std::map<DWORD, DWORD> uninstall;  // browser id -> uninstall answer
  DWORD killAnswer = 0;
  std::string crashIn;  // the export that raises an access violation
  std::vector<std::string> calls;
  bool gadgetFolderAtStart = false;  // the gadget folder still there when the Sidebar started
  sim::Machine* machine = nullptr;
  std::u16string gadgetFolder;
};
BaseScript g_base;

void Called(const std::string& call, const char* name) {
  g_base.calls.push_back(call);
  if (g_base.crashIn == name) throw sim::StructuredException{0xC0000005};
}

DWORD ZP_STDCALL IsBrowserInstalled(DWORD id) {
  Called("installed " + std::to_string(id), "installed");
  return g_base.installed[id];
}
DWORD ZP_STDCALL UninstallPlugin(DWORD id) {
  Called("uninstall " + std::to_string(id), "uninstall");
  return g_base.uninstall[id];
}
DWORD ZP_STDCALL KillSidebar(DWORD zero, DWORD session) {
  Called("kill " + std::to_string(zero) + " " + std::to_string(session), "kill");
  return g_base.killAnswer;
}
DWORD ZP_STDCALL UninstallGadget() {
  Called("gadget", "gadget");
  return 0;
}
DWORD ZP_STDCALL StartSidebar() {
  g_base.gadgetFolderAtStart = g_base.machine->Exists(g_base.gadgetFolder);
  Called("start", "start");
  return 0;
}
HRESULT ZP_STDCALL ProxyUnregister() {
  g_base.calls.push_back("proxy");
  return S_OK;
}

using Exports = std::map<std::string, const void*>;

Exports BrowserExports() {
  return {{"_bas_hlp_WebRepIsBrowserInstalled@4", (const void*)&IsBrowserInstalled},
          {"_basWebRepUninstallPlugin@4", (const void*)&UninstallPlugin}};
}

Exports GadgetExports() {
  return {{"_basKillSidebar@8", (const void*)&KillSidebar},
          {"_basUninstallGadget@0", (const void*)&UninstallGadget},
          {"_basStartSidebar@0", (const void*)&StartSidebar}};
}

class BrowserGadget : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    g_base = BaseScript{};
    g_base.machine = machine_.get();
  }
  void Run() {
    machine_->Install();
    ASSERT_TRUE(g_setup.Init());
    g_product.productFolder = kProduct;
    g_setup.roPath = kProduct;
    g_log = CLog();
  }
  std::unique_ptr<sim::Machine> machine_;
};

// ---- browsers

struct BrowserCase {
  const char* name;
  bool library;
  Exports exports;
  std::map<DWORD, DWORD> installed;
  std::map<DWORD, DWORD> uninstall;
  std::string crashIn;
  std::vector<std::string> calls;
  std::vector<std::u16string> lines;
};

TEST_F(BrowserGadget, BrowserPlugins) {
  const std::u16string ie = u"Browser \"Internet Explorer\" not found";
  const std::u16string firefox = u"Browser \"Firefox\" not found";
  const std::u16string chrome = u"Browser \"Chrome\" not found";
  const std::u16string noExports =
      u"Couldn't find export of basWebRepUninstallPlugin or bas_hlp_WebRepIsBrowserInstalled";
  const BrowserCase cases[] = {
      {"only Firefox installed",
       true,
       BrowserExports(),
       {{2, 2}},
       {},
       "",
       {"installed 1", "installed 2", "uninstall 2", "installed 3"},
       {ie, chrome}},
      {"1 is not installed",
       true,
       BrowserExports(),
       {{1, 1}, {2, 1}, {3, 1}},
       {},
       "",
       {"installed 1", "installed 2", "installed 3"},
       {ie, firefox, chrome}},
      {"a failing removal, the next browser still done",
       true,
       BrowserExports(),
       {{1, 2}, {2, 2}, {3, 2}},
       {{1, 0x80004005}},
       "",
       {"installed 1", "uninstall 1", "installed 2", "uninstall 2", "installed 3", "uninstall 3"},
       {u"basWebRepUninstallPlugin for \"Internet Explorer\" returned 0x80004005"}},
      {"the uninstall export missing",
       true,
       {{"_bas_hlp_WebRepIsBrowserInstalled@4", (const void*)&IsBrowserInstalled}},
       {{2, 2}},
       {},
       "",
       {},
       {noExports}},
      {"undecorated names are not the product's",
       true,
       {{"bas_hlp_WebRepIsBrowserInstalled", (const void*)&IsBrowserInstalled},
        {"basWebRepUninstallPlugin", (const void*)&UninstallPlugin}},
       {{2, 2}},
       {},
       "",
       {},
       {noExports}},
      {"no library: nothing, silently", false, {}, {{2, 2}}, {}, "", {}, {}},
      {"a crash in the installed-test: that browser counts as absent",
       true,
       BrowserExports(),
       {{2, 2}},
       {},
       "installed",
       {"installed 1", "installed 2", "installed 3"},
       {u"Caught exception in: " + std::u16string(kBase) +
            u":_bas_hlp_WebRepIsBrowserInstalled@4, code 0xC0000005",
        ie,
        u"Caught exception in: " + std::u16string(kBase) +
            u":_bas_hlp_WebRepIsBrowserInstalled@4, code 0xC0000005",
        firefox,
        u"Caught exception in: " + std::u16string(kBase) +
            u":_bas_hlp_WebRepIsBrowserInstalled@4, code 0xC0000005",
        chrome}},
  };
  for (const BrowserCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::Windows7());
    if (c.library) machine_->AddLibrary(kBase, c.exports);
    g_base.installed = c.installed;
    g_base.uninstall = c.uninstall;
    g_base.crashIn = c.crashIn;
    Run();
    RemoveBrowserPlugins();
    EXPECT_EQ(g_base.calls, c.calls);
    EXPECT_EQ(test::LogTexts(), c.lines);
    EXPECT_EQ(machine_->LibraryLoadCount(kBase), 0) << "freed";
    if (c.library) {
      EXPECT_EQ(machine_->LibraryLoadFlags(kBase),
                std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
    }
  }
}

// ---- the Sidebar gadget

struct GadgetCase {
  const char* name;
  sim::OsFacts os;
  bool library;
  Exports exports;
  DWORD killAnswer;
  std::string crashIn;
  bool sessionKnown;
  std::vector<std::string> calls;
  std::vector<std::u16string> commandLines;
  std::vector<std::u16string> generalLines;
};

TEST_F(BrowserGadget, SidebarGadget) {
  const std::u16string missing = u"Couldn't find exports for gadget uninstalling";
  Exports noStart = GadgetExports();
  noStart.erase("_basStartSidebar@0");
  const std::u16string regsvr =
      u"zorRegSvr64.exe /u \"C:\\Program Files\\Ostrel\\OstrelGUIProxy64.dll\"";
  const GadgetCase cases[] = {
      {"the Sidebar was not running: not started",
       sim::OsFacts::Windows7(),
       true,
       GadgetExports(),
       0,
       "",
       true,
       {"kill 0 3", "gadget", "proxy"},
       {},
       {}},
      {"stopped: started again after the folder went",
       sim::OsFacts::Windows7(),
       true,
       GadgetExports(),
       1,
       "",
       true,
       {"kill 0 3", "gadget", "proxy", "start"},
       {},
       {}},
      {"the session unknown",
       sim::OsFacts::Windows7(),
       true,
       GadgetExports(),
       0,
       "",
       false,
       {"kill 0 4294967295", "gadget", "proxy"},
       {},
       {}},
      {"the library missing: the proxy and the folder still go",
       sim::OsFacts::Windows7(),
       false,
       {},
       1,
       "",
       true,
       {"proxy"},
       {},
       {}},
      {"the start export missing: the others still used",
       sim::OsFacts::Windows7(),
       true,
       noStart,
       1,
       "",
       true,
       {"kill 0 3", "gadget", "proxy"},
       {},
       {missing}},
      {"64-bit Windows: the 64-bit proxy through the registration program",
       sim::OsFacts::Windows7X64(),
       true,
       GadgetExports(),
       1,
       "",
       true,
       {"kill 0 3", "gadget", "start"},
       {regsvr},
       {}},
      {"a crash in the stop: counts as not stopped, the rest goes on",
       sim::OsFacts::Windows7(),
       true,
       GadgetExports(),
       1,
       "kill",
       true,
       {"kill 0 3", "gadget", "proxy"},
       {},
       {u"Caught exception in: " + std::u16string(kBase) + u":_basKillSidebar@8, code 0xC0000005"}},
  };
  for (const GadgetCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    if (c.library) machine_->AddLibrary(kBase, c.exports);
    machine_->AddLibrary(u"C:\\Program Files\\Ostrel\\OstrelGUIProxy.dll",
                         {{"DllUnregisterServer", (const void*)&ProxyUnregister}});
    machine_->AddLibrary64(u"C:\\Program Files\\Ostrel\\OstrelGUIProxy64.dll");
    machine_->AddProgram(u"C:\\Program Files\\Ostrel\\zorRegSvr64.exe");
    // %PRGFILES%: the native program files folder.
    g_base.gadgetFolder = u"C:\\Program Files\\Windows Sidebar\\Shared Gadgets\\zorSidebar.gadget";
    machine_->AddFile(g_base.gadgetFolder + u"\\gadget.xml");
    machine_->AddFile(g_base.gadgetFolder + u"\\en-US\\main.html");
    machine_->SetSessionId(3);
    if (!c.sessionKnown) machine_->FailCall("ProcessIdToSessionId", ERROR_INVALID_PARAMETER);
    g_base.killAnswer = c.killAnswer;
    g_base.crashIn = c.crashIn;
    Run();
    RemoveSidebarGadget();

    EXPECT_EQ(g_base.calls, c.calls);
    std::vector<std::u16string> commandLines;
    for (const sim::StartedProcess& process : machine_->processesStarted())
      commandLines.push_back(process.commandLine);
    EXPECT_EQ(commandLines, c.commandLines);
    std::vector<std::u16string> general;
    for (const LogEntry& entry : g_log.entries)
      if (entry.category == CAT_GENERAL) general.push_back(entry.text);
    EXPECT_EQ(general, c.generalLines);
    EXPECT_FALSE(machine_->Exists(g_base.gadgetFolder));
    EXPECT_FALSE(g_base.gadgetFolderAtStart);
    EXPECT_EQ(machine_->LibraryLoadCount(kBase), 0) << "freed";
    EXPECT_TRUE(
        machine_->LibraryLoadFlags(u"C:\\Program Files\\Ostrel\\OstrelGUIProxy64.dll").empty())
        << "the 64-bit proxy is never loaded in-process";
  }
}

// ---- the home-server add-in

struct AddinCase {
  const char* name;
  sim::OsFacts os;
  bool present;
  std::vector<std::u16string> lines;
};

TEST_F(BrowserGadget, HomeServerAddin) {
  const std::u16string addin =
      u"C:\\Program Files\\Windows Server\\Bin\\Addins\\Primary\\OstrelWhsAddinConfig.addin";
  const AddinCase cases[] = {
      {"64-bit Windows: deleted", sim::OsFacts::Server2008R2(), true, {}},
      {"64-bit Windows without the file",
       sim::OsFacts::Server2008R2(),
       false,
       {u"Unable to delete WHS 2011 addin file '" + addin + u"' with error 0x00000003!"}},
      {"32-bit Windows: the variable stays unexpanded",
       sim::OsFacts::Windows7(),
       true,
       {u"Unable to delete WHS 2011 addin file '%ProgramW6432%\\Windows Server\\Bin\\Addins\\"
        u"Primary\\OstrelWhsAddinConfig.addin' with error 0x00000003!"}},
  };
  for (const AddinCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    if (c.present) machine_->AddFile(addin);
    Run();
    RemoveHomeServerAddin();
    EXPECT_EQ(test::LogTexts(), c.lines);
    for (const LogEntry& entry : g_log.entries) {
      EXPECT_EQ(entry.level, LOG_MIN);
      EXPECT_EQ(entry.category, CAT_SYSTEM);
    }
    EXPECT_EQ(machine_->Exists(addin), c.present && !c.os.wow64);
  }
}

}  // namespace
}  // namespace zp
