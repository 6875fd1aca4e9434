// The simulated registry under the load of a large product tree: creating and draining a key
// with many sub-keys the way recursive deletion does (enumerate index 0, delete, repeat).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/owners.h"
#include "platform/sim/machine.h"

namespace {

void DrainKeyWithManySubkeys(benchmark::State& state) {
  using namespace zp;
  sim::Machine machine(sim::OsFacts::Windows7X64());
  machine.Install();
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < state.range(0); ++i)
      machine.CreateKey(u"HKLM\\Software\\Wow6432Node\\Bench\\k" +
                        std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                        std::u16string(1, static_cast<char16_t>(u'A' + i / 26 % 26)) +
                        std::u16string(1, static_cast<char16_t>(u'A' + i / 676)));
    state.ResumeTiming();
    UniqueRegKey key;
    Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Bench", 0, KEY_ALL_ACCESS, key.put());
    char16_t name[261];
    while (Reg().RegEnumKeyW(key.get(), 0, name, 261) == ERROR_SUCCESS)
      Reg().RegDeleteKeyW(key.get(), name);
  }
}
BENCHMARK(DrainKeyWithManySubkeys)->Arg(100)->Arg(1000);

}  // namespace
