// The exchanges with the products' self-protection driver, through its device. A device that is
// absent, or any failure, means "not enabled" and changes nothing.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace zp {

inline constexpr const char16_t* kSelfProtectionDevice = u"\\\\.\\zorSP";
// Control codes (FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS, functions 0x801-0x803).
inline constexpr DWORD IOCTL_ZORSP_QUERY = 0x00222004;           // out: DWORD, non-zero = on
inline constexpr DWORD IOCTL_ZORSP_HANDSHAKE = 0x00222008;       // in: DWORD protocol version
inline constexpr DWORD IOCTL_ZORSP_SERVICE_DELETE = 0x0022200C;  // in: UTF-16 service name

// True only when the driver answers that its self-protection is enabled.
bool SelfProtectionEnabled();
// The handshake that opens the newest current-generation sequence.
void SelfProtectionHandshake();
// Tells the driver that the service is about to be deleted.
void CoordinateServiceDeletion(std::u16string_view serviceName);

}  // namespace zp
