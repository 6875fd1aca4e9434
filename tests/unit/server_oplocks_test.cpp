// The file server's oplock parameters after a server edition.
#include <gtest/gtest.h>

#include "engine/steps.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kParameters =
    u"HKLM\\System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";

TEST(ServerOplocks, SavedValuesComeBackOtherwiseTheDefaultsDo) {
  for (bool saved : {false, true}) {
    SCOPED_TRACE(saved ? "saved values" : "nothing saved");
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::Server2003());
    machine.Install();
    g_setup.Init();
    g_setup.setupRegistryKey = u"Software\\Keswin Software\\Ostrel\\4.0";
    if (saved) {
      machine.SetDword(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"OldEnableOplocks", 1);
      machine.SetDword(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"OldCachedOpenLimit", 5);
    }
    machine.SetDword(kParameters, u"EnableOplocks", 0);
    machine.SetDword(kParameters, u"CachedOpenLimit", 0);
    machine.SetDword(kParameters, u"Other", 9);

    RestoreServerOplocks();

    auto dword = [&](const char16_t* name) -> std::optional<DWORD> {
      std::optional<std::vector<BYTE>> value = machine.Value(kParameters, name);
      if (!value || value->size() != 4) return std::nullopt;
      return static_cast<DWORD>((*value)[0] | (*value)[1] << 8 | (*value)[2] << 16 |
                                (*value)[3] << 24);
    };
    EXPECT_EQ(dword(u"EnableOplocks"), saved ? std::optional<DWORD>(1) : std::nullopt);
    EXPECT_EQ(dword(u"CachedOpenLimit"), saved ? std::optional<DWORD>(5) : std::nullopt);
    EXPECT_EQ(dword(u"Other"), 9u);
    if (saved) {
      EXPECT_TRUE(machine.Value(u"HKLM\\Software\\Keswin Software\\Ostrel\\4.0", u"OldEnableOplocks"))
          << "the saved value stays";
    }
  }
  ResetProcessState();
}

}  // namespace
}  // namespace zp
