// Every constant the system declares for itself must have the value <windows.h> gives it.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <rpc.h>
#include <shlobj.h>
#include <winioctl.h>
#include <aclapi.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cstdint>

#include "platform/types.h"

#define ZP_CONSTANT(type, name, value) \
  static_assert(static_cast<type>(name) == static_cast<type>(value), #name);
#define ZP_CRT_CONSTANT(name, windowsName, value) static_assert((windowsName) == (value), #name);
#include "platform/constants.inc"
#include "platform/crt_constants.inc"
#undef ZP_CONSTANT
#undef ZP_CRT_CONSTANT

namespace zp {

bool HandleConstantsMatchWindows() {
  bool match = true;
#define ZP_HANDLE(type, name, value) \
  match = match && reinterpret_cast<std::intptr_t>(name) == static_cast<std::intptr_t>(value);
#include "platform/handles.inc"
#undef ZP_HANDLE
  return match;
}

}  // namespace zp
