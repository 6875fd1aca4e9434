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

constexpr int kRunSeconds = 300;

std::string Report(const std::vector<std::wstring>& lines) {
  std::string report;
  for (const std::wstring& line : lines) report += "\n  " + Narrow(line);
  return report;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct Case {
  const char* name;
  int generation;
  const wchar_t* productId;
};

class SilentRemoval : public testing::TestWithParam<Case> {};

// What a test planted, taken away again however the test ends.
struct Planted {
  Footprint footprint;
  ~Planted() { CleanUp(footprint); }
};

TEST_P(SilentRemoval, RemovesTheFootprintAndNothingElse) {
  const Case& c = GetParam();
  CurrentEdition edition;
  edition.generation = c.generation;
  edition.productId = c.productId;
  edition.programFolder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  edition.dataFolder = L"C:\\ProgramData\\Keswin Software\\Ostrel";
  edition.service = L"\"" + OwnFolder() + L"zp_test_service.exe\" 500";
  edition.components = OwnFolder();
  Planted plantedProduct{CurrentProduct(edition)}, plantedOthers{Collateral(edition.programFolder)};
  const Footprint& product = plantedProduct.footprint;
  const Footprint& others = plantedOthers.footprint;
  std::wstring error;
  ASSERT_TRUE(Plant(others, &error)) << Narrow(error);
  ASSERT_TRUE(Remnants(others).empty()) << Report(Remnants(others));
  ASSERT_TRUE(Plant(product, &error)) << Narrow(error);

  const std::wstring name(c.name, c.name + std::char_traits<char>::length(c.name));
  const std::wstring log = OwnFolder() + name + L".log";
  const std::wstring calls = OwnFolder() + name + L"-calls.txt";
  DeleteFileW(log.c_str());
  DeleteFileW(calls.c_str());
  SetEnvironmentVariableW(L"ZP_FIXTURE_RECORD", calls.c_str());  // the run inherits it
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /verysilent /prod " +
                          c.productId + L" /log \"" + log + L"\""));
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({IDNO}, kRunSeconds, &exitCode)) << "the run did not end";
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(robot.seen().size(), 1u) << "only the Safe Mode question: "
                                     << Narrow(robot.seen().back().text);

  EXPECT_TRUE(Remnants(product).empty()) << Report(Remnants(product));
  EXPECT_TRUE(Remnants(others).empty()) << Report(Remnants(others));

  std::wstring text = Utf16Text(ReadFileBytes(log));
  std::vector<std::wstring> expectedLog = {
      L"Stopping service ostrel! Antivirus", L"Service ostrel! Antivirus uninstalled",
      L"Service ostrel! Mail Scanner uninstalled", L"Service zorKbd uninstalled",
      // Wine's network configuration cannot look components up: the removal goes on.
      L"Couldn't uninstall the network component, result: 0x80004001.",
      L"Caught exception in: " + edition.programFolder + L"\\zsOutExt.dll:DllUnregisterServer",
      L"Deleted registry: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
          std::wstring(c.generation == 5 ? L"ostrel5" : L"ostrel")};
  for (const std::wstring& line : expectedLog)
    EXPECT_NE(text.find(line), std::wstring::npos) << "the log lacks: " << Narrow(line);

  // The components: the COM servers unregistered, the crash of one contained; from generation 6 on the base library asked about each browser, the
  // gadget removed around a stopped and restarted Sidebar, the 64-bit proxy given to the
  // product's 64-bit registration program in the product folder.
  std::vector<std::string> record = Lines(ReadFileBytes(calls));
  std::vector<std::string> expected = {
      "ZhAScr.dll DllUnregisterServer ole=1", "redemption.dll DllUnregisterServer ole=1",
      "zorOtl.dll DllUnregisterServer ole=1",
      "zsOutExt.dll DllUnregisterServer ole=1", "snxPlugins.dll DllUnregisterServer ole=1"};
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
    EXPECT_NE(std::find(record.begin(), record.end(), line), record.end())
        << "not called: " << line;
  EXPECT_EQ(std::count_if(record.begin(), record.end(),
                          [](const std::string& line) {
                            return line.rfind("zohBase.dll _basKillSidebar@8 0 ", 0) == 0;
                          }),
            c.generation >= 6 ? 1 : 0);

  // The next start of Windows performs what was scheduled.
  ReleaseHeldFiles();
  ASSERT_TRUE(RestartWindows());
  for (const Item& item : product.items)
    EXPECT_EQ(StateOf(item), State::Absent) << "after the restart: " << Narrow(item.path);
  EXPECT_TRUE(Remnants(others).empty()) << "after the restart:" << Report(Remnants(others));
}

INSTANTIATE_TEST_SUITE_P(CurrentFamily, SilentRemoval,
                         testing::Values(Case{"gen5", 5, L"ois"}, Case{"gen6", 6, L"ois"},
                                         Case{"gen7", 7, L"ois"}, Case{"obp", 7, L"obp"}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zp::e2e
