#include "startup/forced_uninstall.h"

#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/detection.h"
#include "platform/platform.h"
#include "setup/log.h"
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
    struct Call {
      TavlinkUninstallProgram uninstall;
      unsigned long result;
    } call{reinterpret_cast<TavlinkUninstallProgram>(const_cast<void*>(address)), 0};
    // The product's own code: a crash inside it must not end the run.
    DWORD exception = 0;
    bool returned = Sys().CallGuarded(
        [](void* context) {
          auto* c = static_cast<Call*>(context);
          c->uninstall(0, 0, 1, &c->result);
        },
        &call, &exception);
    if (!returned)
      g_log.Print(LOG_MIN, CAT_SYSTEM, u"Exception 0x%08X in %s", exception,
                  u"tavlinkUninstallProgram");
    else if (call.result == kRestartRequested)
      g_setup.offerRestart = true;
  }
  Sys().FreeLibrary(library);
  ShowResults();
  return true;
}

}  // namespace zp
