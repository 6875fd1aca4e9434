// Shell and system registrations of the products: context-menu handlers, App Paths entries,
// and the restore privilege the user hives need.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace zp {

// The context-menu handler registered under `name`, its shell extension class and approval.
void RemoveContextMenuHandler(std::u16string_view name);
// The App Paths entry of `program`, only when its "Path" names `folder`; the read's result.
LONG RemoveAppPath(std::u16string_view program, std::u16string_view folder);
// SeRestorePrivilege for the process (NT family); a Win32 error code.
LONG EnableRestorePrivilege();

}  // namespace zp
