#include "startup/command_line.h"

#include "catalogue/catalogue.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"

namespace zp {

std::vector<std::u16string> SplitCommandLine(std::u16string_view text) {
  std::vector<std::u16string> tokens;
  size_t i = 0;
  auto whitespace = [](char16_t c) { return c <= u' '; };
  while (i < text.size()) {
    if (whitespace(text[i])) {
      ++i;
      continue;
    }
    size_t start = i, end;
    if (text[i] == u'"') {
      start = i + 1;
      // The character after the opening quote belongs to the token, even a quote: "" runs on.
      size_t close = start < text.size() ? text.find(u'"', start + 1) : std::u16string_view::npos;
      end = close == std::u16string_view::npos ? text.size() : close;
      i = close == std::u16string_view::npos ? text.size() : close + 1;
    } else {
      end = i;
      while (end < text.size() && !whitespace(text[end])) ++end;
      i = end;
    }
    if (end > start) tokens.emplace_back(text.substr(start, end - start));
  }
  return tokens;
}

namespace {

bool IsHelpOption(std::u16string_view option) {
  return SameText(option, u"/?") || SameText(option, u"/help");
}
bool TakesValue(std::u16string_view option) {
  return SameText(option, u"/prod") || SameText(option, u"/log");
}

}  // namespace

StartOptions ScanStartOptions(const std::vector<std::u16string>& tokens) {
  StartOptions start;
  for (size_t i = 0; i < tokens.size(); ++i) {
    std::u16string option = tokens[i];
    if (option.empty() || (option[0] != u'-' && option[0] != u'/')) continue;
    option[0] = u'/';
    if (TakesValue(option)) ++i;
    else if (IsHelpOption(option)) start.help = true;
    else if (SameText(option, u"/preview")) start.preview = true;
  }
  return start;
}

std::vector<std::u16string> ParseOptions(const std::vector<std::u16string>& tokens) {
  std::vector<std::u16string> rest;
  for (size_t i = 0; i < tokens.size(); ++i) {
    std::u16string option = tokens[i];
    if (option.empty() || (option[0] != u'-' && option[0] != u'/')) {
      rest.push_back(option);
      continue;
    }
    option[0] = u'/';
    if (SameText(option, u"/silent")) {
      if (g_setup.silentLevel != 3) g_setup.silentLevel = 2;
      g_setup.offerRestart = false;
    } else if (SameText(option, u"/verysilent")) {
      g_setup.silentLevel = 3;
      g_setup.offerRestart = false;
    } else if (SameText(option, u"/noreboot")) {
      g_setup.offerRestart = false;
    } else if (SameText(option, u"/forceuninstallpro")) {
      g_run.forceUninstallPro = true;
    } else if (SameText(option, u"/forcerestart")) {
      g_run.forceRestart = true;
    } else if (SameText(option, u"/preview")) {
      g_run.preview = true;
    } else if (SameText(option, u"/nosafemode")) {
      g_run.noSafeModeQuestion = true;
    } else if (IsHelpOption(option)) {
      g_run.help = true;
    } else if (TakesValue(option)) {
      // The next token, whatever it looks like, is the value; as the last token it does nothing.
      if (i + 1 < tokens.size()) {
        (SameText(option, u"/prod") ? g_product.productId : g_run.logPath) = tokens[i + 1];
        ++i;
      }
    } else {
      rest.push_back(tokens[i]);
    }
  }
  return rest;
}

}  // namespace zp
