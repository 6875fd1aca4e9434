// The service control manager: a service's life from creation to deletion, and the errors the
// services toolkit reads. Under Wine the service is the test service program
// (tests/fixtures/test_service.cpp), copied next to this test; it stays STOP_PENDING for
// kStopPendingMs. The simulator only records the program's path and is told the same time.
#include "contract.h"

namespace zp::contract {
namespace {

constexpr const char16_t* kName = u"zpContractSvc";
constexpr int kStopPendingMs = 1500;

// The test service next to this program, with its stop-pending time as its argument.
std::u16string ServiceCommand() {
  char16_t path[260] = {};
  DWORD length = Sys().GetModuleFileNameW(nullptr, path, 260);
  std::u16string folder(path, length);
  folder.resize(folder.find_last_of(u'\\') + 1);
  std::string ms = std::to_string(kStopPendingMs);
  return folder + u"zp_test_service.exe " + std::u16string(ms.begin(), ms.end());
}

class ServicesContract : public Contract {
 protected:
  void SetUp() override {
    Contract::SetUp();
    manager_.reset(Svc().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_) << Sys().GetLastError();
    RemoveLeftOver();
  }
  void TearDown() override {
    RemoveLeftOver();
    manager_.reset();
    Contract::TearDown();
  }

  UniqueServiceHandle Create() {
    UniqueServiceHandle service(Svc().CreateServiceW(
        manager_.get(), kName, u"zorPurge contract service", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        ServiceCommand().c_str()));
#ifndef _WIN32
    machine_->SetServiceStopPending(kName, kStopPendingMs);
#endif
    return service;
  }

  // Polls the state every 50 ms while it is `state`, for 10 s at most; the state it ends in.
  static DWORD WaitWhile(SC_HANDLE service, DWORD state) {
    ServiceStatus status;
    for (int i = 0; i < 200; ++i) {
      if (!Svc().QueryServiceStatus(service, &status)) return 0;
      if (status.currentState != state) return status.currentState;
      Sys().Sleep(50);
    }
    return state;
  }

  // A service left by an earlier run that failed half-way: stopped and deleted.
  void RemoveLeftOver() {
    UniqueServiceHandle service(Svc().OpenServiceW(manager_.get(), kName, SERVICE_ALL_ACCESS));
    if (!service) return;
    ServiceStatus status;
    Svc().ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitWhile(service.get(), SERVICE_STOP_PENDING);
    Svc().DeleteService(service.get());
  }

  UniqueServiceHandle manager_;
};

TEST_F(ServicesContract, CreateStartStopDelete) {
  UniqueServiceHandle service = Create();
  ASSERT_TRUE(service) << Sys().GetLastError();
  EXPECT_FALSE(Svc().CreateServiceW(manager_.get(), kName, kName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, ServiceCommand().c_str()));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
#ifndef _WIN32
  EXPECT_EQ(machine_->ServiceBinaryPath(kName), ServiceCommand());
#endif

  ServiceStatus status;
  ASSERT_TRUE(Svc().QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(status.currentState, SERVICE_STOPPED);
  ASSERT_TRUE(Svc().StartServiceW(service.get())) << Sys().GetLastError();
  EXPECT_EQ(WaitWhile(service.get(), SERVICE_START_PENDING), SERVICE_RUNNING);

  ASSERT_TRUE(Svc().ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
      << Sys().GetLastError();
  EXPECT_EQ(status.currentState, SERVICE_STOP_PENDING);
  ASSERT_TRUE(Svc().QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(status.currentState, SERVICE_STOP_PENDING) << "for the service's stop-pending time";
  EXPECT_EQ(WaitWhile(service.get(), SERVICE_STOP_PENDING), SERVICE_STOPPED);

  EXPECT_FALSE(Svc().ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

  EXPECT_TRUE(Svc().DeleteService(service.get())) << Sys().GetLastError();
  service.reset();
  EXPECT_FALSE(Svc().OpenServiceW(manager_.get(), kName, SERVICE_QUERY_CONFIG));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServicesContract, MissingServiceDoesNotOpen) {
  EXPECT_FALSE(Svc().OpenServiceW(manager_.get(), u"zpNoSuchService", SERVICE_QUERY_STATUS));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServicesContract, RunningServiceIsOnlyMarkedForDeletion) {
  UniqueServiceHandle service = Create();
  ASSERT_TRUE(service) << Sys().GetLastError();
  ASSERT_TRUE(Svc().StartServiceW(service.get())) << Sys().GetLastError();
  ASSERT_EQ(WaitWhile(service.get(), SERVICE_START_PENDING), SERVICE_RUNNING);

  EXPECT_TRUE(Svc().DeleteService(service.get())) << Sys().GetLastError();
  EXPECT_FALSE(Svc().DeleteService(service.get()));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  // Still there, and still running, until it stops.
  UniqueServiceHandle again(Svc().OpenServiceW(manager_.get(), kName, SERVICE_QUERY_STATUS));
  EXPECT_TRUE(again) << Sys().GetLastError();
  again.reset();

  ServiceStatus status;
  ASSERT_TRUE(Svc().ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(WaitWhile(service.get(), SERVICE_STOP_PENDING), SERVICE_STOPPED);
  service.reset();
  EXPECT_FALSE(Svc().OpenServiceW(manager_.get(), kName, SERVICE_QUERY_STATUS));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
}  // namespace zp::contract
