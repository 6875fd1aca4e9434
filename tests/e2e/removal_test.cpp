// Silent removals of the real zorPurge.exe under Wine, checked against each current-family
// product's footprint: what is the product's is gone (or scheduled for the restart), what is
// someone else's is still there, before and after the restart; the product's own components
// were called as the removal calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

struct Case {
  const char* name;
  int generation;
  const wchar_t* productId;
};

class SilentRemoval : public testing::TestWithParam<Case> {};

TEST_P(SilentRemoval, RemovesTheFootprintAndNothingElse) {
  const Case& c = GetParam();
  CurrentEdition edition;
  edition.generation = c.generation;
  edition.productId = c.productId;
  edition.programFolder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  edition.dataFolder = L"C:\\ProgramData\\Keswin Software\\Ostrel";
  edition.service = L"\"" + OwnFolder() + L"zp_test_service.exe\" 500";
  edition.components = OwnFolder();
  Planted others{Collateral(edition.programFolder)};
  std::wstring error;
  ASSERT_TRUE(Plant(others.footprint, &error)) << Narrow(error);
  ASSERT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
  Planted product{CurrentProduct(edition)};
  ASSERT_TRUE(Plant(product.footprint, &error)) << Narrow(error);

  const std::wstring name(c.name, c.name + std::char_traits<char>::length(c.name));
  ProgramRun run = RunZorPurge(name, L"/verysilent /prod " + std::wstring(c.productId), {IDNO});
  ASSERT_TRUE(run.ended) << "the run did not end";
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.seen.size(), 1u) << "only the Safe Mode question: " << Narrow(run.seen.back().text);

  EXPECT_TRUE(Remnants(product.footprint).empty()) << Report(Remnants(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
  std::vector<std::wstring> expectedLog = {
      L"Stopping service ostrel! Antivirus", L"Service ostrel! Antivirus uninstalled",
      L"Service ostrel! Mail Scanner uninstalled", L"Service zorKbd uninstalled",
      // Wine's network configuration cannot look components up: the removal goes on.
      L"Couldn't uninstall the network component, result: 0x80004001.",
      L"Caught exception in: " + edition.programFolder + L"\\zsOutExt.dll:DllUnregisterServer",
      L"Deleted registry: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
          std::wstring(c.generation == 5 ? L"ostrel5" : L"ostrel")};
  for (const std::wstring& line : expectedLog)
    EXPECT_NE(run.log.find(line), std::wstring::npos) << "the log lacks: " << Narrow(line);

  // The components: the COM servers unregistered, the crash of one contained; from generation
  // 6 on the base library asked about each browser, the gadget removed around a stopped and
  // restarted Sidebar, the 64-bit proxy given to the product's 64-bit registration program in
  // the product folder.
  std::vector<std::string> expected = {
      "ZhAScr.dll DllUnregisterServer ole=1", "redemption.dll DllUnregisterServer ole=1",
      "zorOtl.dll DllUnregisterServer ole=1", "zsOutExt.dll DllUnregisterServer ole=1",
      "snxPlugins.dll DllUnregisterServer ole=1"};
  if (c.generation >= 6) {
    const std::string folder = Narrow(edition.programFolder);
    std::vector<std::string> later = {
        "zohBase.dll _bas_hlp_WebRepIsBrowserInstalled@4 1",
        "zohBase.dll _bas_hlp_WebRepIsBrowserInstalled@4 2",
        "zohBase.dll _basWebRepUninstallPlugin@4 2",
        "zohBase.dll _bas_hlp_WebRepIsBrowserInstalled@4 3",
        "zohBase.dll _basUninstallGadget@0",
        "zohBase.dll _basStartSidebar@0",
        "zorRegSvr64.exe cwd=" + folder + " cmdline=zorRegSvr64.exe /u \"" + folder +
            "\\OstrelGUIProxy64.dll\""};
    expected.insert(expected.begin(), later.begin(), later.end());
  }
  for (const std::string& line : expected)
    EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), line), run.calls.end())
        << "not called: " << line;
  EXPECT_EQ(std::count_if(run.calls.begin(), run.calls.end(),
                          [](const std::string& line) {
                            return line.rfind("zohBase.dll _basKillSidebar@8 0 ", 0) == 0;
                          }),
            c.generation >= 6 ? 1 : 0);

  // The next start of Windows performs what was scheduled.
  ReleaseHeldFiles();
  ASSERT_TRUE(RestartWindows());
  EXPECT_TRUE(NotAbsent(product.footprint).empty()) << Report(NotAbsent(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << "after the restart:"
                                                  << Report(Remnants(others.footprint));
}

INSTANTIATE_TEST_SUITE_P(CurrentFamily, SilentRemoval,
                         testing::Values(Case{"gen5", 5, L"ois"}, Case{"gen6", 6, L"ois"},
                                         Case{"gen7", 7, L"ois"}, Case{"obp", 7, L"obp"}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zp::e2e
