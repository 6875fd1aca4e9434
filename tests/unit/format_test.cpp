// The one formatter of log lines and messages: the Windows wide-printf conventions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/format.h"

namespace zp {
namespace {

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

TEST(Format, ConversionsFlagsAndWidths) {
  struct Case {
    std::u16string format;
    std::vector<FormatArg> args;
    std::u16string expected;
  };
  const char16_t* nullText = nullptr;
  const std::u16string two = u"two";
  const Case cases[] = {
      {u"plain %% text", {}, u"plain % text"},
      {u"%d|%i|%ld", {42, -7, 123456789L}, u"42|-7|123456789"},
      {u"%u|%lu", {4294967295u, 7ul}, u"4294967295|7"},
      {u"%02d.%02d.%4d", {7, 3, 2012}, u"07.03.2012"},
      {u"[%4d][%-4d][%04d]", {-5, -5, -5}, u"[  -5][-5  ][-005]"},
      {u"%02d", {123}, u"123"},  // a width never cuts
      {u"0x%08X|0x%x|%08lx", {0xBEEFu, 0xBEEFu, 0x1Aul}, u"0x0000BEEF|0xbeef|0000001a"},
      // Without a 64-bit modifier a number is its low 32 bits.
      {u"%x|%X|%u", {-1, -2, -1}, u"ffffffff|FFFFFFFE|4294967295"},
      {u"%d", {0x1'0000'0005LL}, u"5"},
      {u"%lld|%I64d|%I64x|%llu",
       {-9000000000LL, 9000000000LL, -1LL, 18446744073709551615ull},
       u"-9000000000|9000000000|ffffffffffffffff|18446744073709551615"},
      {u"%hd|%hx", {12, 255}, u"12|ff"},
      {u"%c%c|%3c|%-3c|", {char16_t(u'A'), char16_t(0x010D), char16_t(u'x'), char16_t(u'y')},
       u"A\u010D|  x|y  |"},
      {u"%s and %s", {u"Ostrel \u010Cesky", two},
       u"Ostrel \u010Cesky and two"},
      {u"[%6s][%-6s][%.3s][%6.2s]", {u"abc", u"abc", u"abcdef", u"abcdef"},
       u"[   abc][abc   ][abc][    ab]"},
      {u"[%05s]", {u"ab"}, u"[000ab]"},  // the Windows run-time library pads texts with zeros
      {u"%s", {nullText}, u"(null)"},
      {u"%.3d|%5.3d|%05.3d", {7, -7, 7}, u"007| -007|  007"},
      // A kind mismatch prints what the other kind reads as.
      {u"[%s][%d]", {5, u"text"}, u"[][0]"},
      // Missing arguments print nothing; unknown conversions are copied with their flags.
      {u"a%db%sc", {}, u"abc"},
      {u"%q %-5y %d", {9}, u"%q %-5y 9"},
      {u"100%", {}, u"100%"},
      {u"%-0", {}, u"%-0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatArgs(c.format, c.args), c.expected) << Narrow(c.format);
  }
}

TEST(Format, VariadicFormIsTheSameFormatter) {
  std::u16string path = u"C:\\Program Files\\Ostrel";
  EXPECT_EQ(Format(u"RegDeleteKey(%s) = %ld, 0x%08X", path, 2L, 0x80070005u),
            u"RegDeleteKey(C:\\Program Files\\Ostrel) = 2, 0x80070005");
  EXPECT_EQ(Format(u"no arguments %%"), u"no arguments %");
}

TEST(Format, CutsAtMaxChars) {
  const std::u16string long40k(40000, u'x');
  const FormatArg args[] = {long40k};
  EXPECT_EQ(FormatArgs(u"%s", args).size(), 32767u);
  EXPECT_EQ(FormatArgs(u"ab%sz", args, 5), u"abxxx");
  const FormatArg number[] = {123456};
  EXPECT_EQ(FormatArgs(u"n=%d", number, 4), u"n=12");
  EXPECT_EQ(FormatArgs(u"%20d", number, 6), u"      ");
  EXPECT_EQ(FormatArgs(u"abc", {}, 0), u"");
  // A width past any limit is capped, not overflowed.
  EXPECT_EQ(FormatArgs(u"%99999999999999999999999d", number, 3), u"   ");
}

}  // namespace
}  // namespace zp
