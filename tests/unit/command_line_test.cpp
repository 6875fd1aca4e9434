#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "setup/setup_globals.h"
#include "startup/command_line.h"
#include "startup/run_settings.h"
#include "test_support.h"

namespace zp {
namespace {

struct SplitCase {
  const char* name;
  std::u16string_view line;
  std::vector<std::u16string> tokens;
};

TEST(SplitCommandLine, TokensOfTheText) {
  const SplitCase cases[] = {
      {"empty", u"", {}},
      {"only whitespace", u" \t\r\n ", {}},
      {"plain words", u"/silent  /prod ois", {u"/silent", u"/prod", u"ois"}},
      {"control characters separate", u"a\x01" u"b\x1f" u"c", {u"a", u"b", u"c"}},
      {"quoted text keeps its blank", u"/prod \" \" word", {u"/prod", u" ", u"word"}},
      {"quote inside a plain token", u"ab\"cd ef", {u"ab\"cd", u"ef"}},
      {"quoted token ends at the next quote", u"\"C:\\Program Files\\x\"y",
       {u"C:\\Program Files\\x", u"y"}},
      {"empty pair runs on to the next quote", u"\"\" abc\" d", {u"\" abc", u"d"}},
      {"open quote closed by the end", u"a \"b c", {u"a", u"b c"}},
      {"a lone quote at the end is no token", u"a \"", {u"a"}},
      {"backslashes are ordinary", u"\\\"x\\\"", {u"\\\"x\\\""}},
      {"U+00A0 is no whitespace", u"a\u00a0b", {u"a\u00a0b"}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitCommandLine(c.line), c.tokens);
  }
}

struct OptionsCase {
  const char* name;
  std::vector<std::u16string> tokens;
  int silentLevel;
  bool offerRestart;
  std::u16string productId;
  bool forceUninstallPro = false;
  bool forceRestart = false;
  std::vector<std::u16string> rest = {};
  bool preview = false;
  bool help = false;
  bool noSafeModeQuestion = false;
};

class ParseOptionsTest : public test::FreshProcess {};

TEST_F(ParseOptionsTest, AppliesOptionsToTheRunSettings) {
  const OptionsCase cases[] = {
      {"nothing", {}, 0, true, u""},
      {"-SILENT in capitals", {u"-SILENT"}, 2, false, u""},
      {"silent then verysilent", {u"/silent", u"/verysilent"}, 3, false, u""},
      {"verysilent then silent", {u"/VerySilent", u"-silent"}, 3, false, u""},
      {"noreboot", {u"/noreboot"}, 0, false, u""},
      {"forced uninstall and restart", {u"/forceuninstallpro", u"/FORCERESTART"}, 0, true, u"",
       true, true},
      {"prod takes the next token", {u"/prod", u"OIS"}, 0, true, u"OIS"},
      {"a later prod replaces", {u"/prod", u"ois", u"/prod", u"qv_pro"}, 0, true, u"qv_pro"},
      {"prod at the end does nothing", {u"/silent", u"/prod"}, 2, false, u""},
      {"prod takes an option as its value", {u"/prod", u"/silent"}, 0, true, u"/silent"},
      {"prod=value is an unknown option", {u"/prod=ois"}, 0, true, u"", false, false,
       {u"/prod=ois"}},
      {"words and unknown options are kept", {u"word", u"/what", u"-x"}, 0, true, u"", false,
       false, {u"word", u"/what", u"-x"}},
      {"-PREVIEW in capitals", {u"-PREVIEW", u"/verysilent"}, 3, false, u"", false, false, {},
       true},
      {"/? asks for help", {u"/?"}, 0, true, u"", false, false, {}, false, true},
      {"-Help asks for help", {u"-Help"}, 0, true, u"", false, false, {}, false, true},
      {"prod takes /preview as its value", {u"/prod", u"/preview"}, 0, true, u"/preview"},
      {"preview=1 is an unknown option", {u"/preview=1"}, 0, true, u"", false, false,
       {u"/preview=1"}},
      {"-NoSafeMode in any case", {u"/verysilent", u"-NoSafeMode"}, 3, false, u"", false, false,
       {}, false, false, true},
  };
  for (const OptionsCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    std::vector<std::u16string> rest = ParseOptions(c.tokens);
    EXPECT_EQ(g_setup.silentLevel, c.silentLevel);
    EXPECT_EQ(g_setup.offerRestart, c.offerRestart);
    EXPECT_EQ(g_product.productId, c.productId);
    EXPECT_EQ(g_run.forceUninstallPro, c.forceUninstallPro);
    EXPECT_EQ(g_run.forceRestart, c.forceRestart);
    EXPECT_EQ(rest, c.rest);
    EXPECT_EQ(g_run.preview, c.preview);
    EXPECT_EQ(g_run.help, c.help);
    EXPECT_EQ(g_run.noSafeModeQuestion, c.noSafeModeQuestion);
  }
}

// Read before the setup state exists: the same options as ParseOptions takes them, and nothing
// else changes.
TEST_F(ParseOptionsTest, StartOptionsAreFoundAsParseOptionsFindsThem) {
  struct Case {
    const char* name;
    const char16_t* line;
    bool help;
    bool preview;
  } const cases[] = {
      {"none", u"/silent /prod ois", false, false},
      {"/?", u"/verysilent /?", true, false},
      {"-HELP", u"-HELP", true, false},
      {"preview with its log", u"/verysilent /preview /log C:\\x.log /prod ois", false, true},
      {"the value of /prod is no option", u"/prod /help", false, false},
      {"the value of /log is no option", u"/log /preview", false, false},
      {"whole tokens only", u"/previews /help=1 preview", false, false},
      {"both", u"-preview /?", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    const StartOptions start = ScanStartOptions(SplitCommandLine(c.line));
    EXPECT_EQ(start.help, c.help);
    EXPECT_EQ(start.preview, c.preview);
    EXPECT_FALSE(g_run.preview || g_run.help || g_setup.silentLevel != 0);
    EXPECT_TRUE(g_product.productId.empty());
  }
}

TEST_F(ParseOptionsTest, LogTakesTheNextTokenAsItsPath) {
  ParseOptions(SplitCommandLine(u"/verysilent /log \"C:\\logs\\zor purge.log\" /prod ois"));
  EXPECT_EQ(g_run.logPath, u"C:\\logs\\zor purge.log");
  EXPECT_EQ(g_product.productId, u"ois");
}

}  // namespace
}  // namespace zp
