// The registry operations on the simulated machine: what they change, what they return and the
// log lines the removal report is made of.
#include "toolkit/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

// A case prints as its name in test listings, not as its bytes.
template <typename Case>
  requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

using DeleteFn = bool (*)(HKEY, std::u16string_view);

struct Line {
  std::u16string text;
  std::int32_t level;
};

bool operator==(const Line& a, const Line& b) { return a.text == b.text && a.level == b.level; }

void PrintTo(const Line& line, std::ostream* out) {
  std::string narrow;
  for (char16_t c : line.text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  *out << "{\"" << narrow << "\", level " << line.level << "}";
}

Line Deleted(std::u16string_view path) {
  return {u"Deleted registry: " + std::u16string(path), LOG_VRB};
}
Line Failed(std::u16string_view path, std::u16string_view code) {
  return {u"Error deleting registry: " + std::u16string(path) + u" (" + std::u16string(code) + u")",
          LOG_MIN};
}

class RegistryOps : public test::FreshProcess {
 protected:
  void Boot(sim::OsFacts os = sim::OsFacts::Windows7()) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->Install();
    ASSERT_TRUE(Sys().GetVersionExW(&g_setup.osVersion));
  }

  // The log's entries with their levels; every one must be of the registry category.
  std::vector<Line> Lines() {
    std::vector<Line> lines;
    for (const LogEntry& entry : g_log.entries) {
      EXPECT_EQ(entry.category, CAT_REGISTRY) << "entry " << lines.size();
      lines.push_back({entry.text, entry.level});
    }
    return lines;
  }

  sim::Machine& machine() { return *machine_; }

 private:
  std::unique_ptr<sim::Machine> machine_;
};

// ---- DeleteRegTree and its two views

struct NothingToDeleteCase {
  const char* name;
  DeleteFn fn;
  std::u16string_view path;
};

class DeleteNothing : public RegistryOps,
                      public testing::WithParamInterface<NothingToDeleteCase> {};

TEST_P(DeleteNothing, ReturnsFalseAndLogsNothing) {
  Boot(sim::OsFacts::Windows7X64());
  machine().CreateKey(u"HKCU\\Keep");
  machine().CreateKey(u"HKLM\\Software\\Keep");
  EXPECT_FALSE(GetParam().fn(HKEY_CURRENT_USER, GetParam().path));
  EXPECT_FALSE(GetParam().fn(HKEY_LOCAL_MACHINE, GetParam().path));
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_TRUE(machine().KeyExists(u"HKCU\\Keep"));
  EXPECT_TRUE(machine().KeyExists(u"HKLM\\Software\\Keep"));
}

INSTANTIATE_TEST_SUITE_P(
    Registry, DeleteNothing,
    testing::Values(NothingToDeleteCase{"EmptyDefault", DeleteRegTree, u""},
                    NothingToDeleteCase{"Empty64", DeleteRegTree64, u""},
                    NothingToDeleteCase{"Empty32", DeleteRegTree32, u""},
                    NothingToDeleteCase{"MissingDefault", DeleteRegTree, u"Software\\Nothere"},
                    NothingToDeleteCase{"Missing64", DeleteRegTree64, u"Software\\Nothere"},
                    NothingToDeleteCase{"Missing32", DeleteRegTree32, u"Software\\Nothere"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryOps, DeleteTreeRemovesThreeLevelsBottomUpEachRelativeToItsParent) {
  Boot();
  machine().SetString(u"HKLM\\Software\\Vendor\\App\\Sub1\\Leaf", u"Path", u"C:\\x");
  machine().SetDword(u"HKLM\\Software\\Vendor\\App\\Sub2", u"Count", 3);
  machine().SetString(u"HKLM\\Software\\Vendor", u"", u"default");

  EXPECT_TRUE(DeleteRegTree(HKEY_LOCAL_MACHINE, u"Software\\Vendor"));

  EXPECT_EQ(Lines(), (std::vector<Line>{Deleted(u"Leaf"), Deleted(u"Sub1"), Deleted(u"Sub2"),
                                        Deleted(u"App"), Deleted(u"Software\\Vendor")}));
  EXPECT_FALSE(machine().KeyExists(u"HKLM\\Software\\Vendor"));
  EXPECT_TRUE(machine().KeyExists(u"HKLM\\Software"));
}

TEST_F(RegistryOps, DeleteTreeEmptiesAKeyWithMoreThan201SubKeys) {
  Boot();
  for (int i = 0; i < 250; ++i) {
    std::u16string name = u"k000";
    name[1] = static_cast<char16_t>(u'0' + i / 100);
    name[2] = static_cast<char16_t>(u'0' + i / 10 % 10);
    name[3] = static_cast<char16_t>(u'0' + i % 10);
    machine().CreateKey(u"HKCU\\Software\\Many\\" + name);
  }

  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, u"Software\\Many"));

  EXPECT_FALSE(machine().KeyExists(u"HKCU\\Software\\Many"));
  std::vector<Line> lines = Lines();
  ASSERT_EQ(lines.size(), 251u);
  EXPECT_EQ(lines[249], Deleted(u"k249"));
  EXPECT_EQ(lines[250], Deleted(u"Software\\Many"));
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(), [](const Line& l) { return l.level != LOG_VRB; }),
      0);
}

// A sub-key that cannot be deleted is tried once and passed over; the others go, and every level
// above it fails with the code RegDeleteKeyW gives for a key that still has sub-keys.
struct UndeletableCase {
  const char* name;
  const char* call;  // fails for the sub-key "Held" with `error`
  LONG error;
  std::vector<std::u16string_view> keys;  // below HKCU\Software\Tree
  std::vector<Line> lines;
  std::vector<std::u16string_view> left;  // below HKCU\Software\Tree
};

class UndeletableSubKey : public RegistryOps,
                          public testing::WithParamInterface<UndeletableCase> {};

TEST_P(UndeletableSubKey, IsPassedOverAndTheParentsFail) {
  Boot();
  for (std::u16string_view key : GetParam().keys)
    machine().CreateKey(u"HKCU\\Software\\Tree\\" + std::u16string(key));
  // More failures than a retrying walk would need to give up: each try would log a line.
  machine().FailCall(GetParam().call, GetParam().error, u"Held", 1000);

  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, u"Software\\Tree"));

  EXPECT_EQ(Lines(), GetParam().lines);
  for (std::u16string_view key : GetParam().keys) {
    std::u16string path = u"HKCU\\Software\\Tree\\" + std::u16string(key);
    bool kept = std::find(GetParam().left.begin(), GetParam().left.end(), key) !=
                GetParam().left.end();
    EXPECT_EQ(machine().KeyExists(path), kept) << std::string(path.begin(), path.end());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, UndeletableSubKey,
    testing::Values(
        UndeletableCase{"FirstOfThree", "RegDeleteKeyW", ERROR_ACCESS_DENIED,
                        {u"Held", u"Other1", u"Other2"},
                        {Failed(u"Held", u"0x00000005"), Deleted(u"Other1"), Deleted(u"Other2"),
                         Failed(u"Software\\Tree", u"0x00000005")},
                        {u"Held"}},
        UndeletableCase{"Nested", "RegDeleteKeyW", ERROR_ACCESS_DENIED,
                        {u"A", u"Mid\\Held", u"Mid\\Loose", u"Z"},
                        {Deleted(u"A"), Failed(u"Held", u"0x00000005"), Deleted(u"Loose"),
                         Failed(u"Mid", u"0x00000005"), Deleted(u"Z"),
                         Failed(u"Software\\Tree", u"0x00000005")},
                        {u"Mid\\Held"}},
        // Listed but never found when opened: passed over without a line of its own.
        UndeletableCase{"ListedButNotFound", "RegOpenKeyExW", ERROR_FILE_NOT_FOUND,
                        {u"Held", u"Other"},
                        {Deleted(u"Other"), Failed(u"Software\\Tree", u"0x00000005")},
                        {u"Held"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A symbolic link is deleted as the link; the key it points to and that key's sub-keys stay.
struct LinkCase {
  const char* name;
  sim::OsFacts (*os)();
  DeleteFn fn;
  std::u16string_view link;    // physical path of the link
  std::u16string_view target;  // physical path of the key it points to
  std::u16string_view path;    // what is deleted, below HKLM
  std::vector<Line> lines;
  std::u16string_view gone;    // physical path of the deleted tree
};

class LinkInTree : public RegistryOps, public testing::WithParamInterface<LinkCase> {};

TEST_P(LinkInTree, DeletesTheLinkNeverItsTarget) {
  const LinkCase& c = GetParam();
  Boot(c.os());
  machine().SetString(std::u16string(c.target) + u"\\Child", u"Keep", u"1");
  machine().SetString(c.target, u"Keep", u"2");
  machine().CreateLink(c.link, c.target);
  if (c.gone != c.link) machine().CreateKey(std::u16string(c.gone) + u"\\Real");

  EXPECT_TRUE(c.fn(HKEY_LOCAL_MACHINE, c.path));

  EXPECT_EQ(Lines(), c.lines);
  EXPECT_FALSE(machine().KeyExists(c.gone));
  EXPECT_FALSE(machine().KeyExists(c.link));
  EXPECT_EQ(machine().String(c.target, u"Keep"), u"2");
  EXPECT_EQ(machine().String(std::u16string(c.target) + u"\\Child", u"Keep"), u"1");
}

INSTANTIATE_TEST_SUITE_P(
    Registry, LinkInTree,
    testing::Values(
        LinkCase{"InsideTheTree", sim::OsFacts::Windows7, DeleteRegTree,
                 u"HKLM\\Software\\Tree\\Alias", u"HKLM\\Software\\Target", u"Software\\Tree",
                 {Deleted(u"Alias"), Deleted(u"Real"), Deleted(u"Software\\Tree")},
                 u"HKLM\\Software\\Tree"},
        LinkCase{"TheNamedKey", sim::OsFacts::Windows7, DeleteRegTree, u"HKLM\\Software\\Alias",
                 u"HKLM\\Software\\Target", u"Software\\Alias",
                 {Deleted(u"Software\\Alias")}, u"HKLM\\Software\\Alias"},
        LinkCase{"InsideThe32BitView", sim::OsFacts::Windows7X64, DeleteRegTree32,
                 u"HKLM\\Software\\Wow6432Node\\Tree\\Alias", u"HKLM\\Software\\Target",
                 u"Software\\Tree",
                 {Deleted(u"Alias"), Deleted(u"Real"), Deleted(u"Software\\Tree")},
                 u"HKLM\\Software\\Wow6432Node\\Tree"}),
    [](const auto& info) { return std::string(info.param.name); });

// Cleaning both registries: the 32-bit and the 64-bit variant on the same path.
struct ViewsCase {
  const char* name;
  sim::OsFacts (*os)();
  DeleteFn first, second;
  std::vector<std::u16string_view> keys;  // physical paths
  bool secondFinds;
  std::u16string_view firstGone;          // physical path deleted by the first call
  std::vector<Line> firstLines, secondLines;
};

class BothViews : public RegistryOps, public testing::WithParamInterface<ViewsCase> {};

TEST_P(BothViews, EachVariantDeletesInItsView) {
  const ViewsCase& c = GetParam();
  Boot(c.os());
  for (std::u16string_view key : c.keys) machine().CreateKey(key);

  EXPECT_TRUE(c.first(HKEY_LOCAL_MACHINE, u"Software\\Vendor"));
  EXPECT_EQ(Lines(), c.firstLines);
  EXPECT_FALSE(machine().KeyExists(c.firstGone));
  g_log.entries.clear();

  EXPECT_EQ(c.second(HKEY_LOCAL_MACHINE, u"Software\\Vendor"), c.secondFinds);
  EXPECT_EQ(Lines(), c.secondLines);
  for (std::u16string_view key : c.keys)
    EXPECT_FALSE(machine().KeyExists(key)) << std::string(key.begin(), key.end());
  EXPECT_TRUE(machine().KeyExists(u"HKLM\\Software"));
}

const std::vector<std::u16string_view> kTwoRegistries = {u"HKLM\\Software\\Wow6432Node\\Vendor\\A",
                                                         u"HKLM\\Software\\Vendor\\B"};

INSTANTIATE_TEST_SUITE_P(
    Registry, BothViews,
    testing::Values(
        ViewsCase{"X64ThirtyTwoFirst", sim::OsFacts::Windows7X64, DeleteRegTree32,
                  DeleteRegTree64, kTwoRegistries, true,
                  u"HKLM\\Software\\Wow6432Node\\Vendor",
                  {Deleted(u"A"), Deleted(u"Software\\Vendor")},
                  {Deleted(u"B"), Deleted(u"Software\\Vendor")}},
        ViewsCase{"X64SixtyFourFirst", sim::OsFacts::Windows7X64, DeleteRegTree64,
                  DeleteRegTree32, kTwoRegistries, true, u"HKLM\\Software\\Vendor",
                  {Deleted(u"B"), Deleted(u"Software\\Vendor")},
                  {Deleted(u"A"), Deleted(u"Software\\Vendor")}},
        ViewsCase{"X64DefaultIsThe32BitView", sim::OsFacts::Windows7X64, DeleteRegTree,
                  DeleteRegTree64, kTwoRegistries, true,
                  u"HKLM\\Software\\Wow6432Node\\Vendor",
                  {Deleted(u"A"), Deleted(u"Software\\Vendor")},
                  {Deleted(u"B"), Deleted(u"Software\\Vendor")}},
        ViewsCase{"Win32ThirtyTwoFirst", sim::OsFacts::Windows7, DeleteRegTree32, DeleteRegTree64,
                  {u"HKLM\\Software\\Vendor\\A"}, false, u"HKLM\\Software\\Vendor",
                  {Deleted(u"A"), Deleted(u"Software\\Vendor")},
                  {}},
        ViewsCase{"Win32SixtyFourFirst", sim::OsFacts::Windows7, DeleteRegTree64, DeleteRegTree32,
                  {u"HKLM\\Software\\Vendor\\A"}, false, u"HKLM\\Software\\Vendor",
                  {Deleted(u"A"), Deleted(u"Software\\Vendor")},
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Windows versions before RegDeleteKeyExW: the view variants fall back to RegDeleteKeyW and say
// nothing about it, not even about a key that could not be deleted.
struct NoDeleteKeyExCase {
  const char* name;
  sim::OsFacts (*os)();
  DeleteFn fn;
};

class WithoutRegDeleteKeyEx : public RegistryOps,
                              public testing::WithParamInterface<NoDeleteKeyExCase> {};

TEST_P(WithoutRegDeleteKeyEx, DeletesEverythingWithoutALine) {
  sim::OsFacts os = GetParam().os();
  os.lateExports.erase("advapi32.dll!regdeletekeyexw");
  Boot(os);
  machine().CreateKey(u"HKLM\\Software\\Vendor\\A\\B");
  machine().CreateKey(u"HKLM\\Software\\Vendor\\C");
  machine().CreateKey(u"HKLM\\Software\\Other\\Held");
  machine().FailCall("RegDeleteKeyW", ERROR_ACCESS_DENIED, u"Held");

  EXPECT_TRUE(GetParam().fn(HKEY_LOCAL_MACHINE, u"Software\\Vendor"));
  EXPECT_TRUE(GetParam().fn(HKEY_LOCAL_MACHINE, u"Software\\Other"));

  EXPECT_FALSE(machine().KeyExists(u"HKLM\\Software\\Vendor"));
  EXPECT_TRUE(machine().KeyExists(u"HKLM\\Software\\Other\\Held"));
  EXPECT_EQ(Lines(), std::vector<Line>{});
}

INSTANTIATE_TEST_SUITE_P(
    Registry, WithoutRegDeleteKeyEx,
    testing::Values(NoDeleteKeyExCase{"Xp64", sim::OsFacts::WindowsXp, DeleteRegTree64},
                    NoDeleteKeyExCase{"Xp32", sim::OsFacts::WindowsXp, DeleteRegTree32},
                    NoDeleteKeyExCase{"Windows7Without", sim::OsFacts::Windows7, DeleteRegTree64}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- DeleteRegValue

TEST_F(RegistryOps, DeleteValueReportsOnlyWhatItDeletedOrFailedToDelete) {
  Boot();
  machine().SetString(u"HKCU\\Software\\Vendor", u"Name", u"x");
  machine().SetString(u"HKCU\\Software\\Vendor", u"Stuck", u"y");
  machine().FailCall("RegDeleteValueW", ERROR_ACCESS_DENIED, u"Stuck");

  EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, u"Software\\Vendor", u"name"));
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, u"Software\\Vendor", u"Name"));
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, u"Software\\Nothere", u"Name"));
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, u"", u"Name"));
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, u"Software\\Vendor", u"Stuck"));

  EXPECT_EQ(Lines(),
            (std::vector<Line>{{u"Deleted registry: Software\\Vendor\\name", LOG_VRB},
                               {u"Error deleting registry: Software\\Vendor\\Stuck (0x00000005)",
                                LOG_MIN}}));
  EXPECT_FALSE(machine().Value(u"HKCU\\Software\\Vendor", u"Name"));
  EXPECT_EQ(machine().String(u"HKCU\\Software\\Vendor", u"Stuck"), u"y");
}

// ---- reads

struct DwordCase {
  const char* name;
  DWORD type;
  std::vector<BYTE> data;  // empty: no such value
  LONG result;
  DWORD value;
};

class ReadDword : public RegistryOps, public testing::WithParamInterface<DwordCase> {};

TEST_P(ReadDword, TakesAnyFourByteValueAndNothingElse) {
  Boot();
  machine().CreateKey(u"HKLM\\Software\\Vendor");
  if (!GetParam().data.empty())
    machine().SetValue(u"HKLM\\Software\\Vendor", u"Saved", GetParam().type, GetParam().data);
  DWORD value = 0xDEADBEEF;
  EXPECT_EQ(GetHklmDword(u"Software\\Vendor", u"Saved", &value), GetParam().result);
  EXPECT_EQ(value, GetParam().value);
  EXPECT_TRUE(g_log.entries.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Registry, ReadDword,
    testing::Values(
        DwordCase{"Dword", REG_DWORD, {0x2A, 0, 0, 0}, ERROR_SUCCESS, 42},
        DwordCase{"FourBytesOfBinary", REG_BINARY, {0x78, 0x56, 0x34, 0x12}, ERROR_SUCCESS,
                  0x12345678},
        DwordCase{"Qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, ERROR_INVALID_DATA, 0xDEADBEEF},
        DwordCase{"TwoBytes", REG_BINARY, {1, 2}, ERROR_INVALID_DATA, 0xDEADBEEF},
        DwordCase{"Missing", REG_DWORD, {}, ERROR_FILE_NOT_FOUND, 0xDEADBEEF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryOps, GetDwordOfAMissingKeyFails) {
  Boot();
  DWORD value = 7;
  EXPECT_EQ(GetHklmDword(u"Software\\Nothere", u"Saved", &value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, 7u);
}

TEST_F(RegistryOps, GetStringFitsTerminatesAndLogs) {
  Boot();
  machine().SetString(u"HKLM\\Software\\Vendor", u"Path", u"C:\\Vendor");
  char16_t buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", buffer, 40, true),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buffer), u"C:\\Vendor");
  EXPECT_EQ(std::u16string(buffer + 10, buffer + 20), std::u16string(10, u'\0'))
      << "the first bufferBytes are zero-filled";
  EXPECT_EQ(buffer[20], u'x');
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Get registry: Software\\Vendor\\Path=C:\\Vendor",
                                         LOG_VRB}}));
}

TEST_F(RegistryOps, GetStringTooLongLeavesOnlyZeros) {
  Boot();
  machine().SetString(u"HKLM\\Software\\Vendor", u"Path", u"C:\\Program Files\\Vendor");
  char16_t buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", buffer, 16, true),
            ERROR_MORE_DATA);
  EXPECT_EQ(std::u16string(buffer, buffer + 8), std::u16string(8, u'\0'));
  EXPECT_EQ(std::u16string(buffer + 8, buffer + 16), std::u16string(8, u'x'))
      << "nothing beyond bufferBytes is touched";
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Cannot get reg. key:Software\\Vendor", LOG_MIN}}));

  g_log.entries.clear();
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", buffer, 16, false),
            ERROR_MORE_DATA);
  EXPECT_TRUE(g_log.entries.empty());
}

TEST_F(RegistryOps, GetStringOfWhatIsMissingLogsVerbose) {
  Boot();
  machine().CreateKey(u"HKLM\\Software\\Vendor");
  char16_t buffer[8] = {u'x'};
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Nothere", u"Path", buffer, 16, true),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", buffer, 16, true),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", buffer, 16, false),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Cannot open reg. key:Software\\Nothere", LOG_VRB},
                                        {u"Cannot get reg. key:Software\\Vendor", LOG_VRB}}));
}

TEST_F(RegistryOps, EntryExistsProbesKeyAndValue) {
  Boot();
  machine().SetDword(u"HKLM\\Software\\Vendor", u"Saved", 1);
  EXPECT_TRUE(HklmEntryExists(u"Software\\Vendor", nullptr));
  EXPECT_TRUE(HklmEntryExists(u"Software\\Vendor", u"saved"));
  EXPECT_FALSE(HklmEntryExists(u"Software\\Vendor", u"Other"));
  EXPECT_FALSE(HklmEntryExists(u"Software\\Nothere", nullptr));
  EXPECT_TRUE(g_log.entries.empty());
}

// ---- writes

TEST_F(RegistryOps, SetStringCreatesMissingParentsAndLogs) {
  Boot();
  ASSERT_FALSE(machine().KeyExists(u"HKCU\\Software\\New"));
  EXPECT_EQ(SetRegString(HKEY_CURRENT_USER, u"Software\\New\\Deep", u"Path", u"C:\\x"),
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(machine().Value(u"HKCU\\Software\\New\\Deep", u"Path", &type),
            (std::vector<BYTE>{'C', 0, ':', 0, '\\', 0, 'x', 0, 0, 0}));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Set registry: Software\\New\\Deep\\Path=C:\\x",
                                         LOG_VRB}}));
}

TEST_F(RegistryOps, SetDwordLogsTheValueSigned) {
  Boot();
  EXPECT_EQ(SetHklmDword(u"Software\\Vendor", u"Count", 0xFFFFFFFE), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(machine().Value(u"HKLM\\Software\\Vendor", u"Count", &type),
            (std::vector<BYTE>{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Set registry: Software\\Vendor\\Count=-2", LOG_VRB}}));
}

struct WriteFailureCase {
  const char* call;
  std::u16string_view line;
};

class WriteFailure : public RegistryOps, public testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailure, ReturnsTheCodeWithOneLine) {
  Boot();
  const std::u16string expected = std::u16string(GetParam().line) + u"Software\\Vendor";
  machine().FailCall(GetParam().call, ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Path", u"x"),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Lines(), (std::vector<Line>{{expected, LOG_MIN}}));

  g_log.entries.clear();
  machine().FailCall(GetParam().call, ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetHklmDword(u"Software\\Vendor", u"Count", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Lines(), (std::vector<Line>{{expected, LOG_MIN}}));
  EXPECT_FALSE(machine().Value(u"HKLM\\Software\\Vendor", u"Path"));
  EXPECT_FALSE(machine().Value(u"HKLM\\Software\\Vendor", u"Count"));
}

INSTANTIATE_TEST_SUITE_P(
    Registry, WriteFailure,
    testing::Values(WriteFailureCase{"RegCreateKeyExW", u"Cannot create reg. key:"},
                    WriteFailureCase{"RegOpenKeyExW", u"Cannot open reg. key:"},
                    WriteFailureCase{"RegSetValueExW", u"Cannot set reg. key:"}),
    [](const auto& info) { return std::string(info.param.call); });

TEST_F(RegistryOps, CreateKeyReportsItsFailure) {
  Boot();
  EXPECT_EQ(CreateRegKey(HKEY_CURRENT_USER, u"Software\\A\\B"), ERROR_SUCCESS);
  EXPECT_TRUE(machine().KeyExists(u"HKCU\\Software\\A\\B"));
  EXPECT_TRUE(g_log.entries.empty());
  machine().FailCall("RegCreateKeyExW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateRegKey(HKEY_CURRENT_USER, u"Software\\C"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Lines(), (std::vector<Line>{{u"Cannot create reg. key:Software\\C", LOG_MIN}}));
}

}  // namespace
}  // namespace zp
