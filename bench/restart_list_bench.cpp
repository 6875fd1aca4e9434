// Scheduling locked files for deletion at restart and handing the list to Windows: the time per
// file stays flat as the list grows (the duplicate test goes through an index, not a scan).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/sim/machine.h"
#include "setup/log.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/restart_list.h"

namespace {

void ScheduleAndCommitLockedFiles(benchmark::State& state) {
  using namespace zp;
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Windows7());
    for (int i = 0; i < count; ++i) {
      std::u16string path = u"C:\\Product\\f" + std::u16string(1, u'a' + i % 26) +
                            std::u16string(1, u'a' + i / 26 % 26) +
                            std::u16string(1, u'a' + i / 676 % 26) +
                            std::u16string(1, u'a' + i / 17576 % 26) + u".dll";
      machine.AddFile(path);
      machine.LockFile(path);
    }
    machine.Install();
    g_setup.Init();
    g_log.enabled = false;  // the log's growth is not what is measured
    state.ResumeTiming();
    DeleteTree(u"C:\\Product", u"*.*", true, true, false);
    CommitRestartOperations();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(ScheduleAndCommitLockedFiles)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
