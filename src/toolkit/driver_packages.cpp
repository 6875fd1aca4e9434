#include "toolkit/driver_packages.h"

namespace zp {

// The INF store cleanup is not built yet: the packages stay.
void RemoveOemInfs(std::u16string_view, std::u16string_view) {}

}  // namespace zp
