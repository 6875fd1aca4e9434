#include "toolkit/shell_registrations.h"

#include <string>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

constexpr std::u16string_view kShellExtensionClass = u"{472083B0-C522-11CF-8763-00608CC02F24}";
constexpr std::u16string_view kApproved =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The approval value in one view, logged as a value deletion.
void DeleteApproval(REGSAM view) {
  const bool wow64 = g_setup.IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64);
  const std::u16string key(kApproved), name(kShellExtensionClass);
  UniqueRegKey approved;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | (wow64 ? view : 0),
                          approved.put()) != ERROR_SUCCESS)
    return;
  LONG result = Reg().RegDeleteValueW(approved.get(), name.c_str());
  if (result == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Deleted registry: %s\\%s", key, name);
  else if (result != ERROR_FILE_NOT_FOUND)
    g_log.Print(LOG_MIN, CAT_REGISTRY, u"Error deleting registry: %s\\%s (0x%08X)", key, name,
                static_cast<DWORD>(result));
}

}  // namespace

void RemoveContextMenuHandler(std::u16string_view name) {
  const std::u16string handler(name);
  DeleteRegTree64(HKEY_CLASSES_ROOT, u"*\\shellex\\ContextMenuHandlers\\" + handler);
  DeleteRegTree64(HKEY_CLASSES_ROOT, handler + u"\\ShellEx\\ContextMenuHandlers");
  DeleteRegTree64(HKEY_CLASSES_ROOT, u"Folder\\shellex\\ContextMenuHandlers\\" + handler);
  const std::u16string classKey = u"CLSID\\" + std::u16string(kShellExtensionClass);
  DeleteRegTree64(HKEY_CLASSES_ROOT, classKey);
  DeleteRegTree32(HKEY_CLASSES_ROOT, classKey);
  DeleteApproval(KEY_WOW64_64KEY);
  DeleteApproval(KEY_WOW64_32KEY);
}

LONG RemoveAppPath(std::u16string_view program, std::u16string_view folder) {
  const std::u16string key =
      PathJoin(u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", program);
  char16_t path[260] = {};
  LONG result = GetRegString(HKEY_LOCAL_MACHINE, key, u"Path", path, sizeof(path), true);
  std::u16string registered(path);
  // The products write "Path" without a final separator; the folder may have one.
  if (!folder.empty() && folder.back() == u'\\') registered += u'\\';
  if (result == ERROR_SUCCESS && !folder.empty() && UpperCase(registered) == UpperCase(folder))
    DeleteRegTree(HKEY_LOCAL_MACHINE, key);
  return result;
}

LONG EnableRestorePrivilege() {
  if (g_setup.IsPlatform(PLAT_WIN9X)) return ERROR_SUCCESS;
  HANDLE token = nullptr;
  if (!Sys().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return static_cast<LONG>(Sys().GetLastError());
  LONG result = ERROR_SUCCESS;
  Luid restore;
  if (!Sys().LookupPrivilegeValueW(nullptr, u"SeRestorePrivilege", &restore) ||
      !Sys().AdjustTokenPrivileges(token, restore, SE_PRIVILEGE_ENABLED))
    result = static_cast<LONG>(Sys().GetLastError());
  Files().CloseHandle(token);
  return result;
}

}  // namespace zp
