#include "contract.h"

namespace zp::contract {
namespace {

using ResourcesContract = Contract;

// The program's string tables, read as RT_STRING blocks of 16 counted strings.
std::u16string EntryOfBlock(HMODULE module, unsigned id, LANGID language) {
  HRSRC found = Res().FindResourceExW(module, RT_STRING, IntResource(id / 16 + 1), language);
  if (found == nullptr) return u"<none>";
  HGLOBAL loaded = Res().LoadResource(module, found);
  const auto* data = static_cast<const char16_t*>(Res().LockResource(loaded));
  DWORD size = Res().SizeofResource(module, found);
  const char16_t* end = data + size / 2;
  for (unsigned i = 0; i < id % 16 && data < end; ++i) data += 1 + *data;
  if (data >= end) return u"<outside>";
  return std::u16string(data + 1, *data);
}

TEST_F(ResourcesContract, StringBlocksHoldCountedStrings) {
  HMODULE module = Sys().GetModuleHandleW(nullptr);
  EXPECT_EQ(EntryOfBlock(module, 1, 1033), u"Close");
  EXPECT_EQ(EntryOfBlock(module, 0, 1033), u"") << "id 0 is an empty entry of block 1";
  EXPECT_EQ(EntryOfBlock(module, 1, 1029), u"Zav\u0159\u00edt");
  EXPECT_EQ(EntryOfBlock(module, 10005, 1033), u"Program was successfully removed");
  EXPECT_EQ(EntryOfBlock(module, 2818, 1033), u"<none>");
}

TEST_F(ResourcesContract, LanguageWithoutTheBlockIsNotFound) {
  HMODULE module = Sys().GetModuleHandleW(nullptr);
  // Block 1251 (id 20000) exists in English only.
  ASSERT_NE(Res().FindResourceExW(module, RT_STRING, IntResource(1251), 1033), nullptr);
  HRSRC czech = Res().FindResourceExW(module, RT_STRING, IntResource(1251), 1029);
  EXPECT_EQ(czech, nullptr);
}

}  // namespace
}  // namespace zp::contract

#ifdef _WIN32
#include "resources/string_table.h"

namespace zp::contract {
namespace {

// The tables the resource compiler put into the program, against the same texts as the C++
// compiler reads them from the generated host table: a code-page slip shows here.
TEST_F(ResourcesContract, EveryStringOfTheSourceIsInTheProgram) {
  HMODULE module = Sys().GetModuleHandleW(nullptr);
  size_t checked = 0;
  for (const StringEntry& entry : StringTableEntries()) {
    EXPECT_EQ(EntryOfBlock(module, entry.id, entry.language), std::u16string(entry.text))
        << "id " << entry.id << " language " << entry.language;
    ++checked;
  }
  EXPECT_EQ(checked, 39u);
}

}  // namespace
}  // namespace zp::contract
#endif
