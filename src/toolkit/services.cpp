#include "toolkit/services.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"
#include "toolkit/self_protection.h"

namespace zp {
namespace {

constexpr const char16_t* kGroupOrderList =
    u"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
constexpr const char16_t* kServicesKey = u"SYSTEM\\CurrentControlSet\\Services\\";

LONG LastError() { return static_cast<LONG>(Sys().GetLastError()); }

// Opens the service with `access` on a manager opened for queries; false when either fails.
bool OpenForQuery(const std::u16string& name, DWORD access, UniqueServiceHandle* manager,
                  UniqueServiceHandle* service) {
  if (!g_setup.IsPlatform(PLAT_NT)) return false;
  manager->reset(Svc().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!*manager) return false;
  service->reset(Svc().OpenServiceW(manager->get(), name.c_str(), access));
  return static_cast<bool>(*service);
}

// Asks the service to stop and waits while it reports STOP_PENDING; the error of the first
// failing call, each failure with its line.
LONG RequestStop(const std::u16string& name) {
  g_log.Print(LOG_MIN, CAT_SYSTEM, u"OpenSCManager");
  UniqueServiceHandle manager(Svc().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    LONG code = LastError();
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"OpenSCManager, errcode: 0x%08X", code);
    return code;
  }
  g_log.Print(LOG_MIN, CAT_SYSTEM, u"OpenService");
  UniqueServiceHandle service(
      Svc().OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    LONG code = LastError();
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"OpenService, errcode: 0x%08X", code);
    return code;
  }
  g_log.Print(LOG_MIN, CAT_SYSTEM, u"ControlService");
  ServiceStatus status;
  if (!Svc().ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    LONG code = LastError();
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"ControlService, errcode: 0x%08X", code);
    return code;
  }
  // A service that never leaves STOP_PENDING must not hold up the removal run for ever.
  for (int poll = 1; Svc().QueryServiceStatus(service.get(), &status); ++poll) {
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"QueryServiceStatus");
    if (status.currentState != SERVICE_STOP_PENDING) break;
    if (poll == kStopPolls) {
      g_log.Print(LOG_MIN, CAT_SYSTEM, u"Service %s did not stop in time", name);
      return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    Sys().Sleep(kStopPollMs);
  }
  return ERROR_SUCCESS;
}

LONG DeleteServiceEntry(const std::u16string& name) {
  UniqueServiceHandle manager(Svc().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return LastError();
  UniqueServiceHandle service(Svc().OpenServiceW(manager.get(), name.c_str(), DELETE));
  if (!service) return LastError();
  if (!Svc().DeleteService(service.get())) return LastError();
  return ERROR_SUCCESS;
}

DWORD ReadDword(const std::vector<BYTE>& data, size_t offset) {
  return static_cast<DWORD>(data[offset]) | static_cast<DWORD>(data[offset + 1]) << 8 |
         static_cast<DWORD>(data[offset + 2]) << 16 | static_cast<DWORD>(data[offset + 3]) << 24;
}

void WriteDword(std::vector<BYTE>& data, size_t offset, DWORD value) {
  for (int i = 0; i < 4; ++i) data[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

bool ServiceExists(std::u16string_view name) {
  UniqueServiceHandle manager, service;
  return OpenForQuery(std::u16string(name), SERVICE_QUERY_CONFIG, &manager, &service);
}

bool IsServiceRunning(std::u16string_view name) {
  UniqueServiceHandle manager, service;
  if (!OpenForQuery(std::u16string(name), SERVICE_QUERY_STATUS, &manager, &service)) return false;
  ServiceStatus status;
  return Svc().QueryServiceStatus(service.get(), &status) &&
         status.currentState == SERVICE_RUNNING;
}

LONG StopService(std::u16string_view name) {
  if (!g_setup.IsPlatform(PLAT_NT)) return ERROR_SUCCESS;
  std::u16string service(name);
  g_log.Print(LOG_VRB, CAT_SYSTEM, u"Stopping service %s", service);
  LONG code = RequestStop(service);
  g_log.Print(LOG_VRB, CAT_SYSTEM, u"Service %s stopped, errcode: 0x%08X", service, code);
  return code;
}

LONG RemoveService(std::u16string_view name) {
  std::u16string service(name);
  if (g_setup.IsPlatform(PLAT_NT) && ServiceExists(service)) {
    // The products' self-protection driver guards its services; it is told first.
    CoordinateServiceDeletion(service);
    if (LONG code = DeleteServiceEntry(service)) {
      g_log.Print(LOG_MIN, CAT_SYSTEM, u"Service %s NOT uninstalled, error code: 0x%08X", service,
                  code);
      return code;
    }
  }
  g_log.Print(LOG_VRB, CAT_SYSTEM, u"Service %s uninstalled", service);
  return ERROR_SUCCESS;
}

LONG RemoveFromGroupOrderList(std::u16string_view groupName, std::u16string_view serviceName) {
  if (!g_setup.IsPlatform(PLAT_NT)) return ERROR_SUCCESS;
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGroupOrderList, 0, KEY_ALL_ACCESS, key.put()))
    return ERROR_SUCCESS;
  std::u16string group(groupName), service(serviceName);
  DWORD type = 0, size = 0;
  if (Reg().RegQueryValueExW(key.get(), group.c_str(), &type, nullptr, &size))
    return ERROR_SUCCESS;
  std::vector<BYTE> data(size);
  if (Reg().RegQueryValueExW(key.get(), group.c_str(), &type, data.data(), &size))
    return ERROR_SUCCESS;
  data.resize(std::min<size_t>(size, data.size()));
  DWORD tag = 0;
  if (GetHklmDword(kServicesKey + service, u"Tag", &tag)) return ERROR_SUCCESS;
  g_log.Print(LOG_NRM, CAT_SYSTEM, u"Removing service '%s' load order id=%d in group '%s'",
              service, static_cast<std::int32_t>(tag), group);

  // A count N and N tags; a count beyond the data stands for the tags that are there.
  if (data.size() < 4) return ERROR_SUCCESS;
  const size_t count = std::min<size_t>(ReadDword(data, 0), (data.size() - 4) / 4);
  for (size_t i = 1; i <= count; ++i) {
    if (ReadDword(data, 4 * i) != tag) continue;
    std::copy(data.begin() + 4 * (i + 1), data.begin() + 4 * (count + 1), data.begin() + 4 * i);
    WriteDword(data, 0, static_cast<DWORD>(count - 1));
    Reg().RegSetValueExW(key.get(), group.c_str(), type, data.data(),
                         static_cast<DWORD>(4 * count));
    break;
  }
  return ERROR_SUCCESS;
}

}  // namespace zp
