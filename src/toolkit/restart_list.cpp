#include "toolkit/restart_list.h"

#include <algorithm>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"

namespace zp {

RestartLists g_restart;

namespace {

constexpr size_t kEntryChars = 519;  // a field of 520 characters, terminator included

std::u16string ShortForm(std::u16string_view path) {
  std::u16string shortPath = GetShortPath(path, 260);
  return shortPath.empty() ? std::u16string(path) : shortPath;
}

std::u16string Key(std::u16string_view path) { return UpperCase(path); }

void RebuildIndex() {
  g_restart.index.clear();
  for (const RestartRenameEntry& entry : g_restart.restartRenameList)
    g_restart.index.insert(Key(entry.target));
  for (const std::u16string& entry : g_restart.restartDeleteList)
    g_restart.index.insert(Key(entry));
}

}  // namespace

bool IsScheduledForRestart(std::u16string_view path) {
  return g_restart.index.count(Key(ShortForm(path))) > 0;
}

void ScheduleDeleteOnRestart(std::u16string_view path) {
  std::u16string entry = ShortForm(path).substr(0, kEntryChars);
  g_restart.restartDeleteList.push_back(entry);
  g_restart.index.insert(Key(entry));
  g_log.Print(LOG_VRB, CAT_SYSTEM, u"Delete on reboot(%s)", entry);
}

LONG CommitRestartOperations(std::initializer_list<std::u16string_view> keep) {
  auto& deletes = g_restart.restartDeleteList;
  const auto& renames = g_restart.restartRenameList;
  if (deletes.empty() && renames.empty()) return ERROR_SUCCESS;

  // A file that a rename replaces, or that the caller keeps, is not deleted.
  std::unordered_set<std::u16string> spared;
  for (const RestartRenameEntry& entry : renames) spared.insert(Key(entry.target));
  for (std::u16string_view path : keep) spared.insert(Key(path));
  deletes.erase(
      std::remove_if(deletes.begin(), deletes.end(),
                     [&](const std::u16string& entry) { return spared.count(Key(entry)); }),
      deletes.end());
  RebuildIndex();

  if (!g_setup.IsPlatform(PLAT_NT)) return ERROR_SUCCESS;
  LONG result = ERROR_SUCCESS;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
  for (const std::u16string& path : deletes) {
    g_log.Print(LOG_VRB, CAT_FILE, u"MoveFileEx(%s, NULL)", path);
    if (!Files().MoveFileExW(path.c_str(), nullptr, flags))
      result = static_cast<LONG>(Sys().GetLastError());
  }
  for (const RestartRenameEntry& entry : renames) {
    g_log.Print(LOG_VRB, CAT_FILE, u"MoveFileEx(%s, %s)", entry.source, entry.target);
    if (!Files().MoveFileExW(entry.source.c_str(), entry.target.c_str(), flags))
      result = static_cast<LONG>(Sys().GetLastError());
  }
  return result;
}

}  // namespace zp
