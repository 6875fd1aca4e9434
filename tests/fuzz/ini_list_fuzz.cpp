// The Bat!'s checker list as any text: the products' lines go (in any section, any case), the
// list's Count goes down by the lines dropped when it held them, no temporary copy is left, and a
// list whose Count was the number of its entries ends numbered 1..Count in the old order
// (where the text-mode copy is faithful: no NUL byte, no Ctrl-Z).
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "setup/paths.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "toolkit/mail_clients.h"

namespace {

constexpr const char16_t* kFolder = u"C:\\Bat\\";
constexpr const char16_t* kIni = u"C:\\Bat\\avconfig.ini";
constexpr const char16_t* kNeedle = u"QVBATEX.BAV";

int Count() {
  return static_cast<int>(zp::Files().GetPrivateProfileIntW(u"Checkers", u"Count", 0, kIni));
}

std::u16string Entry(int n) {
  std::vector<char16_t> buffer(8192);
  std::u16string key = u"Checker #";
  for (char c : std::to_string(n)) key += static_cast<char16_t>(c);
  zp::DWORD length = zp::Files().GetPrivateProfileStringW(u"Checkers", key.c_str(), u"",
                                                          buffer.data(), 8192, kIni);
  return std::u16string(buffer.data(), length);
}

// The list's entries by number (1 to 999), found through the section's key names.
std::map<int, std::u16string> Entries() {
  std::vector<char16_t> names(65536);
  zp::DWORD length = zp::Files().GetPrivateProfileStringW(u"Checkers", nullptr, u"",
                                                          names.data(), 65536, kIni);
  std::map<int, std::u16string> entries;
  for (size_t start = 0; start < length;) {
    std::u16string name(names.data() + start);
    start += name.size() + 1;
    std::u16string upper = zp::UpperCase(name);
    if (upper.rfind(u"CHECKER #", 0) != 0 || upper.size() > 12) continue;
    int n = 0;
    bool digits = upper.size() > 9 && upper[9] != u'0';
    for (size_t i = 9; i < upper.size() && digits; ++i) {
      digits = upper[i] >= u'0' && upper[i] <= u'9';
      n = n * 10 + (upper[i] - u'0');
    }
    if (!digits || n < 1) continue;
    if (std::u16string value = Entry(n); !value.empty()) entries[n] = value;
  }
  return entries;
}

// The lines the text-mode reader sees: up to a Ctrl-Z, split at line feeds.
int LinesWithNeedle(const std::string& text) {
  std::string seen = text.substr(0, text.find('\x1A'));
  int lines = 0;
  size_t start = 0;
  while (start < seen.size()) {
    size_t end = seen.find('\n', start);
    if (end == std::string::npos) end = seen.size();
    std::u16string line;
    for (size_t i = start; i < end; ++i)
      if (seen[i] != '\0') line += static_cast<unsigned char>(seen[i]);
    if (zp::UpperCase(line).find(kNeedle) != std::u16string::npos) ++lines;
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2048) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  zp::ResetProcessState();
  zp::sim::Machine machine;
  machine.AddFile(kIni, text);
  machine.Install();
  zp::g_setup.Init();

  const int countBefore = Count();
  const int dropped = LinesWithNeedle(text);
  if (zp::RemoveIniLinesContaining(u"QvBatEx.bav", kFolder, u"avconfig.ini", u"Checkers") != 0)
    std::abort();
  const std::string removed = machine.FileContent(kIni).value_or("<gone>");
  if (dropped == 0 && removed != text) std::abort();  // nothing dropped: not rewritten
  if (LinesWithNeedle(removed) != 0) std::abort();
  const int count = Count();
  // A rewrite leaves out NUL bytes and what follows a Ctrl-Z, which can change what the
  // profile calls see; the counts are compared where the copy is faithful.
  const bool faithful =
      text.find('\0') == std::string::npos && text.find('\x1A') == std::string::npos;
  if (faithful &&
      count != (dropped > 0 && countBefore >= dropped ? countBefore - dropped : countBefore))
    std::abort();

  const std::map<int, std::u16string> before = Entries();
  if (zp::CompactIniList(kFolder, u"avconfig.ini", u"Checkers", u"Checker #%d") != 0)
    std::abort();
  if (machine.Exists(u"C:\\Bat\\temp.ini") || !machine.Exists(kIni)) std::abort();
  if (!faithful) return 0;
  if (Count() != count) std::abort();
  if (count > 0 && count == static_cast<int>(before.size())) {
    std::map<int, std::u16string> expected;
    int n = 0;
    for (const auto& [number, value] : before) expected[++n] = value;
    if (Entries() != expected) std::abort();
  }
  return 0;
}
