// The products' driver packages (the OEM INF copies of the Windows Inf folder) and their network
// components (the Windows network configuration, INetCfg).
#pragma once

#include <string>
#include <string_view>

#include "platform/owners.h"
#include "platform/types.h"

namespace zp {

// Which OEM INF copies belong to a product: the [Version] CatalogFile and Provider (an empty
// provider matches any). Both are compared without case and as the profile reader returns them,
// so a provider token ("%OSTR%") is compared as that token.
struct InfMatch {
  std::u16string catalogFile;
  std::u16string provider;
};

// Uninstalls every OEM INF of the Inf folder that matches and deletes its .inf and .pnf copies
// (at the next restart when they are in use). Always 0.
LONG RemoveOemInfs(const InfMatch& match);
LONG RemoveOemInfs(std::u16string_view catalogFile, std::u16string_view provider);

// Removes a network component and logs the outcome; once it is gone, also the driver packages of
// `catalogFile` (when one is given). `extra` is not read. The removal's HRESULT; 0 also when the
// packages were removed.
HRESULT RemoveNetworkComponent(std::u16string_view componentId, std::u16string_view catalogFile,
                               std::u16string_view extra);
// The removal itself, applied: S_FALSE when the component is not installed.
HRESULT UninstallNetComponent(std::u16string_view componentId);

// The network configuration, initialised, with the system-wide write lock (waited for 5,000 ms
// at most). On success COM stays initialised and the lock held until ReleaseNetCfg. When another
// program keeps the lock the result is NETCFG_E_NO_WRITE_LOCK, and `lockHolder` receives its
// description when it gave one.
HRESULT AcquireNetCfg(std::u16string_view clientDescription, UniqueComObject* netCfg,
                      UniqueCoTaskText* lockHolder);
// Removes the component from the configuration and applies it: S_FALSE when it is not there.
HRESULT DeinstallNetComponent(ComObject netCfg, std::u16string_view componentId);
// Undoes AcquireNetCfg: the configuration, its write lock, its reference and COM.
HRESULT ReleaseNetCfg(UniqueComObject netCfg);

}  // namespace zp
