// The products' mail scanner plugged into mail clients: the Outlook add-in and client extension
// registrations, Outlook's extension cache, The Bat!'s virus-checker and plugin entries; and the
// INI list helpers The Bat!'s numbered lists are kept contiguous with.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace zp {

// The Outlook add-in and client extension keys of HKLM, each in the 32-bit and the 64-bit view.
void RemoveOutlookAddins();
// Outlook's extension cache of the current user (EXTEND.DAT), deleted now or at the restart;
// the deletion's code.
LONG DeleteOutlookExtendDat();

// The Bat!'s working folder of the current user into `folder` (`size` characters, terminated):
// "Working Directory" of its key, environment variables expanded and cached in the product's
// setup.ini; the cached folder when The Bat! is not registered for this user. 87 for a null
// buffer or size; 13 for a value shorter than 3 bytes; else the registry's code. Logs nothing.
LONG FindTheBatFolder(char16_t* folder, DWORD size);
// The products' checker and plugin entries out of The Bat!'s lists, the lists renumbered, the
// checker file deleted. FindTheBatFolder's code when it fails, else the last CompactIniList's.
LONG RemoveTheBatPlugin();

// INI files handled as text, line by line in the run-time library's text mode, through the
// temporary copy "temp.ini" of the same folder. `folder` ends with "\" (or is empty); the paths
// are folder + name. A line is handled whole, however long.
//
// Copies folder + iniName without the lines that contain `text` (any case) and puts the copy in
// its place. 2 when a file cannot be opened; when a read or write fails or the file cannot be
// replaced, the file stays as it was and the copy is deleted (the replacement's error).
LONG CopyFileWithoutLines(std::u16string_view folder, std::u16string_view iniName,
                          std::u16string_view text);
// As CopyFileWithoutLines, in any section; the file is rewritten only when a line was dropped,
// and then the section's "Count" goes down by the lines dropped (when it holds as many).
LONG RemoveIniLinesContaining(std::u16string_view text, std::u16string_view folder,
                              std::u16string_view iniName, std::u16string_view section);
// Moves the list entry `value` from number oldIndex to newIndex: the old key's line (the key
// name before "=", any case) is dropped, the value written under the new key.
LONG MoveIniListEntry(std::u16string_view value, std::u16string_view folder,
                      std::u16string_view iniName, std::u16string_view section, int oldIndex,
                      int newIndex, std::u16string_view keyFormat);
// Renumbers the section's list (keys `keyFormat` with "%d", 1 to 999, "Count" entries) to
// 1..Count in the old order, closing the gaps. 0 or the first failed move's code.
LONG CompactIniList(std::u16string_view folder, std::u16string_view iniName,
                    std::u16string_view section, std::u16string_view keyFormat);

}  // namespace zp
