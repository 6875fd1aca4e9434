// A load-order group's GroupOrderList value as any bytes (the first byte picks the service's
// tag): taking the tag out never reads past the value, and a rewritten value is one entry
// shorter than the entries the value really holds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/sim/machine.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "toolkit/services.h"

namespace {
constexpr const char16_t* kList = u"HKLM\\System\\CurrentControlSet\\Control\\GroupOrderList";
constexpr const char16_t* kGroup = u"Boot Bus Extender";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  zp::ResetProcessState();
  zp::sim::Machine machine;
  std::vector<zp::BYTE> value(data + 1, data + size);
  machine.SetValue(kList, kGroup, zp::REG_BINARY, value);
  machine.SetDword(u"HKLM\\System\\CurrentControlSet\\Services\\zorSvc", u"Tag", data[0] % 8);
  machine.Install();
  zp::g_setup.Init();
  if (zp::RemoveFromGroupOrderList(kGroup, u"zorSvc") != 0) std::abort();

  auto after = machine.Value(kList, kGroup);
  if (!after) std::abort();
  if (*after == value) return 0;
  auto dword = [](const std::vector<zp::BYTE>& v, size_t at) {
    return std::uint32_t(v[at]) | std::uint32_t(v[at + 1]) << 8 | std::uint32_t(v[at + 2]) << 16 |
           std::uint32_t(v[at + 3]) << 24;
  };
  if (value.size() < 4) std::abort();
  std::uint64_t entries = std::min<std::uint64_t>(dword(value, 0), (value.size() - 4) / 4);
  if (entries == 0 || after->size() != 4 * entries || dword(*after, 0) != entries - 1)
    std::abort();
  return 0;
}
