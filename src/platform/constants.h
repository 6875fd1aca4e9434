// The Windows constants the system uses, declared once for both builds (see constants.inc).
#pragma once

#include "platform/types.h"

namespace zp {

#define ZP_CONSTANT(type, name, value) inline constexpr type name = value;
#define ZP_CRT_CONSTANT(name, windowsName, value) inline constexpr int name = value;
#include "platform/constants.inc"
#include "platform/crt_constants.inc"
#undef ZP_CONSTANT
#undef ZP_CRT_CONSTANT

#define ZP_HANDLE(type, name, value) inline const type name = HandleFromValue<type>(value);
#include "platform/handles.inc"
#undef ZP_HANDLE

#define ZP_GUID(name, d1, d2, d3, ...) inline constexpr Guid name = {d1, d2, d3, {__VA_ARGS__}};
#include "platform/guids.inc"
#undef ZP_GUID

// HRESULT_FROM_WIN32: a Win32 error code as an HRESULT (ERROR_CANCELLED gives 0x800704C7).
constexpr HRESULT HresultFromWin32(LONG error) {
  return error <= 0 ? error
                    : static_cast<HRESULT>((static_cast<DWORD>(error) & 0xFFFF) | 0x80070000u);
}

// The string-table resource type, MAKEINTRESOURCE(6).
inline constexpr unsigned RT_STRING_ID = 6;
inline const char16_t* const RT_STRING = IntResource(RT_STRING_ID);

// The cursors of LoadCursorW, MAKEINTRESOURCE(32512) and (32514).
inline const char16_t* const IDC_ARROW = IntResource(32512);
inline const char16_t* const IDC_WAIT = IntResource(32514);

// True when every handle constant above has the value of <windows.h> (Windows build only).
bool HandleConstantsMatchWindows();
// True when every GUID above is the one the Windows headers define (Windows build only).
bool GuidConstantsMatchWindows();

}  // namespace zp
