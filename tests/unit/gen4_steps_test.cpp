// The generation-4 services, components and screensaver steps.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kFolder = u"C:\\Program Files\\Keswin Software\\Ostrel4";
constexpr const char16_t* kSharedDlls =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::vector<std::string> g_unregistered;  // the stand-in servers' DllUnregisterServer calls
HRESULT ZP_STDCALL UnregisterScanner() {
  g_unregistered.push_back("scanner");
  return S_OK;
}
HRESULT ZP_STDCALL UnregisterSkin() {
  g_unregistered.push_back("skin");
  return S_OK;
}

class Gen4Steps : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    g_unregistered.clear();
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    g_setup.Init();
    g_product.productFolder = kFolder;
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(Gen4Steps, ServicesTheMainOneIsShownWhenItCannotBeDeleted) {
  struct Case {
    const char* name;
    sim::OsFacts os;
    size_t boxes;
  };
  const Case cases[] = {
      {"XP", sim::OsFacts::WindowsXp(), 1},
      {"98: the service manager is not there", sim::OsFacts::Windows98(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    const bool nt = c.boxes != 0;
    if (nt) {
      machine_->AddService(u"ostrel! Mail Scanner", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
      machine_->AddService(u"ostrel! Antivirus", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
      machine_->DenyServiceAccess(u"ostrel! Antivirus", DELETE);
    }
    machine_->AnswerMessageBoxes({IDOK});
    RemoveServicesGen4();
    ASSERT_EQ(machine_->messageBoxes().size(), c.boxes) << "the first, quiet pass shows nothing";
    if (nt) {
      EXPECT_EQ(machine_->messageBoxes()[0].text, u"uninstall service error 0x00000005");
      EXPECT_FALSE(machine_->ServiceExists(u"ostrel! Mail Scanner")) << "stopped, then deleted";
      EXPECT_EQ(machine_->ServiceState(u"ostrel! Antivirus"), SERVICE_STOPPED);
    }
  }
}

TEST_F(Gen4Steps, ComponentsTheSkinControlGoesOnlyWhenNobodyElseCountsIt) {
  struct Case {
    const char* name;
    bool newNames;
    std::optional<DWORD> skinCount;  // its SharedDLLs count before the step
    std::vector<std::string> unregistered;
    std::optional<DWORD> skinCountAfter;
    bool skinDeleted;
  };
  const Case cases[] = {
      {"old names, our reference only", false, 1, {"skin", "scanner"}, std::nullopt, true},
      {"new names, not counted", true, std::nullopt, {"skin", "scanner"}, std::nullopt, true},
      {"another program counts it", true, 2, {"scanner"}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp());
    const std::u16string skin = u"C:\\WINDOWS\\system32\\actskin4.ocx";
    const std::u16string scanner =
        std::u16string(kFolder) + (c.newNames ? u"\\QvAScr.dll" : u"\\ZhAScr.dll");
    const std::u16string otherScanner =
        std::u16string(kFolder) + (c.newNames ? u"\\ZhAScr.dll" : u"\\QvAScr.dll");
    machine_->AddLibrary(skin,
                         {{"DllUnregisterServer", reinterpret_cast<const void*>(UnregisterSkin)}});
    machine_->AddLibrary(
        scanner, {{"DllUnregisterServer", reinterpret_cast<const void*>(UnregisterScanner)}});
    machine_->AddLibrary(
        otherScanner, {{"DllUnregisterServer", reinterpret_cast<const void*>(UnregisterScanner)}});
    if (c.skinCount) machine_->SetDword(kSharedDlls, skin, *c.skinCount);
    machine_->SetDword(kSharedDlls, std::u16string(kFolder) + u"\\MSVCR70.dll", 3);
    machine_->AddFile(std::u16string(kFolder) + u"\\MSVCR70.dll");

    UnregisterComponentsGen4(c.newNames);

    EXPECT_EQ(g_unregistered, c.unregistered);
    std::optional<std::vector<BYTE>> count = machine_->Value(kSharedDlls, skin);
    EXPECT_EQ(count.has_value(), c.skinCountAfter.has_value());
    if (count && c.skinCountAfter) {
      EXPECT_EQ((*count)[0], *c.skinCountAfter);
    }
    EXPECT_EQ(machine_->Exists(skin), !c.skinDeleted);
    EXPECT_EQ((*machine_->Value(kSharedDlls, std::u16string(kFolder) + u"\\MSVCR70.dll"))[0], 2)
        << "the run-time libraries are only counted down";
    EXPECT_TRUE(machine_->Exists(std::u16string(kFolder) + u"\\MSVCR70.dll"));
  }
}

TEST_F(Gen4Steps, ScreensaverOnceInTheNativeSystemFolder) {
  struct Case {
    const char* name;
    sim::OsFacts os;
  };
  const Case cases[] = {
      {"32-bit XP", sim::OsFacts::WindowsXp()},
      {"64-bit Windows 7", sim::OsFacts::Windows7X64()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    const bool x64 = c.os.wow64;
    const std::u16string windows = c.os.windowsFolder;
    const std::u16string native = windows + u"\\system32\\";
    const std::u16string wow = windows + u"\\SysWOW64\\";
    for (const char16_t* name : {u"ostrelssw.scr", u"zorBoot.exe", u"ostrelss.scr"}) {
      machine_->AddFile(native + name);
      if (x64) machine_->AddFile(wow + name);
    }
    machine_->AddFile(x64 ? wow + u"probe.txt" : native + u"probe.txt");

    RemoveScreensaverGen4(true);

    EXPECT_FALSE(machine_->Exists(native + u"ostrelssw.scr"));
    EXPECT_FALSE(machine_->Exists(native + u"zorBoot.exe"));
    EXPECT_TRUE(machine_->Exists(native + u"ostrelss.scr")) << "the older name stays";
    if (x64) {
      EXPECT_TRUE(machine_->Exists(wow + u"ostrelssw.scr")) << "tried once, in the native view";
      EXPECT_TRUE(machine_->Exists(wow + u"zorBoot.exe"));
    }
    // Redirection is back on: the system folder is the 32-bit one again.
    Files().DeleteFileW((native + u"probe.txt").c_str());
    EXPECT_FALSE(machine_->Exists(x64 ? wow + u"probe.txt" : native + u"probe.txt"));
  }
}

}  // namespace
}  // namespace zp
