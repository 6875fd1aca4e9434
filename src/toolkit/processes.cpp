#include "toolkit/processes.h"

#include <cstring>
#include <string>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

constexpr std::u16string_view kSharedDlls =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char16_t* kRegSvr64 = u"zorRegSvr64.exe";

std::u16string Widened(const char* name) { return std::u16string(name, name + std::strlen(name)); }

// Lets the started program bring its own windows to the front, where Windows knows the call.
void AllowForeground(DWORD processId) {
  HMODULE user32 = Sys().GetModuleHandleW(u"user32.dll");
  if (user32 != nullptr && Sys().GetProcAddress(user32, "AllowSetForegroundWindow") != nullptr)
    Sys().AllowSetForegroundWindow(processId);
}

using EntryPoint = HRESULT(ZP_STDCALL*)();

// Calls the export at `address` under the exception guard.
EntryPointCall CallAt(const void* address) {
  struct Guarded {
    EntryPoint entry;
    HRESULT result;
    void operator()() { result = entry(); }
  } call{reinterpret_cast<EntryPoint>(const_cast<void*>(address)), S_OK};
  EntryPointCall outcome;
  outcome.crashed = !CallProductCode(call, &outcome.exception);
  outcome.result = call.result;
  return outcome;
}

}  // namespace

std::optional<EntryPointCall> CallEntryPoint(std::u16string_view path, const char* exportName) {
  const std::u16string file(path);
  UniqueModule library(Sys().LoadLibraryExW(file.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
  const void* address = library ? Sys().GetProcAddress(library.get(), exportName) : nullptr;
  if (address == nullptr) return std::nullopt;
  return CallAt(address);
}

void LogCaughtException(std::u16string_view module, std::u16string_view function, DWORD code,
                        std::int32_t category) {
  g_log.Print(LOG_MIN, category, u"Caught exception in: %s:%s, code 0x%08X", module, function,
              code);
}

bool RunProcess(std::u16string_view commandLine, bool wait, DWORD* exitCode) {
  const std::u16string line(commandLine);
  LogJoined(u"Executing:", line, LOG_VRB, CAT_SYSTEM);
  ProcessInfo process;
  DWORD code = 0;
  const bool started =
      Sys().CreateProcessW(line.c_str(), CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS, &process) != 0;
  if (started) {
    AllowForeground(process.processId);
    Sys().ResumeThread(process.thread);
    if (wait) {
      Sys().WaitForSingleObject(process.process, INFINITE);
      Sys().GetExitCodeProcess(process.process, &code);
    }
    Files().CloseHandle(process.thread);
    Files().CloseHandle(process.process);
    LogJoined(u"Executed:", line, LOG_VRB, CAT_SYSTEM);
  } else {
    code = Sys().GetLastError();
    g_log.Print(LOG_MIN, CAT_SYSTEM, u"ERROR:Not executed:%s, code:0x%08X", line, code);
    if (code == static_cast<DWORD>(ERROR_SXS_CANT_GEN_ACTCTX))
      g_log.Print(LOG_MIN, CAT_SYSTEM,
                  u"The previous error is caused by side-by-side configuration");
  }
  if (exitCode) *exitCode = code;
  return started;
}

DWORD RunRegSvr64(std::u16string_view arguments) {
  char16_t remembered[260] = {};
  const DWORD length = Sys().GetCurrentDirectoryW(260, remembered);
  const bool haveRemembered = length > 0 && length < 260;

  // Started from the product folder, where it lives and which it works on.
  const std::u16string folder = g_setup.Expand(u"%ROPATH%");
  if (!Sys().SetCurrentDirectoryW(folder.c_str())) {
    DWORD error = Sys().GetLastError();
    g_log.Print(LOG_MIN, CAT_FILE,
                u"Call program \"%s\" error: cannot change directory to \"%s\", error code: 0x%08X",
                kRegSvr64, folder, error);
    return error;
  }
  const std::u16string line = std::u16string(kRegSvr64) + u" " + std::u16string(arguments);
  DWORD error = 0;
  RunProcess(line, false, &error);
  if (haveRemembered) Sys().SetCurrentDirectoryW(remembered);

  if (error != 0) {
    g_log.Print(LOG_MIN, CAT_FILE, u"Error calling \"%s\", error code: %d (0x%08X)", line,
                static_cast<LONG>(error), error);
    return error;
  }
  g_log.Print(LOG_DBG, CAT_FILE, u"Command \"%s\" called successfully", line);
  return 0;
}

DWORD UnregisterServer64(std::u16string_view path) {
  if (!g_setup.IsPlatform(PLAT_WIN64_X64)) return 0;
  std::u16string arguments = u"/u ";
  const bool quoted = !path.empty() && path[0] == u'"';
  if (!quoted) arguments += u'"';
  arguments += path;
  if (!quoted) arguments += u'"';
  const DWORD result = RunRegSvr64(arguments);
  if (result == 0)
    g_log.Print(LOG_DBG, CAT_FILE, u"64-bit object \"%s\" unregistered sucessfully", path);
  else
    g_log.Print(LOG_MIN, CAT_FILE, u"Error in 64-bit object \"%s\" unregistration", path);
  return result;
}

DWORD UnregisterServerDll(std::u16string_view path) {
  // Other installed software still uses a server that SharedDLLs counts twice or more.
  DWORD shared = 0;
  if (GetHklmDword(kSharedDlls, path, &shared) == ERROR_SUCCESS && shared >= 2) return 0;

  const std::u16string file(path);
  Sys().OleInitialize();
  if (std::optional<EntryPointCall> call = CallEntryPoint(file, "DllUnregisterServer")) {
    if (call->crashed)
      LogCaughtException(file, u"DllUnregisterServer", call->exception, CAT_FILE);
    else if (call->result == S_OK)
      g_log.Print(LOG_DBG, CAT_FILE, u"DllUnregisterServer success");
    else
      g_log.Print(LOG_MIN, CAT_FILE,
                  u"Error calling DllUnregisterServer \"%s\", error code %d (0x%x)", file,
                  call->result, static_cast<DWORD>(call->result));
  }
  Sys().OleUninitialize();
  return 0;
}

HRESULT CallDllExport(std::u16string_view dllPath, const char* exportName) {
  const std::u16string file(dllPath);
  const std::u16string name = Widened(exportName);
  UniqueModule library(Sys().LoadLibraryExW(file.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) {
    DWORD error = Sys().GetLastError();
    g_log.Print(LOG_MIN, CAT_FILE, u"Error loading dll: %s, error code: 0x%08X", file, error);
    return static_cast<HRESULT>(error);
  }
  const void* address = Sys().GetProcAddress(library.get(), exportName);
  if (address == nullptr) {
    DWORD error = Sys().GetLastError();
    g_log.Print(LOG_MIN, CAT_FILE, u"Error GetProcAddress: %s:%s, code: 0x%08X", file, name, error);
    return static_cast<HRESULT>(error);
  }
  const EntryPointCall call = CallAt(address);
  if (call.crashed) {
    // The last error at the moment of the crash is what is reported and returned.
    DWORD error = Sys().GetLastError();
    g_log.Print(LOG_MIN, CAT_FILE, u"Caught exception in: %s:%s, code 0x%08X", file, name, error);
    return static_cast<HRESULT>(error);
  }
  switch (call.result) {
    case S_OK:
      break;
    case E_OUTOFMEMORY:
      g_log.Print(LOG_MIN, CAT_FILE, u"Error E_OUTOFMEMORY: %s:%s", file, name);
      break;
    case E_UNEXPECTED:
      g_log.Print(LOG_MIN, CAT_FILE, u"Error E_UNEXPECTED: %s:%s", file, name);
      break;
    default:
      g_log.Print(LOG_MIN, CAT_FILE, u"Unknown error: %s:%s, code: 0x%x", file, name,
                  static_cast<DWORD>(call.result));
  }
  return call.result;
}

}  // namespace zp
