// Every constant the system declares for itself must have the value <windows.h> gives it.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <rpc.h>
#include <shlobj.h>
#include <winioctl.h>
#include <aclapi.h>
#include <initguid.h>  // the GUIDs of the headers below are defined here (GuidConstantsMatch...)
#include <setupapi.h>
#include <netcfgx.h>
#include <devguid.h>
#include <wbemcli.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>

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

bool GuidConstantsMatchWindows() {
  bool match = true;
#define ZP_GUID(name, d1, d2, d3, ...)                                 \
  {                                                                    \
    const Guid ours = {d1, d2, d3, {__VA_ARGS__}};                     \
    match = match && std::memcmp(&ours, &::name, sizeof(GUID)) == 0;  \
  }
#include "platform/guids.inc"
#undef ZP_GUID
  return match;
}

}  // namespace zp
