#include <gtest/gtest.h>

#include <optional>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

class SetupGlobalsTest : public test::FreshProcess {};

struct PlatformCase {
  const char* name;
  sim::OsFacts os;
  DWORD flags;  // every flag that must be set; all others must not be
};

sim::OsFacts WithProductType(sim::OsFacts os, BYTE type) {
  os.version.productType = type;
  return os;
}

TEST_F(SetupGlobalsTest, PlatformFlagsOfEveryWindows) {
  const DWORD kAll[] = {PLAT_WIN9X, PLAT_WIN95,    PLAT_WIN98,       PLAT_WINME,
                        PLAT_NT,    PLAT_NT4,      PLAT_WIN2000,     PLAT_XP_OR_LATER,
                        PLAT_NT6,   PLAT_SERVER,   PLAT_WIN64_IA64,  PLAT_WIN64_X64,
                        0x80000,    0x100000};
  const PlatformCase cases[] = {
      {"Windows 98", sim::OsFacts::Windows98(), PLAT_WIN9X | PLAT_WIN98},
      {"Windows ME", sim::OsFacts::WindowsMe(), PLAT_WIN9X | PLAT_WINME},
      {"NT 4", sim::OsFacts::WindowsNt4(), PLAT_NT | PLAT_NT4},
      {"Windows 2000", sim::OsFacts::Windows2000(), PLAT_NT | PLAT_WIN2000},
      {"Windows XP", sim::OsFacts::WindowsXp(), PLAT_NT | PLAT_XP_OR_LATER},
      {"Server 2003", sim::OsFacts::Server2003(), PLAT_NT | PLAT_XP_OR_LATER | PLAT_SERVER},
      {"Server 2003 on Itanium", sim::OsFacts::Server2003Ia64(),
       PLAT_NT | PLAT_XP_OR_LATER | PLAT_SERVER | PLAT_WIN64_IA64},
      {"Windows 7", sim::OsFacts::Windows7(), PLAT_NT | PLAT_XP_OR_LATER | PLAT_NT6},
      {"Windows 7 x64", sim::OsFacts::Windows7X64(),
       PLAT_NT | PLAT_XP_OR_LATER | PLAT_NT6 | PLAT_WIN64_X64},
      {"Server 2008 R2 x64", sim::OsFacts::Server2008R2(),
       PLAT_NT | PLAT_XP_OR_LATER | PLAT_NT6 | PLAT_SERVER | PLAT_WIN64_X64},
      {"domain controller", WithProductType(sim::OsFacts::Server2003(), VER_NT_DOMAIN_CONTROLLER),
       PLAT_NT | PLAT_XP_OR_LATER | PLAT_SERVER},
  };
  for (const PlatformCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(c.os);
    if (c.os.version.productType == VER_NT_DOMAIN_CONTROLLER)
      machine.SetString(u"HKLM\\System\\CurrentControlSet\\Control\\ProductOptions",
                        u"ProductType", u"LanmanNT");
    machine.Install();
    g_setup.Init();
    for (DWORD flag : kAll) EXPECT_EQ(g_setup.IsPlatform(flag), (c.flags & flag) != 0) << flag;
    EXPECT_TRUE(g_setup.IsPlatform(c.flags | 0x80000));  // any flag of the mask will do
  }
}

TEST_F(SetupGlobalsTest, ServerProductTypeIgnoresCaseAndIsReadOnce) {
  sim::Machine machine(sim::OsFacts::Windows7());
  machine.SetString(u"HKLM\\System\\CurrentControlSet\\Control\\ProductOptions", u"ProductType",
                    u"servernt");
  machine.Install();
  g_setup.Init();
  EXPECT_TRUE(g_setup.IsPlatform(PLAT_SERVER));
  // The flags cannot change while the process runs: a later registry change is not seen.
  machine.SetString(u"HKLM\\System\\CurrentControlSet\\Control\\ProductOptions", u"ProductType",
                    u"WinNT");
  EXPECT_TRUE(g_setup.IsPlatform(PLAT_SERVER));
}

TEST_F(SetupGlobalsTest, WindowsWithoutIsWow64ProcessIsThirtyTwoBit) {
  sim::OsFacts os = sim::OsFacts::Windows7X64();
  os.lateExports.erase("kernel32.dll!iswow64process");
  sim::Machine machine(os);
  machine.Install();
  g_setup.Init();
  EXPECT_FALSE(g_setup.IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64));
}

struct AtLeastCase {
  DWORD major, minor, csd;
  bool expected;
};

TEST_F(SetupGlobalsTest, IsWindowsAtLeastComparesVersionThenServicePackCode) {
  struct MachineCase {
    const char* name;
    sim::OsFacts os;
    DWORD csdCode;
    std::vector<AtLeastCase> checks;
  };
  const MachineCase cases[] = {
      {"XP with code 0x300", sim::OsFacts::WindowsXp(), 0x300,
       {{5, 1, 0x300, true}, {5, 1, 0x301, false}, {5, 1, 0, true}, {5, 0, 0x999, true},
        {6, 0, 0, false}, {4, 0, 0, true}, {5, 2, 0, false}}},
      {"Vista whatever the code", sim::OsFacts::Windows7(), 0,
       {{5, 1, 0xFFFF, true}, {6, 1, 0x100, false}, {6, 1, 0, true}, {6, 2, 0, false}}},
      {"9x ignores the code", sim::OsFacts::Windows98(), 0, {{4, 10, 0x500, true}}},
  };
  for (const MachineCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(c.os);
    if (c.csdCode) machine.SetDword(u"HKLM\\System\\CurrentControlSet\\Control\\Windows",
                                    u"CSDVersion", c.csdCode);
    machine.Install();
    g_setup.Init();
    EXPECT_EQ(g_setup.csdCode, c.csdCode);
    for (const AtLeastCase& check : c.checks)
      EXPECT_EQ(g_setup.IsWindowsAtLeast(check.major, check.minor, check.csd), check.expected)
          << check.major << "." << check.minor << " csd " << check.csd;
  }
}

TEST(LanguageMap, UserLanguagesMapToInterfaceLanguages) {
  const std::pair<LANGID, LANGID> cases[] = {
      {0x0405, 1029},  // Czech
      {0x0416, 1046},  // Portuguese (Brazil)
      {0x0816, 2070},  // Portuguese (Portugal)
      {0x0804, 2052},  // Chinese (PRC)
      {0x0404, 1028},  // Chinese (Taiwan)
      {0x041A, 1050},  // Croatian
      {0x081A, 2074},  // Serbian (Latin)
      {0x0C0A, 3082},  // Spanish (modern sort)
      {0x0441, 1033},  // Swahili: not in the map
      {0x0445, 2117},  // Bengali
      {0x0409, 1033},
  };
  for (auto [user, expected] : cases) EXPECT_EQ(MapUserLanguage(user), expected) << user;
}

TEST_F(SetupGlobalsTest, InitTakesTheUserLanguageAndTheMachineFacts) {
  sim::OsFacts os = sim::OsFacts::WindowsXp();
  os.userLanguage = 0x0407;
  os.computerName = u"PC-42";
  sim::Machine machine(os);
  machine.SetProgramPath(u"C:\\Tools\\Sub\\zorPurge.exe");
  machine.SetString(u"HKLM\\System\\CurrentControlSet\\Services\\fwsrv", u"ImagePath",
                    u"\"C:\\Program Files\\Firewall\\fwsrv.exe\"");
  machine.Install();
  EXPECT_TRUE(g_setup.Init());
  EXPECT_EQ(g_setup.languageId, 1031);
  EXPECT_EQ(g_setup.moduleFolder, u"C:\\Tools\\Sub");
  EXPECT_EQ(g_setup.computerName, u"PC-42");
  EXPECT_EQ(g_setup.osVersion.buildNumber, 2600u);
  EXPECT_TRUE(g_setup.offerRestart);
  EXPECT_FALSE(g_setup.RebootPending);
  EXPECT_TRUE(g_setup.isaFound);  // W3proxy has no image path with a folder; fwsrv has
  EXPECT_EQ(g_setup.isaFolder, u"C:\\Program Files\\Firewall");
  EXPECT_EQ(g_setup.oldVersion, -1);
  ASSERT_GE(g_log.entries.size(), 2u);
  EXPECT_EQ(g_log.entries.front().text, u"Operation set to INST_OP_UNKNOWN");
  EXPECT_EQ(g_log.entries.front().level, LOG_VRB);
  EXPECT_EQ(g_log.entries.back().text, u"Old version: ffffffff (-1)");
  EXPECT_EQ(g_log.entries.back().level, LOG_MIN);
}

TEST_F(SetupGlobalsTest, ZeroFootprintSetupIniGivesTheOldVersion) {
  sim::Machine machine(sim::OsFacts::Windows7());
  machine.AddFile(u"C:\\Tools\\setup.ini", "[Common]\r\nZeroFootprint=1\r\nSetupVersion=42\r\n");
  machine.Install();
  g_setup.Init();
  EXPECT_TRUE(g_setup.zeroFootprint);
  EXPECT_EQ(g_setup.oldVersion, 42);
  EXPECT_TRUE(g_setup.CheckOldVersion());
  EXPECT_EQ(g_log.entries.back().text, u"Old version: 2a (42)");
}

TEST(OperationNames, KnownCodesByNameOthersByNumber) {
  EXPECT_EQ(OperationName(0), u"INST_OP_UNKNOWN");
  EXPECT_EQ(OperationName(3), u"INST_OP_UNINSTALL");
  EXPECT_EQ(OperationName(28), u"INST_OP_INSTALL_LANGUAGES");
  EXPECT_EQ(OperationName(1), u"INST_OP_[1]");
  EXPECT_EQ(OperationName(-5), u"INST_OP_[-5]");
}

constexpr const char16_t* kGuidKey = u"HKCR\\OstrelPersistentStorage";

TEST_F(SetupGlobalsTest, PersistentGuidWrittenWhenMissingOrMalformed) {
  struct GuidCase {
    const char* name;
    std::optional<std::u16string> stored;
    bool rewritten;
  };
  const GuidCase cases[] = {
      {"missing", std::nullopt, true},
      {"empty", u"", true},
      {"ten characters", u"0123456789", true},
      {"36 characters kept", u"abcdefab-0000-1111-2222-333344445555", false},
  };
  for (const GuidCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::WindowsXp());
    if (c.stored) machine.SetString(kGuidKey, u"GUID", *c.stored);
    machine.Install();
    g_setup.EnsurePersistentGuid();
    std::optional<std::u16string> now = machine.String(kGuidKey, u"GUID");
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(now->size(), 36u);
    EXPECT_EQ(*now != c.stored.value_or(u""), c.rewritten);
  }
}

TEST_F(SetupGlobalsTest, NoGuidIsStoredWhenUuidCreateDoesNotVouchForIt) {
  for (LONG error : {RPC_S_UUID_LOCAL_ONLY, RPC_S_UUID_NO_ADDRESS}) {
    sim::Machine machine(sim::OsFacts::WindowsXp());
    machine.FailCall("UuidCreate", error);
    machine.Install();
    g_setup.EnsurePersistentGuid();
    EXPECT_FALSE(machine.KeyExists(kGuidKey)) << error;
  }
}

}  // namespace
}  // namespace zp
