// What the simulated machine models beyond the contract tests (which pin what it shares with
// Windows): the test's own view of keys and files, injected failures, the operating systems.
#include <gtest/gtest.h>

#include "platform/owners.h"
#include "platform/sim/machine.h"

namespace zp {
namespace {

TEST(SimMachine, ThirtyTwoBitViewRedirectsSoftwareAndSomeClasses) {
  sim::Machine machine(sim::OsFacts::Windows7X64());
  machine.Install();
  struct Case {
    const char16_t* opened;
    REGSAM view;
    const char16_t* physical;
  };
  const Case cases[] = {
      {u"Software\\Ostrel", 0, u"HKLM\\Software\\Wow6432Node\\Ostrel"},
      {u"Software\\Ostrel", KEY_WOW64_64KEY, u"HKLM\\Software\\Ostrel"},
      {u"Software\\Classes\\CLSID\\{1}", 0, u"HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\{1}"},
      {u"Software\\Classes\\.ost", 0, u"HKLM\\Software\\Classes\\.ost"},
      {u"System\\CurrentControlSet\\Services\\x", 0,
       u"HKLM\\System\\CurrentControlSet\\Services\\x"},
  };
  for (const Case& c : cases) {
    UniqueRegKey key;
    ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.opened, u"", 0, KEY_ALL_ACCESS | c.view,
                                    key.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(machine.KeyExists(c.physical)) << std::u16string(c.physical).size();
  }
  // HKEY_CLASSES_ROOT is the machine's Classes key, with the same redirection.
  UniqueRegKey key;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{1}", 0, KEY_READ, key.put()),
            ERROR_SUCCESS);
}

TEST(SimMachine, ThirtyTwoBitWindowsHasOneView) {
  sim::Machine machine(sim::OsFacts::WindowsXp());
  machine.Install();
  UniqueRegKey key;
  ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Ostrel", u"", 0,
                                  KEY_ALL_ACCESS | KEY_WOW64_32KEY, key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(machine.KeyExists(u"HKLM\\Software\\Ostrel"));
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Ostrel", KEY_WOW64_64KEY),
            ERROR_PROC_NOT_FOUND)
      << "XP has no RegDeleteKeyExW";
  EXPECT_EQ(Sys().GetProcAddress(Sys().GetModuleHandleW(u"advapi32.dll"), "RegDeleteKeyExW"),
            nullptr);
}

TEST(SimMachine, Windows2000LacksTheLateFunctions) {
  sim::Machine machine(sim::OsFacts::Windows2000());
  machine.Install();
  BOOL wow64 = TRUE;
  EXPECT_FALSE(Sys().IsWow64Process(&wow64));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(Sys().GetProcAddress(Sys().GetModuleHandleW(u"kernel32"), "IsWow64Process"), nullptr);
}

TEST(SimMachine, InjectedFailuresHitTheNamedCallAndPathOnly) {
  sim::Machine machine;
  machine.AddFile(u"C:\\p\\a.dll", "a");
  machine.AddFile(u"C:\\p\\b.dll", "b");
  machine.FailCall("DeleteFileW", ERROR_ACCESS_DENIED, u"a.dll");
  machine.Install();
  EXPECT_TRUE(Files().DeleteFileW(u"C:\\p\\b.dll"));
  EXPECT_FALSE(Files().DeleteFileW(u"C:\\p\\a.dll"));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Files().DeleteFileW(u"C:\\p\\a.dll")) << "the failure was used up";
}

TEST(SimMachine, FilesLockedByOthersAndShortNames) {
  sim::Machine machine;
  machine.AddFile(u"C:\\Program Files\\Ostrel Antivirus\\avgnt.sys", "x");
  machine.LockFile(u"C:\\Program Files\\Ostrel Antivirus\\avgnt.sys");
  machine.Install();
  EXPECT_FALSE(Files().DeleteFileW(u"C:\\Program Files\\Ostrel Antivirus\\avgnt.sys"));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  char16_t buffer[260];
  ASSERT_GT(
      Files().GetShortPathNameW(u"C:\\Program Files\\Ostrel Antivirus\\avgnt.sys", buffer, 260),
      0u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\PROGRA~1\\OSTREL~1\\avgnt.sys");
  EXPECT_NE(Files().GetFileAttributesW(u"C:\\PROGRA~1\\OSTREL~1"), INVALID_FILE_ATTRIBUTES);
}

TEST(SimMachine, MultiStringsKeepInnerEmptyItems) {
  sim::Machine machine;
  machine.SetMultiString(u"HKLM\\K", u"V", {u"\\??\\C:\\a", u"", u"\\??\\C:\\b", u""});
  EXPECT_EQ(machine.MultiString(u"HKLM\\K", u"V"),
            (std::vector<std::u16string>{u"\\??\\C:\\a", u"", u"\\??\\C:\\b", u""}));
}

}  // namespace
}  // namespace zp
