#include "engine/sequence_parts.h"

#include <string>

#include "engine/removal_run.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/strings.h"
#include "toolkit/security_center.h"

namespace zp {

void AppendProgressLine(UINT id) { AppendProgress(LoadText(id)); }

void ReportRemovalFailure() {
  const std::u16string failure = LoadText(IDS_FAILURE);
  Ui().MessageBoxW(nullptr, failure.c_str(), u"zorPurge", MB_OK);
  g_setup.offerRestart = false;
}

void RemoveSecurityCenterRegistrations(bool withFirewall) {
  // The Security Center knows Windows XP and later.
  const OsVersionInfo& os = g_setup.osVersion;
  if (os.majorVersion < 5 || (os.majorVersion == 5 && os.minorVersion < 1)) return;
  Sys().CoInitialize();
  RemoveScAntiVirusProduct();
  RemoveScAntiSpywareProduct();
  if (withFirewall) RemoveScFirewallProduct();
  Sys().CoUninitialize();
}

}  // namespace zp
