// The description of the machine at the top of the log.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "setup/system_report.h"
#include "test_support.h"

namespace zp {
namespace {

sim::OsFacts Version(sim::OsFacts os, DWORD major, DWORD minor, BYTE type = VER_NT_WORKSTATION) {
  os.version.majorVersion = major;
  os.version.minorVersion = minor;
  os.version.productType = type;
  return os;
}

TEST(SystemReport, TheSystemLineOfEveryWindows) {
  struct Case {
    sim::OsFacts os;
    std::u16string line;
  };
  const Case cases[] = {
      {sim::OsFacts::Windows98(), u"Operating system: Windows98 ver 4.10, build 1998"},
      {sim::OsFacts::WindowsMe(), u"Operating system: WindowsMe ver 4.90, build 3000"},
      {sim::OsFacts::WindowsNt4(),
       u"Operating system: Windows NT ver 4.0, build 1381, sp 6.0 [Service Pack 6]"},
      {sim::OsFacts::Windows2000(),
       u"Operating system: Windows 2000 ver 5.0, build 2195, sp 4.0 [Service Pack 4]"},
      {sim::OsFacts::WindowsXp(),
       u"Operating system: Windows XP ver 5.1, build 2600, sp 3.0 [Service Pack 3]"},
      {sim::OsFacts::Server2003Ia64(), u"Operating system: Windows Server 2003 ver 5.2, build "
                                       u"3790, sp 2.0 [Service Pack 2] SERVER IA64"},
      {Version(sim::OsFacts::Windows7(), 6, 0), u"Operating system: Windows Vista ver 6.0, build "
                                                u"7601, sp 1.0 [Service Pack 1]"},
      {sim::OsFacts::Windows7X64(),
       u"Operating system: Windows 7 ver 6.1, build 7601, sp 1.0 [Service Pack 1] x64"},
      {sim::OsFacts::Server2008R2(), u"Operating system: Windows Server 2008 R2 ver 6.1, build "
                                     u"7601, sp 1.0 [Service Pack 1] SERVER x64"},
      {sim::OsFacts::Windows8X64(), u"Operating system: Windows 8 ver 6.2, build 9200, sp 0.0 x64"},
      {Version(sim::OsFacts::Windows8X64(), 10, 0),
       u"Operating system:  ver 10.0, build 9200, sp 0.0 x64"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    ResetProcessState();
    sim::Machine machine(c.os);
    machine.Install();
    g_setup.Init();
    g_log.entries.clear();
    EXPECT_EQ(LogSystemInfo(), 0);
    ASSERT_GE(g_log.entries.size(), 4u);
    EXPECT_EQ(g_log.entries[0].text, c.line);
    EXPECT_EQ(g_log.entries[0].level, LOG_NRM);
    EXPECT_EQ(g_log.entries[0].category, CAT_SYSTEM);
  }
}

TEST(SystemReport, MemoryComputerUserAndPrivilege) {
  struct Case {
    std::u16string account, domain;
    std::u16string user;
  };
  const Case cases[] = {
      {u"SYSTEM", u"NT AUTHORITY", u"SYSTEM"},
      {u"jdoe", u"CORP", u"CORP\\jdoe"},
      {u"admin", u"", u"admin"},
  };
  for (const Case& c : cases) {
    ResetProcessState();
    sim::OsFacts os = sim::OsFacts::WindowsXp();
    os.accountName = c.account;
    os.accountDomain = c.domain;
    os.computerName = u"PC-7";
    sim::Machine machine(os);
    machine.Install();
    g_setup.Init();
    g_log.entries.clear();
    LogSystemInfo();
    std::vector<std::u16string> texts = test::LogTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1],
              u"Memory: 42% load. Phys:262144/524288K free, Page:786432/1048576K free, "
              u"Virt:2048000/2096128K free");
    EXPECT_EQ(texts[2], u"Computer WinName: PC-7");
    EXPECT_EQ(texts[3], u"Windows Net User: " + c.user);
    EXPECT_EQ(g_log.entries[3].level, LOG_MIN);
    EXPECT_TRUE(machine.PrivilegeEnabled(u"SeRestorePrivilege"));
    EXPECT_EQ(machine.ComInitializations(), 1);
  }
}

TEST(SystemReport, UserNameWithoutTheTokenLookupOnWindows9x) {
  ResetProcessState();
  sim::OsFacts os = sim::OsFacts::Windows98();
  os.userName = u"joe";
  sim::Machine machine(os);
  machine.Install();
  g_setup.Init();
  std::u16string name, domain;
  EXPECT_TRUE(GetCurrentUserName(&name, &domain));
  EXPECT_EQ(name, u"joe");
  EXPECT_EQ(domain, u"");
}

}  // namespace
}  // namespace zp
