// The Safe Mode boot switch (boot.ini and bcdedit), the protected self-copy, the RunOnce entry,
// and both directions of the start-up.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "startup/entry.h"
#include "startup/safe_mode.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kBootIni = u"C:\\boot.ini";
constexpr const char16_t* kRunOnce = u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char16_t* kArc1 = u"multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS";
constexpr const char16_t* kArc2 = u"multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS";

std::u16string BootEntry(const char16_t* name) {
  char16_t value[260] = {};
  Files().GetPrivateProfileStringW(u"operating systems", name, u"", value, 260, kBootIni);
  return value;
}

// The volume of drive C: answering the two layout queries: disk `disk`, partition `partition`.
sim::DeviceHandler Volume(DWORD disk, DWORD partition) {
  return [disk, partition](DWORD code, std::span<const BYTE>, std::vector<BYTE>* out) {
    if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
      out->assign(32, 0);
      out->at(0) = 1;
      std::memcpy(out->data() + 8, &disk, 4);
      return true;
    }
    if (code == IOCTL_DISK_GET_PARTITION_INFO_EX) {
      out->assign(144, 0);
      std::memcpy(out->data() + 24, &partition, 4);
      return true;
    }
    return false;
  };
}

TEST(BootIni, TheRunningSystemsEntryGetsOrLosesTheSwitch) {
  struct Case {
    const char* name;
    std::string ini;
    bool volume;  // the disk layout can be read (partition 2)
    bool add;
    const char16_t* entry;  // the entry that changes
    std::u16string after;
  };
  const std::string twoSystems =
      "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
      "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=Old /fastdetect\r\n"
      "multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS=XP /fastdetect\r\n";
  const Case cases[] = {
      {"one entry, through the default", "[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
       "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=XP /fastdetect\r\n",
       true, true, kArc1, u"XP /fastdetect /safeboot:minimal"},
      {"several entries: the ARC name of the Windows drive", twoSystems, true, true, kArc2,
       u"XP /fastdetect /safeboot:minimal"},
      {"several entries, no disk layout: the default", twoSystems, false, true, kArc1,
       u"Old /fastdetect /safeboot:minimal"},
      {"already there: added again", "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)"
       "\\WINDOWS=XP /safeboot:minimal\r\n", true, true, kArc1, u"XP /safeboot:minimal /safeboot:minimal"},
      {"removed in another case", "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)"
       "\\WINDOWS=XP /SafeBoot:MINIMAL\r\n", true, false, kArc1, u"XP"},
      {"removed only at the end", "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)"
       "\\WINDOWS=XP /safeboot:minimal /noguiboot\r\n", true, false, kArc1,
       u"XP /safeboot:minimal /noguiboot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    sim::Machine machine(sim::OsFacts::WindowsXp());
    machine.AddFile(kBootIni, c.ini);
    if (c.volume) machine.AddDevice(u"C:", Volume(0, 2));
    machine.Install();
    g_setup.Init();
    EditBootIni(c.add);
    EXPECT_EQ(BootEntry(c.entry), c.after);
  }
}

TEST(BootIni, NoUsableEntryWritesNothing) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::WindowsXp());
  machine.AddFile(kBootIni, "[boot loader]\r\ntimeout=30\r\n");
  machine.Install();
  g_setup.Init();
  EditBootIni(true);
  EXPECT_EQ(machine.FileContent(kBootIni), "[boot loader]\r\ntimeout=30\r\n");
}

TEST(Bcdedit, StartedFromTheNativeSystemFolder) {
  for (bool x64 : {false, true}) {
    SCOPED_TRACE(x64 ? "64-bit" : "32-bit");
    ResetProcessState();
    sim::Machine machine(x64 ? sim::OsFacts::Windows7X64() : sim::OsFacts::Windows7());
    machine.AddFile(u"C:\\WINDOWS\\system32\\bcdedit.exe", "MZ");
    machine.AddFile(u"C:\\WINDOWS\\system32\\native-only.dll");
    machine.Install();
    g_setup.Init();
    SetSafeBoot();
    ClearSafeBoot();
    ASSERT_EQ(machine.processesStarted().size(), 2u);
    EXPECT_EQ(machine.processesStarted()[0].commandLine,
              u"C:\\WINDOWS\\system32\\bcdedit.exe /set safeboot minimal");
    EXPECT_EQ(machine.processesStarted()[1].commandLine,
              u"C:\\WINDOWS\\system32\\bcdedit.exe /deletevalue safeboot");
    EXPECT_EQ(machine.processesStarted()[0].flags, CREATE_NO_WINDOW);
    EXPECT_EQ(machine.processesStarted()[0].redirectionOff, x64);
    // The redirection is back on: the 32-bit view of system32 again.
    EXPECT_EQ(Files().GetFileAttributesW(u"C:\\WINDOWS\\system32\\native-only.dll") ==
                  INVALID_FILE_ATTRIBUTES,
              x64);
  }
}

class SafeModeStart : public test::FreshProcess {
 protected:
  SafeModeStart() {
    test::AddProgramStrings(machine_);
    machine_.SetProgramPath(u"C:\\Tools\\zorPurge.exe");
    machine_.AddFile(u"C:\\Tools\\zorPurge.exe", "the program");
    machine_.AddFile(kBootIni, "[boot loader]\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
                               "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=XP\r\n");
  }
  sim::Machine machine_{sim::OsFacts::WindowsXp()};
};

TEST_F(SafeModeStart, TwoYesAnswersPrepareSafeModeAndRestart) {
  machine_.AddFile(u"C:\\WINDOWS\\Temp\\zorPurge.exe", "planted by someone else");
  machine_.AnswerMessageBoxes({IDYES, IDYES});
  machine_.Install();
  EXPECT_EQ(ProgramMain(machine_.ProgramModule(), u"/verysilent /prod ois"), kExitSuccess);
  EXPECT_EQ(BootEntry(kArc1), u"XP /safeboot:minimal");
  EXPECT_EQ(machine_.String(kRunOnce, u"*zorPurge"), u"C:\\WINDOWS\\Temp\\zorPurge.exe");
  EXPECT_EQ(machine_.FileContent(u"C:\\WINDOWS\\Temp\\zorPurge.exe"), "the program");
  bool protectedList = false;
  std::vector<sim::AccessEntry> acl =
      machine_.FileAccessList(u"C:\\WINDOWS\\Temp\\zorPurge.exe", &protectedList);
  EXPECT_TRUE(protectedList) << "nothing inherited from the temporary folder";
  ASSERT_EQ(acl.size(), 2u);
  EXPECT_EQ(acl[0].sid, (std::vector<BYTE>{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}));
  EXPECT_EQ(acl[1].sid, (std::vector<BYTE>{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}));
  EXPECT_EQ(acl[0].permissions, GENERIC_ALL);
  EXPECT_EQ(machine_.shutdowns().size(), 1u);
  EXPECT_EQ(machine_.messageBoxes().size(), 2u);
}

TEST_F(SafeModeStart, ACopyThatCannotBeProtectedIsNotUsed) {
  machine_.FailCall("SetNamedSecurityInfoW", ERROR_ACCESS_DENIED);
  machine_.AnswerMessageBoxes({IDYES, IDYES});
  machine_.Install();
  ProgramMain(machine_.ProgramModule(), u"/verysilent");
  EXPECT_FALSE(machine_.Exists(u"C:\\WINDOWS\\Temp\\zorPurge.exe"));
  EXPECT_EQ(machine_.String(kRunOnce, u"*zorPurge"), u"C:\\Tools\\zorPurge.exe");
  EXPECT_EQ(machine_.shutdowns().size(), 1u);
}

TEST_F(SafeModeStart, AFailedRegistrationWarnsAndDoesNotRestart) {
  machine_.FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED, u"RunOnce");
  machine_.AnswerMessageBoxes({IDYES, IDYES, IDOK});
  machine_.Install();
  EXPECT_EQ(ProgramMain(machine_.ProgramModule(), u"/verysilent"), kExitSuccess);
  ASSERT_EQ(machine_.messageBoxes().size(), 3u);
  EXPECT_EQ(machine_.messageBoxes()[2].text, kSafeModeRegistrationFailed);
  EXPECT_EQ(machine_.messageBoxes()[2].type, MB_ICONWARNING);
  EXPECT_TRUE(machine_.shutdowns().empty());
  EXPECT_EQ(BootEntry(kArc1), u"XP /safeboot:minimal") << "the switch is not undone";
}

TEST_F(SafeModeStart, InSafeModeTheSwitchGoesAndTheCopyIsScheduled) {
  machine_.os().safeMode = true;
  machine_.AddFile(kBootIni, "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=XP "
                             "/safeboot:minimal\r\n");
  machine_.Install();
  EXPECT_EQ(ProgramMain(machine_.ProgramModule(), u"/verysilent /prod ois"), kExitSuccess);
  EXPECT_EQ(BootEntry(kArc1), u"XP");
  EXPECT_EQ(machine_.MultiString(u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                                 u"PendingFileRenameOperations"),
            (std::vector<std::u16string>{u"\\??\\C:\\Tools\\zorPurge.exe", u""}));
  EXPECT_TRUE(machine_.messageBoxes().empty());
}

}  // namespace
}  // namespace zp
