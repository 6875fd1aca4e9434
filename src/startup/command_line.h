// The command line: split into tokens, then applied to the run settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zp {

// Splits a command line: tokens end at whitespace (every character up to U+0020); a token that
// opens with a double quote runs to the next one, and its first character always belongs to it.
// No escapes; no token is ever empty.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// Applies the options ("/silent", "-VERYSILENT", "/prod <id>", ...) to the run settings; returns
// the tokens that are not options (plain words and unknown options).
std::vector<std::u16string> ParseOptions(const std::vector<std::u16string>& tokens);

// The options that decide how the process starts, read before anything else happens (the
// values of "/prod" and "/log" are skipped as ParseOptions skips them).
struct StartOptions {
  bool help = false;     // "/?" or "/help"
  bool preview = false;  // "/preview"
};
StartOptions ScanStartOptions(const std::vector<std::u16string>& tokens);

}  // namespace zp
