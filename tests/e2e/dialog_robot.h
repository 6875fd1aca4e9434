// The robot's view of the program's main dialog: found among the process's windows by its
// product list, read through the standard control messages (marshalled across processes), and
// driven as a user does, with posted commands, so that the robot can answer the message boxes
// a command opens.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zp::e2e {

// The visible main dialog of the process (a #32770 window with control 1006), or null; looked
// for once, then every 0.1 s for `seconds`.
HWND FindMainDialog(DWORD processId, int seconds);
// A visible message box of the process (a #32770 window that is not the main dialog), or null.
HWND FindMessageBox(DWORD processId, int seconds);

std::vector<std::wstring> ComboItems(HWND dialog, int id);
int ComboSelection(HWND dialog, int id);
std::wstring ControlText(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
// Puts `text` into a control (WM_SETTEXT), as if the user had typed it; false when it failed.
bool SetControlText(HWND dialog, int id, const std::wstring& text);
// Chooses entry `index` of a list as a user does: selects it (CB_SETCURSEL) and tells the dialog
// (WM_COMMAND with CBN_SELCHANGE), waiting up to `seconds` until the dialog has handled it.
// False when the entry could not be selected or the dialog did not answer in time.
bool SelectComboItem(HWND dialog, int id, int index, int seconds);
// A click on a button, posted (the handler may open modal boxes the robot has to answer).
void PostClick(HWND dialog, int id);

}  // namespace zp::e2e
