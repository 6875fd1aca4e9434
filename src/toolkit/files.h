// The file operations the removal steps are built from: files deleted now or at the next
// restart, folder trees, shortcuts and Start-menu folders, driver files behind the 64-bit
// redirection, lines in text configuration files. Each logs its outcome through g_log.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// True when the file or folder is there, or is there but may not be examined (access denied).
bool PathPresent(std::u16string_view path);
// Deletes the file now or, with allowRestart, at the next restart; restartOnly schedules it
// without trying. 0 deleted or scheduled, 2 absent, otherwise the DeleteFileW error.
LONG filRenameOnReboot(std::u16string_view path, bool allowRestart, bool restartOnly);
// As filRenameOnReboot, but a file that SharedDLLs still counts stays; 0 also when absent.
LONG DeleteSharedFile(std::u16string_view path, bool allowRestart, bool restartOnly);
// Deletes every folder matching `folder` (its last part may hold wildcards) with the entries
// matching `pattern`, below it with `recurse`. A reparse point (junction, directory link) is
// removed as the link, never entered. Returns the last failure that counts, 0 if none.
LONG DeleteTree(std::u16string_view folder, std::u16string_view pattern, bool recurse,
                bool allowRestart, bool restartOnly);
// Deletes a file of the native system folder (redirection off); a file in use is scheduled for
// the next restart on its native path. The DeleteFileW result.
bool DeleteFileNative(std::u16string_view path);
LONG DecrementSharedDllCount(std::u16string_view path);
// The short (8.3) form of a path, as the restart-time lists keep it, at most size - 1 characters.
std::u16string GetShortPath(std::u16string_view path, size_t size);
bool GetSpecialFolder(std::u16string* folder, int csidl);
LONG GetDesktopFolder(std::u16string* folder);
LONG GetProgramsFolder(std::u16string* folder);
bool DeleteDesktopFile(std::u16string_view name);
LONG DeleteProgramsFolder(std::u16string_view name);
// Removes every line of a text file (up to 32,767 bytes) that contains `text` in any case.
LONG RemoveLinesContaining(std::u16string_view text, std::u16string_view file);
HANDLE FindFirstIn(std::u16string_view folder, FindData* data, std::u16string_view pattern);

}  // namespace zp
