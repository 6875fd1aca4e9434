// The start-up sequence of the program, called by the Windows entry point once the real backend
// is installed.
#pragma once

#include "platform/types.h"

namespace zp {

// Runs the program for the command line that follows the program name; returns the exit code.
int ProgramMain(HMODULE instance, const char16_t* commandLine);

}  // namespace zp
