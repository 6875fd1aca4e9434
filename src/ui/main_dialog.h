// The main dialog of an interactive run.
#pragma once

#include "platform/types.h"

namespace zp {

// Shows the dialog modally (template 102, no owner) until it is closed.
void ShowMainDialog(HMODULE instance);

}  // namespace zp
