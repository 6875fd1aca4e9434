// The one text formatter of the system: the Windows wide-printf conventions the log lines and
// messages use, printing the same characters in both builds. "%s" takes UTF-16 text; "%d", "%i",
// "%ld", "%u", "%x", "%X", "%lx", "%c" and "%%", with the flags '-' and '0', a width and, for
// "%s", a precision ("%02d", "%4d", "0x%08X", "%08lx", "%.5s").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zp {

// One argument of a format: a number or a text.
class FormatArg {
 public:
  enum class Kind { Signed, Unsigned, Text };

  FormatArg(int value) : kind_(Kind::Signed), signed_(value) {}
  FormatArg(long value) : kind_(Kind::Signed), signed_(value) {}
  FormatArg(long long value) : kind_(Kind::Signed), signed_(value) {}
  FormatArg(unsigned value) : kind_(Kind::Unsigned), unsigned_(value) {}
  FormatArg(unsigned long value) : kind_(Kind::Unsigned), unsigned_(value) {}
  FormatArg(unsigned long long value) : kind_(Kind::Unsigned), unsigned_(value) {}
  FormatArg(char16_t value) : kind_(Kind::Unsigned), unsigned_(value) {}
  // A null text prints as "(null)", as the Windows run-time library does.
  FormatArg(const char16_t* text)
      : kind_(Kind::Text), text_(text ? std::u16string_view(text) : u"(null)") {}
  FormatArg(std::u16string_view text) : kind_(Kind::Text), text_(text) {}
  FormatArg(const std::u16string& text) : kind_(Kind::Text), text_(text) {}

  Kind kind() const { return kind_; }
  std::int64_t AsSigned() const;    // a text reads as 0
  std::uint64_t AsUnsigned() const;
  std::u16string_view AsText() const;  // a number reads as empty

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  std::u16string_view text_;
};

// Formats `format` with `args`, cut to at most `maxChars` characters. A conversion without an
// argument prints nothing; an unknown conversion is copied as written.
std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args,
                          std::size_t maxChars = 32767);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatArgs(format, std::span<const FormatArg>(list, sizeof...(Args)));
}

}  // namespace zp
