#include "toolkit/security_center.h"

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {
namespace {

constexpr const char16_t* kNamespace = u"\\\\.\\root\\SecurityCenter";
// The products' instance id, the same in every Security Center class.
constexpr Guid kInstanceGuid = {
    0x7591DB91, 0x41F0, 0x48A3, {0xB1, 0x28, 0x1A, 0x29, 0x3F, 0xD8, 0x23, 0x3D}};
constexpr size_t kPathChars = 260;

// The products' instance of the class deleted, on an established connection.
HRESULT DeleteScInstance(std::u16string_view className) {
  UniqueComObject services;
  HRESULT hr = ConnectSecurityCenter(&services);
  if (hr < 0) return hr;
  const std::u16string path = ScObjectPath(className);
  if (hr == S_OK) {
    UniqueBstr objectPath(Com().SysAllocString(path.c_str()));
    if (!objectPath) return E_OUTOFMEMORY;
    hr = Com().WbemServicesDeleteInstance(services.get(), objectPath.get(), 0, nullptr, nullptr);
  }
  return hr;
}

}  // namespace

HRESULT ConnectSecurityCenter(UniqueComObject* services) {
  services->reset();
  UniqueComObject locator;
  HRESULT hr = Com().CoCreateInstance(CLSID_WbemLocator,
                                      CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IWbemLocator, locator.put());
  if (hr < 0) return hr;
  UniqueBstr resource(Com().SysAllocString(kNamespace));
  if (!resource) return E_OUTOFMEMORY;
  // No proxy blanket: the process-wide COM security applies.
  return Com().WbemLocatorConnectServer(locator.get(), resource.get(), nullptr, nullptr, nullptr,
                                        0, nullptr, nullptr, services->put());
}

std::u16string ScObjectPath(std::u16string_view className) {
  char16_t guid[40] = {};
  int written = Com().StringFromGUID2(kInstanceGuid, guid, 40);
  std::u16string path(className);
  path += u".instanceGuid=\"";
  if (written > 0) path += guid;
  path += u'"';
  if (path.size() > kPathChars - 1) path.resize(kPathChars - 1);
  return path;
}

HRESULT RemoveScAntiVirusProduct() { return DeleteScInstance(u"AntiVirusProduct"); }

HRESULT RemoveScAntiSpywareProduct() {
  OsVersionInfo version;
  if (!Sys().GetVersionExW(&version) || version.majorVersion < 6) return S_FALSE;
  return DeleteScInstance(u"AntiSpywareProduct");
}

HRESULT RemoveScFirewallProduct() { return DeleteScInstance(u"FirewallProduct"); }

}  // namespace zp
