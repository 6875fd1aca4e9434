#include "toolkit/security_center.h"

namespace zp {
namespace {
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001);  // E_NOTIMPL
}

// The Security Center cleanup is not built yet: nothing is removed, and the result says so.
HRESULT RemoveScAntiVirusProduct() { return kNotImplemented; }
HRESULT RemoveScAntiSpywareProduct() { return kNotImplemented; }
HRESULT RemoveScFirewallProduct() { return kNotImplemented; }

}  // namespace zp
