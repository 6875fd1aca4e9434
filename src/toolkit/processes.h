// Processes and the products' DLL entry points: programs started (and waited for) with their
// outcome logged, the products' 64-bit COM servers unregistered through the product's own
// registration program, the 32-bit ones through their DllUnregisterServer, and argument-less
// exports called. A failing or crashing component of the product never ends the run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/constants.h"
#include "platform/platform.h"
#include "platform/types.h"

namespace zp {

// Starts the command line (no application name, started suspended and then resumed) and, with
// `wait`, waits for it to end. True when it started; `exitCode` (may be null) receives the
// program's exit code (0 when not waited for) or the error that kept it from starting.
bool RunProcess(std::u16string_view commandLine, bool wait, DWORD* exitCode);

// Starts "zorRegSvr64.exe <arguments>" from the product folder without waiting: 0 when it
// started, otherwise the error (also when the product folder cannot be made current).
DWORD RunRegSvr64(std::u16string_view arguments);

// "/u" of a 64-bit COM server through zorRegSvr64.exe, only on 64-bit Windows on x64 (0 when
// skipped). The RunRegSvr64 result.
DWORD UnregisterServer64(std::u16string_view path);

// DllUnregisterServer of a 32-bit COM server between OleInitialize and OleUninitialize, unless
// other software still shares it (SharedDLLs count 2 or more). Always 0.
DWORD UnregisterServerDll(std::u16string_view path);

// Calls an export without arguments that returns an HRESULT: 0 on success, the export's result,
// or the Win32 error of loading the DLL or finding the export.
HRESULT CallDllExport(std::u16string_view dllPath, const char* exportName);

// Runs `call` (a callable without arguments) under the structured exception guard: false, with
// the exception's code, when the product's code it calls raised one. `call` must own nothing
// with a destructor: a caught exception leaves its frame without unwinding it.
template <typename Call>
bool CallProductCode(Call& call, DWORD* exceptionCode) {
  return Sys().CallGuarded([](void* context) { (*static_cast<Call*>(context))(); }, &call,
                           exceptionCode);
}

// What a call of a product's export without arguments that returns an HRESULT gave.
struct EntryPointCall {
  bool crashed = false;
  DWORD exception = 0;  // the structured exception's code, when it crashed
  HRESULT result = S_OK;
};

// Loads `path` (its own folder searched for the libraries it needs) and calls its export
// `exportName` under the guard. None, and nothing logged, when the library does not load or has
// no such export.
std::optional<EntryPointCall> CallEntryPoint(std::u16string_view path, const char* exportName);

// Logs "Caught exception in: <module>:<function>, code 0x%08X" (LOG_MIN).
void LogCaughtException(std::u16string_view module, std::u16string_view function, DWORD code,
                        std::int32_t category);

}  // namespace zp
