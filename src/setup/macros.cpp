// Path macros: a token at the start of a path text stands for a folder of the system or of the
// product. The Windows stage knows the tokens that depend on the operating system; the base stage
// those built from the product folder, and expands environment variables.
#include <algorithm>
#include <string>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

// The remainder after `token` when the text begins with it (any case).
bool StartsWithToken(std::u16string_view text, std::u16string_view token,
                     std::u16string_view* remainder) {
  if (text.size() < token.size() || !SameText(text.substr(0, token.size()), token)) return false;
  *remainder = text.substr(token.size());
  return true;
}

std::u16string Terminated(const char16_t* buffer, size_t chars) {
  return std::u16string(buffer, std::find(buffer, buffer + chars, u'\0'));
}

using FolderCall = UINT (System::*)(char16_t*, UINT);

std::u16string SystemFolder(FolderCall call) {
  char16_t buffer[260] = {};
  UINT length = (Sys().*call)(buffer, 260);
  return length == 0 || length >= 260 ? std::u16string() : Terminated(buffer, 260);
}

// An environment variable's value, or empty when it does not expand (the text comes back).
std::u16string EnvironmentFolder(const char16_t* variable) {
  char16_t buffer[260] = {};
  DWORD needed = Sys().ExpandEnvironmentStringsW(variable, buffer, 260);
  if (needed == 0 || needed > 260) return {};
  std::u16string value = Terminated(buffer, 260);
  return value == variable ? std::u16string() : value;
}

std::u16string ProgramFilesDir() {
  return GetRegText(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion",
                    u"ProgramFilesDir", 260);
}

std::u16string ProgramFiles() {
  std::u16string folder = EnvironmentFolder(u"%ProgramW6432%");
  return folder.empty() ? ProgramFilesDir() : folder;
}

std::u16string SpecialFolder(int csidl) {
  std::u16string folder;
  return GetSpecialFolder(&folder, csidl) ? folder : std::u16string();
}

// An empty key names no product (it would open HKLM itself).
bool KeyOpens(const std::u16string& subKey) {
  return !subKey.empty() && HklmEntryExists(subKey, nullptr);
}

// The product's data folder: "DataFolder" of the product's key, else of the generation-5 key,
// else the common application data folder's product folder.
std::u16string DataFolder() {
  std::u16string folder;
  if (KeyOpens(g_product.productRegistryKey))
    folder = GetRegText(HKEY_LOCAL_MACHINE, g_product.productRegistryKey, u"DataFolder", 260);
  else if (KeyOpens(g_product.gen5RegistryKey))
    folder = GetRegText(HKEY_LOCAL_MACHINE, g_product.gen5RegistryKey, u"DataFolder", 260);
  if (folder.empty()) {
    std::u16string common = SpecialFolder(CSIDL_COMMON_APPDATA);
    if (!common.empty()) folder = PathJoin(common, u"OSTREL Software\\Ostrel");
  }
  return folder;
}

std::u16string CommonProgramFiles() {
  std::u16string folder = EnvironmentFolder(u"%CommonProgramFiles%");
  if (folder.empty()) folder = SpecialFolder(CSIDL_PROGRAM_FILES_COMMON);
  if (folder.empty()) folder = PathJoin(ProgramFilesDir(), u"Common");
  return folder;
}

}  // namespace

void SetupGlobalsWin32::ExpandMacros(std::u16string& out, std::u16string& work,
                                     const char16_t* text, const char16_t* suffix) {
  if (text == nullptr) {
    SetupGlobals::ExpandMacros(out, work, nullptr, suffix);
    return;
  }
  std::u16string working(text);
  std::u16string_view rest;
  const bool win64 = IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64);
  if (StartsWithToken(text, u"%SYS%", &rest)) {
    std::u16string folder;
    HMODULE kernel32 = Sys().GetModuleHandleW(u"kernel32.dll");
    if (win64 && kernel32 && Sys().GetProcAddress(kernel32, "GetSystemWow64DirectoryW"))
      folder = SystemFolder(&System::GetSystemWow64DirectoryW);
    if (folder.empty()) folder = SystemFolder(&System::GetSystemDirectoryW);
    working = PathJoin(folder, rest);
  } else if (StartsWithToken(text, u"%SYS64%", &rest)) {
    working = PathJoin(SystemFolder(&System::GetSystemDirectoryW), rest);
  } else if (StartsWithToken(text, u"%WINDIR%", &rest)) {
    working = PathJoin(SystemFolder(&System::GetWindowsDirectoryW), rest);
  } else if (StartsWithToken(text, u"%PRGFILES%", &rest)) {
    working = PathJoin(ProgramFiles(), rest);
  } else if (StartsWithToken(text, u"%RWPATH%", &rest)) {
    working = PathJoin(DataFolder(), rest);
  } else if (StartsWithToken(text, u"%SETUPPATH%", &rest)) {
    // left for the base stage
  } else if (StartsWithToken(text, u"%ISAPATH%", &rest)) {
    working = PathJoin(isaFound ? isaFolder : roPath, rest);
  } else if (StartsWithToken(text, u"%DOMPATH%", &rest)) {
    working = PathJoin(dominoFolder, rest);
  } else if (StartsWithToken(text, u"%CommonProgramFiles%", &rest)) {
    working = PathJoin(CommonProgramFiles(), rest);
  } else if (StartsWithToken(text, u"%WHSPATH%", &rest)) {
    std::u16string folder = whsFolder.empty() ? Expand(u"%PRGFILES%", u"Windows Home Server")
                                              : whsFolder;
    working = PathJoin(folder, rest);
  }
  SetupGlobals::ExpandMacros(out, work, working.c_str(), suffix);
}

void SetupGlobals::ExpandMacros(std::u16string& out, std::u16string& work, const char16_t* text,
                                const char16_t* suffix) {
  if (text == nullptr) {
    out.clear();
    work.clear();
    return;
  }
  std::u16string_view rest;
  std::u16string result;
  std::u16string_view whole(text);
  if (!whole.empty() && whole[0] == u'.') {
    result = PathJoin(moduleFolder, whole.substr(1));
  } else if (StartsWithToken(whole, u"%ROPATH%", &rest)) {
    result = PathJoin(roPath, rest);
  } else if (StartsWithToken(whole, u"%TEMP%", &rest)) {
    result = PathJoin(tempFolder, rest);
  } else if (StartsWithToken(whole, u"%SETUPPATH%", &rest)) {
    result = PathJoin(PathJoin(roPath, u"Setup"), rest);
  } else if (StartsWithToken(whole, u"%ADMINSRCPATH%", &rest)) {
    std::u16string folder = adminSourceMode == 1 || !hasOldVersion
                                ? moduleFolder
                                : PathJoin(roPath, u"Setup\\admin");
    result = PathJoin(folder, rest);
  } else if (StartsWithToken(whole, u"%ADMINPATH%", &rest)) {
    result = PathJoin(PathJoin(roPath, u"Setup\\admin"), rest);
  } else if (StartsWithToken(whole, u"%ZORLOGPATH%", &rest)) {
    result = PathJoin(PathJoin(roPath, u"DATA\\LOG"), rest);
  } else {
    std::u16string buffer(32768, u'\0');
    DWORD needed = Sys().ExpandEnvironmentStringsW(text, buffer.data(), 32768);
    result =
        needed == 0 || needed > 32768 ? std::u16string(whole) : Terminated(buffer.data(), 32768);
  }
  while (!result.empty() && result.back() == u'\\') result.pop_back();
  if (suffix != nullptr) result = PathJoin(result, suffix);
  work = result;
  out = result;
}

}  // namespace zp
