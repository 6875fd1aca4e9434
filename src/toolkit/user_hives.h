// The registry of every user profile: settings the products left in HKEY_CURRENT_USER of users
// who are not logged on live in the hive files of their profile folders.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// Deletes `subKey` (a path below a user's registry root) from every profile's registry, then
// from HKEY_USERS\.DEFAULT. A hive that Windows has not loaded is mounted under HKEY_USERS for
// the deletion and unmounted again, one at a time. Always 0.
LONG DeleteRegTreeAllUsers(std::u16string_view subKey);

// The registry root of the profile `profileName` of the profile list `profileListKey`, mounting
// its hive file when Windows has not loaded it: `mountName` then names the mount, to be
// unmounted by the caller (it stays empty when nothing was mounted). A null profile name gives
// HKEY_CURRENT_USER, or HKEY_USERS\.DEFAULT with `useDefault`. Null when it cannot be opened.
HKEY OpenUserRoot(const char16_t* profileName, HKEY profileListKey, bool useDefault,
                  std::u16string* mountName);

}  // namespace zp
