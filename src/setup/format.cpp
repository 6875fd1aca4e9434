#include "setup/format.h"

#include <algorithm>

namespace zp {

std::int64_t FormatArg::AsSigned() const {
  switch (kind_) {
    case Kind::Signed: return signed_;
    case Kind::Unsigned: return static_cast<std::int64_t>(unsigned_);
    case Kind::Text: break;
  }
  return 0;
}

std::uint64_t FormatArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<std::uint64_t>(signed_);
    case Kind::Unsigned: return unsigned_;
    case Kind::Text: break;
  }
  return 0;
}

std::u16string_view FormatArg::AsText() const {
  return kind_ == Kind::Text ? text_ : std::u16string_view();
}

namespace {

// The output, which silently stops growing at its limit.
class Output {
 public:
  Output(std::u16string& text, std::size_t limit) : text_(text), limit_(limit) {}

  bool Full() const { return text_.size() >= limit_; }
  void Put(char16_t c) {
    if (!Full()) text_.push_back(c);
  }
  void Put(std::u16string_view part) {
    text_.append(part.substr(0, limit_ - std::min(limit_, text_.size())));
  }
  void Repeat(char16_t c, std::size_t count) {
    text_.append(std::min(count, limit_ - std::min(limit_, text_.size())), c);
  }

 private:
  std::u16string& text_;
  std::size_t limit_;
};

struct Conversion {
  bool left = false;      // '-'
  bool zeroPad = false;   // '0'
  std::size_t width = 0;
  bool hasPrecision = false;
  std::size_t precision = 0;
  bool wide64 = false;    // "ll" or "I64"
};

// Widths beyond any result are pointless; the cap keeps the parse from overflowing.
constexpr std::size_t kMaxWidth = 1u << 20;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::size_t ParseNumber(std::u16string_view format, std::size_t& at) {
  std::size_t value = 0;
  while (at < format.size() && IsDigit(format[at])) {
    value = std::min(kMaxWidth, value * 10 + static_cast<std::size_t>(format[at] - u'0'));
    ++at;
  }
  return value;
}

// Writes `body` padded to the width: spaces on the left, spaces on the right with '-', or zeros
// between `sign` and `body` with '0' (the Windows run-time library pads texts with zeros too).
void Pad(Output& out, const Conversion& conv, std::u16string_view sign, std::u16string_view body) {
  std::size_t length = sign.size() + body.size();
  std::size_t fill = conv.width > length ? conv.width - length : 0;
  if (conv.left) {
    out.Put(sign);
    out.Put(body);
    out.Repeat(u' ', fill);
  } else if (conv.zeroPad) {
    out.Put(sign);
    out.Repeat(u'0', fill);
    out.Put(body);
  } else {
    out.Repeat(u' ', fill);
    out.Put(sign);
    out.Put(body);
  }
}

void PutNumber(Output& out, Conversion conv, std::uint64_t magnitude, bool negative, unsigned base,
               bool upper) {
  const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  char16_t buffer[24];
  std::size_t length = 0;
  do {
    buffer[sizeof buffer / sizeof buffer[0] - 1 - length++] = digits[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  std::u16string_view body(buffer + sizeof buffer / sizeof buffer[0] - length, length);
  std::u16string_view sign = negative ? u"-" : u"";
  if (!conv.hasPrecision) {
    Pad(out, conv, sign, body);
    return;
  }
  // A precision is the least number of digits, and turns the '0' flag off.
  std::u16string padded(conv.precision > body.size() ? conv.precision - body.size() : 0, u'0');
  if (conv.precision == 0 && body == u"0") body = {};
  padded.append(body);
  conv.zeroPad = false;
  Pad(out, conv, sign, padded);
}

}  // namespace

std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args,
                          std::size_t maxChars) {
  std::u16string text;
  Output out(text, maxChars);
  std::size_t next = 0;
  std::size_t at = 0;
  while (at < format.size() && !out.Full()) {
    char16_t c = format[at];
    if (c != u'%') {
      out.Put(c);
      ++at;
      continue;
    }
    const std::size_t start = at++;
    Conversion conv;
    for (; at < format.size(); ++at) {
      if (format[at] == u'-') conv.left = true;
      else if (format[at] == u'0') conv.zeroPad = true;
      else break;
    }
    conv.width = ParseNumber(format, at);
    if (at < format.size() && format[at] == u'.') {
      ++at;
      conv.hasPrecision = true;
      conv.precision = ParseNumber(format, at);
    }
    // Length modifiers: 'h' and 'l' change nothing here; "ll" and "I64" take all 64 bits.
    std::u16string_view rest = format.substr(at);
    if (rest.starts_with(u"ll")) {
      conv.wide64 = true;
      at += 2;
    } else if (rest.starts_with(u"I64")) {
      conv.wide64 = true;
      at += 3;
    } else if (rest.starts_with(u"I32")) {
      at += 3;
    } else {
      while (at < format.size() && (format[at] == u'l' || format[at] == u'h')) ++at;
    }
    if (at >= format.size()) {
      out.Put(format.substr(start));
      break;
    }
    const char16_t conversion = format[at++];
    if (conversion == u'%') {
      out.Put(u'%');
      continue;
    }
    if (std::u16string_view(u"diuxXcs").find(conversion) == std::u16string_view::npos) {
      out.Put(format.substr(start, at - start));
      continue;
    }
    if (next >= args.size()) continue;
    const FormatArg& arg = args[next++];
    switch (conversion) {
      case u'd':
      case u'i': {
        std::int64_t value = conv.wide64 ? arg.AsSigned()
                                         : static_cast<std::int32_t>(arg.AsUnsigned());
        std::uint64_t magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        PutNumber(out, conv, magnitude, value < 0, 10, false);
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        std::uint64_t value = arg.AsUnsigned();
        if (!conv.wide64) value = static_cast<std::uint32_t>(value);
        PutNumber(out, conv, value, false, conversion == u'u' ? 10 : 16, conversion == u'X');
        break;
      }
      case u'c': {
        const char16_t character = static_cast<char16_t>(arg.AsUnsigned());
        Pad(out, conv, {}, std::u16string_view(&character, 1));
        break;
      }
      case u's': {
        std::u16string_view value = arg.AsText();
        if (conv.hasPrecision) value = value.substr(0, conv.precision);
        Pad(out, conv, {}, value);
        break;
      }
      default: break;
    }
  }
  return text;
}

}  // namespace zp
