// The Security Center registrations on the simulated machine: the object paths, the deletions
// and their failures, and Windows XP's missing antispyware class.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "test_support.h"
#include "toolkit/security_center.h"

namespace zp {
namespace {

constexpr const char16_t* kNamespace = u"root\\SecurityCenter";
const std::u16string kAntiVirus =
    u"AntiVirusProduct.instanceGuid=\"{7591DB91-41F0-48A3-B128-1A293FD8233D}\"";
const std::u16string kAntiSpyware =
    u"AntiSpywareProduct.instanceGuid=\"{7591DB91-41F0-48A3-B128-1A293FD8233D}\"";
const std::u16string kFirewall =
    u"FirewallProduct.instanceGuid=\"{7591DB91-41F0-48A3-B128-1A293FD8233D}\"";

class SecurityCenter : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os = sim::OsFacts::Windows7()) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    Sys().CoInitialize();  // as the removal sequences do around these calls
  }
  void ExpectNothingLeft() {
    EXPECT_EQ(machine_->LiveComObjects(), 0);
    EXPECT_EQ(machine_->OpenComStrings(), 0);
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(SecurityCenter, ObjectPathsCarryTheBracedUpperCaseGuidInQuotes) {
  Start();
  EXPECT_EQ(ScObjectPath(u"AntiVirusProduct"), kAntiVirus);
  EXPECT_EQ(ScObjectPath(u"AntiVirusProduct").size(), 70u);
  EXPECT_EQ(ScObjectPath(u"AntiSpywareProduct"), kAntiSpyware);
  EXPECT_EQ(ScObjectPath(u"FirewallProduct"), kFirewall);
}

TEST_F(SecurityCenter, EachRemovalDeletesItsInstance) {
  Start();
  for (const std::u16string& path : {kAntiVirus, kAntiSpyware, kFirewall})
    machine_->AddWmiInstance(kNamespace, path);
  machine_->AddWmiInstance(kNamespace, u"AntiVirusProduct.instanceGuid=\"{OTHER}\"");

  EXPECT_EQ(RemoveScAntiVirusProduct(), S_OK);
  EXPECT_EQ(RemoveScAntiSpywareProduct(), S_OK);
  EXPECT_EQ(RemoveScFirewallProduct(), S_OK);
  for (const std::u16string& path : {kAntiVirus, kAntiSpyware, kFirewall})
    EXPECT_FALSE(machine_->WmiInstanceExists(kNamespace, path));
  EXPECT_TRUE(machine_->WmiInstanceExists(kNamespace, u"AntiVirusProduct.instanceGuid=\"{OTHER}\""));
  EXPECT_EQ(machine_->wmi().deletes, (std::vector<std::u16string>{kAntiVirus, kAntiSpyware,
                                                                  kFirewall}));
  EXPECT_EQ(machine_->wmi().connects,
            std::vector<std::u16string>(3, u"\\\\.\\root\\SecurityCenter"));
  ExpectNothingLeft();
}

TEST_F(SecurityCenter, WindowsXpHasNoAntispywareClassAndIsNotAsked) {
  Start(sim::OsFacts::WindowsXp());
  machine_->AddWmiInstance(kNamespace, kAntiSpyware);
  EXPECT_EQ(RemoveScAntiSpywareProduct(), S_FALSE);
  EXPECT_TRUE(machine_->comObjectsCreated().empty());
  EXPECT_TRUE(machine_->WmiInstanceExists(kNamespace, kAntiSpyware));

  machine_->AddWmiInstance(kNamespace, kAntiVirus);
  EXPECT_EQ(RemoveScAntiVirusProduct(), S_OK);
  ASSERT_EQ(machine_->comObjectsCreated().size(), 1u);
  EXPECT_TRUE(machine_->comObjectsCreated()[0] == CLSID_WbemLocator);
  ExpectNothingLeft();
}

TEST_F(SecurityCenter, FailuresAreReturnedAndNothingIsLeftOpen) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    HRESULT result;
  };
  const std::vector<Case> cases = {
      {"no such instance", [](sim::Machine&) {}, WBEM_E_NOT_FOUND},
      {"no Security Center namespace",
       [](sim::Machine& m) { m.RemoveWmiNamespace(kNamespace); }, WBEM_E_INVALID_NAMESPACE},
      {"the WMI service disabled", [](sim::Machine& m) { m.wmi().serviceDisabled = true; },
       static_cast<HRESULT>(0x80070422)},
      {"the locator cannot be created",
       [](sim::Machine& m) {
         m.FailCall("CoCreateInstance", REGDB_E_CLASSNOTREG, u"{4590F811-", 3);
       },
       REGDB_E_CLASSNOTREG},
      {"no memory for the object path",
       [](sim::Machine& m) { m.FailCall("SysAllocString", 0, u"instanceGuid", 3); },
       E_OUTOFMEMORY},
      {"no memory for the namespace",
       [](sim::Machine& m) { m.FailCall("SysAllocString", 0, u"SecurityCenter", 3); },
       E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    c.arrange(*machine_);
    EXPECT_EQ(RemoveScAntiVirusProduct(), c.result);
    EXPECT_EQ(RemoveScAntiSpywareProduct(), c.result);
    EXPECT_EQ(RemoveScFirewallProduct(), c.result);
    ExpectNothingLeft();
  }
}

}  // namespace
}  // namespace zp
