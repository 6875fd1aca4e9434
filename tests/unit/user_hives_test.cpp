// Deleting a key from the registry of every user profile: hives mounted, used in place and
// unmounted, and the profiles that cannot be reached.
#include <gtest/gtest.h>

#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "test_support.h"
#include "toolkit/shell_registrations.h"
#include "toolkit/user_hives.h"

namespace zp {
namespace {

constexpr std::u16string_view kNtList =
    u"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr std::u16string_view kSounds = u"AppEvents\\Schemes\\Apps\\Ostrel";
constexpr std::u16string_view kOtherSounds = u"AppEvents\\Schemes\\Apps\\Other";

class UserHives : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    machine_->SetEnvironment(u"SystemDrive", u"C:");
    g_setup.Init();
    ASSERT_EQ(EnableRestorePrivilege(), ERROR_SUCCESS);
    g_log.entries.clear();
  }
  // A profile of the NT family's list whose registry holds the products' key and another one;
  // `hive` says where that registry is: a hive file, or HKEY_USERS\<sid> for a logged-on user.
  enum class Hive { File, LoggedOn, None };
  void AddProfile(std::u16string_view sid, std::u16string_view folder, Hive hive) {
    machine_->SetString(std::u16string(kNtList) + std::u16string(sid), u"ProfileImagePath",
                        folder, REG_EXPAND_SZ);
    std::u16string root = u"HKU\\" + std::u16string(sid) + u"\\";
    std::u16string file = Expanded(folder) + u"\\NtUser.dat";
    if (hive == Hive::None) return;
    machine_->CreateKey(root + std::u16string(kSounds) + u"\\Events");
    machine_->CreateKey(root + std::u16string(kOtherSounds));
    if (hive == Hive::File) {
      machine_->MoveToHive(u"HKU\\" + std::u16string(sid), file);
    } else {
      machine_->AddFile(file);
      machine_->LockFile(file);  // Windows holds the hive of a logged-on user
    }
  }
  static std::u16string Expanded(std::u16string_view folder) {
    std::u16string text(folder);
    if (text.starts_with(u"%SystemDrive%")) text.replace(0, 13, u"C:");
    return text;
  }
  std::unique_ptr<sim::Machine> machine_;
};

TEST_F(UserHives, EveryProfileAndTheDefaultUser) {
  Start(sim::OsFacts::WindowsXp());
  // The simulator's current user is S-1-5-21-1000.
  AddProfile(u"S-1-5-21-1000", u"%SystemDrive%\\Documents and Settings\\admin", Hive::LoggedOn);
  AddProfile(u"S-1-5-21-1001", u"C:\\Documents and Settings\\bob", Hive::File);
  AddProfile(u"S-1-5-21-1002", u"C:\\Documents and Settings\\carol", Hive::File);
  machine_->CreateKey(u"HKU\\.DEFAULT\\" + std::u16string(kSounds));

  EXPECT_EQ(DeleteRegTreeAllUsers(kSounds), ERROR_SUCCESS);

  std::u16string bob = u"C:\\Documents and Settings\\bob\\NtUser.dat";
  std::u16string carol = u"C:\\Documents and Settings\\carol\\NtUser.dat";
  EXPECT_FALSE(machine_->KeyExists(u"HKCU\\" + std::u16string(kSounds)));
  EXPECT_TRUE(machine_->KeyExists(u"HKCU\\" + std::u16string(kOtherSounds)));
  EXPECT_FALSE(machine_->KeyExists(u"HKU\\.DEFAULT\\" + std::u16string(kSounds)));
  for (const std::u16string& hive : {bob, carol}) {
    SCOPED_TRACE(testing::PrintToString(std::string(hive.begin(), hive.end())));
    EXPECT_FALSE(machine_->HiveKeyExists(hive, kSounds));
    EXPECT_TRUE(machine_->HiveKeyExists(hive, kOtherSounds));
  }
  EXPECT_TRUE(machine_->MountedHives().empty());

  // The walk's lines with the deletions in between: three profiles, then .DEFAULT.
  const std::u16string admin =
      u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1000, C:\\Documents and Settings\\admin\\NtUser.dat)";
  const std::u16string events = u"Deleted registry: Events";
  const std::u16string sounds = u"Deleted registry: AppEvents\\Schemes\\Apps\\Ostrel";
  EXPECT_EQ(test::LogTexts(),
            (std::vector<std::u16string>{
                admin, u"Load registry hive ERROR_SHARING_VIOLATION", events, sounds,
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1001, " + bob + u")", events, sounds,
                u"RegUnloadKey",
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1002, " + carol + u")", events, sounds,
                u"RegUnloadKey", sounds}));
  for (const LogEntry& entry : g_log.entries) {
    EXPECT_EQ(entry.level, LOG_VRB);
    EXPECT_EQ(entry.category, CAT_REGISTRY);
  }

  // A key that no hive holds: the mount lines again and nothing else.
  g_log.entries.clear();
  EXPECT_EQ(DeleteRegTreeAllUsers(kSounds), ERROR_SUCCESS);
  EXPECT_EQ(test::LogTexts(),
            (std::vector<std::u16string>{
                admin, u"Load registry hive ERROR_SHARING_VIOLATION",
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1001, " + bob + u")", u"RegUnloadKey",
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1002, " + carol + u")", u"RegUnloadKey"}));
}

TEST_F(UserHives, ProfilesThatCannotBeReachedAreSkipped) {
  Start(sim::OsFacts::Windows7());
  AddProfile(u"S-1-5-21-1001", u"C:\\Users\\gone", Hive::None);  // its folder was deleted
  AddProfile(u"S-1-5-21-1002", u"C:\\Users\\carol", Hive::File);
  machine_->CreateKey(std::u16string(kNtList) + u"S-1-5-21-1003");
  machine_->DenyKeyAccess(std::u16string(kNtList) + u"S-1-5-21-1003", KEY_READ);
  machine_->FailCall("RegUnLoadKeyW", ERROR_ACCESS_DENIED);

  EXPECT_EQ(DeleteRegTreeAllUsers(kSounds), ERROR_SUCCESS);

  EXPECT_FALSE(machine_->KeyExists(u"HKU\\Qv_S-1-5-21-1002\\" + std::u16string(kSounds)));
  EXPECT_EQ(test::LogTexts(),
            (std::vector<std::u16string>{
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1001, C:\\Users\\gone\\NtUser.dat)",
                u"Cannot load registry hive C:\\Users\\gone\\NtUser.dat, err=3.",
                u"RegLoadKey(HKEY_USERS, Qv_S-1-5-21-1002, C:\\Users\\carol\\NtUser.dat)",
                u"Deleted registry: Events",
                u"Deleted registry: AppEvents\\Schemes\\Apps\\Ostrel",
                u"RegUnloadKey",
                u"Cannot unload registry hive Qv_S-1-5-21-1002, err=5.",
                u"Cannot open registry profile:S-1-5-21-1003",
            }));
  // The hive that would not unmount is reported once, as a problem.
  EXPECT_EQ(g_log.entries[6].level, LOG_MIN);
  EXPECT_EQ(machine_->MountedHives(), std::vector<std::u16string>{u"Qv_S-1-5-21-1002"});
}

TEST_F(UserHives, WithoutAProfileListTheCurrentUserAndTheDefaultUser) {
  Start(sim::OsFacts::Windows2000());
  machine_->CreateKey(u"HKCU\\" + std::u16string(kSounds));
  machine_->CreateKey(u"HKU\\.DEFAULT\\" + std::u16string(kSounds));
  machine_->CreateKey(u"HKU\\S-1-5-21-77\\" + std::u16string(kSounds));  // no profile names it

  EXPECT_EQ(DeleteRegTreeAllUsers(kSounds), ERROR_SUCCESS);

  EXPECT_FALSE(machine_->KeyExists(u"HKCU\\" + std::u16string(kSounds)));
  EXPECT_FALSE(machine_->KeyExists(u"HKU\\.DEFAULT\\" + std::u16string(kSounds)));
  EXPECT_TRUE(machine_->KeyExists(u"HKU\\S-1-5-21-77\\" + std::u16string(kSounds)));
  EXPECT_EQ(test::LogTexts(),
            (std::vector<std::u16string>{u"Deleted registry: AppEvents\\Schemes\\Apps\\Ostrel",
                                         u"Deleted registry: AppEvents\\Schemes\\Apps\\Ostrel"}));
}

TEST_F(UserHives, The9xFamilyLoadsUserDatByItsShortPath) {
  Start(sim::OsFacts::Windows98());
  std::u16string list = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\";
  machine_->SetString(list + u"Robert", u"ProfileImagePath", u"C:\\WINDOWS\\Profiles\\Robert Long");
  machine_->CreateKey(u"HKU\\Robert\\" + std::u16string(kSounds));
  machine_->MoveToHive(u"HKU\\Robert", u"C:\\WINDOWS\\Profiles\\Robert Long\\User.dat");
  machine_->SetShortName(u"C:\\WINDOWS\\Profiles\\Robert Long", u"ROBERT~1");

  EXPECT_EQ(DeleteRegTreeAllUsers(kSounds), ERROR_SUCCESS);

  ASSERT_FALSE(g_log.entries.empty());
  EXPECT_EQ(g_log.entries[0].text,
            u"RegLoadKey(HKEY_USERS, Qv_Robert, C:\\WINDOWS\\Profiles\\ROBERT~1\\User.dat)");
  EXPECT_FALSE(
      machine_->HiveKeyExists(u"C:\\WINDOWS\\Profiles\\Robert Long\\User.dat", kSounds));
}

TEST_F(UserHives, OpenUserRootWithoutAProfile) {
  Start(sim::OsFacts::WindowsXp());
  machine_->CreateKey(u"HKU\\.DEFAULT");
  std::u16string mount = u"untouched";
  EXPECT_EQ(OpenUserRoot(nullptr, nullptr, false, &mount), HKEY_CURRENT_USER);
  HKEY defaultUser = OpenUserRoot(nullptr, nullptr, true, &mount);
  ASSERT_NE(defaultUser, nullptr);
  EXPECT_NE(defaultUser, HKEY_CURRENT_USER);
  Reg().RegCloseKey(defaultUser);
  EXPECT_EQ(mount, u"untouched");
}

}  // namespace
}  // namespace zp
