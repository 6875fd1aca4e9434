// A string-table block of any content: the loader reads only inside the resource and never
// writes beyond the caller's capacity.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/constants.h"
#include "platform/sim/machine.h"
#include "startup/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int capacity = data[0] % 40;
  zp::sim::Machine machine;
  machine.AddResource(machine.ProgramModule(), zp::RT_STRING_ID, 1, 1033,
                      std::vector<zp::BYTE>(data + 1, data + size));
  machine.Install();
  std::vector<char16_t> buffer(capacity + 1, u'#');
  for (unsigned id = 0; id < 16; ++id) {
    int result =
        zp::LoadLocalizedString(machine.ProgramModule(), id, buffer.data(), capacity, 1033);
    if (result < 0 || buffer[capacity] != u'#') std::abort();
  }
  return 0;
}
