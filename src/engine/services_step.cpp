// The services of the current family and of its server and home-server editions: stopped when
// running, then deleted, each with its treatment of a failure.
#include "platform/constants.h"
#include "platform/platform.h"
#include "engine/steps.h"
#include "setup/format.h"
#include "toolkit/services.h"

namespace zp {
namespace {

enum class Treatment {
  Probe,  // only when it exists; a failed deletion is logged only
  Quiet,  // always; a failed deletion is logged only
  Loud,   // always; a failed deletion is shown
};

struct ProductService {
  std::u16string_view name;
  Treatment treatment;
};

constexpr ProductService kServices[] = {
    {u"ostrel! Remote Install Service", Treatment::Probe},
    {u"ostrel! Net Client Service", Treatment::Probe},
    {u"ostrel! Mail Scanner", Treatment::Quiet},
    {u"ostrel! Firewall", Treatment::Quiet},
    {u"ostrel! Antivirus", Treatment::Loud},
    {u"ostrel! Enterprise Client Service", Treatment::Loud},
    {u"ostrelWHSP", Treatment::Loud},
    {u"OstrelWhsClient", Treatment::Loud},
    {u"Ostrel.WHS.Provider.exe", Treatment::Loud},
    {u"Ostrel.WHS.Client.exe", Treatment::Loud},
    {u"zorRvrt", Treatment::Loud},
    {u"zorVmm", Treatment::Loud},
};

}  // namespace

LONG StopAndRemoveService(std::u16string_view name, bool showFailure) {
  if (IsServiceRunning(name)) StopService(name);  // deleted even if it stays
  LONG code = RemoveService(name);
  if (code != ERROR_SUCCESS && showFailure) {
    std::u16string text = Format(u"uninstall service error 0x%08X", static_cast<DWORD>(code));
    Ui().MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK);  // Windows' own "Error" caption
  }
  return code;
}

void RemoveProductServices() {
  for (const ProductService& service : kServices) {
    if (service.treatment == Treatment::Probe && !ServiceExists(service.name)) continue;
    StopAndRemoveService(service.name, service.treatment == Treatment::Loud);
  }
}

}  // namespace zp
