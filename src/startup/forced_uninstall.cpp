#include "startup/forced_uninstall.h"

#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/detection.h"
#include "platform/platform.h"
#include "setup/setup_globals.h"
#include "startup/results.h"

namespace zp {
namespace {
constexpr unsigned long kRestartRequested = 0x20000000;
}

bool RunForcedUninstall() {
  DetectInstallLocation(u"qv_pro");
  std::u16string path = g_product.productFolder;
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  path = path.empty() ? std::u16string(u"Setup\\Tavlink.dll") : path + u"\\Setup\\Tavlink.dll";

  HMODULE library = Sys().LoadLibraryW(path.c_str());
  if (library == nullptr) return false;
  if (const void* address = Sys().GetProcAddress(library, "tavlinkUninstallProgram")) {
    auto uninstall = reinterpret_cast<TavlinkUninstallProgram>(const_cast<void*>(address));
    unsigned long result = 0;
    uninstall(0, 0, 1, &result);
    if (result == kRestartRequested) g_setup.offerRestart = true;
  }
  Sys().FreeLibrary(library);
  ShowResults();
  return true;
}

}  // namespace zp
