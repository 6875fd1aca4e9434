// The Safe Mode questions and warning of the start-up.
#pragma once

#include <string>

namespace zp {

inline constexpr const char16_t* kUtilityCaption = u"OSTREL Software Uninstall Utility";

inline constexpr const char16_t* kSafeModeRecommendation =
    u"It is recommended to run this tool from Windows Safe Mode. Do you want to do that?\n\n"
    u"Press \"Yes\" to reboot into Safe Mode now and run this tool from there.\n"
    u"Press \"No\" to continue running this tool as it is (not recommended).";

inline constexpr const char16_t* kSafeModeRestartConfirmation =
    u"The system will now restart into Windows Safe Mode.\n"
    u"Please close all your programs and save your work.\n\n"
    u"Do you want to restart the computer now?\n";

inline constexpr const char16_t* kSafeModeRegistrationFailed =
    u"Attention!\n\nThe necessary settings could not be performed.\n";

// Asks the recommendation and then the restart confirmation, each a Yes/No box without owner;
// true when both were answered Yes.
bool AskForSafeMode();

// Switches the boot configuration to Safe Mode, registers a copy of the program to run there
// once and restarts; shows the warning when the registration fails.
void PrepareSafeModeAndRestart(const std::u16string& programPath);

// The boot configuration's Safe Mode switch: bcdedit on Windows Vista and later, boot.ini before.
void SetSafeBoot();
void ClearSafeBoot();
// Runs a program of the native system folder ("bcdedit.exe /set ...") and waits for it.
void RunSystemCommand(std::u16string_view command);
// Adds (true) or removes the " /safeboot:minimal" switch of the running Windows' boot.ini entry.
void EditBootIni(bool add);
// Copies the program into the Windows temporary folder, protected so that only administrators
// and the system may change it; on success `programPath` becomes the copy's path.
bool CopySelfToTemp(std::u16string* programPath);
// The HKLM RunOnce value "*zorPurge" (run also in Safe Mode); true when it was written.
bool RegisterRunOnce(const std::u16string& programPath);

}  // namespace zp
