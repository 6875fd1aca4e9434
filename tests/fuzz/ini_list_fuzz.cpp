// The Bat!'s checker list as any text: the products' lines go (in any section, any case), the
// list's Count goes down by the lines dropped when it held them, no temporary copy is left, and a
// list whose Count was the number of its entries ends numbered 1..Count in the old order.
#include <cstdint>
#include <cstdlib>
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
  if (size > 4096) return 0;
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
  if (count != (dropped > 0 && countBefore >= dropped ? countBefore - dropped : countBefore))
    std::abort();

  std::vector<std::u16string> entries;
  for (int n = 1; n <= 999; ++n)
    if (std::u16string value = Entry(n); !value.empty()) entries.push_back(value);
  if (zp::CompactIniList(kFolder, u"avconfig.ini", u"Checkers", u"Checker #%d") != 0)
    std::abort();
  if (machine.Exists(u"C:\\Bat\\temp.ini") || !machine.Exists(kIni)) std::abort();
  if (Count() != count) std::abort();
  if (count > 0 && count == static_cast<int>(entries.size())) {
    for (int n = 1; n <= 999; ++n) {
      std::u16string expected = n <= count ? entries[n - 1] : std::u16string();
      if (Entry(n) != expected) std::abort();
    }
  }
  return 0;
}
