// The file server parameters the server editions changed and saved.
#include "engine/steps.h"
#include "platform/constants.h"
#include "setup/setup_globals.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

constexpr std::u16string_view kServerParameters =
    u"System\\CurrentControlSet\\Services\\LanmanServer\\Parameters";

struct SavedParameter {
  std::u16string_view saved;   // the earlier value, in the product's key
  std::u16string_view server;  // the file server's parameter
};

constexpr SavedParameter kOplockParameters[] = {
    {u"OldEnableOplocks", u"EnableOplocks"},
    {u"OldCachedOpenLimit", u"CachedOpenLimit"},
};

}  // namespace

void RestoreServerOplocks() {
  // The key the setup state remembered when it started, before detection named the product.
  const std::u16string& productKey = g_setup.setupRegistryKey;
  for (const SavedParameter& parameter : kOplockParameters) {
    std::u16string saved(parameter.saved);
    if (HklmEntryExists(productKey, saved.c_str())) {
      DWORD value = 0;
      GetHklmDword(productKey, parameter.saved, &value);
      SetHklmDword(kServerParameters, parameter.server, value);
    } else {
      DeleteRegValue(HKEY_LOCAL_MACHINE, kServerParameters, parameter.server);
    }
  }
}

}  // namespace zp
