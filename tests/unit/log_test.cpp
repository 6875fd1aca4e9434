// The log: its entries, the two renderings, the file with its trimming and periodic flush.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/sim/machine.h"
#include "setup/log.h"

namespace zp {
namespace {

constexpr std::int64_t k20120307_140509 = 1331129109;  // 2012-03-07 14:05:09 UTC
constexpr const char16_t* kLogPath = u"C:\\logs\\zorPurge.log";
constexpr std::uint32_t kAllCategories[] = {0xFFFFFFFFu};

// The bytes of a UTF-16LE text, as the file holds them.
std::string Bytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

const std::string kBom = "\xFF\xFE";

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.SetClock(k20120307_140509);
    machine.SetTickCount(5000);
    machine.AddFolder(u"C:\\logs");
    machine.Install();
    g_log = CLog();
  }
  void TearDown() override { g_log = CLog(); }

  std::string LogFile() { return machine.FileContent(kLogPath).value_or("<missing>"); }

  sim::Machine machine;
};

TEST_F(Log, AddRecordsTimeTicksAndACopy) {
  std::u16string text = u"Started: zorPurge";
  g_log.Add(text, LOG_NRM, CAT_SYSTEM);
  text = u"changed";
  ASSERT_EQ(g_log.entries.size(), 1u);
  const LogEntry& entry = g_log.entries[0];
  EXPECT_EQ(entry.time, k20120307_140509);
  EXPECT_EQ(entry.ticks, 5000u);
  EXPECT_EQ(entry.level, LOG_NRM);
  EXPECT_EQ(entry.category, CAT_SYSTEM);
  EXPECT_EQ(entry.text, u"Started: zorPurge");
}

TEST_F(Log, PrintAndLogJoinedCutAt32767) {
  g_log.Print(LOG_MIN, CAT_FILE, u"DeleteFile(%s) = %ld, 0x%08X", u"C:\\a.dll", 5L, 0x80070005u);
  const std::u16string long40k(40000, u'x');
  g_log.Print(LOG_MIN, CAT_FILE, u"%s", long40k);
  LogJoined(u"Executing:", u"C:\\x.exe /s", LOG_NRM, CAT_PACKAGE);
  LogJoined(long40k, u"tail", LOG_NRM, CAT_PACKAGE);
  LogJoined(u"head", long40k, LOG_NRM, CAT_PACKAGE);
  ASSERT_EQ(g_log.entries.size(), 5u);
  EXPECT_EQ(g_log.entries[0].text, u"DeleteFile(C:\\a.dll) = 5, 0x80070005");
  EXPECT_EQ(g_log.entries[1].text, std::u16string(32767, u'x'));
  EXPECT_EQ(g_log.entries[2].text, u"Executing:C:\\x.exe /s");
  EXPECT_EQ(g_log.entries[2].category, CAT_PACKAGE);
  EXPECT_EQ(g_log.entries[3].text, std::u16string(32767, u'x'));
  EXPECT_EQ(g_log.entries[4].text, u"head" + std::u16string(32763, u'x'));
}

TEST_F(Log, DisabledRecordsAndFlushesNothing) {
  g_log.enabled = false;
  g_log.periodicFlush = true;
  g_log.path = kLogPath;
  g_log.Add(u"lost", LOG_MIN, CAT_GENERAL);
  g_log.Print(LOG_MIN, CAT_GENERAL, u"%d", 1);
  LogJoined(u"a", u"b", LOG_MIN, CAT_GENERAL);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_EQ(g_log.pending, 0);
  EXPECT_FALSE(machine.Exists(kLogPath));
}

// Entries of every kind the renderers tell apart, at local time 15:35:09 (UTC + 1:30).
class LogRendering : public Log {
 protected:
  void SetUp() override {
    Log::SetUp();
    machine.SetClock(k20120307_140509, 90);
    g_log.Add(u"min entry", LOG_MIN, CAT_GENERAL);
    g_log.Add(u"C:\\Program Files\\Ostrel", LOG_NRM, CAT_FILE);
    g_log.Add(u"HKLM\\Software {x}", LOG_VRB, CAT_REGISTRY);
    g_log.Add(u"debug", LOG_DBG, CAT_INTERNET);
    g_log.Add(u"odd level", 4, CAT_INI);
    g_log.Add(u"odd category", LOG_MIN, 7);
  }
};

TEST_F(LogRendering, PlainText) {
  std::u16string out = u"kept|";
  g_log.GetText(out, 4, kAllCategories);
  EXPECT_EQ(Narrow(out),
            "kept|"
            "07.03.2012 15:35:09 general:  min entry\r\n"
            "07.03.2012 15:35:09 file:  C:\\Program Files\\Ostrel\r\n"
            "07.03.2012 15:35:09 registry:  HKLM\\Software {x}\r\n"
            "07.03.2012 15:35:09 internet:  debug\r\n"
            "07.03.2012 15:35:09 ini:  odd level\r\n"
            "07.03.2012 15:35:09 ???:  odd category\r\n");
}

TEST_F(LogRendering, RtfColoursByLevelAndDoublesBackslashes) {
  const std::string header =
      "{\\rtf1\\ansi{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}"
      "{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green0\\blue128;\\red0\\green128\\blue0;"
      "\\red128\\green0\\blue0;}"
      "\\viewkind4\\f0\\fs20";
  std::u16string out;
  g_log.GetRtf(out, 4, kAllCategories);
  EXPECT_EQ(Narrow(out),
            header +
                "\\cf1 07.03.2012 15:35:09 general: \\b\\cf1 min entry\\b0\\par"
                "\\cf1 07.03.2012 15:35:09 file: \\b\\cf2 C:\\\\Program Files\\\\Ostrel\\b0\\par"
                "\\cf1 07.03.2012 15:35:09 registry: \\b\\cf3 HKLM\\\\Software {x}\\b0\\par"
                "\\cf1 07.03.2012 15:35:09 internet: \\b\\cf4 debug\\b0\\par"
                "\\cf1 07.03.2012 15:35:09 ini: \\b\\cf1 odd level\\b0\\par"
                "\\cf1 07.03.2012 15:35:09 ???: \\b\\cf1 odd category\\b0\\par");

  // Nothing selected: the header alone, appended to what is there; plain text adds nothing.
  const std::uint32_t none[] = {0};
  out = u"kept|";
  g_log.GetRtf(out, 4, none);
  EXPECT_EQ(Narrow(out), "kept|" + header);
  out = u"kept|";
  g_log.GetText(out, 4, none);
  g_log.GetText(out, 4, {});
  EXPECT_EQ(out, u"kept|");
}

TEST_F(LogRendering, SelectsByLevelAndCategoryBits) {
  struct Case {
    std::int32_t maxLevel;
    std::vector<std::uint32_t> categories;
    const char* texts;  // the selected entries' texts, '|' after each
  };
  const Case cases[] = {
      {0, {0xFFFFFFFFu}, "min entry|odd category|"},
      {2, {0xFFFFFFFFu}, "min entry|C:\\Program Files\\Ostrel|HKLM\\Software {x}|odd category|"},
      {-1, {0xFFFFFFFFu}, ""},
      {4, {(1u << CAT_FILE) | (1u << CAT_INTERNET)}, "C:\\Program Files\\Ostrel|debug|"},
      {4, {1u << 7}, "odd category|"},
      {4, {0, 0xFFFFFFFFu}, ""},  // the second word holds categories 32 to 63
  };
  for (const Case& c : cases) {
    std::u16string out;
    g_log.GetText(out, c.maxLevel, c.categories);
    std::string texts;
    for (std::size_t at = 0; (at = out.find(u":  ", at)) != std::u16string::npos;) {
      std::size_t end = out.find(u"\r\n", at);
      texts += Narrow(out.substr(at + 3, end - at - 3)) + "|";
      at = end;
    }
    EXPECT_EQ(texts, c.texts) << "maxLevel " << c.maxLevel;
  }
  // Category 33 is bit 1 of the second word.
  g_log.Add(u"far category", LOG_MIN, 33);
  const std::uint32_t second[] = {0, 1u << 1};
  std::u16string out;
  g_log.GetText(out, 0, second);
  EXPECT_EQ(Narrow(out), "07.03.2012 15:35:09 ???:  far category\r\n");
}

TEST_F(Log, TimesWithoutALocalDateRenderAsZeroFields) {
  const std::int64_t times[] = {-1, 1000000000000LL,  // refused by FileTimeToSystemTime
                                std::numeric_limits<std::int64_t>::max()};
  for (std::int64_t time : times) {
    g_log = CLog();
    g_log.entries.push_back(LogEntry{time, 0, CAT_FILE, LOG_MIN, u"t"});
    std::u16string out;
    g_log.GetText(out, 0, kAllCategories);
    EXPECT_EQ(Narrow(out), "00.01.1900 00:00:00 file:  t\r\n") << time;
    ASSERT_EQ(g_log.Flush(kLogPath, 0, 0), 0u);
  }
  EXPECT_EQ(LogFile(), kBom + Bytes(u"00:00:00 min/fil  t\r\n\r\n\r\n"
                                    u"00:00:00 min/fil  t\r\n\r\n\r\n"
                                    u"00:00:00 min/fil  t\r\n\r\n\r\n"));
}

TEST_F(Log, FlushLayoutZeroByteForByte) {
  machine.SetTickCount(4294967295u);  // prints as a signed number
  g_log.Add(u"Started: zorPurge", LOG_MIN, CAT_GENERAL);
  machine.SetTickCount(123456);
  g_log.Add(u"C:\\a\\b.dll", LOG_NRM, CAT_FILE);
  g_log.Add(u"skipped", LOG_VRB, CAT_REGISTRY);
  g_log.Add(u"odd", 4, 7);

  ASSERT_EQ(g_log.Flush(kLogPath, LOG_NRM, 0), 0u);
  EXPECT_EQ(LogFile(), kBom + Bytes(u"14:05:09 min/gen  Started: zorPurge\r\n"
                                    u"14:05:09 nrm/fil  C:\\a\\b.dll\r\n"
                                    u"\r\n\r\n"));
  EXPECT_EQ(g_log.entries.size(), 4u) << "a flush keeps the entries";

  // A second flush appends without a second byte-order mark.
  g_log.showTicks = true;
  ASSERT_EQ(g_log.Flush(kLogPath, 4, 0), 0u);
  EXPECT_EQ(LogFile(), kBom + Bytes(u"14:05:09 min/gen  Started: zorPurge\r\n"
                                    u"14:05:09 nrm/fil  C:\\a\\b.dll\r\n"
                                    u"\r\n\r\n"
                                    u"14:05:09 min/gen  (-1) Started: zorPurge\r\n"
                                    u"14:05:09 nrm/fil  (123456) C:\\a\\b.dll\r\n"
                                    u"14:05:09 vrb/reg  (123456) skipped\r\n"
                                    u"14:05:09 \?\?\?/\?\?\?  (123456) odd\r\n"
                                    u"\r\n\r\n"));
}

TEST_F(Log, FlushLayoutOneAndUnknownLayouts) {
  machine.SetClock(k20120307_140509, -60);
  g_log.Add(u"Started: x", LOG_MIN, CAT_REGISTRY);
  g_log.Add(u"above the level", LOG_NRM, CAT_REGISTRY);
  ASSERT_EQ(g_log.Flush(kLogPath, LOG_MIN, 1), 0u);
  EXPECT_EQ(LogFile(),
            kBom + Bytes(u"07.03.2012\t13:05:09.000\t1331129109\tregistry\tStarted: x\r\n"
                         u"\r\n\r\n"));
  ASSERT_EQ(g_log.Flush(u"C:\\logs\\other.log", LOG_DBG, 2), 0u);
  EXPECT_EQ(machine.FileContent(u"C:\\logs\\other.log"), kBom + Bytes(u"\r\n\r\n"));
}

TEST_F(Log, FlushIntoAnExistingFileAddsNoByteOrderMark) {
  machine.AddFile(kLogPath, Bytes(u"\xFEFFold\r\n"));
  g_log.Add(u"new", LOG_MIN, CAT_INI);
  ASSERT_EQ(g_log.Flush(kLogPath, 0, 0), 0u);
  EXPECT_EQ(LogFile(), Bytes(u"\xFEFFold\r\n14:05:09 min/ini  new\r\n\r\n\r\n"));
}

TEST_F(Log, FlushReportsTheOpenError) {
  EXPECT_EQ(g_log.Flush(u"C:\\no such folder\\zorPurge.log", 0, 0), 2u);
  machine.FailCall("_wopen", CRT_EACCES, u"zorPurge.log");
  EXPECT_EQ(g_log.Flush(kLogPath, 0, 0), 5u);
  EXPECT_FALSE(machine.Exists(kLogPath));
}

// Three runs flushed one after the other, each begun by a "Started: " entry. The third starts
// at another hour, so a cut that misses the start of its line shows.
class LogTrimming : public Log {
 protected:
  static std::u16string Line(std::u16string_view text, std::u16string_view time = u"14:05:09") {
    return std::u16string(time) + u" min/gen  " + std::u16string(text) + u"\r\n";
  }
  // Adds and flushes one run, as the end of a run does.
  void Run(std::initializer_list<std::u16string_view> texts, std::int64_t time = k20120307_140509) {
    machine.SetClock(time);
    g_log.entries.clear();
    for (std::u16string_view text : texts) g_log.Add(text, LOG_MIN, CAT_GENERAL);
    ASSERT_EQ(g_log.Flush(kLogPath, 0, 0), 0u);
  }

  static constexpr std::int64_t kSixHoursLater = k20120307_140509 + 6 * 3600;
  const std::u16string run1 = Line(u"Started: run 1") + Line(u"first body") + u"\r\n\r\n";
  const std::u16string run2 =
      Line(u"Started: run 2") + Line(std::u16string(60, u'b')) + u"\r\n\r\n";
  const std::u16string run3 =
      Line(u"Started: run 3", u"20:05:09") + Line(u"last body", u"20:05:09") + u"\r\n\r\n";
};

TEST_F(LogTrimming, KeepsTheFirstRunAndTheRunsInTheTail) {
  g_log.maxFileBytes = 0;
  Run({u"Started: run 1", u"first body"});
  Run({u"Started: run 2", std::u16string(60, u'b')});
  // The tail to search reaches 30 characters into the second run's end: the run kept from the
  // tail is the third.
  g_log.keepTailChars = static_cast<DWORD>(run3.size() + 30);
  g_log.maxFileBytes = 2 * g_log.keepTailChars + 2;
  ASSERT_GT((1 + run1.size() + run2.size() + run3.size()) * 2, g_log.maxFileBytes);
  Run({u"Started: run 3", u"last body"}, kSixHoursLater);
  EXPECT_EQ(LogFile(), kBom + Bytes(run1 + run3));

  // The trimmed file still holds two runs: the next flush that exceeds the limit trims again.
  g_log.keepTailChars = static_cast<DWORD>(run3.size() + 4);
  g_log.maxFileBytes = 2 * g_log.keepTailChars + 2;
  Run({u"Started: run 3", u"last body"}, kSixHoursLater);
  EXPECT_EQ(LogFile(), kBom + Bytes(run1 + run3));
}

TEST_F(LogTrimming, TailReachingBackToTheSecondRunKeepsEverything) {
  g_log.maxFileBytes = 0;
  Run({u"Started: run 1", u"first body"});
  g_log.keepTailChars = static_cast<DWORD>(run2.size() + 5);
  g_log.maxFileBytes = 2 * g_log.keepTailChars + 2;
  ASSERT_GT((1 + run1.size() + run2.size()) * 2, g_log.maxFileBytes);
  Run({u"Started: run 2", std::u16string(60, u'b')});
  EXPECT_EQ(LogFile(), kBom + Bytes(run1 + run2));
}

TEST_F(LogTrimming, ASingleRunIsNeverTrimmed) {
  g_log.keepTailChars = 10;
  g_log.maxFileBytes = 22;
  std::u16string expected;
  g_log.entries.clear();
  for (std::u16string_view text : {u"Started: only", u"one", u"two", u"Started:no space"}) {
    g_log.Add(text, LOG_MIN, CAT_GENERAL);
    expected += Line(text);
  }
  ASSERT_EQ(g_log.Flush(kLogPath, 0, 0), 0u);
  EXPECT_EQ(LogFile(), kBom + Bytes(expected + u"\r\n\r\n"));
}

TEST_F(LogTrimming, LayoutOneUsesItsWiderPrefix) {
  // Trimming steps back 42 characters from a run's "Started: " in this layout. The prefix of a
  // "general" line is 43 wide, so both cuts land one character into their lines; as both lines
  // begin with the same digit the file still loses exactly the second run.
  auto line1 = [](std::u16string_view time, std::u16string_view text) {
    return u"07.03.2012\t" + std::u16string(time) + u"\tgeneral\t" + std::u16string(text) +
           u"\r\n";
  };
  g_log.maxFileBytes = 0;
  for (std::u16string_view run : {u"Started: 1", u"Started: 2"}) {
    g_log.entries.clear();
    g_log.Add(run, LOG_MIN, CAT_GENERAL);
    ASSERT_EQ(g_log.Flush(kLogPath, 0, 1), 0u);
  }
  const std::u16string last = line1(u"20:05:09.000\t1331150709", u"Started: 3") + u"\r\n\r\n";
  g_log.keepTailChars = static_cast<DWORD>(last.size() + 10);
  g_log.maxFileBytes = 2 * g_log.keepTailChars + 2;
  machine.SetClock(kSixHoursLater);
  g_log.entries.clear();
  g_log.Add(u"Started: 3", LOG_MIN, CAT_GENERAL);
  ASSERT_EQ(g_log.Flush(kLogPath, 0, 1), 0u);
  EXPECT_EQ(LogFile(),
            kBom + Bytes(line1(u"14:05:09.000\t1331129109", u"Started: 1") +
                         u"\r\n\r\n" + last));
}

TEST_F(Log, PeriodicFlushWritesEveryFlushEveryPlusOneEntries) {
  g_log.periodicFlush = true;
  g_log.flushEvery = 2;
  g_log.path = kLogPath;
  g_log.maxLevel = LOG_NRM;
  g_log.Add(u"one", LOG_MIN, CAT_GENERAL);
  g_log.Add(u"two", LOG_VRB, CAT_GENERAL);
  EXPECT_FALSE(machine.Exists(kLogPath));
  EXPECT_EQ(g_log.pending, 2);
  g_log.Add(u"three", LOG_NRM, CAT_FILE);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_EQ(g_log.pending, 0);
  // Only entries up to maxLevel, and no blank line: the run goes on.
  EXPECT_EQ(LogFile(), kBom + Bytes(u"14:05:09 min/gen  one\r\n14:05:09 nrm/fil  three\r\n"));
  g_log.Add(u"four", LOG_MIN, CAT_GENERAL);
  EXPECT_EQ(g_log.entries.size(), 1u);
}

TEST_F(Log, FailedPeriodicFlushLosesTheEntriesAndRecordingGoesOn) {
  g_log.periodicFlush = true;
  g_log.path = kLogPath;
  machine.FailCall("_wopen", CRT_EACCES, u"zorPurge.log");
  g_log.Add(u"lost", LOG_MIN, CAT_GENERAL);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_FALSE(machine.Exists(kLogPath));
  g_log.Add(u"kept", LOG_MIN, CAT_GENERAL);
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_EQ(LogFile(), kBom + Bytes(u"14:05:09 min/gen  kept\r\n"));
}

}  // namespace
}  // namespace zp
