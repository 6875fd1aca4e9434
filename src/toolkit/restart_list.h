// The files and folders to delete at the next restart: collected during a removal run and handed
// to Windows (MoveFileEx with delay-until-reboot) when the run ends. Paths are kept in their
// short form, compared without regard to case.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/types.h"

namespace zp {

struct RestartRenameEntry {
  std::u16string target;
  std::u16string source;
};

struct RestartLists {
  std::vector<std::u16string> restartDeleteList;
  std::vector<RestartRenameEntry> restartRenameList;  // nothing in this system fills it
  // The upper-case forms of every delete entry and rename target, so that a test for a
  // duplicate costs the same however long the lists grow.
  std::unordered_set<std::u16string> index;
};

extern RestartLists g_restart;

bool IsScheduledForRestart(std::u16string_view path);
void ScheduleDeleteOnRestart(std::u16string_view path);
// Hands both lists to Windows (NT family only), leaving out the paths to keep; returns the last
// error of a MoveFileExW that failed, or 0. The lists keep their entries.
LONG CommitRestartOperations(std::initializer_list<std::u16string_view> keep = {});

}  // namespace zp
