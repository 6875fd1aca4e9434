#include "ui/main_dialog.h"

#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/detection.h"
#include "engine/removal_run.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "startup/preview.h"
#include "startup/results.h"
#include "startup/run_settings.h"
#include "startup/strings.h"

namespace zp {
namespace {

constexpr int kTextChars = 32768;
constexpr INT_PTR kEndCode = 8;

WORD LowWord(WPARAM value) { return static_cast<WORD>(value & 0xFFFF); }
WORD HighWord(WPARAM value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }

std::u16string ControlText(HWND dialog, int id) {
  HWND control = Ui().GetDlgItem(dialog, id);
  if (control == nullptr) return {};
  std::u16string text(kTextChars, u'\0');
  int length = Ui().GetWindowTextW(control, text.data(), kTextChars);
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

void SetControlText(HWND dialog, int id, const std::u16string& text) {
  if (HWND control = Ui().GetDlgItem(dialog, id)) Ui().SetWindowTextW(control, text.c_str());
}

void OnInitDialog(HWND dialog) {
  g_run.dialogWindow = dialog;
  HICON icon = Ui().LoadIconW(g_setup.hInstance, IntResource(IDI_APP));
  Ui().SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  Ui().SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  const std::pair<UINT, int> texts[] = {{IDS_CLOSE, IDC_CLOSE},
                                        {IDS_UNINSTALL, IDC_UNINSTALL},
                                        {IDS_FOLDER_TEXT, IDC_FOLDER_TEXT},
                                        {IDS_PRODUCT_LABEL, IDC_PRODUCT_LABEL}};
  for (const auto& [string, control] : texts) SetControlText(dialog, control, LoadText(string));
  if (Ui().GetDlgItem(dialog, IDC_PRODUCT)) PreselectInstalledProduct(dialog, IDC_PRODUCT);
}

void OnUninstall(HWND dialog) {
  g_product.productFolder = ControlText(dialog, IDC_FOLDER);
  g_product.productId = DisplayNameToProductId(ControlText(dialog, IDC_PRODUCT)).value_or(u"");
  Ui().SetCursor(Ui().LoadCursorW(nullptr, IDC_WAIT));
  RemovalRun();
  ReportPreview();
  Ui().SetCursor(Ui().LoadCursorW(nullptr, IDC_ARROW));
  for (int id : {IDC_UNINSTALL, IDC_FOLDER, IDC_BROWSE})
    if (HWND control = Ui().GetDlgItem(dialog, id)) Ui().EnableWindow(control, FALSE);
  g_run.removalRan = true;
  ShowResults();
}

void OnProductChanged(HWND dialog) {
  HWND list = Ui().GetDlgItem(dialog, IDC_PRODUCT);
  LRESULT index = list ? Ui().SendMessageW(list, CB_GETCURSEL, 0, 0) : CB_ERR;
  if (index < 0 || static_cast<size_t>(index) >= DisplayList().size()) return;
  DetectInstallLocation(DisplayList()[static_cast<size_t>(index)].productId);
}

void OnBrowse(HWND dialog) {
  const std::u16string caption = LoadText(IDS_BROWSE_CAPTION, 256);
  const std::u16string prompt = LoadText(IDS_BROWSE_PROMPT, 256);
  std::u16string path = g_product.productFolder.substr(0, 259);
  if (BrowseForFolder(caption, prompt, dialog, &path)) g_product.productFolder = path;
  // The field shows the folder the run will use; typed text not yet confirmed is replaced.
  SetControlText(dialog, IDC_FOLDER, g_product.productFolder);
}

struct BrowseData {
  const std::u16string* caption;
  const std::u16string* startFolder;
};

int ZP_STDCALL BrowseCallbackProc(HWND picker, UINT message, LPARAM lParam, LPARAM data) {
  const auto* browse = reinterpret_cast<const BrowseData*>(data);
  if (message == BFFM_INITIALIZED) {
    Ui().SetWindowTextW(picker, browse->caption->c_str());
    const std::u16string& start = *browse->startFolder;
    if (!start.empty()) {
      std::u16string root = PathRoot(start);
      std::u16string selection = start;
      if (root.size() < start.size()) {
        if (selection.back() == u'\\') selection.pop_back();
      } else {
        selection = root;
      }
      Ui().SendMessageW(picker, BFFM_SETSELECTIONW, TRUE,
                        reinterpret_cast<LPARAM>(selection.c_str()));
    }
  } else if (message == BFFM_SELCHANGED) {
    // OK only for a folder of the file system.
    char16_t path[260] = {};
    BOOL folder = Ui().SHGetPathFromIDListW(reinterpret_cast<const void*>(lParam), path);
    Ui().SendMessageW(picker, BFFM_ENABLEOK, 0, folder);
  }
  return 0;
}

}  // namespace

bool BrowseForFolder(std::u16string_view caption, std::u16string_view prompt, HWND owner,
                     std::u16string* path) {
  const std::u16string title(caption), text(prompt), start(*path);
  BrowseData data{&title, &start};
  char16_t displayName[260] = {};
  void* item = Ui().SHBrowseForFolderW(owner, text.c_str(), BIF_RETURNONLYFSDIRS,
                                       BrowseCallbackProc, reinterpret_cast<LPARAM>(&data),
                                       displayName);
  if (item == nullptr) return false;
  char16_t chosen[260] = {};
  bool found = Ui().SHGetPathFromIDListW(item, chosen) != FALSE;
  if (found) *path = chosen;
  Ui().CoTaskMemFree(item);
  return found;
}

INT_PTR ZP_STDCALL MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LowWord(wParam)) {
        case IDC_UNINSTALL: OnUninstall(dialog); break;
        case IDC_CLOSE: Ui().SendMessageW(dialog, WM_CLOSE, 0, 0); break;
        case IDC_PRODUCT:
          if (HighWord(wParam) == CBN_SELCHANGE) OnProductChanged(dialog);
          break;
        case IDC_BROWSE: OnBrowse(dialog); break;
        default: return FALSE;
      }
      return TRUE;
    case WM_CLOSE:
      // After a removal the restart question comes once more on leaving.
      if (g_run.removalRan) ShowResults();
      Ui().EndDialog(dialog, kEndCode);
      return TRUE;
    default: return FALSE;
  }
}

void ShowMainDialog(HMODULE instance) {
  Ui().DialogBoxParamW(instance, IntResource(IDD_MAIN), nullptr, MainDialogProc, 0);
}

}  // namespace zp
