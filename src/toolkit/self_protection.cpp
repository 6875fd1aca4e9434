#include "toolkit/self_protection.h"

#include <string>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/log.h"

namespace zp {
namespace {

class Device {
 public:
  Device()
      : handle_(Files().CreateFileW(kSelfProtectionDevice, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0)) {}
  ~Device() {
    if (open()) Files().CloseHandle(handle_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool open() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  bool Control(DWORD code, const void* in, DWORD inBytes, void* out, DWORD outBytes,
               DWORD* returned) {
    DWORD ignored = 0;
    return open() && Files().DeviceIoControl(handle_, code, in, inBytes, out, outBytes,
                                             returned ? returned : &ignored);
  }

 private:
  HANDLE handle_;
};

constexpr DWORD kProtocolVersion = 1;

}  // namespace

bool SelfProtectionEnabled() {
  Device device;
  DWORD enabled = 0, returned = 0;
  if (!device.Control(IOCTL_ZORSP_QUERY, nullptr, 0, &enabled, sizeof(enabled), &returned) ||
      returned != sizeof(enabled))
    return false;
  g_log.Print(LOG_NRM, CAT_SYSTEM, u"Self protection: %s", enabled ? u"enabled" : u"disabled");
  return enabled != 0;
}

void SelfProtectionHandshake() {
  Device device;
  device.Control(IOCTL_ZORSP_HANDSHAKE, &kProtocolVersion, sizeof(kProtocolVersion), nullptr, 0,
                 nullptr);
}

void CoordinateServiceDeletion(std::u16string_view serviceName) {
  Device device;
  std::u16string name(serviceName);
  device.Control(IOCTL_ZORSP_SERVICE_DELETE, name.c_str(),
                 static_cast<DWORD>((name.size() + 1) * sizeof(char16_t)), nullptr, 0, nullptr);
}

}  // namespace zp
