// The drivers and filters step: the class filter in every control set, what each Windows
// version gets, the tray application and the product folder, the script engines.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

constexpr std::u16string_view kKeyboardClass =
    u"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
constexpr const char16_t* kServices = u"HKLM\\System\\CurrentControlSet\\Services\\";
constexpr const char16_t* kGroupOrderList =
    u"HKLM\\System\\CurrentControlSet\\Control\\GroupOrderList";
constexpr const char16_t* kRun = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char16_t* kProduct = u"C:\\Program Files\\Ostrel";

// A REG_MULTI_SZ as Windows stores it: each item with its terminator, then the empty item.
std::vector<BYTE> MultiSz(std::initializer_list<std::u16string_view> items) {
  std::vector<BYTE> bytes;
  auto put = [&](char16_t c) {
    bytes.push_back(static_cast<BYTE>(c));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  };
  for (std::u16string_view item : items) {
    for (char16_t c : item) put(c);
    put(0);
  }
  put(0);
  return bytes;
}

std::vector<BYTE> Dwords(std::initializer_list<DWORD> values) {
  std::vector<BYTE> bytes;
  for (DWORD v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
  return bytes;
}

class DriversStep : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os, std::u16string_view productFolder = kProduct) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    g_setup.Init();
    EnableRestorePrivilege();
    g_product.productFolder = std::u16string(productFolder);
    g_log.entries.clear();
  }
  std::u16string Drivers() const { return machine_->os().windowsFolder + u"\\system32\\drivers\\"; }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(DriversStep, KeyboardFilterLeavesTheClassListOfEveryControlSet) {
  struct Case {
    const char* name;
    std::vector<BYTE> before;
    std::vector<BYTE> after;
  };
  const Case cases[] = {
      {"middle entry", MultiSz({u"kbdclass", u"zorKbd", u"other"}),
       MultiSz({u"kbdclass", u"other"})},
      {"only entry, other case: an empty list, 14 bytes shorter", MultiSz({u"ZORKBD"}),
       MultiSz({})},
      {"listed twice: the first goes", MultiSz({u"zorKbd", u"kbdclass", u"zorKbd"}),
       MultiSz({u"kbdclass", u"zorKbd"})},
      {"absent", MultiSz({u"kbdclass"}), MultiSz({u"kbdclass"})},
      {"a name that only begins like it", MultiSz({u"zorKbdX"}), MultiSz({u"zorKbdX"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp());
    for (std::u16string_view set : {u"ControlSet001", u"ControlSet002", u"CurrentControlSet"})
      machine_->SetValue(u"HKLM\\SYSTEM\\" + std::u16string(set) + std::u16string(kKeyboardClass),
                         u"UpperFilters", REG_MULTI_SZ, c.before);
    RemoveDriversAndFilters();
    for (std::u16string_view set : {u"ControlSet001", u"ControlSet002"}) {
      DWORD type = 0;
      EXPECT_EQ(machine_->Value(u"HKLM\\SYSTEM\\" + std::u16string(set) +
                                    std::u16string(kKeyboardClass),
                                u"UpperFilters", &type),
                c.after);
      EXPECT_EQ(type, REG_MULTI_SZ);
    }
    // CurrentControlSet is a link to one of the sets on Windows: never handled twice.
    EXPECT_EQ(machine_->Value(u"HKLM\\SYSTEM\\CurrentControlSet" + std::u16string(kKeyboardClass),
                              u"UpperFilters"),
              c.before);
  }
  std::vector<std::u16string> log = test::LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(), u"Debug: Skipping subkey HKLM\\SYSTEM\\CurrentControlSet."),
            log.end());
}

TEST_F(DriversStep, ClassFilterCleanupReportsWhatStopsIt) {
  Start(sim::OsFacts::WindowsXp());
  machine_->FailCall("RegQueryInfoKeyW", ERROR_ACCESS_DENIED);
  RemoveDriversAndFilters();
  std::vector<std::u16string> log = test::LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      u"Error: Unable to query HKLM\\SYSTEM key with error 0x00000005!"),
            log.end());

  ResetProcessState();
  Start(sim::OsFacts::WindowsXp());
  machine_->DenyKeyAccess(u"HKLM\\SYSTEM", KEY_ENUMERATE_SUB_KEYS);
  RemoveDriversAndFilters();
  log = test::LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      u"Error: Unable to open HKLM\\SYSTEM key with error 0x00000005!"),
            log.end());
}

TEST_F(DriversStep, WhatEachWindowsVersionGets) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    bool filterManager;
    bool selfProtectionGoes;  // actions of Windows 2000 and later
    bool antiVirusGroupLosesTheMonitor;
  };
  const Case cases[] = {
      {"NT 4", sim::OsFacts::WindowsNt4(), true, false, false},
      {"2000", sim::OsFacts::Windows2000(), true, true, false},
      {"Server 2003 with the filter manager", sim::OsFacts::Server2003(), true, true, true},
      {"Server 2003 without it", sim::OsFacts::Server2003(), false, true, false},
      {"7, 64-bit", sim::OsFacts::Windows7X64(), true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    if (c.filterManager) machine_->CreateKey(std::u16string(kServices) + u"fltmgr");
    machine_->SetDword(std::u16string(kServices) + u"zormonflt", u"Tag", 7);
    machine_->SetValue(kGroupOrderList, u"FSFilter Anti-Virus", REG_BINARY, Dwords({2, 5, 7}));
    machine_->CreateKey(std::u16string(kServices) + u"zorSP");
    machine_->AddFile(Drivers() + u"zorSP.sys");
    machine_->AddFile(Drivers() + u"zorKbd.sys");
    machine_->AddFile(Drivers() + u"zorNdis.sys");
    machine_->CreateKey(std::u16string(kServices) + u"zorNdis");

    RemoveDriversAndFilters();

    EXPECT_EQ(machine_->Exists(Drivers() + u"zorSP.sys"), !c.selfProtectionGoes);
    EXPECT_EQ(machine_->KeyExists(std::u16string(kServices) + u"zorSP"), !c.selfProtectionGoes);
    EXPECT_EQ(machine_->Value(kGroupOrderList, u"FSFilter Anti-Virus"),
              c.antiVirusGroupLosesTheMonitor ? Dwords({1, 5}) : Dwords({2, 5, 7}));
    // The native system folder's drivers go on every version, on 64-bit Windows through the
    // redirection switched off.
    EXPECT_FALSE(machine_->Exists(Drivers() + u"zorKbd.sys"));
    EXPECT_FALSE(machine_->Exists(Drivers() + u"zorNdis.sys"));
    EXPECT_FALSE(machine_->KeyExists(std::u16string(kServices) + u"zorNdis"));
  }
}

TEST_F(DriversStep, DriverInUseIsDeletedAtRestart) {
  Start(sim::OsFacts::WindowsXp());
  machine_->AddFile(Drivers() + u"zorNdisR.sys");
  machine_->LockFile(Drivers() + u"zorNdisR.sys");
  RemoveDriversAndFilters();
  EXPECT_TRUE(machine_->Exists(Drivers() + u"zorNdisR.sys"));
  std::vector<std::u16string> pending = machine_->MultiString(
      u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
      u"PendingFileRenameOperations");
  EXPECT_NE(std::find(pending.begin(), pending.end(),
                      u"\\??\\" + Drivers() + u"zorNdisR.sys"),
            pending.end());
}

TEST_F(DriversStep, TrayApplicationAndTheProductFolder) {
  constexpr const char16_t* kVdd =
      u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
  struct Case {
    const char* name;
    std::u16string_view productFolder;
    std::vector<std::u16string> vddAfter;
  };
  const Case cases[] = {
      {"known folder", kProduct, {u"C:\\Other\\zorMonVd.dll"}},
      // An empty folder leaves only the bare name to match: every copy of the driver goes.
      {"empty folder", u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp(), c.productFolder);
    HWND tray = machine_->AddWindow(u"zor_qv_tray_icon_wndclass");
    machine_->SetString(kRun, u"ostrel5", u"C:\\Program Files\\Ostrel\\zorTray.exe");
    machine_->SetMultiString(kVdd, u"VDD",
                             {u"C:\\Program Files\\Ostrel\\zorMonVd.dll", u"C:\\Other\\zorMonVd.dll"});
    machine_->AddFile(u"C:\\WINDOWS\\system32\\config.nt",
                      "dosonly\r\ndevice=%SystemRoot%\\system32\\ZORMONDS.SYS\r\nfiles=40\r\n");

    RemoveDriversAndFilters();

    bool known = !c.productFolder.empty();
    ASSERT_EQ(machine_->postedMessages().size(), known ? 1u : 0u);
    if (known) {
      const sim::PostedMessage& quit = machine_->postedMessages()[0];
      EXPECT_EQ(quit.window, tray);
      EXPECT_EQ(quit.message, WM_QUIT);
      EXPECT_EQ(quit.wParam, 1u);
      EXPECT_EQ(static_cast<DWORD>(quit.lParam), 0x80000000u);
    }
    EXPECT_EQ(machine_->String(kRun, u"ostrel5").has_value(), !known);
    EXPECT_EQ(machine_->MultiString(kVdd, u"VDD"), c.vddAfter);
    EXPECT_EQ(machine_->FileContent(u"C:\\WINDOWS\\system32\\config.nt"),
              "dosonly\r\nfiles=40\r\n");
  }
}

TEST_F(DriversStep, ScriptScannerGoesAndTheEnginesGetTheirServersBack) {
  Start(sim::OsFacts::WindowsXp());
  const std::u16string jscript =
      u"HKLM\\SOFTWARE\\Classes\\CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32";
  const std::u16string vbscript =
      u"HKLM\\SOFTWARE\\Classes\\CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32";
  machine_->SetString(jscript, u"", u"C:\\Program Files\\Ostrel\\ZhAScr.dll");
  machine_->SetString(jscript, u"Default Engine", u"C:\\WINDOWS\\system32\\jscript.dll");
  machine_->SetString(vbscript, u"", u"C:\\WINDOWS\\system32\\vbscript.dll");
  machine_->CreateKey(u"HKCR\\QvAScr.sbScanner\\CLSID");
  machine_->CreateKey(u"HKCR\\CLSID\\{7BFC2BD7-0937-41EA-8872-CE3B27E08F84}\\InprocServer32");
  machine_->CreateKey(u"HKCU\\AppEvents\\Schemes\\Apps\\Ostrel\\Scan");
  machine_->CreateKey(u"HKCU\\AppEvents\\Schemes\\Apps\\Other");

  RemoveDriversAndFilters();

  EXPECT_EQ(machine_->String(jscript, u""), u"C:\\WINDOWS\\system32\\jscript.dll");
  EXPECT_FALSE(machine_->String(jscript, u"Default Engine").has_value());
  EXPECT_EQ(machine_->String(vbscript, u""), u"C:\\WINDOWS\\system32\\vbscript.dll");
  EXPECT_FALSE(machine_->KeyExists(u"HKCR\\QvAScr.sbScanner"));
  EXPECT_FALSE(machine_->KeyExists(u"HKCR\\CLSID\\{7BFC2BD7-0937-41EA-8872-CE3B27E08F84}"));
  EXPECT_FALSE(machine_->KeyExists(u"HKCU\\AppEvents\\Schemes\\Apps\\Ostrel"));
  EXPECT_TRUE(machine_->KeyExists(u"HKCU\\AppEvents\\Schemes\\Apps\\Other"));
}

TEST_F(DriversStep, NetworkComponentsGoWithTheirDriverPackages) {
  Start(sim::OsFacts::WindowsXp());
  machine_->network().components.push_back({u"sw_zorndis"});
  machine_->network().components.push_back({u"ms_tcpip"});
  machine_->AddFile(u"C:\\WINDOWS\\Inf\\oem3.inf", "[Version]\r\nCatalogFile=zorndis.cat\r\n");
  machine_->AddFile(u"C:\\WINDOWS\\Inf\\oem3.pnf");
  machine_->AddFile(u"C:\\WINDOWS\\Inf\\oem4.inf", "[Version]\r\nCatalogFile=zorNdisFlt.cat\r\n");

  RemoveDriversAndFilters();

  EXPECT_EQ(machine_->network().removed, std::vector<std::u16string>{u"sw_zorndis"});
  EXPECT_FALSE(machine_->Exists(u"C:\\WINDOWS\\Inf\\oem3.inf"));
  EXPECT_FALSE(machine_->Exists(u"C:\\WINDOWS\\Inf\\oem3.pnf"));
  // The filter is not installed: its packages stay for the program files step.
  EXPECT_TRUE(machine_->Exists(u"C:\\WINDOWS\\Inf\\oem4.inf"));
  std::vector<std::u16string> log = test::LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(), u"zorNdis uninstalled successfully."), log.end());
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       u"Couldn't uninstall the network component, result: 0x00000001."),
            2);
}

TEST_F(DriversStep, MailClientHooks) {
  Start(sim::OsFacts::WindowsXp());
  const std::u16string extensions = u"HKLM\\SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
  machine_->SetString(extensions, u"ostrel!", u"4.0;C:\\P\\ext.dll");
  machine_->SetString(extensions, u"ostrel! 5", u"4.0;C:\\P\\ext5.dll");
  machine_->SetString(extensions, u"Other", u"4.0;C:\\Other\\ext.dll");
  machine_->CreateKey(u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrelAddin");
  machine_->SetString(kRun, u"zohMaiSv", u"C:\\P\\zohMaiSv.exe");
  machine_->SetString(u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                      u"Local AppData", u"C:\\Documents and Settings\\admin\\Local Settings\\Application Data");
  const std::u16string extendDat =
      u"C:\\Documents and Settings\\admin\\Local Settings\\Application Data\\Microsoft\\Outlook\\EXTEND.DAT";
  machine_->AddFile(extendDat);

  RemoveDriversAndFilters();

  EXPECT_FALSE(machine_->String(extensions, u"ostrel!").has_value());
  EXPECT_FALSE(machine_->String(extensions, u"ostrel! 5").has_value());
  EXPECT_TRUE(machine_->String(extensions, u"Other").has_value());
  EXPECT_FALSE(machine_->KeyExists(u"HKLM\\SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\ostrelAddin"));
  EXPECT_FALSE(machine_->String(kRun, u"zohMaiSv").has_value());
  EXPECT_FALSE(machine_->Exists(extendDat));
}

}  // namespace
}  // namespace zp
