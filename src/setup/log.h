// The log: timestamped entries with a level and a category, kept in memory, written to a UTF-16
// file with size trimming and rendered as plain text or RTF. `g_log` is the one instance; every
// operation of the system reports through it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "setup/format.h"

namespace zp {

enum LogLevel : std::int32_t { LOG_MIN = 0, LOG_NRM = 1, LOG_VRB = 2, LOG_DBG = 3 };

enum LogCategory : std::int32_t {
  CAT_GENERAL = 0,
  CAT_FILE = 1,
  CAT_REGISTRY = 2,
  CAT_INI = 3,
  CAT_SYSTEM = 4,
  CAT_PACKAGE = 5,
  CAT_INTERNET = 6,
};

struct LogEntry {
  std::int64_t time = 0;  // seconds since 1970-01-01 UTC
  DWORD ticks = 0;        // milliseconds since system start
  std::int32_t category = CAT_GENERAL;
  std::int32_t level = LOG_MIN;
  std::u16string text;
};

class CLog {
 public:
  CLog() = default;
  virtual ~CLog() = default;
  CLog(const CLog&) = default;
  CLog& operator=(const CLog&) = default;

  // Formats with the Windows wide-printf conventions (32,767 characters at most) and adds it.
  template <typename... Args>
  void Print(std::int32_t level, std::int32_t category, std::u16string_view format,
             const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    PrintArgs(level, category, format, std::span<const FormatArg>(list, sizeof...(Args)));
  }
  virtual void PrintArgs(std::int32_t level, std::int32_t category, std::u16string_view format,
                         std::span<const FormatArg> args);
  // Append a rendering of the entries whose level is at most `maxLevel` and whose category is in
  // `categories` (category c is bit c % 32 of word c / 32) to `out`.
  virtual void GetRtf(std::u16string& out, std::int32_t maxLevel,
                      std::span<const std::uint32_t> categories) const;
  virtual void GetText(std::u16string& out, std::int32_t maxLevel,
                       std::span<const std::uint32_t> categories) const;

  void Add(std::u16string_view text, std::int32_t level, std::int32_t category);
  // Appends the entries up to `maxLevel` to the file in `layout` (0 or 1) and trims it; returns
  // a Win32 error code. The entries stay.
  DWORD Flush(std::u16string_view path, std::int32_t maxLevel, std::int32_t layout);

  std::vector<LogEntry> entries;
  DWORD maxFileBytes = 4194304;
  DWORD keepTailChars = 102400;
  bool showTicks = false;
  std::u16string path;
  bool periodicFlush = false;
  std::int32_t flushEvery = 0;
  std::int32_t pending = 0;
  std::int32_t maxLevel = 0;
  std::int32_t layout = 0;
  bool enabled = true;
};

extern CLog g_log;

// Adds `first` immediately followed by `second` to g_log (32,767 characters at most).
void LogJoined(std::u16string_view first, std::u16string_view second, std::int32_t level,
               std::int32_t category);

}  // namespace zp
