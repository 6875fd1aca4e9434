// The generation-4 drivers step and the server editions' integrations: the two name generations,
// Windows 9x, the product folder, the settings file and the products' own libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

constexpr const char16_t* kProduct = u"C:\\Program Files\\Keswin Software\\Ostrel4";
constexpr const char16_t* kHklmRun = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kHkcuRun = u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kServices = u"HKLM\\System\\CurrentControlSet\\Services\\";
constexpr const char16_t* kVirusScan =
    u"HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSExchangeIS\\VirusScan";
constexpr const char16_t* kWebServerExtension =
    u"HKLM\\Software\\Microsoft\\Shared Tools\\Web Server Extensions\\QVScanner";

std::u16string InProduct(std::u16string_view name) {
  return std::u16string(kProduct) + u"\\" + std::u16string(name);
}

// The stand-ins of the server editions' libraries record their calls; one of them may crash.
struct ServerLibraries {
  std::vector<std::string> calls;
  std::string crashIn;
  HRESULT answer = S_OK;
};
ServerLibraries g_libraries;

HRESULT Called(const char* name) {
  g_libraries.calls.push_back(name);
  if (g_libraries.crashIn == name) throw sim::StructuredException{0xC0000005};
  return g_libraries.answer;
}
HRESULT ZP_STDCALL UnregisterCdoSink() { return Called("UnregisterCdoSink"); }
HRESULT ZP_STDCALL UnregisterIsaFilter() { return Called("UnregisterIsaFilter"); }
HRESULT ZP_STDCALL UnregisterProxyFilter() { return Called("UnregisterProxyFilter"); }

class Gen4Drivers : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os, std::u16string_view productFolder = kProduct) {
    g_libraries = {};
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    g_setup.Init();
    EnableRestorePrivilege();
    g_product.productFolder = std::u16string(productFolder);
    g_log.entries.clear();
  }
  void AddSink() {
    machine_->AddLibrary(InProduct(u"qvSMTP2K.dll"),
                         {{"UnregisterCdoSink", reinterpret_cast<const void*>(UnregisterCdoSink)}});
  }
  void AddIsaHelper(std::u16string_view path) {
    machine_->AddLibrary(
        path, {{"UnregisterIsaFilter", reinterpret_cast<const void*>(UnregisterIsaFilter)},
               {"UnregisterProxyFilter", reinterpret_cast<const void*>(UnregisterProxyFilter)}});
  }
  bool Logged(std::u16string_view text) const {
    std::vector<std::u16string> log = test::LogTexts();
    return std::find(log.begin(), log.end(), text) != log.end();
  }
  std::u16string Drivers() const { return machine_->os().windowsFolder + u"\\system32\\drivers\\"; }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(Gen4Drivers, NewNamesChooseTheMailScannerValueAndThePopupWizard) {
  struct Case {
    bool newNames;
    const char16_t* autostart;  // deleted
    const char16_t* other;      // kept
    const char16_t* wizard;
  };
  const Case cases[] = {
      {false, u"zohMaiSv", u"zorMaiSv", u"zohPopWz.exe"},
      {true, u"zorMaiSv", u"zohMaiSv", u"zorPopWz.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newNames ? "new names" : "old names");
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp());
    for (const char16_t* run : {kHklmRun, kHkcuRun}) {
      machine_->SetString(run, u"zohMaiSv", u"x");
      machine_->SetString(run, u"zorMaiSv", u"x");
    }
    machine_->SetString(kHklmRun, u"ostrel!", InProduct(u"zorOstrel.exe"));
    machine_->AddProgram(InProduct(u"zohPopWz.exe"));
    machine_->AddProgram(InProduct(u"zorPopWz.exe"));
    HWND main = machine_->AddWindow(u"zorDispMainWndClass");

    RemoveDriversGen4(c.newNames);

    for (const char16_t* run : {kHklmRun, kHkcuRun}) {
      EXPECT_FALSE(machine_->String(run, c.autostart));
      EXPECT_TRUE(machine_->String(run, c.other));
    }
    EXPECT_FALSE(machine_->String(kHklmRun, u"ostrel!"));
    ASSERT_EQ(machine_->postedMessages().size(), 1u);
    EXPECT_EQ(machine_->postedMessages()[0].window, main);
    EXPECT_EQ(machine_->postedMessages()[0].message, WM_QUIT);
    EXPECT_EQ(machine_->postedMessages()[0].wParam, 1u);
    EXPECT_EQ(machine_->postedMessages()[0].lParam, static_cast<LPARAM>(0x80000000u));
    ASSERT_EQ(machine_->processesStarted().size(), 1u);
    const sim::StartedProcess& wizard = machine_->processesStarted()[0];
    EXPECT_EQ(wizard.commandLine, u"\"" + InProduct(c.wizard) + u"\" /a-");
    EXPECT_EQ(wizard.program, InProduct(c.wizard));
    EXPECT_TRUE(wizard.resumed);
    EXPECT_TRUE(wizard.waitedFor);
    EXPECT_EQ(machine_->OpenProcessHandles(), 0);
  }
}

TEST_F(Gen4Drivers, WindowsNineXGetsTheWebScannerRunValueAndNoNtActions) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    bool nt;
  };
  const Case cases[] = {
      {"98", sim::OsFacts::Windows98(), false},
      {"Me", sim::OsFacts::WindowsMe(), false},
      {"XP", sim::OsFacts::WindowsXp(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    machine_->SetString(kHklmRun, u"ostrel! Web Scanner", u"C:\\x.exe");
    if (c.nt)
      machine_->AddService(u"ostrel! Web Scanner", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
    machine_->CreateKey(std::u16string(kServices) + u"zorTdi");
    machine_->CreateKey(std::u16string(kServices) + u"zormon");
    machine_->CreateKey(std::u16string(kServices) + u"zorSP");
    machine_->AddFile(Drivers() + u"zormon.sys");
    machine_->AddFile(Drivers() + u"zorSP.sys");
    machine_->AddFile(machine_->os().windowsFolder + u"\\system32\\config.nt",
                      "device=%SystemRoot%\\system32\\zormonds.sys\r\nfiles=40\r\n");
    machine_->CreateKey(u"HKCR\\QvAScr.sbScanner");

    RemoveDriversGen4(true);

    EXPECT_EQ(machine_->String(kHklmRun, u"ostrel! Web Scanner").has_value(), c.nt)
        << "on 9x the web scanner was an autostart program";
    EXPECT_FALSE(machine_->ServiceExists(u"ostrel! Web Scanner"));
    EXPECT_FALSE(machine_->KeyExists(std::u16string(kServices) + u"zorTdi")) << "on every platform";
    EXPECT_FALSE(machine_->KeyExists(u"HKCR\\QvAScr.sbScanner")) << "the script scanner too";
    // What only the NT family has
    EXPECT_EQ(machine_->Exists(Drivers() + u"zormon.sys"), !c.nt);
    EXPECT_EQ(machine_->KeyExists(std::u16string(kServices) + u"zormon"), !c.nt);
    EXPECT_EQ(machine_->Exists(Drivers() + u"zorSP.sys"), !c.nt);
    EXPECT_EQ(machine_->KeyExists(std::u16string(kServices) + u"zorSP"), !c.nt);
    EXPECT_EQ(
        *machine_->FileContent(machine_->os().windowsFolder + u"\\system32\\config.nt"),
        c.nt ? "files=40\r\n" : "device=%SystemRoot%\\system32\\zormonds.sys\r\nfiles=40\r\n");
  }
}

TEST_F(Gen4Drivers, ALockedDriverIsDeletedAtRestartThroughTheRedirectionInForce) {
  Start(sim::OsFacts::WindowsXp());
  machine_->AddFile(Drivers() + u"zorRdr.sys");
  machine_->LockFile(Drivers() + u"zorRdr.sys");
  machine_->AddFile(Drivers() + u"zortdi.sys");
  RemoveDriversGen4(true);
  EXPECT_FALSE(machine_->Exists(Drivers() + u"zortdi.sys"));
  EXPECT_TRUE(machine_->Exists(Drivers() + u"zorRdr.sys"));
  EXPECT_TRUE(g_setup.RebootPending);
}

TEST_F(Gen4Drivers, WithoutAProductFolderTheMainProcessAndTheWizardAreLeftAlone) {
  Start(sim::OsFacts::WindowsXp(), u"");
  machine_->AddWindow(u"zorDispMainWndClass");
  machine_->SetString(kHklmRun, u"ostrel!", u"C:\\Elsewhere\\zorOstrel.exe");
  // Copies along the search path that a bare name would find
  machine_->AddProgram(machine_->CurrentDirectory() + u"\\zorPopWz.exe");
  const std::u16string sink = machine_->os().windowsFolder + u"\\system32\\qvSMTP2K.dll";
  machine_->AddLibrary(sink,
                       {{"UnregisterCdoSink", reinterpret_cast<const void*>(UnregisterCdoSink)}});
  const std::u16string helper = machine_->CurrentDirectory() + u"\\QvIsaHlp.dll";
  AddIsaHelper(helper);
  machine_->CreateKey(kWebServerExtension);

  RemoveDriversGen4(true);
  EXPECT_EQ(RemoveServerIntegrations(), S_OK);

  EXPECT_TRUE(machine_->postedMessages().empty());
  EXPECT_TRUE(machine_->processesStarted().empty());
  EXPECT_TRUE(machine_->String(kHklmRun, u"ostrel!")) << "the Run value stays";
  EXPECT_EQ(machine_->LibraryLoads(sink), 0);
  EXPECT_EQ(machine_->LibraryLoads(helper), 0);
  EXPECT_TRUE(g_libraries.calls.empty());
  EXPECT_FALSE(machine_->KeyExists(kWebServerExtension));
}

TEST_F(Gen4Drivers, TheIsaFolderChoosesTheFilter) {
  constexpr const char16_t* kFilter = u"D:\\ISA\\QvPxyFtr.dll";
  struct Case {
    const char* name;
    const char* settings;  // null: no settings file
    std::string call;
    bool filterDeleted;
  };
  const Case cases[] = {
      {"ISA folder named", "[Common]\r\nISAFolder=D:\\ISA\r\n", "UnregisterIsaFilter", true},
      {"no ISA folder", "[Common]\r\nOther=1\r\n", "UnregisterProxyFilter", false},
      {"no settings file", nullptr, "UnregisterProxyFilter", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::Server2003());
    if (c.settings) machine_->AddFile(InProduct(u"data\\ostrel4.ini"), c.settings);
    AddIsaHelper(InProduct(u"QvIsaHlp.dll"));
    machine_->AddFile(kFilter);
    g_libraries.answer = static_cast<HRESULT>(0x80004005);

    EXPECT_EQ(RemoveServerIntegrations(), static_cast<HRESULT>(0x80004005))
        << "the filter export's result comes back";
    EXPECT_EQ(g_libraries.calls, std::vector<std::string>{c.call});
    EXPECT_EQ(machine_->Exists(kFilter), !c.filterDeleted);
    EXPECT_EQ(machine_->LibraryLoadCount(InProduct(u"QvIsaHlp.dll")), 0) << "freed";
  }
}

TEST_F(Gen4Drivers, WithoutTheIsaSupportLibraryNothingIsCalledAndTheKeysStillGo) {
  Start(sim::OsFacts::Server2003());
  machine_->AddFile(InProduct(u"data\\ostrel4.ini"), "[Common]\r\nISAFolder=D:\\ISA\r\n");
  machine_->AddFile(u"D:\\ISA\\QvPxyFtr.dll");
  machine_->CreateKey(kWebServerExtension);
  machine_->CreateKey(kVirusScan);
  machine_->SetString(kHklmRun, u"zorSdWiz", u"x");

  EXPECT_EQ(RemoveServerIntegrations(), S_OK);

  EXPECT_TRUE(g_libraries.calls.empty());
  EXPECT_TRUE(machine_->Exists(u"D:\\ISA\\QvPxyFtr.dll")) << "only with the support library";
  EXPECT_FALSE(machine_->KeyExists(kWebServerExtension));
  EXPECT_FALSE(machine_->KeyExists(kVirusScan));
  EXPECT_FALSE(machine_->String(kHklmRun, u"zorSdWiz"));
}

TEST_F(Gen4Drivers, TheExchangeSinkIsUnregisteredUnderTheGuard) {
  struct Case {
    const char* name;
    bool library;
    HRESULT answer;
    bool crash;
    std::u16string line;  // empty: nothing of the sink logged
  };
  const Case cases[] = {
      {"success", true, S_OK, false, u"UnregisterCdoSink success"},
      {"failure", true, static_cast<HRESULT>(0x80004005), false,
       u"Error calling UnregisterCdoSink"},
      {"crash", true, S_OK, true,
       u"Caught exception in: " + InProduct(u"qvSMTP2K.dll") +
           u":UnregisterCdoSink, code 0xC0000005"},
      {"no library", false, S_OK, false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::Server2003());
    if (c.library) AddSink();
    AddIsaHelper(InProduct(u"QvIsaHlp.dll"));
    machine_->CreateKey(kVirusScan);
    g_libraries.answer = c.answer;
    if (c.crash) g_libraries.crashIn = "UnregisterCdoSink";

    RemoveServerIntegrations();

    std::vector<std::string> expected;
    if (c.library) expected.push_back("UnregisterCdoSink");
    expected.push_back("UnregisterProxyFilter");  // the run goes on after a crash
    EXPECT_EQ(g_libraries.calls, expected);
    std::vector<std::u16string> sinkLines;
    for (const std::u16string& text : test::LogTexts())
      if (text.find(u"CdoSink") != std::u16string::npos) sinkLines.push_back(text);
    EXPECT_EQ(sinkLines,
              c.line.empty() ? std::vector<std::u16string>{} : std::vector<std::u16string>{c.line});
    EXPECT_FALSE(machine_->KeyExists(kVirusScan));
    if (c.library) {
      EXPECT_EQ(machine_->LibraryLoadFlags(InProduct(u"qvSMTP2K.dll")),
                std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
      EXPECT_EQ(machine_->LibraryLoadCount(InProduct(u"qvSMTP2K.dll")), 0) << "freed";
    }
  }
}

}  // namespace
}  // namespace zp
