// The forced uninstall: the generation-4 product removed by its own setup library.
#pragma once

#include "platform/types.h"

namespace zp {

// Detects the generation-4 desktop product, calls its setup library's uninstall export and ends
// the run with the results. False, having done nothing else, when the library does not load.
bool RunForcedUninstall();

// The export's signature: three flags and the address of a result (0x20000000: restart).
using TavlinkUninstallProgram = unsigned long(ZP_STDCALL*)(unsigned long, unsigned long,
                                                           unsigned long, unsigned long*);

}  // namespace zp
