// The start-up sequence of the program, called by the Windows entry point once the real backend
// is installed.
#pragma once

#include "platform/types.h"

namespace zp {

// Exit codes.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitSelfProtection = 1;  // refused: the product's self-protection is on
inline constexpr int kExitRemovalFailed = 2;   // a silent removal showed the failure box
inline constexpr int kExitUnknownProduct = 87;  // a silent run without a product of the catalogue
inline constexpr int kExitInvalidOptions = 87;  // a silent "/preview" without "/log"

// Runs the program for the command line that follows the program name; returns the exit code.
int ProgramMain(HMODULE instance, const char16_t* commandLine);

}  // namespace zp
