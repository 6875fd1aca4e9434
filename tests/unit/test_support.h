// What the host tests share: a fixture that starts from a fresh process state, and the program's
// own string tables on the simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "setup/log.h"
#include "setup/process_state.h"
#include "string_table.h"

namespace zp::test {

// The string tables of the program, as the Windows build carries them.
inline void AddProgramStrings(sim::Machine& machine) {
  std::vector<sim::StringResource> strings;
  for (const StringEntry& entry : StringTableEntries())
    strings.push_back({entry.language, entry.id, entry.text});
  machine.AddStringTable(machine.ProgramModule(), strings);
}

// The texts of the log's entries, in order.
inline std::vector<std::u16string> LogTexts() {
  std::vector<std::u16string> texts;
  for (const LogEntry& entry : g_log.entries) texts.push_back(entry.text);
  return texts;
}

class FreshProcess : public testing::Test {
 protected:
  FreshProcess() { ResetProcessState(); }
  ~FreshProcess() override { ResetProcessState(); }
};

}  // namespace zp::test
