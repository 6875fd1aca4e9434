#include "setup/system_report.h"

#include <cstdlib>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/shell_registrations.h"

namespace zp {
namespace {

std::u16string_view WindowsName(const OsVersionInfo& os) {
  const bool workstation = os.productType == VER_NT_WORKSTATION;
  if (os.platformId == VER_PLATFORM_WIN32_WINDOWS) {
    switch (os.minorVersion) {
      case 0: return u"Windows95";
      case 10: return u"Windows98";
      case 90: return u"WindowsMe";
      default: return u"";
    }
  }
  const DWORD version = os.majorVersion * 100 + os.minorVersion;
  if (os.majorVersion == 4) return u"Windows NT";
  switch (version) {
    case 500: return u"Windows 2000";
    case 501: return u"Windows XP";
    case 502: return u"Windows Server 2003";
    case 600: return workstation ? u"Windows Vista" : u"Windows Server 2008";
    case 601: return workstation ? u"Windows 7" : u"Windows Server 2008 R2";
    case 602: return workstation ? u"Windows 8" : u"Windows Server 2012";
    default: return u"";
  }
}

std::u16string SystemLine() {
  const OsVersionInfo& os = g_setup.osVersion;
  std::u16string line = u"Operating system: ";
  const int build = static_cast<int>(os.buildNumber & 0xFFFF);
  if (os.platformId == VER_PLATFORM_WIN32_WINDOWS) {
    line += WindowsName(os);
    line += Format(u" ver %d.%d, build %d", os.majorVersion, os.minorVersion, build);
  } else if (os.platformId == VER_PLATFORM_WIN32_NT) {
    line += WindowsName(os);
    line += Format(u" ver %d.%d, build %d, sp %d.%d", os.majorVersion, os.minorVersion, build,
                   os.servicePackMajor, os.servicePackMinor);
  }
  if (os.csdVersion[0] != 0) line += u" [" + std::u16string(os.csdVersion) + u"]";
  if (g_setup.IsPlatform(PLAT_SERVER)) line += u" SERVER";
  if (g_setup.IsPlatform(PLAT_WIN64_IA64)) line += u" IA64";
  if (g_setup.IsPlatform(PLAT_WIN64_X64)) line += u" x64";
  return line;
}

}  // namespace

bool GetCurrentUserName(std::u16string* name, std::u16string* domain) {
  char16_t user[256] = {};
  DWORD chars = 256;
  const bool found = Sys().GetUserNameW(user, &chars) != FALSE;
  *name = user;
  if (!found || !g_setup.IsPlatform(PLAT_NT)) return found;
  HANDLE token = nullptr;
  if (!Sys().OpenProcessToken(TOKEN_READ, &token)) return found;
  alignas(void*) BYTE information[2000] = {};
  DWORD returned = 0;
  if (Sys().GetTokenInformation(token, TokenUser, information, sizeof(information), &returned)) {
    const void* sid = *reinterpret_cast<void* const*>(information);
    char16_t account[256] = {}, where[32] = {};
    DWORD accountChars = 256, whereChars = 32;
    if (Sys().LookupAccountSidW(nullptr, sid, account, &accountChars, where, &whereChars)) {
      *name = account;
      *domain = where;
    }
  }
  Files().CloseHandle(token);
  return found;
}

int LogSystemInfo() {
  std::srand(Sys().GetTickCount());
  g_log.Add(SystemLine(), LOG_NRM, CAT_SYSTEM);

  MemoryStatus memory;
  Sys().GlobalMemoryStatus(&memory);
  g_log.Print(LOG_NRM, CAT_SYSTEM,
              u"Memory: %d%% load. Phys:%d/%dK free, Page:%d/%dK free, Virt:%d/%dK free",
              memory.memoryLoad, memory.availPhys / 1024, memory.totalPhys / 1024,
              memory.availPageFile / 1024, memory.totalPageFile / 1024,
              memory.availVirtual / 1024, memory.totalVirtual / 1024);
  g_log.Print(LOG_VRB, CAT_SYSTEM, u"Computer WinName: %s", g_setup.computerName);

  EnableRestorePrivilege();
  EnableRestorePrivilege();

  std::u16string name, domain;
  GetCurrentUserName(&name, &domain);
  std::u16string user = domain.empty() || UpperCase(domain) == u"NT AUTHORITY"
                            ? name
                            : (domain + u"\\" + name).substr(0, 260);
  g_log.Print(LOG_MIN, CAT_SYSTEM, u"Windows Net User: %s", user);

  Sys().CoInitialize();
  InitComSecurity();
  return 0;
}

}  // namespace zp
