// The description of the machine that opens the log, and the process set-up that goes with it
// (the restore privilege, COM and its security).
#pragma once

#include <string>

namespace zp {

int LogSystemInfo();
// The account the process runs as: GetUserNameW's name, replaced by the token user's account
// name and its domain when that can be looked up. The GetUserNameW result.
bool GetCurrentUserName(std::u16string* name, std::u16string* domain);

}  // namespace zp
