// The main dialog of an interactive run: the product list, the folder field and its picker, the
// Uninstall and Close buttons and the progress view.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// Shows the dialog modally (template 102, no owner) until it is closed.
void ShowMainDialog(HMODULE instance);

// The dialog procedure.
INT_PTR ZP_STDCALL MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The folder picker, opened at `path` (260 characters at most); true, and `path` the chosen
// folder, when the user confirmed one.
bool BrowseForFolder(std::u16string_view caption, std::u16string_view prompt, HWND owner,
                     std::u16string* path);

}  // namespace zp
