#include "setup/log.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/file_stream.h"

namespace zp {

CLog g_log;

namespace {

// The log file is UTF-16LE, written straight from our UTF-16 strings.
static_assert(std::endian::native == std::endian::little);

constexpr std::size_t kMaxEntryChars = 32767;

// FILETIME of 1970-01-01 UTC, and its units per second.
constexpr std::uint64_t kFileTimeOf1970 = 116444736000000000ULL;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;

// The mark of a run's start in the file: trimming keeps whole runs.
constexpr std::u16string_view kRunStart = u"Started: ";

const char16_t* LevelName(std::int32_t level) {
  static constexpr const char16_t* kNames[] = {u"min", u"nrm", u"vrb", u"dbg"};
  return level >= 0 && level < 4 ? kNames[level] : u"???";
}

struct CategoryNames {
  const char16_t* longName;
  const char16_t* shortName;
};

constexpr CategoryNames kCategories[] = {
    {u"general", u"gen"}, {u"file", u"fil"},     {u"registry", u"reg"}, {u"ini", u"ini"},
    {u"system", u"sys"},  {u"package", u"pkg"},  {u"internet", u"int"},
};
constexpr std::int32_t kCategoryCount = sizeof kCategories / sizeof kCategories[0];

const char16_t* LongCategory(std::int32_t category) {
  return category >= 0 && category < kCategoryCount ? kCategories[category].longName : u"???";
}

const char16_t* ShortCategory(std::int32_t category) {
  return category >= 0 && category < kCategoryCount ? kCategories[category].shortName : u"???";
}

// The local date and time of an entry; a time that cannot be converted reads as day 00,
// month 01, year 1900, 00:00:00.
SystemTime LocalTimeOf(std::int64_t time) {
  SystemTime fields;
  fields.year = 1900;
  fields.month = 1;
  constexpr std::uint64_t kLatest = (UINT64_MAX - kFileTimeOf1970) / kFileTimeUnitsPerSecond;
  if (time < 0 || static_cast<std::uint64_t>(time) > kLatest) return fields;
  const std::uint64_t units = static_cast<std::uint64_t>(time) * kFileTimeUnitsPerSecond +
                              kFileTimeOf1970;
  FileTime utc;
  utc.lowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
  utc.highDateTime = static_cast<DWORD>(units >> 32);
  FileTime local;
  SystemTime st;
  if (!Sys().FileTimeToLocalFileTime(&utc, &local) || !Sys().FileTimeToSystemTime(&local, &st))
    return fields;
  return st;
}

std::int64_t Now() {
  FileTime now;
  Sys().GetSystemTimeAsFileTime(&now);
  const std::int64_t units =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(now.highDateTime) << 32) |
                                now.lowDateTime);
  return (units - static_cast<std::int64_t>(kFileTimeOf1970)) /
         static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
}

bool Selected(const LogEntry& entry, std::int32_t maxLevel,
              std::span<const std::uint32_t> categories) {
  if (entry.level > maxLevel || entry.category < 0) return false;
  const std::size_t word = static_cast<std::size_t>(entry.category) / 32;
  return word < categories.size() && ((categories[word] >> (entry.category % 32)) & 1u) != 0;
}

// "dd.mm.yyyy hh:mm:ss category: ", the head of a rendered line.
std::u16string RenderedHead(const LogEntry& entry) {
  const SystemTime t = LocalTimeOf(entry.time);
  return Format(u"%02d.%02d.%4d %02d:%02d:%02d %s: ", t.day, t.month, t.year, t.hour, t.minute,
                t.second, LongCategory(entry.category));
}

const char16_t* RtfColour(std::int32_t level) {
  switch (level) {
    case LOG_NRM: return u"\\cf2";  // dark blue
    case LOG_VRB: return u"\\cf3";  // green
    case LOG_DBG: return u"\\cf4";  // dark red
    default: return u"\\cf1";       // black
  }
}

// One entry as a line of the file, without its terminator; empty for an unknown layout.
std::u16string FileLine(const LogEntry& entry, std::int32_t layout, bool showTicks) {
  const SystemTime t = LocalTimeOf(entry.time);
  std::u16string line;
  if (layout == 0) {
    line = Format(u"%02d:%02d:%02d %s/%s  ", t.hour, t.minute, t.second, LevelName(entry.level),
                  ShortCategory(entry.category));
    if (showTicks) line += Format(u"(%d) ", entry.ticks);
  } else if (layout == 1) {
    line = Format(u"%02d.%02d.%4d\t%02d:%02d:%02d.000\t%I64d\t%s\t", t.day, t.month, t.year,
                  t.hour, t.minute, t.second, entry.time, LongCategory(entry.category));
  } else {
    return line;
  }
  line += entry.text;
  return line;
}

bool WriteText(CUFile& file, std::u16string_view text) {
  return file.Write(text.data(), static_cast<DWORD>(text.size() * sizeof(char16_t)), nullptr);
}

// Cuts the file down to its first run and the runs that start within its last `keepTailChars`
// characters, once it has grown past `maxFileBytes`.
DWORD TrimLogFile(std::u16string_view path, std::int32_t size, std::int32_t layout,
                  DWORD keepTailChars) {
  const std::size_t prefix = layout == 1 ? 42 : 18;
  const std::size_t chars = static_cast<std::size_t>(size) / 2;
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[chars + 1]());
  if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
  {
    CUFile file;
    if (!file.OpenRead(path)) return file.lastError;
    if (!file.Read(buffer.get(), static_cast<DWORD>(size), nullptr)) return file.lastError;
  }
  const std::u16string_view text(buffer.get(), chars);

  // The start of the second run: the first run begins the file, so the search skips its line.
  std::size_t first = text.find(kRunStart, prefix + 20);
  // The first run start in the tail; never before the second run's search starts.
  const std::size_t tail = chars > keepTailChars ? chars - keepTailChars : 0;
  std::size_t second = text.find(kRunStart, std::max(tail + prefix, prefix + 20));
  if (first == std::u16string_view::npos || second == std::u16string_view::npos) return 0;
  // Back to the start of the run's line. A layout-1 head is not of one width (its time and
  // category fields vary), so that line is found by its line feed.
  auto lineStart = [&](std::size_t at) {
    if (layout != 1) return at - prefix;
    std::size_t feed = text.rfind(u'\n', at);
    return feed == std::u16string_view::npos ? std::size_t{1} : feed + 1;
  };
  first = lineStart(first);
  second = lineStart(second);

  CUFile file;
  if (!file.Create(path)) return file.lastError;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(buffer.get());
  if (!file.Write(bytes, static_cast<DWORD>(first * 2), nullptr) ||
      !file.Write(bytes + second * 2, static_cast<DWORD>(size - second * 2), nullptr))
    return file.lastError;
  return 0;
}

}  // namespace

void CLog::PrintArgs(std::int32_t level, std::int32_t category, std::u16string_view format,
                     std::span<const FormatArg> args) {
  Add(FormatArgs(format, args, kMaxEntryChars), level, category);
}

void CLog::GetRtf(std::u16string& out, std::int32_t maxLevel,
                  std::span<const std::uint32_t> categories) const {
  out += u"{\\rtf1\\ansi{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}";
  out += u"{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green0\\blue128;\\red0\\green128\\blue0;"
         u"\\red128\\green0\\blue0;}";
  out += u"\\viewkind4\\f0\\fs20";
  for (const LogEntry& entry : entries) {
    if (!Selected(entry, maxLevel, categories)) continue;
    out += u"\\cf1 ";
    out += RenderedHead(entry);
    out += u"\\b";
    out += RtfColour(entry.level);
    out += u' ';
    // Only the backslash is escaped: the entries hold paths, not braces.
    for (char16_t c : entry.text) {
      out += c;
      if (c == u'\\') out += c;
    }
    out += u"\\b0\\par";
  }
}

void CLog::GetText(std::u16string& out, std::int32_t maxLevel,
                   std::span<const std::uint32_t> categories) const {
  for (const LogEntry& entry : entries) {
    if (!Selected(entry, maxLevel, categories)) continue;
    out += RenderedHead(entry);
    out += u' ';
    out += entry.text;
    out += u"\r\n";
  }
}

void CLog::Add(std::u16string_view text, std::int32_t level, std::int32_t category) {
  if (!enabled) return;
  LogEntry entry;
  entry.time = Now();
  entry.ticks = Sys().GetTickCount();
  entry.category = category;
  entry.level = level;
  entry.text = text;
  entries.push_back(std::move(entry));
  if (!periodicFlush) return;
  if (++pending > flushEvery) {
    pending = 0;
    // A failed flush loses the buffered entries; recording goes on.
    Flush(path, maxLevel, layout);
    entries.clear();
  }
}

DWORD CLog::Flush(std::u16string_view path, std::int32_t maxLevel, std::int32_t layout) {
  std::int32_t size = 0;
  {
    CUFile file;
    if (!file.OpenReadWrite(path)) return file.lastError;
    if (file.Seek(0, 2) == 0) {
      static constexpr BYTE kByteOrderMark[] = {0xFF, 0xFE};
      file.Write(kByteOrderMark, sizeof kByteOrderMark, nullptr);
    }
    // A failing write costs its line, not the flush.
    for (const LogEntry& entry : entries) {
      if (entry.level > maxLevel) continue;
      if (layout != 0 && layout != 1) continue;
      WriteText(file, FileLine(entry, layout, showTicks));
      WriteText(file, u"\r");
      WriteText(file, u"\n");
    }
    // The flush at the end of a run leaves a blank line after it.
    if (!periodicFlush) WriteText(file, u"\r\n\r\n");
    size = file.GetSize();
  }  // commits and closes
  if (maxFileBytes == 0 || size < 0 || static_cast<DWORD>(size) <= maxFileBytes) return 0;
  return TrimLogFile(path, size, layout, keepTailChars);
}

void LogJoined(std::u16string_view first, std::u16string_view second, std::int32_t level,
               std::int32_t category) {
  std::u16string text(first.substr(0, kMaxEntryChars));
  text.append(second.substr(0, kMaxEntryChars - text.size()));
  g_log.Add(text, level, category);
}

}  // namespace zp
