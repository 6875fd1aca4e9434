// The exchanges with the self-protection driver's device.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/machine.h"
#include "test_support.h"
#include "toolkit/self_protection.h"

namespace zp {
namespace {

class SelfProtectionTest : public test::FreshProcess {};

// A device answering the query with `answer` bytes; records the inputs it got.
struct FakeDriver {
  std::vector<BYTE> answer;
  bool fails = false;
  std::vector<std::pair<DWORD, std::vector<BYTE>>> received;
  sim::DeviceHandler Handler() {
    return [this](DWORD code, std::span<const BYTE> in, std::vector<BYTE>* out) {
      received.emplace_back(code, std::vector<BYTE>(in.begin(), in.end()));
      if (fails) return false;
      if (code == IOCTL_ZORSP_QUERY) *out = answer;
      return true;
    };
  }
};

TEST_F(SelfProtectionTest, OnlyADriverThatSaysSoMeansEnabled) {
  struct Case {
    const char* name;
    bool device;
    std::vector<BYTE> answer;
    bool fails;
    bool enabled;
  };
  const Case cases[] = {
      {"no driver", false, {}, false, false},
      {"enabled", true, {1, 0, 0, 0}, false, true},
      {"disabled", true, {0, 0, 0, 0}, false, false},
      {"a short answer", true, {1}, false, false},
      {"a failing driver", true, {1, 0, 0, 0}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    FakeDriver driver{c.answer, c.fails, {}};
    if (c.device) machine.AddDevice(u"zorSP", driver.Handler());
    machine.Install();
    EXPECT_EQ(SelfProtectionEnabled(), c.enabled);
  }
}

TEST_F(SelfProtectionTest, HandshakeAndServiceDeletionReachTheDriver) {
  sim::Machine machine;
  FakeDriver driver;
  machine.AddDevice(u"zorSP", driver.Handler());
  machine.Install();
  SelfProtectionHandshake();
  CoordinateServiceDeletion(u"zorSvc");
  ASSERT_EQ(driver.received.size(), 2u);
  EXPECT_EQ(driver.received[0].first, IOCTL_ZORSP_HANDSHAKE);
  EXPECT_EQ(driver.received[0].second.size(), 4u);
  EXPECT_EQ(driver.received[1].first, IOCTL_ZORSP_SERVICE_DELETE);
  std::u16string name(driver.received[1].second.size() / 2, u'\0');
  std::memcpy(name.data(), driver.received[1].second.data(), name.size() * 2);
  EXPECT_EQ(name, std::u16string(u"zorSvc\0", 7));
}

TEST_F(SelfProtectionTest, WithoutTheDriverTheExchangesDoNothing) {
  sim::Machine machine;
  machine.Install();
  SelfProtectionHandshake();
  CoordinateServiceDeletion(u"zorSvc");
  EXPECT_TRUE(machine.deviceCalls().empty());
}

}  // namespace
}  // namespace zp
