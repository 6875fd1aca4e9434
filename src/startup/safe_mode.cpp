#include "startup/safe_mode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"
#include "setup/format.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/restart.h"

namespace zp {

bool AskForSafeMode() {
  for (const char16_t* question : {kSafeModeRecommendation, kSafeModeRestartConfirmation}) {
    if (Ui().MessageBoxW(nullptr, question, kUtilityCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
  }
  return true;
}

namespace {

constexpr std::u16string_view kSwitch = u" /safeboot:minimal";
constexpr const char16_t* kOperatingSystems = u"operating systems";

std::u16string Terminated(const char16_t* buffer, size_t chars) {
  return std::u16string(buffer, std::find(buffer, buffer + chars, u'\0'));
}

bool LookedUp(const char* name) {
  HMODULE kernel32 = Sys().GetModuleHandleW(u"KERNEL32.DLL");
  return kernel32 != nullptr && Sys().GetProcAddress(kernel32, name) != nullptr;
}

// The disk and partition numbers of a drive, for the ARC name of its boot.ini entry.
bool DiskAndPartition(char16_t drive, unsigned* disk, unsigned* partition) {
  const std::u16string volume = std::u16string(u"\\\\.\\") + drive + u":";
  HANDLE handle = Files().CreateFileW(volume.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  BYTE buffer[1024] = {};
  DWORD returned = 0;
  bool found = false;
  if (Files().DeviceIoControl(handle, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer,
                              sizeof(buffer), &returned) &&
      returned >= 32) {
    DWORD diskNumber = 0;  // VOLUME_DISK_EXTENTS: the first extent's DiskNumber at offset 8
    std::memcpy(&diskNumber, buffer + 8, 4);
    std::memset(buffer, 0, sizeof(buffer));
    if (Files().DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, buffer,
                                sizeof(buffer), &returned) &&
        returned >= 144) {
      DWORD partitionNumber = 0;  // PARTITION_INFORMATION_EX: PartitionNumber at offset 24
      std::memcpy(&partitionNumber, buffer + 24, 4);
      *disk = diskNumber;
      *partition = partitionNumber;
      found = true;
    }
  }
  Files().CloseHandle(handle);
  return found;
}

std::u16string ProfileValue(const char16_t* section, const std::u16string& key,
                            const std::u16string& file) {
  char16_t value[260] = {};
  Files().GetPrivateProfileStringW(section, key.c_str(), u"", value, 260, file.c_str());
  return Terminated(value, 260);
}

// Administrators (S-1-5-32-544) and SYSTEM (S-1-5-18), written out: Windows 2000 has no
// CreateWellKnownSid.
constexpr BYTE kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
constexpr BYTE kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

// Only administrators and the system may change the file; nothing is inherited from the folder.
bool ProtectFile(const std::u16string& path) {
  const ExplicitAccess entries[] = {
      {GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_GROUP, kAdministrators},
      {GENERIC_ALL, SET_ACCESS, NO_INHERITANCE, TRUSTEE_IS_USER, kSystem}};
  void* acl = nullptr;
  if (Sys().SetEntriesInAclW(2, entries, &acl) != ERROR_SUCCESS || acl == nullptr) return false;
  DWORD result = Sys().SetNamedSecurityInfoW(
      path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, acl, nullptr);
  Sys().LocalFree(acl);
  return result == ERROR_SUCCESS;
}

}  // namespace

void RunSystemCommand(std::u16string_view command) {
  char16_t folder[260] = {};
  UINT length = Sys().GetSystemDirectoryW(folder, 260);
  if (length == 0 || length >= 260) return;
  std::u16string line = (Terminated(folder, 260) + u"\\" + std::u16string(command)).substr(0, 259);
  // The 64-bit system folder on 64-bit Windows, although this is a 32-bit process.
  BOOL wow64 = FALSE;
  bool redirectionOff = false;
  if (LookedUp("IsWow64Process") && Sys().IsWow64Process(&wow64) && wow64 &&
      LookedUp("Wow64EnableWow64FsRedirection"))
    redirectionOff = Files().Wow64EnableWow64FsRedirection(FALSE) != FALSE;
  ProcessInfo process;
  if (Sys().CreateProcessW(line.c_str(), CREATE_NO_WINDOW, &process)) {
    Files().CloseHandle(process.thread);
    Sys().WaitForSingleObject(process.process, INFINITE);
    Files().CloseHandle(process.process);
  }
  if (redirectionOff) Files().Wow64EnableWow64FsRedirection(TRUE);
}

void EditBootIni(bool add) {
  char16_t windows[260] = {};
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  if (length < 3 || length >= 260) return;
  const std::u16string windowsFolder = Terminated(windows, 260);
  const std::u16string file = windowsFolder.substr(0, 2) + u"\\boot.ini";

  char16_t list[1024] = {};
  DWORD listChars = Files().GetPrivateProfileStringW(kOperatingSystems, nullptr, u"", list, 1024,
                                                     file.c_str());
  std::vector<std::u16string> names;
  for (size_t i = 0; i < std::min<size_t>(listChars, 1024) && list[i] != 0;) {
    names.push_back(Terminated(list + i, 1024 - i));
    i += names.back().size() + 1;
  }

  std::u16string entry, value;
  unsigned disk = 0, partition = 0;
  if (names.size() > 1 && DiskAndPartition(windowsFolder[0], &disk, &partition)) {
    entry = Format(u"multi(0)disk(0)rdisk(%u)partition(%u)%s", disk, partition,
                   windowsFolder.substr(2));
    value = ProfileValue(kOperatingSystems, entry, file);
  }
  if (value.empty()) {
    entry = ProfileValue(u"boot loader", u"default", file);
    if (!entry.empty()) value = ProfileValue(kOperatingSystems, entry, file);
  }
  if (value.empty() && !names.empty()) {
    entry = names[0];
    value = ProfileValue(kOperatingSystems, entry, file);
  }
  if (value.empty()) return;

  if (add) {
    value = (value + std::u16string(kSwitch)).substr(0, 259);
  } else if (value.size() > kSwitch.size() &&
             UpperCase(value.substr(value.size() - kSwitch.size())) == UpperCase(kSwitch)) {
    value.resize(value.size() - kSwitch.size());
  }
  Files().WritePrivateProfileStringW(kOperatingSystems, entry.c_str(), value.c_str(), file.c_str());
}

void SetSafeBoot() {
  if (g_setup.osVersion.majorVersion > 5) RunSystemCommand(u"bcdedit.exe /set safeboot minimal");
  else EditBootIni(true);
}

void ClearSafeBoot() {
  if (g_setup.osVersion.majorVersion > 5) RunSystemCommand(u"bcdedit.exe /deletevalue safeboot");
  else EditBootIni(false);
}

bool CopySelfToTemp(std::u16string* programPath) {
  char16_t windows[260] = {};
  UINT length = Sys().GetSystemWindowsDirectoryW(windows, 260);
  if (length == 0 || length >= 260) return false;
  const std::u16string copy = Terminated(windows, 260) + u"\\Temp\\zorPurge.exe";
  // Anyone may create files in that folder: a file planted there in advance goes first, and the
  // copy gets an access list of its own before RunOnce may start it as an administrator.
  Files().SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!Files().DeleteFileW(copy.c_str()) &&
      Files().GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES)
    return false;
  if (!Files().CopyFileW(programPath->c_str(), copy.c_str(), FALSE)) return false;
  if (!ProtectFile(copy)) {
    Files().DeleteFileW(copy.c_str());
    return false;
  }
  *programPath = copy;
  return true;
}

bool RegisterRunOnce(const std::u16string& programPath) {
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                          0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  return Reg().RegSetValueExW(key.get(), u"*zorPurge", REG_SZ,
                              reinterpret_cast<const BYTE*>(programPath.c_str()),
                              static_cast<DWORD>((programPath.size() + 1) * 2)) == ERROR_SUCCESS;
}

void PrepareSafeModeAndRestart(const std::u16string& programPath) {
  SetSafeBoot();
  std::u16string path = programPath;
  CopySelfToTemp(&path);  // the running program's own path when the copy cannot be made safe
  if (RegisterRunOnce(path))
    RestartWindows();
  else
    Ui().MessageBoxW(nullptr, kSafeModeRegistrationFailed, kUtilityCaption, MB_ICONWARNING);
}

}  // namespace zp
