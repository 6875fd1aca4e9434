// The path functions every part of the system builds its paths with.
#include <gtest/gtest.h>

#include "setup/paths.h"

namespace zp {
namespace {

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

TEST(Paths, PathJoin) {
  struct Case {
    const char16_t* base;
    const char16_t* name;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"C:\\Program Files", u"Setup", u"C:\\Program Files\\Setup"},
      {u"C:\\dir\\", u"x.exe", u"C:\\dir\\x.exe"},
      {u"C:\\dir", u"\\x.exe", u"C:\\dir\\x.exe"},
      {u"C:\\dir\\", u"\\x", u"C:\\dir\\\\x"},  // no duplicate is removed
      {u"\"C:\\dir\"", u"x.exe", u"\"C:\\dir\\x.exe\""},
      {u"\"C:\\dir\\\"", u"x.exe", u"\"C:\\dir\\x.exe\""},
      {u"\"C:\\dir", u"x.exe", u"\"C:\\dir\\x.exe\""},  // an opened quote is closed
      {u"C:\\dir\"", u"x.exe", u"C:\\dir\\x.exe"},      // a stray closing quote goes
      {u"", u"x", u"x"},
      {u"", u"", u""},
      {u"C:\\a", u"", u"C:\\a"},
      {u"\"C:\\a\"", u"", u"\"C:\\a\""},  // an empty name leaves the base as it is
      {u"C:\\a", u"sub\\b.dll", u"C:\\a\\sub\\b.dll"},
      {u"C:\\a", u":stream", u"C:\\a\\:stream"},  // joined like any other name
      {u"C:", u"x", u"C:\\x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathJoin(c.base, c.name), c.expected) << Narrow(c.base) << " + " << Narrow(c.name);
  }
}

TEST(Paths, PathRoot) {
  struct Case {
    const char16_t* path;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"D:\\x\\y", u"D:\\"},
      {u"C:\\", u"C:\\"},
      {u"C:", u"C:\\"},
      {u"\\\\srv\\share\\dir\\file", u"\\\\srv\\share\\"},
      {u"\\\\srv\\share\\", u"\\\\srv\\share\\"},
      {u"\\\\srv\\share", u"\\\\srv\\share\\"},  // the whole path is the root
      {u"\\\\srv", u"\\\\srv\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathRoot(c.path), c.expected) << Narrow(c.path);
  }
}

}  // namespace
}  // namespace zp
