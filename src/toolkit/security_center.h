// The products' registrations with the Windows Security Center (WMI, root\SecurityCenter); the
// caller initialises COM around them.
#pragma once

#include "platform/types.h"

namespace zp {

HRESULT RemoveScAntiVirusProduct();
HRESULT RemoveScAntiSpywareProduct();
HRESULT RemoveScFirewallProduct();

}  // namespace zp
