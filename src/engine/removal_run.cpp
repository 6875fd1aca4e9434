#include "engine/removal_run.h"

#include <string>

#include "catalogue/catalogue.h"
#include "engine/sequences.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"

namespace zp {
namespace {

struct Handler {
  std::u16string_view productId;
  bool (*run)();
};

constexpr Handler kHandlers[] = {
    {u"qv_pro", RemoveGen4Desktop},        {u"qv_srv", RemoveGen4Server},
    {u"vork", RemoveRescueCdManager},      {u"qv_ker", RemoveKerioPlugin},
    {u"qv_pda_palm", RemovePdaEdition},    {u"qv_32", RemoveOld32BitProduct},
    {u"qv_net", RemoveGen4ManagedClient},  {u"qv_mgm", RemoveNetworkManager},
    {u"qv_whs", RemoveGen4HomeServer},     {u"ois", RunCurrentGenerationRemoval},
    {u"obp", RunCurrentGenerationRemoval},
};

constexpr size_t kProgressChars = 32767;  // the view's 32,768 characters, terminator included

// In a preview the steps' own log and progress lines would claim removals that did not happen
// ("Deleted registry: ...", "Registry - Removed"): they are held back while the sequence runs,
// and the list of recorded changes says what the removal would do.
bool g_holdProgress = false;

class PreviewSilence {
 public:
  PreviewSilence() : active_(g_run.preview), logWasEnabled_(g_log.enabled) {
    if (!active_) return;
    g_log.enabled = false;
    g_holdProgress = true;
  }
  ~PreviewSilence() {
    if (!active_) return;
    g_log.enabled = logWasEnabled_;
    g_holdProgress = false;
  }

 private:
  bool active_;
  bool logWasEnabled_;
};

}  // namespace

RemovalResult RemovalRun() {
  g_setup.roPath = g_product.productFolder;
  PreviewSilence silence;
  for (const Handler& handler : kHandlers) {
    if (SameText(g_product.productId, handler.productId))
      return handler.run() ? RemovalResult::Completed : RemovalResult::Failed;
  }
  return RemovalResult::UnknownProduct;
}

void AppendProgress(std::u16string_view line) {
  if (g_run.dialogWindow == nullptr || g_holdProgress) return;
  HWND view = Ui().GetDlgItem(g_run.dialogWindow, IDC_PROGRESS);
  if (view == nullptr) return;
  std::u16string text(kProgressChars + 1, u'\0');
  int length = Ui().GetWindowTextW(view, text.data(), static_cast<int>(kProgressChars + 1));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  text.append(line).append(u"\r\n");
  // Whole oldest lines make room, so that the newest text stays visible; a line too long for
  // the view keeps its end.
  const size_t newest = text.size() - line.size() - 2;  // where the new line begins
  size_t dropped = 0;
  while (text.size() - dropped > kProgressChars) {
    size_t end = text.find(u"\r\n", dropped);
    if (end >= newest) {
      dropped = text.size() - kProgressChars;
      break;
    }
    dropped = end + 2;
  }
  text.erase(0, dropped);
  Ui().SetWindowTextW(view, text.c_str());
}

}  // namespace zp
