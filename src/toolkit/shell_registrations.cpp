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

constexpr DWORD kComRightsExecute = 3;  // COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL

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

bool NormalizeDeviceDriverList(std::u16string& text, DWORD type) {
  // Without the empty strings at either end...
  size_t first = text.find_first_not_of(u'\0');
  if (first == std::u16string::npos) {
    text.clear();
  } else {
    text = text.substr(first, text.find_last_not_of(u'\0') + 1 - first);
  }
  if (type == REG_MULTI_SZ) {
    // ...and inside: every run of NULs becomes one, and the list ends with two.
    std::u16string compact;
    for (char16_t c : text)
      if (c != u'\0' || (!compact.empty() && compact.back() != u'\0')) compact += c;
    text = compact + u'\0' + u'\0';
    if (text.size() == 2) text = std::u16string(1, u'\0');
  } else {
    std::u16string plain;
    for (char16_t c : text)
      if (c != u'\0') plain += c;
    text = plain + u'\0';
  }
  return !text.empty() && text.back() == u'\0';
}

namespace {

// An entry names the file when it is the file name, or a path whose last part it is.
bool NamesFile(std::u16string_view entry, std::u16string_view fileName) {
  if (fileName.empty() || entry.size() < fileName.size()) return false;
  if (UpperCase(entry.substr(entry.size() - fileName.size())) != UpperCase(fileName)) return false;
  if (entry.size() == fileName.size()) return true;
  char16_t before = entry[entry.size() - fileName.size() - 1];
  return before == u'\\' || before == u'/';
}

constexpr std::u16string_view kVddKey = u"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
constexpr int kMaxRemovals = 100;

}  // namespace

bool RemoveVirtualDeviceDriver(std::u16string_view fileName) {
  if (g_setup.IsPlatform(PLAT_WIN9X)) return true;  // 9x keeps no such list here
  const std::u16string keyPath(kVddKey);
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = REG_NONE, size = 0;
  if (Reg().RegQueryValueExW(key.get(), u"VDD", &type, nullptr, &size) != ERROR_SUCCESS ||
      size < 2 || size > 32768)
    return false;
  std::u16string text(size / 2 + 1, u'\0');
  DWORD read = size;
  if (Reg().RegQueryValueExW(key.get(), u"VDD", &type, reinterpret_cast<BYTE*>(text.data()),
                             &read) != ERROR_SUCCESS)
    return false;
  text.resize(read / 2);
  if (!NormalizeDeviceDriverList(text, type)) return false;

  for (int pass = 0; pass < kMaxRemovals && text.size() > 1; ++pass) {
    size_t start = 0;
    bool removed = false;
    while (start < text.size() && text[start] != u'\0') {
      size_t end = text.find(u'\0', start);
      if (NamesFile(std::u16string_view(text).substr(start, end - start), fileName)) {
        text.erase(start, end + 1 - start);
        if (text.empty()) text = std::u16string(1, u'\0');
        removed = true;
        break;
      }
      start = end + 1;
    }
    if (!removed) break;
  }
  // A list without entries keeps a single terminator.
  if (type == REG_MULTI_SZ && text.size() >= 2 &&
      text.find_first_not_of(u'\0') == std::u16string::npos)
    text = std::u16string(1, u'\0');
  Reg().RegSetValueExW(key.get(), u"VDD", type, reinterpret_cast<const BYTE*>(text.data()),
                       static_cast<DWORD>(text.size() * 2));
  return true;
}

bool InitComSecurity() {
  // Windows versions without CreateWellKnownSid keep COM's default security.
  HMODULE advapi = Sys().LoadLibraryW(u"advapi32.dll");
  if (advapi == nullptr) return false;
  bool available = true;
  for (const char* name : {"InitializeSecurityDescriptor", "CreateWellKnownSid",
                           "SetSecurityDescriptorDacl", "SetSecurityDescriptorGroup",
                           "SetSecurityDescriptorOwner", "SetEntriesInAclW"})
    available = available && Sys().GetProcAddress(advapi, name) != nullptr;
  bool applied = false;
  if (available) {
    alignas(8) BYTE descriptor[64] = {};
    alignas(8) BYTE sids[5][72] = {};
    const int types[5] = {WinBuiltinAdministratorsSid, WinLocalServiceSid, WinNetworkServiceSid,
                          WinSelfSid, WinLocalSystemSid};
    bool made = Sys().InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION);
    ExplicitAccess entries[5];
    for (int i = 0; made && i < 5; ++i) {
      DWORD size = sizeof(sids[i]);
      made = Sys().CreateWellKnownSid(types[i], sids[i], &size) != FALSE;
      entries[i] = ExplicitAccess{kComRightsExecute, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_GROUP,
                                  sids[i]};
    }
    void* acl = nullptr;
    if (made && Sys().SetEntriesInAclW(5, entries, &acl) == ERROR_SUCCESS && acl != nullptr) {
      if (Sys().SetSecurityDescriptorOwner(descriptor, sids[0], FALSE) &&
          Sys().SetSecurityDescriptorGroup(descriptor, sids[0], FALSE) &&
          Sys().SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE))
        applied = Sys().CoInitializeSecurity(descriptor, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                             RPC_C_IMP_LEVEL_IDENTIFY,
                                             EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL) >= 0;
    }
    if (acl != nullptr) Sys().LocalFree(acl);
  }
  Sys().FreeLibrary(advapi);
  return applied;
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
