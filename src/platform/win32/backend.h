// The real backend: every facet forwards to the Windows call of the same name.
#pragma once

#include "platform/platform.h"

namespace zp::win32 {

// The backend of this process; install it with InstallPlatform.
Platform RealPlatform();

}  // namespace zp::win32
