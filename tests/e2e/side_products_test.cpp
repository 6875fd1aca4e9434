// Silent removals of the side and legacy products under Wine, each checked against its
// footprint: what is the product's is gone (or scheduled for the restart) and stays gone after
// it, what is someone else's is still there; the network manager's own libraries and the
// database engine's uninstaller were called as the removal calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

struct Case {
  const char* productId;
  const wchar_t* folder;  // the product's default folder
};

class SideProductRemoval : public testing::TestWithParam<Case> {};

TEST_P(SideProductRemoval, RemovesTheFootprintAndNothingElse) {
  const Case& c = GetParam();
  const std::wstring id(c.productId, c.productId + std::char_traits<char>::length(c.productId));
  const std::wstring folder = c.folder;
  const std::wstring engineUninstall = L"\"" + OwnFolder() + L"zorRegSvr64.exe\" /sqlengine";
  Planted others{Collateral(folder)};
  Planted engine{DatabaseEngine(engineUninstall)};
  Planted product{SideProduct(id, folder, L"\"" + OwnFolder() + L"zp_test_service.exe\" 300",
                              OwnFolder())};
  ASSERT_FALSE(product.footprint.items.empty());
  std::wstring error;
  for (const Footprint* footprint : {&others.footprint, &engine.footprint, &product.footprint})
    ASSERT_TRUE(Plant(*footprint, &error)) << Narrow(error);

  ProgramRun run = RunZorPurge(id, L"/verysilent /prod " + id, {IDNO, IDYES, IDYES});
  // The network manager asks about its database and the database engine in every mode.
  ASSERT_TRUE(run.ended) << "the run did not end";
  EXPECT_EQ(run.exitCode, 0u);
  const bool manager = id == L"qv_mgm";
  ASSERT_EQ(run.seen.size(), manager ? 3u : 1u) << Narrow(run.seen.back().text);
  if (manager) {
    EXPECT_EQ(run.seen[1].text, L"Do you want to remove database?");
    EXPECT_EQ(run.seen[2].text, L"Do you want to uninstall Microsoft SQL Desktop Engine?");
  }

  EXPECT_TRUE(Remnants(product.footprint).empty()) << Report(Remnants(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
  EXPECT_TRUE(Remnants(engine.footprint).empty()) << Report(Remnants(engine.footprint));
  if (manager) {
    const std::vector<std::string> expected = {
        "zorCmnS.dll cmnsInitializeSecureStorage",
        "zorCmnS.dll cmnsReadSecureData Catalog 32768 1",
        "zorCmnS.dll cmnsReadSecureData UserId 32768 1",
        "zorCmnS.dll cmnsReadSecureData Password 32768 1",
        "Install.dll _instInit@0",
        "Install.dll _instSQL@28 2 \"NETSRV\\OSTREL\" \"ZDNM\" \"sa\" \"s3cret\" \"\" progress=0"};
    ASSERT_GE(run.calls.size(), expected.size() + 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), run.calls.begin()))
        << "the settings did not reach the database removal";
    const std::string engine = " cmdline=" + Narrow(engineUninstall);
    EXPECT_TRUE(std::any_of(run.calls.begin(), run.calls.end(), [&](const std::string& line) {
      return line.size() >= engine.size() && line.compare(line.size() - engine.size(),
                                                          engine.size(), engine) == 0;
    })) << "the engine's uninstaller did not run";
    EXPECT_NE(std::find(run.calls.begin(), run.calls.end(), "Install.dll _instFree@0"),
              run.calls.end());
  }

  ReleaseHeldFiles();
  ASSERT_TRUE(RestartWindows());
  EXPECT_TRUE(NotAbsent(product.footprint).empty()) << Report(NotAbsent(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
}

INSTANTIATE_TEST_SUITE_P(
    SideProducts, SideProductRemoval,
    testing::Values(Case{"vork", L"C:\\Program Files\\Keswin Software\\VORK"},
                    Case{"qv_ker", L"C:\\Program Files\\Keswin Software\\Kerio\\Ostrel4"},
                    Case{"qv_pda_palm", L"C:\\Program Files\\Keswin Software\\ostrel! PDA Edition"},
                    Case{"qv_32", L"C:\\Program Files\\KESWIN Software\\OSTREL32"},
                    Case{"qv_mgm", L"C:\\Program Files\\Keswin Software\\Management Tools"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.productId); });

}  // namespace
}  // namespace zp::e2e
