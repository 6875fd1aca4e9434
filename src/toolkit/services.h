// The services and drivers of the products in the service control manager: probe, stop, delete,
// and the removal of a boot driver's tag from its load-order group. Windows NT family only: on
// the 9x family each operation returns at once with its result for nothing done. Each opens its
// own manager handle and closes every handle it opened; log lines go to category system.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace zp {

// A stop that stays pending is polled at most this often, this far apart (about 30 s).
inline constexpr int kStopPolls = 240;
inline constexpr DWORD kStopPollMs = 125;

// True when the service (a service key name, never a display name) can be opened.
bool ServiceExists(std::u16string_view name);
// True when the service reports SERVICE_RUNNING.
bool IsServiceRunning(std::u16string_view name);
// The Win32 error of the first failing call, ERROR_SERVICE_REQUEST_TIMEOUT when the service is
// still stopping after the polls, 0 when it stopped (or on the 9x family). Callers treat a
// non-zero result as information only.
LONG StopService(std::u16string_view name);
// Deletes the service; 0 when deleted, when it does not exist, or on the 9x family. A running
// service is only marked for deletion: the manager removes it once it has stopped.
LONG RemoveService(std::u16string_view name);
// Takes the service's tag out of the group's GroupOrderList value; always 0.
LONG RemoveFromGroupOrderList(std::u16string_view groupName, std::u16string_view serviceName);

}  // namespace zp
