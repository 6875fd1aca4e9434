#include "dialog_robot.h"

namespace zp::e2e {
namespace {

struct Search {
  DWORD processId;
  bool mainDialog;
  HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner != search->processId || !IsWindowVisible(window) || wcscmp(className, L"#32770") != 0)
    return TRUE;
  if ((GetDlgItem(window, 1006) != nullptr) != search->mainDialog) return TRUE;
  search->found = window;
  return FALSE;
}

HWND Find(DWORD processId, bool mainDialog, int seconds) {
  Search search{processId, mainDialog, nullptr};
  for (int tick = 0;; ++tick) {
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    if (search.found || tick >= seconds * 10) return search.found;
    Sleep(100);
  }
}

}  // namespace

HWND FindMainDialog(DWORD processId, int seconds) { return Find(processId, true, seconds); }
HWND FindMessageBox(DWORD processId, int seconds) { return Find(processId, false, seconds); }

std::vector<std::wstring> ComboItems(HWND dialog, int id) {
  std::vector<std::wstring> items;
  HWND combo = GetDlgItem(dialog, id);
  LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
    std::wstring item(length > 0 ? length + 1 : 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
    item.resize(wcslen(item.c_str()));
    items.push_back(item);
  }
  return items;
}

int ComboSelection(HWND dialog, int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(length + 1, L'\0');
  SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(wcslen(text.c_str()));
  return text;
}

bool ControlEnabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool SetControlText(HWND dialog, int id, const std::wstring& text) {
  return SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(text.c_str())) == TRUE;
}

bool SelectComboItem(HWND dialog, int id, int index, int seconds) {
  HWND combo = GetDlgItem(dialog, id);
  if (SendMessageW(combo, CB_SETCURSEL, index, 0) != index) return false;
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo), SMTO_NORMAL, seconds * 1000u,
                             &result) != 0;
}

void PostClick(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace zp::e2e
