#include "platform/platform.h"

#include <cstdlib>

namespace zp {
namespace {

Platform g_platform;

template <typename Facet>
Facet& Installed(Facet* facet) {
  // A call through the seam before a backend is installed is a programming error.
  if (facet == nullptr) std::abort();
  return *facet;
}

}  // namespace

Platform InstallPlatform(const Platform& platform) {
  Platform previous = g_platform;
  g_platform = platform;
  return previous;
}

Platform InstalledPlatform() { return g_platform; }

Registry& Reg() { return Installed(g_platform.registry); }
FileSystem& Files() { return Installed(g_platform.files); }
System& Sys() { return Installed(g_platform.system); }
Windows& Ui() { return Installed(g_platform.windows); }
Resources& Res() { return Installed(g_platform.resources); }
Services& Svc() { return Installed(g_platform.services); }
ComObjects& Com() { return Installed(g_platform.com); }

}  // namespace zp
