// The types of the Windows calls the system makes, without <windows.h>. In the Windows build they
// are the very types of <windows.h> (same integer types, the same handle structs), so the real
// backend forwards without casts; in the host build they are plain integers of the same width.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Handle tags as <windows.h> declares them (DECLARE_HANDLE); only pointers to them are used.
struct HKEY__;
struct HWND__;
struct HINSTANCE__;
struct HRSRC__;
struct SC_HANDLE__;
struct HICON__;
// COM interface pointers the system holds (opaque above the seam).
struct ComObject__;

// The calling convention of the Windows API and of the products' exports (callee pops).
#if defined(_WIN32) && defined(__i386__)
#define ZP_STDCALL __attribute__((stdcall))
#else
#define ZP_STDCALL
#endif

namespace zp {

#ifdef _WIN32
using DWORD = unsigned long;
using LONG = long;
#else
using DWORD = std::uint32_t;
using LONG = std::int32_t;
#endif
using BOOL = int;
using UINT = unsigned int;
using BYTE = unsigned char;
using WORD = unsigned short;
using LANGID = unsigned short;
using REGSAM = DWORD;
using HRESULT = LONG;
using NTSTATUS = LONG;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;


using HKEY = ::HKEY__*;
using HWND = ::HWND__*;
using HMODULE = ::HINSTANCE__*;
using HRSRC = ::HRSRC__*;
using SC_HANDLE = ::SC_HANDLE__*;
using HICON = ::HICON__*;
using HCURSOR = HICON;  // as <windows.h> has it

// The dialog procedure and the folder picker's callback (CALLBACK: the callee pops).
using DialogProc = INT_PTR(ZP_STDCALL*)(HWND, UINT, WPARAM, LPARAM);
using BrowseCallback = int(ZP_STDCALL*)(HWND, UINT, LPARAM, LPARAM);
using HANDLE = void*;
using HGLOBAL = void*;

// A stream of the run-time library (msvcrt's FILE), opaque above the seam.
struct CrtStream;


// A predefined key or a pseudo handle is an integer in a handle's clothes, as in <windows.h>.
template <typename H>
inline H HandleFromValue(std::intptr_t value) { return reinterpret_cast<H>(value); }

// MAKEINTRESOURCEW: a resource type or name given by number.
inline const char16_t* IntResource(unsigned id) {
  return reinterpret_cast<const char16_t*>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}
inline bool IsIntResource(const char16_t* name) {
  return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}

// OSVERSIONINFOEXW, the fields the system reads.
struct OsVersionInfo {
  DWORD majorVersion = 0;
  DWORD minorVersion = 0;
  DWORD buildNumber = 0;
  DWORD platformId = 0;
  char16_t csdVersion[128] = {};
  WORD servicePackMajor = 0;
  WORD servicePackMinor = 0;
  WORD suiteMask = 0;
  BYTE productType = 0;
};

// SYSTEM_INFO, the field the system reads.
struct SystemInfo {
  WORD processorArchitecture = 0;
};

// WIN32_FIND_DATAW.
struct FindData {
  DWORD attributes = 0;
  DWORD sizeHigh = 0;
  DWORD sizeLow = 0;
  char16_t fileName[260] = {};
  char16_t alternateFileName[14] = {};
};

// MEMORYSTATUS (a 32-bit process: every size fits 32 bits).
struct MemoryStatus {
  DWORD memoryLoad = 0;
  std::uint32_t totalPhys = 0;
  std::uint32_t availPhys = 0;
  std::uint32_t totalPageFile = 0;
  std::uint32_t availPageFile = 0;
  std::uint32_t totalVirtual = 0;
  std::uint32_t availVirtual = 0;
};

// PROCESS_INFORMATION.
struct ProcessInfo {
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
};

// One EXPLICIT_ACCESSW entry whose trustee is given as a SID.
struct ExplicitAccess {
  DWORD permissions = 0;
  int mode = 0;         // SET_ACCESS
  DWORD inheritance = 0;
  int trusteeType = 0;  // TRUSTEE_IS_USER, TRUSTEE_IS_GROUP ...
  const void* sid = nullptr;
};

// SERVICE_STATUS.
struct ServiceStatus {
  DWORD serviceType = 0;
  DWORD currentState = 0;
  DWORD controlsAccepted = 0;
  DWORD win32ExitCode = 0;
  DWORD serviceSpecificExitCode = 0;
  DWORD checkPoint = 0;
  DWORD waitHint = 0;
};

// FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
struct FileTime {
  DWORD lowDateTime = 0;
  DWORD highDateTime = 0;
};

// SYSTEMTIME.
struct SystemTime {
  WORD year = 0;
  WORD month = 0;
  WORD dayOfWeek = 0;
  WORD day = 0;
  WORD hour = 0;
  WORD minute = 0;
  WORD second = 0;
  WORD milliseconds = 0;
};

// LUID and one LUID_AND_ATTRIBUTES of TOKEN_PRIVILEGES.
struct Luid {
  DWORD lowPart = 0;
  LONG highPart = 0;
};

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

inline bool operator==(const Guid& a, const Guid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.data4[i] != b.data4[i]) return false;
  return true;
}

// ---- COM
// An interface pointer: the real backend's interface, opaque above the seam. Each one the seam
// hands out carries its own reference (UniqueComObject releases it).
using ComObject = ::ComObject__*;
// An OLE automation string (BSTR), from SysAllocString, freed with SysFreeString.
using BSTR = char16_t*;

// OBO_TOKEN: on whose behalf a network component is removed (OBO_USER, the other fields zero).
struct OboToken {
  int type = 0;
  ComObject component = nullptr;
  const char16_t* manufacturer = nullptr;
  const char16_t* product = nullptr;
  const char16_t* displayName = nullptr;
  BOOL registered = 0;
};

}  // namespace zp
