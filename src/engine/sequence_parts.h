// What the sequences of every family share around their steps: the progress lines, the failure
// path of a registry step that failed, the Security Center cleanup.
#pragma once

#include "platform/types.h"

namespace zp {

// Loads the result line `id` and appends it to the progress view.
void AppendProgressLine(UINT id);
// The failure box (no owner, shown in every run mode, the very silent one included); the end of
// the run then neither offers nor performs a restart.
void ReportRemovalFailure();
// The products' Security Center registrations, on Windows XP and later, between CoInitialize and
// CoUninitialize; the firewall only for the families that registered one.
void RemoveSecurityCenterRegistrations(bool withFirewall);

}  // namespace zp
