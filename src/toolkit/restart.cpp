#include "toolkit/restart.h"

#include <string>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "startup/strings.h"

namespace zp {
namespace {

constexpr UINT kShutdownMessageId = 2818;  // no table defines it: the message stays empty

bool Exported(const char* name) {
  HMODULE advapi = Sys().GetModuleHandleW(u"Advapi32.dll");
  return advapi != nullptr && Sys().GetProcAddress(advapi, name) != nullptr;
}

}  // namespace

void RestartWindows() {
  g_log.Add(u"Restart windows", LOG_VRB, CAT_SYSTEM);
  const bool nt = g_setup.IsPlatform(PLAT_NT);
  HANDLE token = nullptr;
  Luid shutdown;
  bool privilege = false;
  if (nt && Sys().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    privilege = Sys().LookupPrivilegeValueW(nullptr, u"SeShutdownPrivilege", &shutdown) &&
                Sys().AdjustTokenPrivileges(token, shutdown, SE_PRIVILEGE_ENABLED);
  }

  if (g_setup.IsPlatform(PLAT_WIN9X)) {
    Sys().ExitWindowsEx(EWX_REBOOT, 0);
  } else if (nt) {
    const std::u16string message = LoadText(kShutdownMessageId);
    if (g_setup.IsPlatform(PLAT_NT4)) {
      if (Exported("InitiateSystemShutdownW"))
        Sys().InitiateSystemShutdownW(nullptr, message.c_str(), 0, FALSE, TRUE);
      else
        Sys().ExitWindowsEx(EWX_REBOOT, 0);
    } else if (Exported("InitiateSystemShutdownExW")) {
      if (!Sys().InitiateSystemShutdownExW(nullptr, message.c_str(), 0, FALSE, TRUE,
                                           SHTDN_REASON_FLAG_PLANNED |
                                               SHTDN_REASON_MAJOR_APPLICATION |
                                               SHTDN_REASON_MINOR_INSTALLATION))
        g_log.Print(LOG_MIN, CAT_SYSTEM, u"pfnInitiateSystemShutdownEx returned 0x%08X",
                    Sys().GetLastError());
    } else {
      Sys().ExitWindowsEx(EWX_REBOOT, 0);
    }
  }

  if (token != nullptr) {
    if (privilege) Sys().AdjustTokenPrivileges(token, shutdown, 0);
    Files().CloseHandle(token);
  }
}

}  // namespace zp
