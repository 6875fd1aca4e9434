// The path functions every part of the system builds its paths with.
#pragma once

#include <string>
#include <string_view>

namespace zp {

// `base` and `name` joined with exactly the separators needed; a quoted base keeps its quotes
// around the whole result.
std::u16string PathJoin(std::u16string_view base, std::u16string_view name);

// The root of `path` with a trailing backslash: "C:\" for "C:\dir", "\\srv\share\" for a UNC
// path.
std::u16string PathRoot(std::u16string_view path);

// The upper-case form the system compares paths and names in (ASCII and Latin-1 letters).
std::u16string UpperCase(std::u16string_view text);

}  // namespace zp
