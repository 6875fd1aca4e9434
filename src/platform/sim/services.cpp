// The simulated service control manager: service and driver entries with their states, a stop
// that stays pending for a while, deletion that only marks a service until it is stopped and no
// longer open, and the access each handle was opened with.
#include <utility>

#include "platform/sim/impl.h"

namespace zp::sim {
namespace {

constexpr const char16_t* kServicesKey = u"HKLM\\System\\CurrentControlSet\\Services";

void CreateServiceKey(Machine::Impl& m, const Machine::Impl::Service& service) {
  std::u16string key = std::u16string(kServicesKey) + u"\\" + service.name;
  m.machine.SetDword(key, u"Type", service.type);
  if (!service.binaryPath.empty())
    m.machine.SetString(key, u"ImagePath", service.binaryPath, REG_EXPAND_SZ);
}

class SimServices final : public Services {
 public:
  explicit SimServices(Machine::Impl& m) : m_(m) {}

  SC_HANDLE OpenSCManagerW(const char16_t*, const char16_t*, DWORD access) override {
    m_.SettleServices();
    m_.managerOpens.push_back(access);
    // The 9x family has no service control manager.
    if (m_.os().version.platformId != VER_PLATFORM_WIN32_NT)
      return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (LONG error; m_.Injected("OpenSCManagerW", {}, &error)) return Fail(error);
    return NewHandle({}, access);
  }

  SC_HANDLE OpenServiceW(SC_HANDLE manager, const char16_t* name, DWORD access) override {
    m_.SettleServices();
    if (!IsManager(manager)) return Fail(ERROR_INVALID_HANDLE);
    std::u16string upper = Upper(Text(name));
    if (LONG error; m_.Injected("OpenServiceW", upper, &error)) return Fail(error);
    auto it = m_.serviceTable.find(upper);
    if (it == m_.serviceTable.end()) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (access & it->second.deniedAccess) return Fail(ERROR_ACCESS_DENIED);
    return NewHandle(upper, access);
  }

  SC_HANDLE CreateServiceW(SC_HANDLE manager, const char16_t* name, const char16_t*, DWORD access,
                           DWORD serviceType, DWORD, DWORD, const char16_t* binaryPath) override {
    m_.SettleServices();
    if (!IsManager(manager)) return Fail(ERROR_INVALID_HANDLE);
    if (!(m_.scHandles[Value(manager)].access & SC_MANAGER_CREATE_SERVICE))
      return Fail(ERROR_ACCESS_DENIED);
    std::u16string upper = Upper(Text(name));
    if (upper.empty()) return Fail(ERROR_INVALID_NAME);
    if (LONG error; m_.Injected("CreateServiceW", upper, &error)) return Fail(error);
    auto existing = m_.serviceTable.find(upper);
    if (existing != m_.serviceTable.end())
      return Fail(existing->second.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                     : ERROR_SERVICE_EXISTS);
    Machine::Impl::Service& service = m_.serviceTable[upper];
    service.name = Text(name);
    service.type = serviceType;
    service.binaryPath = Text(binaryPath);
    CreateServiceKey(m_, service);
    return NewHandle(upper, access);
  }

  BOOL StartServiceW(SC_HANDLE handle) override {
    Machine::Impl::Service* service = Opened(handle, SERVICE_START);
    if (service == nullptr) return FALSE;
    if (LONG error; m_.Injected("StartServiceW", service->name, &error)) return FailBool(error);
    if (service->markedForDeletion) return FailBool(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (service->state != SERVICE_STOPPED) return FailBool(ERROR_SERVICE_ALREADY_RUNNING);
    service->state = SERVICE_RUNNING;
    return TRUE;
  }

  BOOL ControlService(SC_HANDLE handle, DWORD control, ServiceStatus* status) override {
    Machine::Impl::Service* service =
        Opened(handle, control == SERVICE_CONTROL_STOP ? SERVICE_STOP : 0);
    if (service == nullptr) return FALSE;
    if (LONG error; m_.Injected("ControlService", service->name, &error)) return FailBool(error);
    if (control != SERVICE_CONTROL_STOP) return FailBool(ERROR_INVALID_SERVICE_CONTROL);
    if (service->state == SERVICE_STOPPED) return FailBool(ERROR_SERVICE_NOT_ACTIVE);
    if (service->state != SERVICE_RUNNING) return FailBool(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    service->state = service->stopPendingMs == 0 ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
    service->stopRequested = m_.tick;
    Fill(*service, status);
    return TRUE;
  }

  BOOL QueryServiceStatus(SC_HANDLE handle, ServiceStatus* status) override {
    Machine::Impl::Service* service = Opened(handle, SERVICE_QUERY_STATUS);
    if (service == nullptr) return FALSE;
    if (LONG error; m_.Injected("QueryServiceStatus", service->name, &error))
      return FailBool(error);
    Fill(*service, status);
    return TRUE;
  }

  BOOL DeleteService(SC_HANDLE handle) override {
    Machine::Impl::Service* service = Opened(handle, DELETE);
    if (service == nullptr) return FALSE;
    if (LONG error; m_.Injected("DeleteService", service->name, &error)) return FailBool(error);
    if (service->markedForDeletion) return FailBool(ERROR_SERVICE_MARKED_FOR_DELETE);
    service->markedForDeletion = true;
    return TRUE;
  }

  BOOL CloseServiceHandle(SC_HANDLE handle) override {
    auto it = m_.scHandles.find(Value(handle));
    if (it == m_.scHandles.end()) return FailBool(ERROR_INVALID_HANDLE);
    if (!it->second.service.empty()) --m_.serviceTable[it->second.service].handles;
    m_.scHandles.erase(it);
    m_.SettleServices();
    return TRUE;
  }

 private:
  static std::uintptr_t Value(SC_HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

  SC_HANDLE Fail(LONG error) {
    m_.lastError = static_cast<DWORD>(error);
    return nullptr;
  }
  BOOL FailBool(LONG error) {
    m_.lastError = static_cast<DWORD>(error);
    return FALSE;
  }
  SC_HANDLE NewHandle(std::u16string service, DWORD access) {
    if (!service.empty()) ++m_.serviceTable[service].handles;
    m_.nextScHandle += 4;
    m_.scHandles[m_.nextScHandle] = Machine::Impl::ScHandle{std::move(service), access};
    return reinterpret_cast<SC_HANDLE>(m_.nextScHandle);
  }
  bool IsManager(SC_HANDLE handle) const {
    auto it = m_.scHandles.find(Value(handle));
    return it != m_.scHandles.end() && it->second.service.empty();
  }
  // The service behind a service handle opened with every right of `access`, or null with the
  // error recorded.
  Machine::Impl::Service* Opened(SC_HANDLE handle, DWORD access) {
    m_.SettleServices();
    auto it = m_.scHandles.find(Value(handle));
    if (it == m_.scHandles.end() || it->second.service.empty()) {
      Fail(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if ((it->second.access & access) != access) {
      Fail(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return &m_.serviceTable[it->second.service];
  }
  static void Fill(const Machine::Impl::Service& service, ServiceStatus* status) {
    *status = ServiceStatus{};
    status->serviceType = service.type;
    status->currentState = service.state;
    status->controlsAccepted = service.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  }

  Machine::Impl& m_;
};

}  // namespace

void Machine::Impl::SettleServices() {
  for (auto it = serviceTable.begin(); it != serviceTable.end();) {
    Service& service = it->second;
    if (service.state == SERVICE_STOP_PENDING && service.stopPendingMs >= 0 &&
        tick - service.stopRequested >= static_cast<DWORD>(service.stopPendingMs))
      service.state = SERVICE_STOPPED;
    if (service.markedForDeletion && service.state == SERVICE_STOPPED && service.handles == 0) {
      if (RegNode* key = FindPhysical(kServicesKey, false)) key->children.erase(it->first);
      it = serviceTable.erase(it);
    } else {
      ++it;
    }
  }
}

std::unique_ptr<Services> MakeServices(Machine::Impl& impl) {
  return std::make_unique<SimServices>(impl);
}

// ---- services, as the test sees them

void Machine::AddService(std::u16string_view name, DWORD type, DWORD state, int stopPendingMs) {
  Impl::Service& service = impl_->serviceTable[Upper(name)];
  service.name = std::u16string(name);
  service.type = type;
  service.state = state;
  service.stopPendingMs = stopPendingMs;
  service.stopRequested = impl_->tick;
  CreateServiceKey(*impl_, service);
}

void Machine::SetServiceStopPending(std::u16string_view name, int stopPendingMs) {
  auto it = impl_->serviceTable.find(Upper(name));
  if (it != impl_->serviceTable.end()) it->second.stopPendingMs = stopPendingMs;
}

void Machine::DenyServiceAccess(std::u16string_view name, DWORD rights) {
  auto it = impl_->serviceTable.find(Upper(name));
  if (it != impl_->serviceTable.end()) it->second.deniedAccess = rights;
}

bool Machine::ServiceExists(std::u16string_view name) const {
  impl_->SettleServices();
  return impl_->serviceTable.count(Upper(name)) > 0;
}

DWORD Machine::ServiceState(std::u16string_view name) const {
  impl_->SettleServices();
  auto it = impl_->serviceTable.find(Upper(name));
  return it == impl_->serviceTable.end() ? 0 : it->second.state;
}

bool Machine::ServiceMarkedForDeletion(std::u16string_view name) const {
  impl_->SettleServices();
  auto it = impl_->serviceTable.find(Upper(name));
  return it != impl_->serviceTable.end() && it->second.markedForDeletion;
}

std::u16string Machine::ServiceBinaryPath(std::u16string_view name) const {
  auto it = impl_->serviceTable.find(Upper(name));
  return it == impl_->serviceTable.end() ? std::u16string() : it->second.binaryPath;
}

int Machine::OpenServiceHandles() const { return static_cast<int>(impl_->scHandles.size()); }

const std::vector<DWORD>& Machine::ServiceManagerOpens() const { return impl_->managerOpens; }

}  // namespace zp::sim
