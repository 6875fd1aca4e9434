// The command line as any sequence of UTF-16 units: splitting never yields an empty token and
// parsing leaves only the run settings' own values; the options read before start-up are those
// that parsing finds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/catalogue.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "startup/command_line.h"
#include "startup/run_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  zp::ResetProcessState();
  std::vector<std::u16string> tokens = zp::SplitCommandLine(text);
  size_t characters = 0;
  for (const std::u16string& token : tokens) {
    if (token.empty()) std::abort();
    characters += token.size();
  }
  if (characters > text.size()) std::abort();
  const zp::StartOptions start = zp::ScanStartOptions(tokens);
  zp::ParseOptions(tokens);
  if (start.help != zp::g_run.help || start.preview != zp::g_run.preview) std::abort();
  int level = zp::g_setup.silentLevel;
  if (level != 0 && level != 2 && level != 3) std::abort();
  if (level != 0 && zp::g_setup.offerRestart) std::abort();
  return 0;
}
