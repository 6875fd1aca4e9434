// Shell and system registrations of the products: context-menu handlers, App Paths entries,
// and the restore privilege the user hives need.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// The context-menu handler registered under `name`, its shell extension class and approval.
void RemoveContextMenuHandler(std::u16string_view name);
// The App Paths entry of `program`, only when its "Path" names `folder`; the read's result.
LONG RemoveAppPath(std::u16string_view program, std::u16string_view folder);
// Takes every entry naming `fileName` out of the virtual DOS driver list (HKLM ...\\VDD); false
// when the list could not be read whole (it then stays as it was).
bool RemoveVirtualDeviceDriver(std::u16string_view fileName);
// The list's text as read (of registry type `type`) normalised for the removal: leading,
// trailing and inner empty strings dropped and terminated; false when it cannot be.
bool NormalizeDeviceDriverList(std::u16string& text, DWORD type);
// The COM security of the process, right after the thread's CoInitialize; true when
// CoInitializeSecurity succeeded.
bool InitComSecurity();
// SeRestorePrivilege for the process (NT family); a Win32 error code.
LONG EnableRestorePrivilege();

}  // namespace zp
