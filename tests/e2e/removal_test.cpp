// Silent removals of the real zorPurge.exe under Wine, checked against the product's footprint:
// what is the product's is gone (or scheduled for the restart), what is someone else's is still
// there, before and after the restart.
#include <gtest/gtest.h>

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

TEST(SilentRemoval, GenerationSevenConsumerProduct) {
  const std::wstring folder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  Footprint product = Gen7ConsumerProduct(folder, L"\"" + OwnFolder() + L"zp_test_service.exe\" 500");
  Footprint others = Collateral(folder);
  std::wstring error;
  ASSERT_TRUE(Plant(others, &error)) << Narrow(error);
  ASSERT_TRUE(Plant(product, &error)) << Narrow(error);
  ASSERT_TRUE(Remnants(others).empty()) << Report(Remnants(others));

  const std::wstring log = OwnFolder() + L"gen7.log";
  DeleteFileW(log.c_str());
  Robot robot;
  ASSERT_TRUE(robot.Start(L"\"" + OwnFolder() + L"zorPurge.exe\" /verysilent /prod ois /log \"" +
                          log + L"\""));
  DWORD exitCode = 12345;
  ASSERT_TRUE(robot.RunScript({IDNO}, kRunSeconds, &exitCode)) << "the run did not end";
  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(robot.seen().size(), 1u) << "only the Safe Mode question: "
                                     << Narrow(robot.seen().back().text);

  EXPECT_TRUE(Remnants(product).empty()) << Report(Remnants(product));
  EXPECT_TRUE(Remnants(others).empty()) << Report(Remnants(others));
  std::wstring text = Utf16Text(ReadFileBytes(log));
  for (const wchar_t* line : {L"Stopping service ostrel! Antivirus",
                              L"Service ostrel! Antivirus uninstalled",
                              L"Service ostrel! Mail Scanner uninstalled",
                              L"Deleted registry: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel"})
    EXPECT_NE(text.find(line), std::wstring::npos) << "the log lacks: " << Narrow(line);

  ASSERT_TRUE(RestartWindows());
  EXPECT_TRUE(Remnants(product).empty()) << "after the restart:" << Report(Remnants(product));
  EXPECT_TRUE(Remnants(others).empty()) << "after the restart:" << Report(Remnants(others));
  std::vector<std::wstring> left = KnownLeftovers(product);
  if (!left.empty()) std::printf("left for steps not built yet:%s\n", Report(left).c_str());
  CleanUp(product);
  CleanUp(others);
}

}  // namespace
}  // namespace zp::e2e
