#include "toolkit/user_hives.h"

#include "platform/owners.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

// Profile keys and user roots: what the deletion needs, no more.
constexpr REGSAM kUserRootAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F
constexpr DWORD kPathChars = 260;

void Verbose(std::u16string_view format, auto... args) {
  g_log.Print(LOG_VRB, CAT_REGISTRY, format, args...);
}

std::u16string ProfileListPath() {
  return g_setup.IsPlatform(PLAT_NT) ? u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
                                     : u"Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
}

HKEY OpenUsersKey(std::u16string_view name) {
  HKEY key = nullptr;
  std::u16string path(name);
  return Reg().RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, kUserRootAccess, &key) == ERROR_SUCCESS
             ? key
             : nullptr;
}

// The hive file of a profile folder as RegLoadKeyW wants it: NtUser.dat (User.dat on the 9x
// family, which also wants the short form of the path). Empty when the folder cannot be read.
std::u16string HivePath(HKEY profile) {
  char16_t folder[kPathChars + 1] = {};  // 520 bytes and a terminator the value may lack
  DWORD type = REG_EXPAND_SZ;
  DWORD size = kPathChars * sizeof(char16_t);
  if (Reg().RegQueryValueExW(profile, u"ProfileImagePath", &type,
                             reinterpret_cast<BYTE*>(folder), &size) != ERROR_SUCCESS)
    return {};
  char16_t expanded[kPathChars] = {};
  DWORD chars = Sys().ExpandEnvironmentStringsW(folder, expanded, kPathChars);
  if (chars == 0 || chars > kPathChars) return {};  // failed, or cut short
  std::u16string path = expanded;
  bool nt = g_setup.IsPlatform(PLAT_NT);
  // A path whose attributes cannot be read counts as a folder: its hive then fails to load with
  // the reason in the log.
  if (Files().GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
    path += nt ? u"\\NtUser.dat" : u"\\User.dat";
  if (!nt) {
    char16_t shortPath[kPathChars] = {};
    DWORD length = Files().GetShortPathNameW(path.c_str(), shortPath, kPathChars);
    if (length != 0 && length < kPathChars) path = shortPath;
  }
  return path;
}

// Deletes `subKey` below a user root from OpenUserRoot and unmounts what it mounted.
void DeleteBelowUserRoot(HKEY root, const std::u16string& mountName, std::u16string_view subKey) {
  if (root == nullptr) return;
  DeleteRegTree(root, subKey);
  Reg().RegCloseKey(root);
  if (mountName.empty()) return;
  LONG unloaded = Reg().RegUnLoadKeyW(HKEY_USERS, mountName.c_str());
  Verbose(u"RegUnloadKey");
  // A hive left mounted stays so until Windows restarts: that is worth a line of its own.
  if (unloaded != ERROR_SUCCESS)
    g_log.Print(LOG_MIN, CAT_REGISTRY, u"Cannot unload registry hive %s, err=%d.",
                mountName.c_str(), static_cast<int>(unloaded));
}

}  // namespace

HKEY OpenUserRoot(const char16_t* profileName, HKEY profileListKey, bool useDefault,
                  std::u16string* mountName) {
  if (profileName == nullptr) return useDefault ? OpenUsersKey(u".DEFAULT") : HKEY_CURRENT_USER;

  UniqueRegKey profile;
  if (Reg().RegOpenKeyExW(profileListKey, profileName, 0, KEY_READ, profile.put()) !=
      ERROR_SUCCESS) {
    LogJoined(u"Cannot open registry profile:", profileName, LOG_VRB, CAT_REGISTRY);
    return nullptr;
  }
  std::u16string hive = HivePath(profile.get());
  if (hive.empty()) return nullptr;

  std::u16string mount = (u"Qv_" + std::u16string(profileName)).substr(0, kPathChars - 1);
  LONG loaded = Reg().RegLoadKeyW(HKEY_USERS, mount.c_str(), hive.c_str());
  Verbose(u"RegLoadKey(HKEY_USERS, %s, %s)", mount.c_str(), hive.c_str());
  *mountName = mount;
  if (loaded == ERROR_SUCCESS) return OpenUsersKey(mount);
  if (loaded == ERROR_SHARING_VIOLATION) {
    // Windows holds the hive of a logged-on user, under the user's SID: use it there and never
    // unmount it.
    Verbose(u"Load registry hive ERROR_SHARING_VIOLATION");
    mountName->clear();
    return OpenUsersKey(profileName);
  }
  Verbose(u"Cannot load registry hive %s, err=%d.", hive.c_str(), static_cast<int>(loaded));
  return nullptr;
}

LONG DeleteRegTreeAllUsers(std::u16string_view subKey) {
  std::u16string listPath = ProfileListPath();
  // The process's cached handle to the current user's hive would keep it busy during the walk.
  Reg().RegCloseKey(HKEY_CURRENT_USER);

  UniqueRegKey list;
  bool opened = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, listPath.c_str(), 0, kUserRootAccess,
                                    list.put()) == ERROR_SUCCESS;
  DWORD profiles = 0;
  if (opened) {
    char16_t name[kPathChars];
    for (DWORD index = 0; Reg().RegEnumKeyW(list.get(), index, name, kPathChars) == ERROR_SUCCESS;
         ++index, ++profiles) {
      std::u16string mount;
      HKEY root = OpenUserRoot(name, list.get(), false, &mount);
      DeleteBelowUserRoot(root, mount, subKey);
    }
  }
  std::u16string mount;
  if (profiles == 0) {
    // No profile list (or an empty one): the user who runs the removal at least.
    DeleteBelowUserRoot(OpenUserRoot(nullptr, list.get(), false, &mount), mount, subKey);
  }
  DeleteBelowUserRoot(OpenUserRoot(nullptr, nullptr, true, &mount), mount, subKey);

  list.reset();
  Reg().RegCloseKey(HKEY_CURRENT_USER);
  return ERROR_SUCCESS;
}

}  // namespace zp
