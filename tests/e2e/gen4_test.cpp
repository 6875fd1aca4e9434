// Silent removals of the generation-4 family under Wine, each edition checked against its
// footprint, on a workstation and (the server edition) on a server Windows: what is the
// product's is gone (or scheduled for the restart) and stays gone after it, what is someone
// else's is still there; the product's own components were called as the removal calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

struct Case {
  const char* name;
  const char* productId;
  bool serverWindows;  // Wine reports Windows Server 2003
};

class Gen4Removal : public testing::TestWithParam<Case> {};

// The machine's product type, "ServerNT" while the guard lives, and what it was before.
class ServerProductType {
 public:
  ServerProductType() {
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOptions, 0, KEY_ALL_ACCESS, &key_);
    DWORD size = sizeof(saved_) - sizeof(wchar_t);
    had_ = RegQueryValueExW(key_, L"ProductType", nullptr, nullptr,
                            reinterpret_cast<BYTE*>(saved_), &size) == ERROR_SUCCESS;
    Set(L"ServerNT");
  }
  ~ServerProductType() {
    if (had_) Set(saved_);
    else RegDeleteValueW(key_, L"ProductType");
    RegCloseKey(key_);
  }

 private:
  void Set(const wchar_t* type) {
    RegSetValueExW(key_, L"ProductType", 0, REG_SZ, reinterpret_cast<const BYTE*>(type),
                   static_cast<DWORD>((wcslen(type) + 1) * sizeof(wchar_t)));
  }
  static constexpr const wchar_t* kOptions =
      L"System\\CurrentControlSet\\Control\\ProductOptions";
  HKEY key_ = nullptr;
  wchar_t saved_[64] = {};
  bool had_ = false;
};

TEST_P(Gen4Removal, RemovesTheFootprintAndNothingElse) {
  const Case& c = GetParam();
  const std::wstring id(c.productId, c.productId + std::char_traits<char>::length(c.productId));
  const std::wstring name(c.name, c.name + std::char_traits<char>::length(c.name));
  const std::wstring folder = L"C:\\Program Files\\Keswin Software\\Ostrel4";
  // The Windows version Wine reports to the processes it starts from now on.
  Footprint version{L"Wine's Windows version", {}};
  if (c.serverWindows)
    version.items.push_back(ValueItem(HKEY_CURRENT_USER, L"Software\\Wine", L"Version",
                                      L"win2003", Expect::Kept));
  Planted windows{version};
  std::unique_ptr<ServerProductType> server;
  if (c.serverWindows) server = std::make_unique<ServerProductType>();
  Planted others{Collateral(folder)};
  Planted product{Gen4Product(id, folder, L"\"" + OwnFolder() + L"zp_test_service.exe\" 300",
                              OwnFolder(), c.serverWindows)};
  std::wstring error;
  for (const Footprint* footprint : {&windows.footprint, &others.footprint, &product.footprint})
    ASSERT_TRUE(Plant(*footprint, &error)) << Narrow(error);

  // As a deployment script runs it: not a single box.
  ProgramRun run = RunZorPurge(name, L"/verysilent /nosafemode /prod " + id, {});
  ASSERT_TRUE(run.ended) << "the run did not end";
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.seen.empty()) << Narrow(run.seen.front().text);

  EXPECT_TRUE(Remnants(product.footprint).empty()) << Report(Remnants(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
  if (c.serverWindows) {
    EXPECT_NE(run.log.find(L"Windows Server 2003"), std::wstring::npos)
        << "Wine did not report a server";
  }

  // The components: the script scanner and the skin control unregistered, the pop-up wizard
  // run and waited for (its end is the next call), the server integrations' libraries asked.
  const bool desktopEdition = id == L"qv_pro";
  const std::string wizard = desktopEdition ? "zohPopWz.exe" : "zorPopWz.exe";
  const std::vector<std::string>& record = run.calls;
  std::vector<std::string> expected = {
      std::string(desktopEdition ? "ZhAScr.dll" : "QvAScr.dll") + " DllUnregisterServer ole=1",
      "actskin4.ocx DllUnregisterServer ole=1",
      wizard + " cmdline=\"" + Narrow(folder) + "\\" + wizard + "\" /a-"};
  if (!desktopEdition) {
    expected.push_back("qvSMTP2K.dll UnregisterCdoSink");
    expected.push_back(id == L"qv_srv" ? "QvIsaHlp.dll UnregisterIsaFilter"
                                       : "QvIsaHlp.dll UnregisterProxyFilter");
  }
  for (const std::string& line : expected)
    EXPECT_NE(std::find(record.begin(), record.end(), line), record.end())
        << "not called: " << line;
  auto started = std::find(record.begin(), record.end(), expected[2]);
  ASSERT_NE(started, record.end());
  ASSERT_NE(started + 1, record.end());
  EXPECT_EQ(*(started + 1), wizard + " exit") << "the wizard was not waited for";

  ReleaseHeldFiles();
  ASSERT_TRUE(RestartWindows());
  EXPECT_TRUE(NotAbsent(product.footprint).empty()) << Report(NotAbsent(product.footprint));
  EXPECT_TRUE(Remnants(others.footprint).empty()) << Report(Remnants(others.footprint));
}

INSTANTIATE_TEST_SUITE_P(Gen4Family, Gen4Removal,
                         testing::Values(Case{"qv_pro", "qv_pro", false},
                                         Case{"qv_srv_server", "qv_srv", true},
                                         Case{"qv_net", "qv_net", false},
                                         Case{"qv_whs", "qv_whs", false}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zp::e2e
