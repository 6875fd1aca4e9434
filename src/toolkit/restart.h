// Restarts Windows at once; every question is asked by the callers.
#pragma once

namespace zp {

void RestartWindows();

}  // namespace zp
