// Context-menu handlers, App Paths entries and the restore privilege.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/shell_registrations.h"

#include <optional>

namespace zp {
namespace {

constexpr const char16_t* kAppPath =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zohOstrel.exe";

class ShellRegistrations : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    g_setup.Init();
    g_log.entries.clear();
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(ShellRegistrations, AppPathGoesOnlyWhenItNamesTheFolder) {
  struct Case {
    const char* name;
    std::u16string path;
    std::u16string folder;
    bool deleted;
  };
  const Case cases[] = {
      {"the folder", u"C:\\Program Files\\Ostrel", u"C:\\Program Files\\Ostrel", true},
      {"any case, final separator", u"c:\\program files\\OSTREL", u"C:\\Program Files\\Ostrel\\",
       true},
      {"another folder", u"C:\\Other", u"C:\\Program Files\\Ostrel", false},
      {"no folder known", u"", u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp());
    machine_->SetString(kAppPath, u"Path", c.path);
    EXPECT_EQ(RemoveAppPath(u"zohOstrel.exe", c.folder), ERROR_SUCCESS);
    EXPECT_EQ(machine_->KeyExists(kAppPath), !c.deleted);
  }
  ResetProcessState();
  Start(sim::OsFacts::WindowsXp());
  EXPECT_EQ(RemoveAppPath(u"zohOstrel.exe", u"C:\\P"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(g_log.entries.size(), 1u);
  EXPECT_EQ(g_log.entries[0].text,
            u"Cannot open reg. key:Software\\Microsoft\\Windows\\CurrentVersion\\App "
            u"Paths\\zohOstrel.exe");
  EXPECT_EQ(g_log.entries[0].level, LOG_VRB);
}

TEST_F(ShellRegistrations, ContextMenuHandlerInBothViews) {
  Start(sim::OsFacts::Windows7X64());
  const std::u16string clsid = u"{472083B0-C522-11CF-8763-00608CC02F24}";
  const std::u16string approved =
      u"\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
  machine_->CreateKey(u"HKLM\\Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel");
  machine_->CreateKey(u"HKLM\\Software\\Classes\\*\\shellex\\ContextMenuHandlers\\other");
  machine_->CreateKey(u"HKLM\\Software\\Classes\\Folder\\shellex\\ContextMenuHandlers\\ostrel");
  machine_->CreateKey(u"HKLM\\Software\\Classes\\CLSID\\" + clsid + u"\\InprocServer32");
  machine_->CreateKey(u"HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\" + clsid);
  machine_->SetString(u"HKLM\\Software" + approved, clsid, u"ostrel");
  machine_->SetString(u"HKLM\\Software\\Wow6432Node" + approved, clsid, u"ostrel");
  machine_->SetString(u"HKLM\\Software" + approved, u"{other}", u"other");
  RemoveContextMenuHandler(u"ostrel");
  EXPECT_FALSE(
      machine_->KeyExists(u"HKLM\\Software\\Classes\\*\\shellex\\ContextMenuHandlers\\ostrel"));
  EXPECT_TRUE(
      machine_->KeyExists(u"HKLM\\Software\\Classes\\*\\shellex\\ContextMenuHandlers\\other"));
  EXPECT_FALSE(machine_->KeyExists(
      u"HKLM\\Software\\Classes\\Folder\\shellex\\ContextMenuHandlers\\ostrel"));
  EXPECT_FALSE(machine_->KeyExists(u"HKLM\\Software\\Classes\\CLSID\\" + clsid));
  EXPECT_FALSE(machine_->KeyExists(u"HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\" + clsid));
  EXPECT_FALSE(machine_->Value(u"HKLM\\Software" + approved, clsid).has_value());
  EXPECT_FALSE(machine_->Value(u"HKLM\\Software\\Wow6432Node" + approved, clsid).has_value());
  EXPECT_TRUE(machine_->Value(u"HKLM\\Software" + approved, u"{other}").has_value());

  g_log.entries.clear();
  RemoveContextMenuHandler(u"ostrel");
  EXPECT_TRUE(g_log.entries.empty()) << "nothing left: nothing logged";
}

TEST_F(ShellRegistrations, RestorePrivilege) {
  Start(sim::OsFacts::Windows7());
  EXPECT_EQ(EnableRestorePrivilege(), ERROR_SUCCESS);
  EXPECT_TRUE(machine_->PrivilegeEnabled(u"SeRestorePrivilege"));

  ResetProcessState();
  Start(sim::OsFacts::Windows98());
  machine_->FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
  EXPECT_EQ(EnableRestorePrivilege(), ERROR_SUCCESS) << "9x: nothing to do, no token opened";
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

constexpr const char16_t* kVdd = u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";

std::vector<BYTE> Chars(std::u16string_view text) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  return bytes;
}

TEST(VirtualDeviceDrivers, EntriesNamingTheFileAreRemoved) {
  using namespace std::literals;
  struct Case {
    const char* name;
    std::u16string before;  // the value's characters
    std::optional<std::u16string> after;
    bool result;
  };
  const Case cases[] = {
      {"the middle of three", u"a.dll\0c:\\prog\\zaroruvo.dll\0b.dll\0\0"s,
       u"a.dll\0b.dll\0\0"s, true},
      {"the only entry", u"C:\\Prog\\ZARORUVO.DLL\0\0"s, u"\0"s, true},
      {"an empty string inside, nothing matching", u"a.dll\0\0b.dll\0\0"s, u"a.dll\0b.dll\0\0"s,
       true},
      {"listed twice", u"C:\\Prog\\zaroruvo.dll\0x.dll\0c:\\prog\\ZARORUVO.dll\0\0"s,
       u"x.dll\0\0"s, true},
      {"another file ending the same way stays", u"C:\\Prog\\myzaroruvo.dll\0\0"s,
       u"C:\\Prog\\myzaroruvo.dll\0\0"s, true},
      {"too large", std::u16string(20000, u'x'), std::u16string(20000, u'x'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::WindowsXp());
    machine.SetValue(kVdd, u"VDD", REG_MULTI_SZ, Chars(c.before));
    machine.Install();
    g_setup.Init();
    EXPECT_EQ(RemoveVirtualDeviceDriver(u"C:\\Prog\\ZARORUVO.DLL"), c.result);
    EXPECT_EQ(machine.Value(kVdd, u"VDD"), Chars(*c.after));
  }
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

TEST(ComSecurity, FiveGroupsMayExecuteUnderAdministrators) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::WindowsXp());
  machine.Install();
  g_setup.Init();
  EXPECT_TRUE(InitComSecurity());
  ASSERT_TRUE(machine.comSecurity().has_value());
  const sim::ComSecurity& security = *machine.comSecurity();
  const std::vector<BYTE> administrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  EXPECT_EQ(security.owner, administrators);
  EXPECT_EQ(security.group, administrators);
  ASSERT_EQ(security.dacl.size(), 5u);
  const BYTE authorities[] = {0, 19, 20, 10, 18};  // administrators, local/network service, self, system
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(security.dacl[i].sid[8], authorities[i]) << i;
  EXPECT_EQ(security.dacl[0].sid, administrators);
  for (const sim::AccessEntry& entry : security.dacl) EXPECT_EQ(entry.permissions, 3u);
  EXPECT_EQ(security.authenticationLevel, 6u);
  EXPECT_EQ(security.impersonationLevel, 2u);
  EXPECT_EQ(security.capabilities, 0x3000u);
  EXPECT_FALSE(InitComSecurity()) << "a second call is too late";
}

TEST(ComSecurity, Windows2000KeepsTheDefault) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::Windows2000());
  machine.Install();
  g_setup.Init();
  EXPECT_FALSE(InitComSecurity());
  EXPECT_FALSE(machine.comSecurity().has_value());
}

}  // namespace
}  // namespace zp
