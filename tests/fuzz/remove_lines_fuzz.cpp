// A text configuration file of any content: the line remover leaves no line holding the text,
// keeps every other line, and leaves a file beyond its limit byte for byte as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/sim/machine.h"
#include "setup/process_state.h"
#include "toolkit/files.h"

namespace {
std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte gives the needle's length (1 to 8 printable bytes taken from the input).
  size_t needleLength = 1 + data[0] % 8;
  if (size < 1 + needleLength) return 0;
  std::u16string needle;
  for (size_t i = 1; i <= needleLength; ++i) needle += static_cast<char16_t>(0x20 + data[i] % 0x5F);
  const std::string content(reinterpret_cast<const char*>(data) + 1 + needleLength,
                            size - 1 - needleLength);

  zp::ResetProcessState();
  zp::sim::Machine machine;
  machine.AddFile(u"C:\\config.nt", content);
  machine.Install();
  zp::LONG result = zp::RemoveLinesContaining(needle, u"C:\\config.nt");
  std::string after = machine.FileContent(u"C:\\config.nt").value_or("<gone>");
  if (content.size() > 32767) {
    if (after != content || result == 0) std::abort();
    return 0;
  }
  if (result != 0) std::abort();
  std::string upperNeedle(needle.begin(), needle.end());
  upperNeedle = Upper(upperNeedle);
  if (Upper(after).find(upperNeedle) != std::string::npos) std::abort();
  if (after.size() > content.size()) std::abort();
  return 0;
}
