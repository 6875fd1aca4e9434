// The virtual DOS driver list of any content and type: the removal never reads or writes
// outside the value, leaves it terminated, and leaves no entry naming the file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/sim/machine.h"
#include "setup/paths.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "toolkit/shell_registrations.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const zp::DWORD type = data[0] % 2 ? zp::REG_MULTI_SZ : zp::REG_SZ;
  const char16_t* key = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
  zp::ResetProcessState();
  zp::sim::Machine machine(zp::sim::OsFacts::WindowsXp());
  machine.SetValue(key, u"VDD", type, std::vector<zp::BYTE>(data + 1, data + size));
  machine.Install();
  zp::g_setup.Init();
  const std::u16string file = u"C:\\P\\zorMonVd.dll";
  bool rewritten = zp::RemoveVirtualDeviceDriver(file);
  std::vector<zp::BYTE> after = *machine.Value(key, u"VDD");
  if (!rewritten) {
    if (after != std::vector<zp::BYTE>(data + 1, data + size)) std::abort();
    return 0;
  }
  if (after.size() < 2 || after.size() % 2 || after[after.size() - 1] || after[after.size() - 2])
    std::abort();
  std::u16string text(after.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = after[2 * i] | (after[2 * i + 1] << 8);
  if (type == zp::REG_MULTI_SZ) {
    for (size_t start = 0; start < text.size() && text[start];) {
      size_t end = text.find(u'\0', start);
      std::u16string entry = text.substr(start, end - start);
      // An entry naming the file: the file itself, or a path whose last part it is.
      bool ends = entry.size() >= file.size() &&
                  zp::UpperCase(entry.substr(entry.size() - file.size())) == zp::UpperCase(file);
      size_t cut = entry.size() - file.size();
      if (ends && (cut == 0 || entry[cut - 1] == u'\\' || entry[cut - 1] == u'/')) std::abort();
      start = end + 1;
    }
  }
  return 0;
}
