// The component unregistration step (the COM servers in their order, the 64-bit ones failing
// silently, a shared server kept, a crash survived) and the screensaver and boot-time scanner in
// both views of the system folder.
#include <gtest/gtest.h>

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

std::vector<int> g_order;
bool g_crashFirst = false;

template <int N>
HRESULT ZP_STDCALL Unregister() {
  g_order.push_back(N);
  if (N == 1 && g_crashFirst) throw sim::StructuredException{0xC0000005};
  return S_OK;
}

class Unregistration : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    g_order.clear();
  }
  void Run() {
    machine_->Install();
    ASSERT_TRUE(g_setup.Init());
    g_log = CLog();
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(Unregistration, ServersInOrderSharedKept64BitSilentCrashSurvived) {
  Start(sim::OsFacts::Windows7X64());
  const std::u16string folder = std::u16string(kProduct) + u"\\";
  machine_->AddLibrary(folder + u"ZhAScr.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<1>}});
  machine_->AddLibrary(folder + u"redemption.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<2>}});
  machine_->AddLibrary(folder + u"zorOtl.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<4>}});
  machine_->AddLibrary(folder + u"zsOutExt.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<6>}});
  machine_->AddLibrary(folder + u"snxPlugins.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<8>}});
  for (const char16_t* x64 : {u"zorOtl64.dll", u"zsOutExt64.dll", u"snxPlugins64.dll"})
    machine_->AddLibrary64(folder + x64);
  // Another program's registration of the mail library keeps it.
  machine_->SetDword(u"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                     folder + u"redemption.dll", 2);
  g_crashFirst = true;
  Run();
  g_product.productFolder = kProduct;
  UnregisterComponents();
  g_crashFirst = false;

  EXPECT_EQ(g_order, (std::vector<int>{1, 4, 6, 8}));
  EXPECT_EQ(test::LogTexts(), (std::vector<std::u16string>{
                                  u"Caught exception in: " + folder +
                                      u"ZhAScr.dll:DllUnregisterServer, code 0xC0000005",
                                  u"DllUnregisterServer success", u"DllUnregisterServer success",
                                  u"DllUnregisterServer success"}))
      << "the 64-bit servers fail to load without a line";
  for (const char16_t* x64 : {u"zorOtl64.dll", u"zsOutExt64.dll", u"snxPlugins64.dll"})
    EXPECT_EQ(machine_->LibraryLoadFlags(folder + x64),
              std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
  EXPECT_EQ(machine_->LibraryLoads(folder + u"redemption.dll"), 0);
  EXPECT_EQ(machine_->OleInitializations(), 0);
  EXPECT_TRUE(machine_->processesStarted().empty()) << "no 64-bit registration program here";
}

TEST_F(Unregistration, WithoutProductFolderTheBareNamesGoThroughTheSearchPath) {
  Start(sim::OsFacts::WindowsXp());
  machine_->AddLibrary(u"C:\\WINDOWS\\system32\\zorOtl.dll",
                       {{"DllUnregisterServer", (const void*)&Unregister<4>}});
  Run();
  g_product.productFolder = u"";
  UnregisterComponents();
  EXPECT_EQ(g_order, std::vector<int>{4});
}

struct ViewCase {
  const char* name;
  sim::OsFacts os;
};

TEST_F(Unregistration, ScreensaverAndBootScannerInBothViews) {
  const ViewCase cases[] = {
      {"Windows 2000: no IsWow64Process", sim::OsFacts::Windows2000()},
      {"32-bit Windows 7", sim::OsFacts::Windows7()},
      {"64-bit Windows 7", sim::OsFacts::Windows7X64()},
      {"64-bit Windows XP", sim::OsFacts::WindowsXpX64()},
  };
  for (const ViewCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    const bool x64 = c.os.wow64;
    const std::u16string windows = c.os.windowsFolder;
    std::vector<std::u16string> files;
    for (const char16_t* folder : {u"\\system32\\", u"\\SysWOW64\\"}) {
      if (!x64 && std::u16string_view(folder) == u"\\SysWOW64\\") continue;
      for (const char16_t* name : {u"ostrelss.scr", u"zorBoot.exe"})
        files.push_back(windows + folder + name);
    }
    for (const std::u16string& file : files) machine_->AddFile(file);
    machine_->AddFile(windows + (x64 ? u"\\SysWOW64\\probe.txt" : u"\\system32\\probe.txt"));
    // The first try of the screensaver fails. On 32-bit Windows the second one, in the same
    // folder, deletes it; on 64-bit Windows the first went to the 32-bit folder, which keeps it.
    machine_->FailCall("DeleteFileW", ERROR_SHARING_VIOLATION, u"ostrelss.scr");
    const std::u16string kept = x64 ? windows + u"\\SysWOW64\\ostrelss.scr" : u"";
    Run();
    RemoveScreensaverAndBootScanner();
    for (const std::u16string& file : files)
      EXPECT_EQ(machine_->Exists(file), file == kept) << std::string(file.begin(), file.end());
    // Redirection is back on: the system folder is the 32-bit one again.
    Files().DeleteFileW((windows + u"\\system32\\probe.txt").c_str());
    EXPECT_FALSE(
        machine_->Exists(windows + (x64 ? u"\\SysWOW64\\probe.txt" : u"\\system32\\probe.txt")));
    EXPECT_TRUE(g_log.entries.empty());
  }
}

}  // namespace
}  // namespace zp
