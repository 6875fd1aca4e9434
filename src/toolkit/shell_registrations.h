// Shell and system registrations of the products: context-menu handlers and App Paths entries.
#pragma once

#include <string_view>

namespace zp {

// The context-menu handler registered under `name`.
void RemoveContextMenuHandler(std::u16string_view name);
// The App Paths entry of `program`, only when its "Path" names `folder`.
void RemoveAppPath(std::u16string_view program, std::u16string_view folder);

}  // namespace zp
