// The products' registrations with the Windows Security Center: their antivirus, antispyware
// and firewall instances in the WMI namespace root\SecurityCenter. The caller initialises COM
// around them; the calls run under the process's COM security. Nothing is logged.
#pragma once

#include <string>
#include <string_view>

#include "platform/owners.h"
#include "platform/types.h"

namespace zp {

// The Security Center's services on the local computer (WMI, "\\.\root\SecurityCenter").
HRESULT ConnectSecurityCenter(UniqueComObject* services);

// The object path of the products' instance of a Security Center class:
// Class.instanceGuid="{7591DB91-41F0-48A3-B128-1A293FD8233D}".
std::u16string ScObjectPath(std::u16string_view className);

// Each deletes the products' instance: S_OK, or the failure (WBEM_E_NOT_FOUND when there is
// none). Before Windows Vista there is no antispyware class: S_FALSE without any WMI call.
HRESULT RemoveScAntiVirusProduct();
HRESULT RemoveScAntiSpywareProduct();
HRESULT RemoveScFirewallProduct();

}  // namespace zp
