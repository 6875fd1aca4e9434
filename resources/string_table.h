// The program's string tables for the host build, generated from strings.txt like the .rc file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zp {

struct StringEntry {
  std::uint16_t language;
  std::uint16_t id;
  std::u16string_view text;
};

// Every entry of both tables.
std::span<const StringEntry> StringTableEntries();

}  // namespace zp
