#include "toolkit/shell_registrations.h"

namespace zp {

// The shell registrations are not built yet: both leave the registry as it is.
void RemoveContextMenuHandler(std::u16string_view) {}
void RemoveAppPath(std::u16string_view, std::u16string_view) {}

}  // namespace zp
