// The products' driver packages in the Windows INF store.
#pragma once

#include <string_view>

namespace zp {

// Uninstalls every OEM INF whose catalog file and provider match.
void RemoveOemInfs(std::u16string_view catalogFile, std::u16string_view provider);

}  // namespace zp
