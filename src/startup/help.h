// "/?" and "/help": the options, the productIds of the catalogue and the exit codes in one box.
#pragma once

#include <string>

namespace zp {

// The text of the box.
std::u16string HelpText();
// Shows it: MessageBoxW(NULL, text, "zorPurge", MB_OK | MB_ICONINFORMATION).
void ShowHelp();

}  // namespace zp
