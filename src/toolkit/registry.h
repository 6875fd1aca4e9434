// The registry operations the removal steps are built from. Each opens and closes its own keys,
// logs its outcome through g_log (category registry) and returns a Win32 error code or a bool.
// Deleting what is already gone is not an error and logs nothing.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

LONG CreateRegKey(HKEY root, std::u16string_view subKey);
// True when HKLM\subKey opens and, if a value name is given, has that value.
bool HklmEntryExists(std::u16string_view subKey, const char16_t* valueName);
// Creates the key (with its parents) and sets a REG_SZ value.
LONG SetRegString(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                  std::u16string_view text);
LONG SetHklmDword(std::u16string_view subKey, std::u16string_view valueName, DWORD value);
// ERROR_INVALID_DATA when the value is not 4 bytes; the output is then unchanged.
LONG GetHklmDword(std::u16string_view subKey, std::u16string_view valueName, DWORD* value);
// Reads a value into `buffer` (zero-filled first, `bufferBytes` bytes); ERROR_MORE_DATA when it
// does not fit.
LONG GetRegString(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                  char16_t* buffer, DWORD bufferBytes, bool logIt);

// The text of a value read as GetRegString reads it into a buffer of `chars` characters, without
// a log line; empty when it is missing or does not fit.
std::u16string GetRegText(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                          size_t chars);

// Delete root\subKey with every sub-key it can, bottom-up; a symbolic link is deleted as the
// link, never followed. False when subKey is empty or the key does not open; true otherwise,
// also when the key itself could not be deleted (that is logged).
bool DeleteRegTree(HKEY root, std::u16string_view subKey);
bool DeleteRegTree64(HKEY root, std::u16string_view subKey);  // the 64-bit view
bool DeleteRegTree32(HKEY root, std::u16string_view subKey);  // the 32-bit view
// True only when the value was deleted.
bool DeleteRegValue(HKEY root, std::u16string_view subKey, std::u16string_view valueName);

}  // namespace zp
