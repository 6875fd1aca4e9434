// The services toolkit on the simulated service control manager.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/sim/machine.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/self_protection.h"
#include "toolkit/services.h"

namespace zp {
namespace {

constexpr const char16_t* kName = u"zorSvc";
constexpr const char16_t* kGroupOrderList =
    u"HKLM\\System\\CurrentControlSet\\Control\\GroupOrderList";
constexpr const char16_t* kServiceKey = u"HKLM\\System\\CurrentControlSet\\Services\\zorSvc";

struct Line {
  std::int32_t level;
  std::u16string text;
  bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* os) {
  *os << line.level << " \"" << std::string(line.text.begin(), line.text.end()) << "\"";
}

class ServicesTest : public test::FreshProcess {
 protected:
  void Start(sim::Machine& machine) {
    machine.Install();
    g_setup.Init();
    g_log.entries.clear();
  }
  // Every log line, which must all be of category system.
  static std::vector<Line> Lines() {
    std::vector<Line> lines;
    for (const LogEntry& entry : g_log.entries) {
      EXPECT_EQ(entry.category, CAT_SYSTEM);
      lines.push_back({entry.level, entry.text});
    }
    return lines;
  }
  static size_t Count(std::u16string_view text) {
    size_t n = 0;
    for (const LogEntry& entry : g_log.entries) n += entry.text == text;
    return n;
  }
};

TEST_F(ServicesTest, ProbesOpenTheServiceForWhatTheyAsk) {
  struct Case {
    const char* name;
    std::optional<DWORD> state;  // no service when empty
    const char* failing;         // an injected failure of this call
    bool exists, running;
  };
  const Case cases[] = {
      {"running", SERVICE_RUNNING, nullptr, true, true},
      {"stopped", SERVICE_STOPPED, nullptr, true, false},
      {"stopping", SERVICE_STOP_PENDING, nullptr, true, false},
      {"missing", std::nullopt, nullptr, false, false},
      {"status unreadable", SERVICE_RUNNING, "QueryServiceStatus", true, false},
      {"no manager", SERVICE_RUNNING, "OpenSCManagerW", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    if (c.state) machine.AddService(kName, SERVICE_KERNEL_DRIVER, *c.state);
    Start(machine);
    if (c.failing) machine.FailCall(c.failing, ERROR_ACCESS_DENIED, {}, 2);
    EXPECT_EQ(ServiceExists(kName), c.exists);
    EXPECT_EQ(IsServiceRunning(kName), c.running);
    EXPECT_EQ(machine.OpenServiceHandles(), 0);
    EXPECT_EQ(machine.ServiceManagerOpens(), (std::vector<DWORD>{SC_MANAGER_CONNECT,
                                                                 SC_MANAGER_CONNECT}));
    EXPECT_TRUE(g_log.entries.empty());
  }
}

TEST_F(ServicesTest, StopWritesEachStepAndTheFirstFailure) {
  struct Case {
    const char* name;
    std::optional<DWORD> state;
    int stopPendingMs;
    const char* failing;
    LONG result;
    std::vector<Line> lines;
  };
  const Case cases[] = {
      {"already stopped", SERVICE_STOPPED, 1000, nullptr, ERROR_SERVICE_NOT_ACTIVE,
       {{LOG_VRB, u"Stopping service zorSvc"},
        {LOG_MIN, u"OpenSCManager"},
        {LOG_MIN, u"OpenService"},
        {LOG_MIN, u"ControlService"},
        {LOG_MIN, u"ControlService, errcode: 0x00000426"},
        {LOG_VRB, u"Service zorSvc stopped, errcode: 0x00000426"}}},
      {"missing", std::nullopt, 0, nullptr, ERROR_SERVICE_DOES_NOT_EXIST,
       {{LOG_VRB, u"Stopping service zorSvc"},
        {LOG_MIN, u"OpenSCManager"},
        {LOG_MIN, u"OpenService"},
        {LOG_MIN, u"OpenService, errcode: 0x00000424"},
        {LOG_VRB, u"Service zorSvc stopped, errcode: 0x00000424"}}},
      {"no manager", SERVICE_RUNNING, 1000, "OpenSCManagerW", ERROR_ACCESS_DENIED,
       {{LOG_VRB, u"Stopping service zorSvc"},
        {LOG_MIN, u"OpenSCManager"},
        {LOG_MIN, u"OpenSCManager, errcode: 0x00000005"},
        {LOG_VRB, u"Service zorSvc stopped, errcode: 0x00000005"}}},
      {"running, stops at once", SERVICE_RUNNING, 0, nullptr, ERROR_SUCCESS,
       {{LOG_VRB, u"Stopping service zorSvc"},
        {LOG_MIN, u"OpenSCManager"},
        {LOG_MIN, u"OpenService"},
        {LOG_MIN, u"ControlService"},
        {LOG_MIN, u"QueryServiceStatus"},
        {LOG_VRB, u"Service zorSvc stopped, errcode: 0x00000000"}}},
      // A status that cannot be read ends the wait; the stop itself was accepted.
      {"status unreadable", SERVICE_RUNNING, 1000, "QueryServiceStatus", ERROR_SUCCESS,
       {{LOG_VRB, u"Stopping service zorSvc"},
        {LOG_MIN, u"OpenSCManager"},
        {LOG_MIN, u"OpenService"},
        {LOG_MIN, u"ControlService"},
        {LOG_VRB, u"Service zorSvc stopped, errcode: 0x00000000"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    if (c.state) machine.AddService(kName, SERVICE_WIN32_OWN_PROCESS, *c.state, c.stopPendingMs);
    if (c.failing) machine.FailCall(c.failing, ERROR_ACCESS_DENIED);
    Start(machine);
    EXPECT_EQ(StopService(kName), c.result);
    EXPECT_EQ(Lines(), c.lines);
    EXPECT_EQ(machine.OpenServiceHandles(), 0);
  }
}

TEST_F(ServicesTest, StopPollsWhileStopPendingAndGivesUpAfterThirtySeconds) {
  constexpr int kLastPoll = (kStopPolls - 1) * kStopPollMs;  // ms after the stop request
  struct Case {
    const char* name;
    int stopPendingMs;
    size_t polls;
    LONG result;
    DWORD finalState;
  };
  const Case cases[] = {
      {"two seconds", 2000, 17, ERROR_SUCCESS, SERVICE_STOPPED},
      {"stops at the last poll", kLastPoll, kStopPolls, ERROR_SUCCESS, SERVICE_STOPPED},
      {"just too slow", kLastPoll + 1, kStopPolls, ERROR_SERVICE_REQUEST_TIMEOUT,
       SERVICE_STOP_PENDING},
      {"never stops", -1, kStopPolls, ERROR_SERVICE_REQUEST_TIMEOUT, SERVICE_STOP_PENDING},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    machine.AddService(kName, SERVICE_KERNEL_DRIVER, SERVICE_RUNNING, c.stopPendingMs);
    machine.SetTickCount(50000);
    Start(machine);
    EXPECT_EQ(StopService(kName), c.result);
    EXPECT_EQ(machine.ServiceState(kName), c.finalState);

    std::vector<DWORD> pollTicks;
    for (const LogEntry& entry : g_log.entries)
      if (entry.text == u"QueryServiceStatus") pollTicks.push_back(entry.ticks);
    ASSERT_EQ(pollTicks.size(), c.polls);
    EXPECT_EQ(pollTicks.front(), 50000u);
    for (size_t i = 1; i < pollTicks.size(); ++i)
      EXPECT_EQ(pollTicks[i] - pollTicks[i - 1], kStopPollMs) << "poll " << i;

    std::vector<Line> lines = Lines();
    bool timedOut = c.result == ERROR_SERVICE_REQUEST_TIMEOUT;
    EXPECT_EQ(Count(u"Service zorSvc did not stop in time"), timedOut ? 1u : 0u);
    if (timedOut) {
      EXPECT_EQ(lines[lines.size() - 2], (Line{LOG_MIN, u"Service zorSvc did not stop in time"}));
    }
    const char16_t* last = timedOut ? u"Service zorSvc stopped, errcode: 0x0000041D"
                                    : u"Service zorSvc stopped, errcode: 0x00000000";
    EXPECT_EQ(lines.back(), (Line{LOG_VRB, last}));
    EXPECT_EQ(machine.OpenServiceHandles(), 0);
  }
}

TEST_F(ServicesTest, AServiceThatDidNotStopIsStillDeletedOnceItStops) {
  sim::Machine machine;
  machine.AddService(kName, SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 40000);
  Start(machine);
  EXPECT_EQ(StopService(kName), ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_EQ(RemoveService(kName), ERROR_SUCCESS);
  EXPECT_TRUE(machine.ServiceMarkedForDeletion(kName));
  EXPECT_EQ(machine.ServiceState(kName), SERVICE_STOP_PENDING);
  machine.SetTickCount(Sys().GetTickCount() + 40000);
  EXPECT_FALSE(machine.ServiceExists(kName));
  EXPECT_FALSE(machine.KeyExists(kServiceKey));
}

TEST_F(ServicesTest, RemoveDeletesOrSaysWhyNot) {
  struct Case {
    const char* name;
    std::optional<DWORD> state;
    DWORD denied;         // rights the service's ACL refuses
    const char* failing;  // an injected failure of this call
    LONG result;
    Line line;
    bool gone;
    std::vector<DWORD> managerOpens;
  };
  const std::vector<DWORD> probeAndDelete{SC_MANAGER_CONNECT, SC_MANAGER_ALL_ACCESS};
  const Case cases[] = {
      {"stopped", SERVICE_STOPPED, 0, nullptr, ERROR_SUCCESS,
       {LOG_VRB, u"Service zorSvc uninstalled"}, true, probeAndDelete},
      {"missing: no full-access open", std::nullopt, 0, nullptr, ERROR_SUCCESS,
       {LOG_VRB, u"Service zorSvc uninstalled"}, true, {SC_MANAGER_CONNECT}},
      {"access denied on the open", SERVICE_STOPPED, DELETE, nullptr, ERROR_ACCESS_DENIED,
       {LOG_MIN, u"Service zorSvc NOT uninstalled, error code: 0x00000005"}, false,
       probeAndDelete},
      {"access denied on the deletion", SERVICE_STOPPED, 0, "DeleteService", ERROR_ACCESS_DENIED,
       {LOG_MIN, u"Service zorSvc NOT uninstalled, error code: 0x00000005"}, false,
       probeAndDelete},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    if (c.state) machine.AddService(kName, SERVICE_WIN32_OWN_PROCESS, *c.state);
    if (c.denied) machine.DenyServiceAccess(kName, c.denied);
    if (c.failing) machine.FailCall(c.failing, ERROR_ACCESS_DENIED);
    Start(machine);
    EXPECT_EQ(RemoveService(kName), c.result);
    EXPECT_EQ(Lines(), std::vector<Line>{c.line});
    EXPECT_EQ(machine.ServiceExists(kName), !c.gone);
    EXPECT_EQ(machine.ServiceManagerOpens(), c.managerOpens);
    EXPECT_EQ(machine.OpenServiceHandles(), 0);
  }
}

TEST_F(ServicesTest, ARunningServiceIsMarkedAndASecondDeletionSaysSo) {
  sim::Machine machine;
  machine.AddService(kName, SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 500);
  Start(machine);
  EXPECT_EQ(RemoveService(kName), ERROR_SUCCESS);
  EXPECT_TRUE(machine.ServiceMarkedForDeletion(kName));
  EXPECT_EQ(RemoveService(kName), ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(Lines().back(),
            (Line{LOG_MIN, u"Service zorSvc NOT uninstalled, error code: 0x00000430"}));
  EXPECT_EQ(StopService(kName), ERROR_SUCCESS);
  EXPECT_FALSE(machine.ServiceExists(kName));
}

TEST_F(ServicesTest, NineXFamilyDoesNothing) {
  sim::Machine machine(sim::OsFacts::Windows98());
  const std::vector<BYTE> list{1, 0, 0, 0, 12, 0, 0, 0};
  machine.SetValue(kGroupOrderList, u"Boot Bus Extender", REG_BINARY, list);
  machine.SetDword(kServiceKey, u"Tag", 12);
  Start(machine);
  EXPECT_FALSE(ServiceExists(kName));
  EXPECT_FALSE(IsServiceRunning(kName));
  EXPECT_EQ(StopService(kName), ERROR_SUCCESS);
  EXPECT_EQ(RemoveFromGroupOrderList(u"Boot Bus Extender", kName), ERROR_SUCCESS);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_EQ(RemoveService(kName), ERROR_SUCCESS);
  EXPECT_EQ(Lines(), (std::vector<Line>{{LOG_VRB, u"Service zorSvc uninstalled"}}));
  EXPECT_TRUE(machine.ServiceManagerOpens().empty());
  EXPECT_EQ(machine.Value(kGroupOrderList, u"Boot Bus Extender"), list);
}

std::vector<BYTE> Dwords(std::initializer_list<DWORD> values) {
  std::vector<BYTE> bytes;
  for (DWORD v : values)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
  return bytes;
}

TEST_F(ServicesTest, GroupOrderListLosesTheServiceTag) {
  struct Case {
    const char* name;
    std::vector<BYTE> value;
    std::optional<DWORD> tag;  // the service's "Tag"; none when empty
    std::vector<BYTE> after;
    const char16_t* line;      // nullptr: no line
  };
  const char16_t* kLine12 =
      u"Removing service 'zorSvc' load order id=12 in group 'Boot Bus Extender'";
  const Case cases[] = {
      {"last tag", Dwords({3, 5, 9, 12}), 12, Dwords({2, 5, 9}), kLine12},
      {"first tag", Dwords({3, 5, 9, 12}), 5, Dwords({2, 9, 12}),
       u"Removing service 'zorSvc' load order id=5 in group 'Boot Bus Extender'"},
      {"tag not listed", Dwords({3, 5, 9, 12}), 7, Dwords({3, 5, 9, 12}),
       u"Removing service 'zorSvc' load order id=7 in group 'Boot Bus Extender'"},
      {"count beyond the data", Dwords({10, 5, 9, 12}), 12, Dwords({2, 5, 9}), kLine12},
      {"tag beyond the count", Dwords({2, 5, 9, 12}), 12, Dwords({2, 5, 9, 12}), kLine12},
      {"shorter than a count", {3, 0}, 12, {3, 0}, kLine12},
      {"a count, no tags", Dwords({0}), 12, Dwords({0}), kLine12},
      {"negative tag", Dwords({2, 5, 0xFFFFFFFF}), 0xFFFFFFFF, Dwords({1, 5}),
       u"Removing service 'zorSvc' load order id=-1 in group 'Boot Bus Extender'"},
      {"service without a tag", Dwords({3, 5, 9, 12}), std::nullopt, Dwords({3, 5, 9, 12}),
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    machine.SetValue(kGroupOrderList, u"Boot Bus Extender", REG_BINARY, c.value);
    machine.SetValue(kGroupOrderList, u"Other", REG_BINARY, Dwords({1, 12}));
    if (c.tag) machine.SetDword(kServiceKey, u"Tag", *c.tag);
    Start(machine);
    EXPECT_EQ(RemoveFromGroupOrderList(u"Boot Bus Extender", kName), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(machine.Value(kGroupOrderList, u"Boot Bus Extender", &type), c.after);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(machine.Value(kGroupOrderList, u"Other"), Dwords({1, 12}));
    std::vector<Line> expected;
    if (c.line) expected.push_back({LOG_NRM, c.line});
    EXPECT_EQ(Lines(), expected);
  }
}

TEST_F(ServicesTest, GroupOrderListWithoutTheGroupIsLeftAlone) {
  sim::Machine machine;
  machine.SetDword(kServiceKey, u"Tag", 12);
  Start(machine);
  EXPECT_EQ(RemoveFromGroupOrderList(u"Boot Bus Extender", kName), ERROR_SUCCESS);
  machine.CreateKey(kGroupOrderList);
  EXPECT_EQ(RemoveFromGroupOrderList(u"Boot Bus Extender", kName), ERROR_SUCCESS);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_FALSE(machine.Value(kGroupOrderList, u"Boot Bus Extender"));
}

TEST_F(ServicesTest, DeletionIsAnnouncedToTheSelfProtectionDriverFirst) {
  struct Case {
    const char* name;
    bool driverFails;
  };
  for (const Case& c : {Case{"answering driver", false}, Case{"failing driver", true}}) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    machine.AddService(kName, SERVICE_KERNEL_DRIVER, SERVICE_STOPPED);
    std::vector<std::u16string> announced;
    size_t managerOpensBefore = 99;
    machine.AddDevice(u"zorSP", [&](DWORD code, std::span<const BYTE> in, std::vector<BYTE>*) {
      if (code != IOCTL_ZORSP_SERVICE_DELETE) return false;
      std::u16string name(in.size() / 2, u'\0');
      std::memcpy(name.data(), in.data(), name.size() * 2);
      announced.push_back(name);
      managerOpensBefore = machine.ServiceManagerOpens().size();
      return !c.driverFails;
    });
    Start(machine);
    EXPECT_EQ(RemoveService(kName), ERROR_SUCCESS);
    EXPECT_EQ(announced, std::vector<std::u16string>{std::u16string(u"zorSvc\0", 7)});
    EXPECT_EQ(managerOpensBefore, 1u) << "before the full-access open";
    EXPECT_FALSE(machine.ServiceExists(kName));
    // A service that is not there is not announced.
    EXPECT_EQ(RemoveService(u"zorOther"), ERROR_SUCCESS);
    EXPECT_EQ(announced.size(), 1u);
  }
}

}  // namespace
}  // namespace zp
