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

constexpr int kRunSeconds = 300;

std::string Report(const std::vector<std::wstring>& lines) {
  std::string report;
  for (const std::wstring& line : lines) report += "\n  " + Narrow(line);
  return report;
}

struct Planted {
  Footprint footprint;
  ~Planted() { CleanUp(footprint); }
};

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

  const std::wstring log = OwnFolder() + id + L".log";
  const std::wstring calls = OwnFolder() + id + L"-calls.txt";
  DeleteFileW(log.c_str());
  DeleteFileW(calls.c_str());
  SetEnvironmentVariableW(L"ZP_FIXTURE_RECORD", calls.c_str());
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /verysilent /prod " + id +
                          L" /log \"" + log + L"\""));
  DWORD exitCode = 12345;
  // The network manager asks about its database and the database engine in every mode.
  ASSERT_TRUE(robot.RunScript({IDNO, IDYES, IDYES}, kRunSeconds, &exitCode))
      << "the run did not end";
  EXPECT_EQ(exitCode, 0u);
  const bool manager = id == L"qv_mgm";
  ASSERT_EQ(robot.seen().size(), manager ? 3u : 1u) << Narrow(robot.seen().back().text);
  if (manager) {
    EXPECT_EQ(robot.seen()[1].text, L"Do you want to remove database?");
    EXPECT_EQ(robot.seen()[2].text, L"Do you want to uninstall Microsoft SQL Desktop Engine?");
  }

  EXPECT_TRUE(Remnants(product.footprint).empty()) << Report(Remnants(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
  EXPECT_TRUE(Remnants(engine.footprint).empty()) << Report(Remnants(engine.footprint));
  if (manager) {
    std::string record = ReadFileBytes(calls);
    const std::string expected =
        "zorCmnS.dll cmnsInitializeSecureStorage\n"
        "zorCmnS.dll cmnsReadSecureData Catalog 32768 1\n"
        "zorCmnS.dll cmnsReadSecureData UserId 32768 1\n"
        "zorCmnS.dll cmnsReadSecureData Password 32768 1\n"
        "Install.dll _instInit@0\n"
        "Install.dll _instSQL@28 2 \"NETSRV\\OSTREL\" \"ZDNM\" \"sa\" \"s3cret\" \"\" progress=0\n";
    EXPECT_EQ(record.substr(0, expected.size()), expected) << record;
    EXPECT_NE(record.find(" cmdline=" + Narrow(engineUninstall) + "\n"), std::string::npos)
        << "the engine's uninstaller did not run: " << record;
    EXPECT_NE(record.find("Install.dll _instFree@0\n"), std::string::npos) << record;
  }

  ReleaseHeldFiles();
  ASSERT_TRUE(RestartWindows());
  for (const Item& item : product.footprint.items)
    EXPECT_EQ(StateOf(item), State::Absent) << "after the restart: " << Narrow(item.path);
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
