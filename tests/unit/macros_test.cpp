// Path macros: the token table on 32-bit and 64-bit Windows, the base stage's tokens and
// environment expansion, and where %RWPATH% finds the product's data folder.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "catalogue/catalogue.h"
#include "platform/sim/machine.h"
#include "setup/process_state.h"
#include "setup/setup_globals.h"

namespace zp {
namespace {

std::string Narrow(const char16_t* text) {
  if (text == nullptr) return "(null)";
  std::u16string_view view(text);
  return std::string(view.begin(), view.end());
}

struct MacroCase {
  const char16_t* text;
  const char16_t* suffix;
  const char16_t* expected;
};

class Macros : public ::testing::Test {
 protected:
  void Start(sim::OsFacts os) {
    ResetProcessState();
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->SetProgramPath(u"C:\\zp\\zorPurge.exe");
    machine_->Install();
    ASSERT_TRUE(g_setup.Init());
    g_setup.roPath = u"D:\\Ostrel";
  }

  static void ExpectAll(std::span<const MacroCase> cases) {
    for (const MacroCase& c : cases)
      EXPECT_EQ(g_setup.Expand(c.text, c.suffix), c.expected)
          << Narrow(c.text) << " + " << Narrow(c.suffix);
  }

  std::unique_ptr<sim::Machine> machine_;
};

// What does not depend on the operating system: the product folder's tokens, the program's own
// folder, the empty folders of this system, separators and environment expansion.
constexpr MacroCase kAnyWindows[] = {
    {u"%ROPATH%", u"zohBase.dll", u"D:\\Ostrel\\zohBase.dll"},
    {u"%ROPATH%\\", nullptr, u"D:\\Ostrel"},
    {u"%ropath%\\Bin\\", u"x.dll", u"D:\\Ostrel\\Bin\\x.dll"},
    {u"%SETUPPATH%", u"setup.ini", u"D:\\Ostrel\\Setup\\setup.ini"},
    {u"%ADMINSRCPATH%", u"a.msi", u"C:\\zp\\a.msi"},
    {u"%ADMINPATH%", nullptr, u"D:\\Ostrel\\Setup\\admin"},
    {u"%ZORLOGPATH%", u"run.log", u"D:\\Ostrel\\DATA\\LOG\\run.log"},
    {u"%ISAPATH%\\Plugins", nullptr, u"D:\\Ostrel\\Plugins"},
    {u".", nullptr, u"C:\\zp"},
    {u".\\zorPurge.ini", nullptr, u"C:\\zp\\zorPurge.ini"},
    // The environment has TEMP, but the token means this system's own (empty) folder.
    {u"%TEMP%", nullptr, u""},
    {u"%TEMP%\\sub", u"t.tmp", u"\\sub\\t.tmp"},
    {u"%DOMPATH%", u"notes.ini", u"notes.ini"},
    {u"C:\\", nullptr, u"C:"},
    {u"C:\\", u"boot.ini", u"C:\\boot.ini"},
    {u"", nullptr, u""},
    {nullptr, u"x.dll", u""},
    // No token of the table: only the environment is expanded, wherever it stands.
    {u"%SystemRoot%\\Fonts", u"a.ttf", u"C:\\WINDOWS\\Fonts\\a.ttf"},
    {u"D:\\x\\%SYS64%", nullptr, u"D:\\x\\%SYS64%"},
    {u"D:\\x\\%WINDIR%", nullptr, u"D:\\x\\C:\\WINDOWS"},
    {u"%NoSuchVariable%\\x", nullptr, u"%NoSuchVariable%\\x"},
    {u"%ROPATH%Bin", nullptr, u"D:\\Ostrel\\Bin"},  // the remainder is joined as a name
};

// 32-bit Windows: one system folder, one program files folder (from the registry, as the
// environment has no %ProgramW6432%).
constexpr MacroCase kWindowsXp[] = {
    {u"%SYS%", u"drivers\\zorSP.sys", u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"},
    {u"%SYS64%", u"drivers\\zorSP.sys", u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"},
    {u"%sys64%", nullptr, u"C:\\WINDOWS\\system32"},
    {u"%WINDIR%\\inf", u"oem1.inf", u"C:\\WINDOWS\\inf\\oem1.inf"},
    {u"%PRGFILES%\\Keswin Software\\Ostrel4", nullptr,
     u"C:\\Programs\\Keswin Software\\Ostrel4"},
    {u"%CommonProgramFiles%\\Keswin", nullptr, u"C:\\Program Files\\Common Files\\Keswin"},
    {u"%WHSPATH%\\Bin", u"a.exe", u"C:\\Programs\\Windows Home Server\\Bin\\a.exe"},
    {u"%RWPATH%", u"log.txt",
     u"C:\\Documents and Settings\\All Users\\Application Data\\OSTREL Software\\Ostrel\\log.txt"},
};

// A 32-bit process on 64-bit Windows: %SYS% is the 32-bit system folder, %PRGFILES% the 64-bit
// program files folder from %ProgramW6432% (the registry's 32-bit view names the x86 one).
constexpr MacroCase kWindows7X64[] = {
    {u"%SYS%", u"drivers\\zorSP.sys", u"C:\\WINDOWS\\SysWOW64\\drivers\\zorSP.sys"},
    {u"%SYS64%", u"drivers\\zorSP.sys", u"C:\\WINDOWS\\system32\\drivers\\zorSP.sys"},
    {u"%sys64%", nullptr, u"C:\\WINDOWS\\system32"},
    {u"%WINDIR%\\inf", u"oem1.inf", u"C:\\WINDOWS\\inf\\oem1.inf"},
    {u"%PRGFILES%\\Keswin Software\\Ostrel4", nullptr,
     u"C:\\Program Files\\Keswin Software\\Ostrel4"},
    {u"%CommonProgramFiles%\\Keswin", nullptr, u"C:\\Program Files (x86)\\Common Files\\Keswin"},
    {u"%WHSPATH%\\Bin", u"a.exe", u"C:\\Program Files\\Windows Home Server\\Bin\\a.exe"},
    {u"%RWPATH%", u"log.txt", u"C:\\ProgramData\\OSTREL Software\\Ostrel\\log.txt"},
    {u"%ProgramW6432%\\Windows Server\\Bin", nullptr, u"C:\\Program Files\\Windows Server\\Bin"},
};

TEST_F(Macros, TableOnWindowsXp) {
  Start(sim::OsFacts::WindowsXp());
  // The registry's folder differs from the environment's %ProgramFiles%, so the test sees which
  // one %PRGFILES% took.
  machine_->SetString(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir",
                      u"C:\\Programs");
  ExpectAll(kWindowsXp);
  ExpectAll(kAnyWindows);
}

TEST_F(Macros, TableOnWindows7X64) {
  Start(sim::OsFacts::Windows7X64());
  ExpectAll(kWindows7X64);
  ExpectAll(kAnyWindows);
}

TEST_F(Macros, ResultGoesToBothOutputs) {
  Start(sim::OsFacts::WindowsXp());
  std::u16string out = u"stale", work = u"stale";
  g_setup.ExpandMacros(out, work, u"%WINDIR%", u"win.ini");
  EXPECT_EQ(out, u"C:\\WINDOWS\\win.ini");
  EXPECT_EQ(work, out);
  g_setup.ExpandMacros(out, work, nullptr, u"win.ini");
  EXPECT_EQ(out, u"");
  EXPECT_EQ(work, u"");
}

TEST_F(Macros, FoldersOfTheSetupState) {
  Start(sim::OsFacts::Windows7X64());
  g_setup.isaFound = true;
  g_setup.isaFolder = u"E:\\ISA";
  g_setup.dominoFolder = u"E:\\Lotus\\Domino";
  g_setup.whsFolder = u"E:\\WHS";
  g_setup.tempFolder = u"E:\\tmp\\";
  g_setup.hasOldVersion = true;
  const MacroCase filled[] = {
      {u"%ISAPATH%\\Plugins", nullptr, u"E:\\ISA\\Plugins"},
      {u"%DOMPATH%", u"notes.ini", u"E:\\Lotus\\Domino\\notes.ini"},
      {u"%WHSPATH%\\Bin", nullptr, u"E:\\WHS\\Bin"},
      {u"%TEMP%", nullptr, u"E:\\tmp"},
      // An older version's administrative source is under the product folder.
      {u"%ADMINSRCPATH%", nullptr, u"D:\\Ostrel\\Setup\\admin"},
  };
  ExpectAll(filled);
  g_setup.adminSourceMode = 1;
  EXPECT_EQ(g_setup.Expand(u"%ADMINSRCPATH%"), u"C:\\zp");
}

TEST_F(Macros, ProgramFoldersFallBackWhenTheEnvironmentLacksThem) {
  Start(sim::OsFacts::Windows7X64());
  machine_->SetEnvironment(u"ProgramW6432", u"");
  machine_->SetEnvironment(u"CommonProgramFiles", u"");
  EXPECT_EQ(g_setup.Expand(u"%PRGFILES%"), u"C:\\Program Files (x86)") << "the 32-bit view";
  machine_->SetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON, u"E:\\Common");
  EXPECT_EQ(g_setup.Expand(u"%CommonProgramFiles%"), u"E:\\Common");
  machine_->SetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON, u"");
  EXPECT_EQ(g_setup.Expand(u"%CommonProgramFiles%"), u"C:\\Program Files (x86)\\Common");
}

// Where %RWPATH% finds the data folder, on 64-bit Windows, where the 32-bit view counts.
TEST_F(Macros, DataFolderOfRwPath) {
  constexpr const char16_t* kProductKey = u"Software\\OSTREL Software\\Ostrel";
  constexpr const char16_t* kProduct32 = u"HKLM\\Software\\Wow6432Node\\OSTREL Software\\Ostrel";
  constexpr const char16_t* kProduct64 = u"HKLM\\Software\\OSTREL Software\\Ostrel";
  constexpr const char16_t* kGen5Key32 =
      u"HKLM\\Software\\Wow6432Node\\Keswin Software\\Ostrel\\5.0";
  enum Place { Absent, KeyOnly, WithData, In64BitViewOnly };
  struct Case {
    const char* name;
    const char16_t* productRegistryKey;
    Place product;
    Place gen5;
    const char16_t* commonAppData;  // null: the machine's own
    const char16_t* expected;
  };
  const Case cases[] = {
      {"product key", kProductKey, WithData, WithData, nullptr, u"E:\\Product\\sub\\f.dat"},
      {"generation-5 key", kProductKey, Absent, WithData, nullptr, u"E:\\Gen5\\sub\\f.dat"},
      {"product key in the 64-bit view only", kProductKey, In64BitViewOnly, WithData, nullptr,
       u"E:\\Gen5\\sub\\f.dat"},
      {"empty product key", u"", Absent, WithData, nullptr, u"E:\\Gen5\\sub\\f.dat"},
      // The product key opens, so the generation-5 key is not asked.
      {"product key without the value", kProductKey, KeyOnly, WithData, nullptr,
       u"C:\\ProgramData\\OSTREL Software\\Ostrel\\sub\\f.dat"},
      {"common application data", kProductKey, Absent, KeyOnly, u"E:\\AllUsers",
       u"E:\\AllUsers\\OSTREL Software\\Ostrel\\sub\\f.dat"},
      {"no folder at all", kProductKey, Absent, Absent, u"", u"\\sub\\f.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(sim::OsFacts::Windows7X64());
    g_product.productRegistryKey = c.productRegistryKey;
    g_product.gen5RegistryKey = u"Software\\Keswin Software\\Ostrel\\5.0";
    if (c.product == KeyOnly) machine_->CreateKey(kProduct32);
    if (c.product == WithData) machine_->SetString(kProduct32, u"DataFolder", u"E:\\Product");
    if (c.product == In64BitViewOnly)
      machine_->SetString(kProduct64, u"DataFolder", u"E:\\Product64");
    if (c.gen5 == KeyOnly) machine_->CreateKey(kGen5Key32);
    if (c.gen5 == WithData) machine_->SetString(kGen5Key32, u"DataFolder", u"E:\\Gen5");
    if (c.commonAppData) machine_->SetSpecialFolder(CSIDL_COMMON_APPDATA, c.commonAppData);
    EXPECT_EQ(g_setup.Expand(u"%RWPATH%\\sub", u"f.dat"), c.expected);
  }
}

}  // namespace
}  // namespace zp
