// The restart-time list: short forms, duplicates in any spelling, the hand-over to Windows.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/files.h"
#include "toolkit/restart_list.h"

namespace zp {
namespace {

constexpr const char16_t* kSessionManager =
    u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager";

class RestartListTest : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->AddFile(u"C:\\Program Files\\Product\\file.dll");
    machine_->Install();
    g_setup.Init();
    g_log.entries.clear();
  }
  std::vector<std::u16string> Pending() const {
    return machine_->MultiString(kSessionManager, u"PendingFileRenameOperations");
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(RestartListTest, StoresTheShortFormAndKnowsEverySpelling) {
  Start(sim::OsFacts::Windows7());
  const std::u16string shortFolder = GetShortPath(u"C:\\Program Files", 260);
  ScheduleDeleteOnRestart(u"C:\\Program Files\\Product\\file.dll");
  ASSERT_EQ(g_restart.restartDeleteList.size(), 1u);
  EXPECT_EQ(g_restart.restartDeleteList[0], shortFolder + u"\\Product\\file.dll");
  EXPECT_EQ(test::LogTexts(), std::vector<std::u16string>{u"Delete on reboot(" + shortFolder +
                                                          u"\\Product\\file.dll)"});
  for (const std::u16string& spelling :
       {std::u16string(u"C:\\Program Files\\Product\\file.dll"),
        std::u16string(u"c:\\program files\\PRODUCT\\FILE.DLL"),
        shortFolder + u"\\Product\\file.dll"})
    EXPECT_TRUE(IsScheduledForRestart(spelling)) << std::string(spelling.begin(), spelling.end());
  EXPECT_FALSE(IsScheduledForRestart(u"C:\\Program Files\\Product\\other.dll"));
}

TEST_F(RestartListTest, APathWithoutShortFormIsQuotedAndOneWithShortNamesOffIsKept) {
  Start(sim::OsFacts::WindowsXp());
  ScheduleDeleteOnRestart(u"C:\\Gone\\x.sys");
  machine_->SetDword(u"HKLM\\System\\CurrentControlSet\\Control\\FileSystem",
                     u"NtfsDisable8dot3NameCreation", 1);
  ScheduleDeleteOnRestart(u"C:\\Program Files\\Product\\file.dll");
  EXPECT_EQ(g_restart.restartDeleteList,
            (std::vector<std::u16string>{u"\"C:\\Gone\\x.sys\"",
                                         u"C:\\Program Files\\Product\\file.dll"}));
}

TEST_F(RestartListTest, CommitHandsEveryEntryToWindowsInOrder) {
  Start(sim::OsFacts::Windows7());
  EXPECT_EQ(CommitRestartOperations(), 0);
  EXPECT_TRUE(g_log.entries.empty()) << "nothing to hand over, nothing logged";

  machine_->SetDword(u"HKLM\\System\\CurrentControlSet\\Control\\FileSystem",
                     u"NtfsDisable8dot3NameCreation", 1);
  for (const char16_t* path : {u"C:\\P\\a.sys", u"C:\\P\\keep.dll", u"C:\\P"})
    ScheduleDeleteOnRestart(path);
  g_log.entries.clear();
  EXPECT_EQ(CommitRestartOperations({u"c:\\p\\KEEP.dll"}), 0);
  EXPECT_EQ(Pending(), (std::vector<std::u16string>{u"\\??\\C:\\P\\a.sys", u"", u"\\??\\C:\\P",
                                                    u""}));
  EXPECT_EQ(test::LogTexts(), (std::vector<std::u16string>{u"MoveFileEx(C:\\P\\a.sys, NULL)",
                                                           u"MoveFileEx(C:\\P, NULL)"}));
  EXPECT_FALSE(IsScheduledForRestart(u"C:\\P\\keep.dll")) << "a kept path leaves the list";
}

TEST_F(RestartListTest, AFailedHandOverIsReportedAndTheRestGoesOn) {
  Start(sim::OsFacts::Windows7());
  ScheduleDeleteOnRestart(u"C:\\P\\a.sys");
  ScheduleDeleteOnRestart(u"C:\\P\\b.sys");
  machine_->FailCall("MoveFileExW", ERROR_ACCESS_DENIED, u"a.sys");
  EXPECT_EQ(CommitRestartOperations(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Pending().size(), 2u);
  EXPECT_NE(Pending()[0].find(u"b.sys"), std::u16string::npos);
}

TEST_F(RestartListTest, Windows9xHandsNothingOver) {
  Start(sim::OsFacts::Windows98());
  ScheduleDeleteOnRestart(u"C:\\P\\a.sys");
  EXPECT_EQ(CommitRestartOperations(), 0);
  EXPECT_TRUE(Pending().empty());
}

}  // namespace
}  // namespace zp
