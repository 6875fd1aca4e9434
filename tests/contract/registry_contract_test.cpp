#include <cstring>

#include "contract.h"

namespace zp::contract {
namespace {

using RegistryContract = Contract;

const std::u16string kKey = kScratchKey;

TEST_F(RegistryContract, CreateReportsDispositionAndOpenOfMissingKeyFails) {
  UniqueRegKey key;
  DWORD disposition = 0;
  ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_CURRENT_USER, (kKey + u"\\a\\b").c_str(), u"", 0,
                                  KEY_ALL_ACCESS, key.put(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_CURRENT_USER, (kKey + u"\\A\\B").c_str(), u"", 0,
                                  KEY_ALL_ACCESS, key.put(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << "key names ignore case";

  UniqueRegKey missing;
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, (kKey + u"\\nothere").c_str(), 0, KEY_READ,
                                missing.put()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(missing);
}

TEST_F(RegistryContract, QueryValueProbesSizeAndReportsShortBuffers) {
  UniqueRegKey key;
  ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), u"Path", u"C:\\Program Files\\X"), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  ASSERT_EQ(Reg().RegQueryValueExW(key.get(), u"path", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 38u);  // 18 characters and the terminator

  BYTE small[8] = {};
  DWORD smallSize = sizeof small;
  EXPECT_EQ(Reg().RegQueryValueExW(key.get(), u"Path", nullptr, small, &smallSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(smallSize, 38u);

  char16_t text[32] = {};
  DWORD textSize = sizeof text;
  ASSERT_EQ(Reg().RegQueryValueExW(key.get(), u"Path", nullptr, reinterpret_cast<BYTE*>(text),
                                   &textSize),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"C:\\Program Files\\X");
  EXPECT_EQ(Reg().RegQueryValueExW(key.get(), u"Other", nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, ValuesKeepTheirBytesExactly) {
  UniqueRegKey key;
  ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
  // A multi-string without its final empty item, and a 4-byte binary: stored as given.
  const char16_t multi[] = u"one\0two";
  ASSERT_EQ(Reg().RegSetValueExW(key.get(), u"Multi", REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(multi), sizeof multi),
            ERROR_SUCCESS);
  const BYTE binary[4] = {1, 2, 3, 4};
  ASSERT_EQ(Reg().RegSetValueExW(key.get(), u"", REG_BINARY, binary, 4), ERROR_SUCCESS);

  BYTE out[64];
  DWORD type = 0, size = sizeof out;
  ASSERT_EQ(Reg().RegQueryValueExW(key.get(), u"Multi", &type, out, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  ASSERT_EQ(size, sizeof multi);
  EXPECT_EQ(std::memcmp(out, multi, size), 0);

  size = sizeof out;
  ASSERT_EQ(Reg().RegQueryValueExW(key.get(), nullptr, &type, out, &size), ERROR_SUCCESS)
      << "a null name is the default value";
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 4u);
}

TEST_F(RegistryContract, DeleteKeyRefusesKeysWithSubkeysAndEnumAtZeroDrainsThem) {
  UniqueRegKey key;
  for (const char16_t* child : {u"\\c1", u"\\c2\\g", u"\\c3"})
    ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey + child, &key), ERROR_SUCCESS);
  key.reset();

  EXPECT_EQ(Reg().RegDeleteKeyW(HKEY_CURRENT_USER, kKey.c_str()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg().RegDeleteKeyW(HKEY_CURRENT_USER, (kKey + u"\\c9").c_str()),
            ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, kKey.c_str(), 0, KEY_ALL_ACCESS, key.put()),
            ERROR_SUCCESS);
  char16_t name[261];
  EXPECT_EQ(Reg().RegEnumKeyW(key.get(), 3, name, 261), ERROR_NO_MORE_ITEMS);
  char16_t tiny[2];
  EXPECT_EQ(Reg().RegEnumKeyW(key.get(), 0, tiny, 2), ERROR_MORE_DATA);

  std::vector<std::u16string> seen;
  while (Reg().RegEnumKeyW(key.get(), 0, name, 261) == ERROR_SUCCESS) {
    seen.push_back(name);
    if (seen.back() == u"c2") {
      ASSERT_EQ(Reg().RegDeleteKeyW(key.get(), u"c2\\g"), ERROR_SUCCESS);
    }
    ASSERT_EQ(Reg().RegDeleteKeyW(key.get(), name), ERROR_SUCCESS);
    ASSERT_LT(seen.size(), 4u);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"c1", u"c2", u"c3"}));
  key.reset();
  EXPECT_EQ(Reg().RegDeleteKeyW(HKEY_CURRENT_USER, kKey.c_str()), ERROR_SUCCESS);
}

TEST_F(RegistryContract, DeleteValueAndEnumerateValues) {
  UniqueRegKey key;
  ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), u"First", u"1"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), u"Second", u"2"), ERROR_SUCCESS);

  char16_t name[64];
  DWORD nameChars = 64, type = 0, size = 0;
  ASSERT_EQ(Reg().RegEnumValueW(key.get(), 0, name, &nameChars, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"First");
  EXPECT_EQ(nameChars, 5u);
  EXPECT_EQ(size, 4u);
  nameChars = 64;
  EXPECT_EQ(Reg().RegEnumValueW(key.get(), 2, name, &nameChars, &type, nullptr, &size),
            ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(Reg().RegDeleteValueW(key.get(), u"FIRST"), ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegDeleteValueW(key.get(), u"First"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, HandleOfADeletedKeyFindsNothing) {
  UniqueRegKey key;
  ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey + u"\\gone", &key), ERROR_SUCCESS);
  ASSERT_EQ(Reg().RegDeleteKeyW(HKEY_CURRENT_USER, (kKey + u"\\gone").c_str()), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(Reg().RegQueryValueExW(key.get(), u"x", nullptr, nullptr, &size), ERROR_KEY_DELETED);
}

// The 32-bit process on 64-bit Windows: HKLM\Software is redirected to Wow6432Node unless the
// 64-bit view is asked for, and RegDeleteKeyExW deletes in the view it is given.
TEST_F(RegistryContract, ThirtyTwoBitViewIsRedirectedOnSixtyFourBitWindows) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(Sys().IsWow64Process(&wow64));
  if (!wow64) GTEST_SKIP() << "a 32-bit Windows has one view";
  const std::u16string key = u"Software\\zorPurgeContract";
  UniqueRegKey handle;
  ASSERT_EQ(CreateKey(HKEY_LOCAL_MACHINE, key, &handle), ERROR_SUCCESS);
  handle.reset();

  UniqueRegKey probe;
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Wow6432Node\\zorPurgeContract", 0,
                                KEY_READ | KEY_WOW64_64KEY, probe.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                                probe.put()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                                probe.put()),
            ERROR_SUCCESS);
  probe.reset();

  ASSERT_NE(Sys().GetProcAddress(Sys().GetModuleHandleW(u"advapi32.dll"), "RegDeleteKeyExW"),
            nullptr);
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, probe.put()),
            ERROR_FILE_NOT_FOUND);
}

// A registry symbolic link: a key created with REG_OPTION_CREATE_LINK whose "SymbolicLinkValue"
// (REG_LINK, no terminator) names its target's NT path. Link and target live in the 64-bit view of
// HKLM\Software (the one view of a 32-bit Windows), where that path names them as they are.
class RegistryLinkContract : public Contract {
 protected:
  void SetUp() override {
    Contract::SetUp();
    BOOL wow64 = FALSE;
    view_ = Sys().IsWow64Process(&wow64) && wow64 ? KEY_WOW64_64KEY : 0;
    Remove();
  }
  void TearDown() override {
    Remove();
    Contract::TearDown();
  }

  // The link goes first, as the link: a walk that followed it would delete the target instead.
  void Remove() {
    UniqueRegKey link;
    if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLink.c_str(), REG_OPTION_OPEN_LINK,
                            KEY_ALL_ACCESS | view_, link.put()) == ERROR_SUCCESS)
      Reg().NtDeleteKey(link.get());
    link.reset();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kBase, view_);
  }

  // The target with a value and a sub-key, and the link to it.
  void MakeLinkAndTarget(bool targetChild) {
    UniqueRegKey key;
    if (targetChild) {
      ASSERT_EQ(CreateKey(HKEY_LOCAL_MACHINE, kTarget + u"\\child", &key, view_), ERROR_SUCCESS);
    }
    ASSERT_EQ(CreateKey(HKEY_LOCAL_MACHINE, kTarget, &key, view_), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), u"Mark", u"target"), ERROR_SUCCESS);
    DWORD disposition = 0;
    ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLink.c_str(), u"", REG_OPTION_CREATE_LINK,
                                    KEY_ALL_ACCESS | KEY_CREATE_LINK | view_, key.put(),
                                    &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(Reg().RegSetValueExW(key.get(), u"SymbolicLinkValue", REG_LINK,
                                   reinterpret_cast<const BYTE*>(kTargetNt.data()),
                                   static_cast<DWORD>(kTargetNt.size() * 2)),
              ERROR_SUCCESS);
  }

  LONG Open(const std::u16string& path, DWORD options, UniqueRegKey* key) {
    return Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), options, KEY_ALL_ACCESS | view_,
                               key->put());
  }
  std::u16string Mark(HKEY key) {
    char16_t text[32] = {};
    DWORD size = sizeof text - 2;
    if (Reg().RegQueryValueExW(key, u"Mark", nullptr, reinterpret_cast<BYTE*>(text), &size) != 0)
      return u"<none>";
    return text;
  }

  const std::u16string kBase = u"Software\\zorPurgeContract";
  const std::u16string kLink = kBase + u"\\link";
  const std::u16string kTarget = kBase + u"\\target";
  const std::u16string kTargetNt = u"\\REGISTRY\\MACHINE\\" + kTarget;
  REGSAM view_ = 0;
};

TEST_F(RegistryLinkContract, OpenLinkSeesTheLinkAndNtDeleteKeyRemovesOnlyIt) {
  MakeLinkAndTarget(true);

  UniqueRegKey through;
  ASSERT_EQ(Open(kLink, 0, &through), ERROR_SUCCESS);
  EXPECT_EQ(Mark(through.get()), u"target") << "a plain open follows the link";
  char16_t name[261];
  ASSERT_EQ(Reg().RegEnumKeyW(through.get(), 0, name, 261), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"child");
  through.reset();

  UniqueRegKey link;
  ASSERT_EQ(Open(kLink, REG_OPTION_OPEN_LINK, &link), ERROR_SUCCESS);
  EXPECT_EQ(Mark(link.get()), u"<none>") << "REG_OPTION_OPEN_LINK opens the link itself";
  char16_t value[128] = {};
  DWORD type = 0, size = sizeof value - 2;
  ASSERT_EQ(Reg().RegQueryValueExW(link.get(), u"SymbolicLinkValue", &type,
                                   reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_LINK);
  EXPECT_EQ(std::u16string(value, size / 2), kTargetNt);
  EXPECT_EQ(Reg().RegEnumKeyW(link.get(), 0, name, 261), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(Reg().NtDeleteKey(link.get()), STATUS_SUCCESS);
  link.reset();
  EXPECT_EQ(Open(kLink, REG_OPTION_OPEN_LINK, &link), ERROR_FILE_NOT_FOUND);
  UniqueRegKey target;
  ASSERT_EQ(Open(kTarget, 0, &target), ERROR_SUCCESS);
  EXPECT_EQ(Mark(target.get()), u"target");
  EXPECT_EQ(Open(kTarget + u"\\child", 0, &target), ERROR_SUCCESS);
}

TEST_F(RegistryLinkContract, DeletingTheLinksPathDeletesTheTarget) {
  MakeLinkAndTarget(false);

  LONG deleted = view_ ? Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLink.c_str(), view_)
                       : Reg().RegDeleteKeyW(HKEY_LOCAL_MACHINE, kLink.c_str());
  EXPECT_EQ(deleted, ERROR_SUCCESS);

  UniqueRegKey key;
  EXPECT_EQ(Open(kTarget, 0, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(kLink, 0, &key), ERROR_FILE_NOT_FOUND) << "the link now points nowhere";
  ASSERT_EQ(Open(kLink, REG_OPTION_OPEN_LINK, &key), ERROR_SUCCESS) << "but is still there";
  DWORD type = 0;
  EXPECT_EQ(Reg().RegQueryValueExW(key.get(), u"SymbolicLinkValue", &type, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_LINK);
}

// Hive files: what the walk over the user profiles relies on.
class HiveContract : public Contract {
 protected:
  static void Enable(const char16_t* privilege) {
    HANDLE token = nullptr;
    Luid luid{};
    ASSERT_TRUE(Sys().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    ASSERT_TRUE(Sys().LookupPrivilegeValueW(nullptr, privilege, &luid));
    ASSERT_TRUE(Sys().AdjustTokenPrivileges(token, luid, SE_PRIVILEGE_ENABLED));
    Files().CloseHandle(token);
  }
  void TearDown() override {
    Reg().RegUnLoadKeyW(HKEY_USERS, kMount);  // after a failed test
    Contract::TearDown();
  }
  static constexpr const char16_t* kMount = u"zpContractHive";
};

TEST_F(HiveContract, SavedKeyLoadsUnderUsersAndUnloadsOnceNoHandleIsOpen) {
  Enable(u"SeBackupPrivilege");
  Enable(u"SeRestorePrivilege");
  std::u16string file = Scratch(u"NtUser.dat");
  {
    UniqueRegKey key;
    ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey + u"\\AppEvents\\Ostrel", &key), ERROR_SUCCESS);
    ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(Reg().RegSaveKeyW(key.get(), file.c_str()), ERROR_SUCCESS);
    // Windows refuses to overwrite an existing file; Wine overwrites it.
    if (!OnWine()) {
      EXPECT_EQ(Reg().RegSaveKeyW(key.get(), file.c_str()), ERROR_ALREADY_EXISTS);
    }
  }

  ASSERT_EQ(Reg().RegLoadKeyW(HKEY_USERS, kMount, file.c_str()), ERROR_SUCCESS);
  UniqueRegKey inside;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_USERS, (std::u16string(kMount) + u"\\AppEvents\\Ostrel").c_str(),
                                0, KEY_READ, inside.put()),
            ERROR_SUCCESS);
  inside.reset();
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_USERS, kMount, 0, KEY_READ, inside.put()), ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegUnLoadKeyW(HKEY_USERS, kMount), ERROR_ACCESS_DENIED)
      << "a handle to its root keeps the hive mounted";
  // Windows holds the file of a mounted hive; Wine does not.
  if (!OnWine()) {
    EXPECT_EQ(Files().DeleteFileW(file.c_str()), FALSE);
  }
  inside.reset();
  ASSERT_EQ(Reg().RegUnLoadKeyW(HKEY_USERS, kMount), ERROR_SUCCESS);
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_USERS, kMount, 0, KEY_READ, inside.put()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegUnLoadKeyW(HKEY_USERS, kMount), ERROR_FILE_NOT_FOUND)
      << "nothing is mounted under that name any more";

  // The hive of a logged-on user is a file Windows holds open: loading it is a sharing
  // violation.
  UniqueFd held(Files()._wopen(file.c_str(), CRT_O_RDONLY | CRT_O_BINARY, 0));
  ASSERT_TRUE(held);
  EXPECT_EQ(Reg().RegLoadKeyW(HKEY_USERS, kMount, file.c_str()), ERROR_SHARING_VIOLATION);
}

TEST_F(HiveContract, MissingHiveFileOrFolder) {
  Enable(u"SeRestorePrivilege");
  EXPECT_EQ(Reg().RegLoadKeyW(HKEY_USERS, kMount, Scratch(u"NtUser.dat").c_str()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegLoadKeyW(HKEY_USERS, kMount, Scratch(u"gone\\NtUser.dat").c_str()),
            ERROR_PATH_NOT_FOUND);
}

}  // namespace
}  // namespace zp::contract
