#include "setup/setup_globals.h"

#include <algorithm>
#include <iterator>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/format.h"
#include "setup/log.h"
#include "startup/strings.h"
#include "toolkit/registry.h"

namespace zp {

SetupGlobalsWin32 g_setup;

namespace {

struct OperationRow {
  std::int32_t code;
  std::u16string_view name;
};

constexpr OperationRow kOperations[] = {
    {0, u"INST_OP_UNKNOWN"},
    {2, u"INST_OP_INSTALL"},
    {3, u"INST_OP_UNINSTALL"},
    {4, u"INST_OP_UPDATE"},
    {5, u"INST_OP_REPAIR"},
    {6, u"INST_OP_CHANGE"},
    {7, u"INST_OP_UPDATE_GET_PACKAGES"},
    {8, u"INST_OP_UPDATE_INSTALL_PACKAGES"},
    {9, u"INST_OP_CHECK_UPDATE"},
    {11, u"INST_OP_CHECK_PUSH_REQUEST"},
    {15, u"INST_OP_PROXYDLG"},
    {16, u"INST_OP_UPD_TAVLINK"},
    {18, u"INST_OP_STOP_STAT"},
    {19, u"INST_OP_SHOW_SUMMARY"},
    {20, u"INST_OP_CREATE_ADMIN"},
    {21, u"INST_OP_NP_INSTALLDB"},
    {22, u"INST_OP_ZORPXYDLG"},
    {23, u"INST_OP_GETVPUS"},
    {24, u"INST_OP_SUBMIT"},
    {25, u"INST_OP_ISRUNNING"},
    {26, u"INST_OP_COPYSFX"},
    {27, u"INST_OP_ENUM_LANGUAGES"},
    {28, u"INST_OP_INSTALL_LANGUAGES"},
};

// Primary language -> user-interface language; a second id applies to sublanguage 2.
struct LanguageRow {
  WORD primary;
  LANGID language;
  LANGID sublanguage2 = 0;
};

constexpr LanguageRow kLanguages[] = {
    {1, 1025},  {2, 1026},  {3, 1027},  {4, 1028, 2052}, {5, 1029},  {6, 1030},  {7, 1031},
    {8, 1032},  {10, 3082}, {11, 1035}, {12, 1036},      {13, 1037}, {14, 1038}, {16, 1040},
    {17, 1041}, {18, 1042}, {19, 1043}, {20, 1044},      {21, 1045}, {22, 1046, 2070},
    {24, 1048}, {25, 1049}, {26, 1050, 2074},            {27, 1051}, {29, 1053}, {30, 1054},
    {31, 1055}, {32, 1056}, {33, 1057}, {35, 1059},      {36, 1060}, {38, 1062}, {41, 1065},
    {47, 1071}, {57, 1081}, {62, 1086}, {69, 2117},
};

struct LanguageCodeRow {
  LANGID language;
  std::u16string_view code;
};

constexpr LanguageCodeRow kLanguageCodes[] = {
    {1029, u"cze"}, {1031, u"ger"}, {1033, u"eng"}, {1036, u"fre"}, {3082, u"esp"},
    {1049, u"rus"}, {2052, u"chs"}, {1028, u"cht"}, {1046, u"ptg"}, {2070, u"por"},
    {1040, u"ita"}, {1045, u"pol"}, {1051, u"svk"}, {1038, u"hun"}, {1043, u"dut"},
};

constexpr std::u16string_view kGuidKey = u"OstrelPersistentStorage";

// The folder of an ImagePath: cut at its last backslash; empty when it has none.
std::u16string ImageFolder(std::u16string_view service) {
  std::u16string key = u"System\\CurrentControlSet\\Services\\" + std::u16string(service);
  std::u16string path = GetRegText(HKEY_LOCAL_MACHINE, key, u"ImagePath", 260);
  size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

bool ExportedByKernel32(const char* name) {
  HMODULE kernel32 = Sys().GetModuleHandleW(u"kernel32.dll");
  return kernel32 != nullptr && Sys().GetProcAddress(kernel32, name) != nullptr;
}

}  // namespace

std::u16string OperationName(std::int32_t code) {
  for (const OperationRow& row : kOperations)
    if (row.code == code) return std::u16string(row.name);
  return Format(u"INST_OP_[%d]", code);
}

LANGID MapUserLanguage(LANGID userLanguage) {
  WORD primary = userLanguage & 0x3FF;
  WORD sublanguage = userLanguage >> 10;
  for (const LanguageRow& row : kLanguages)
    if (row.primary == primary)
      return sublanguage == 2 && row.sublanguage2 ? row.sublanguage2 : row.language;
  return 1033;
}

// ---- SetupGlobals

bool SetupGlobals::Init() {
  SetOperation(0);
  silentLevel = 0;
  hasOldVersion = false;
  languageId = 1033;
  oldVersion = -1;
  zeroFootprint = false;
  adminSourceMode = 0;
  setupRegistryKey.clear();
  return true;
}

LANGID SetupGlobals::SetDefaultLanguage() {
  languageId = 1033;
  return languageId;
}

bool SetupGlobals::CheckOldVersion() {
  hasOldVersion = oldVersion >= 0;
  return hasOldVersion;
}

std::u16string_view SetupGlobals::LanguageCode(LANGID language) {
  for (const LanguageCodeRow& row : kLanguageCodes)
    if (row.language == language) return row.code;
  return u"eng";
}

void SetupGlobals::SetOperation(std::int32_t code) {
  g_log.Print(LOG_VRB, CAT_GENERAL, u"Operation set to %s", OperationName(code));
  operation = code;
}

std::u16string SetupGlobals::Expand(const char16_t* text, const char16_t* suffix) {
  std::u16string out, work;
  ExpandMacros(out, work, text, suffix);
  return out;
}

// ---- SetupGlobalsWin32

bool SetupGlobalsWin32::Init() {
  if (!SetupGlobals::Init()) return false;
  Sys().SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  offerRestart = true;
  RebootPending = false;
  EnsurePersistentGuid();
  languageId = MapUserLanguage(Sys().GetUserDefaultLangID());

  char16_t path[260] = {};
  DWORD length = std::min<DWORD>(Sys().GetModuleFileNameW(nullptr, path, 260), 260);
  std::u16string program(path, std::find(path, path + length, u'\0'));
  size_t slash = program.rfind(u'\\');
  moduleFolder = slash == std::u16string::npos ? std::u16string() : program.substr(0, slash);

  osVersion = OsVersionInfo{};
  Sys().GetVersionExW(&osVersion);
  platformKnown_ = false;  // the flags follow the version just read

  DWORD code = 0;
  if (GetHklmDword(u"System\\CurrentControlSet\\Control\\Windows", u"CSDVersion", &code) ==
      ERROR_SUCCESS)
    csdCode = code;

  std::u16string name(32767, u'\0');
  DWORD chars = 32767;
  if (Sys().GetComputerNameW(name.data(), &chars))
    computerName = name.substr(0, std::min<size_t>(chars, name.find(u'\0')));

  roPath = Expand(g_product.defaultProgramFolder.c_str());

  std::u16string isa = ImageFolder(u"W3proxy");
  if (isa.empty()) isa = ImageFolder(u"fwsrv");
  if (!isa.empty()) {
    isa.erase(std::remove(isa.begin(), isa.end(), u'"'), isa.end());
    isaFolder = isa;
    isaFound = true;
  }

  ReadSetupInfo();
  return true;
}

void SetupGlobalsWin32::ReadSetupInfo() {
  const std::u16string& perUser = g_product.perUserKeyTemplate;
  size_t placeholder = perUser.find(u"%s");
  if (!userName.empty() && placeholder != std::u16string::npos)
    setupRegistryKey = (perUser.substr(0, placeholder) + userName + perUser.substr(placeholder + 2))
                           .substr(0, 519);
  else
    setupRegistryKey = g_product.productRegistryKey;

  std::u16string path = Expand(u".", u"setup.ini");
  if (Files().GetPrivateProfileIntW(u"Common", u"ZeroFootprint", 0, path.c_str()) != 0)
    zeroFootprint = true;
  if (zeroFootprint) {
    oldVersion = static_cast<std::int32_t>(
        Files().GetPrivateProfileIntW(u"Common", u"SetupVersion", -1, path.c_str()));
  } else {
    // Read as the setup machinery reads it; nothing uses the value.
    GetRegText(HKEY_LOCAL_MACHINE, setupRegistryKey, u"Product", 520);
    oldVersion = -1;
  }
  g_log.Print(LOG_MIN, CAT_GENERAL, u"Old version: %lx (%ld)", oldVersion, oldVersion);
}

int SetupGlobalsWin32::LoadString(UINT id, char16_t* buffer, int size, LANGID language) {
  return LoadLocalizedString(hInstance, id, buffer, size, language ? language : languageId);
}

bool SetupGlobalsWin32::IsWindowsAtLeast(DWORD major, DWORD minor, DWORD csd) {
  if (major != osVersion.majorVersion) return major < osVersion.majorVersion;
  if (minor != osVersion.minorVersion) return minor < osVersion.minorVersion;
  if (csd != 0 && osVersion.platformId == VER_PLATFORM_WIN32_NT) return csdCode >= csd;
  return true;
}

bool SetupGlobalsWin32::IsPlatform(DWORD mask) { return (PlatformFlags() & mask) != 0; }

DWORD SetupGlobalsWin32::PlatformFlags() {
  if (platformKnown_) return platformFlags_;
  DWORD flags = 0;
  const DWORD major = osVersion.majorVersion, minor = osVersion.minorVersion;
  if (osVersion.platformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (major == 4) flags |= PLAT_WIN9X;
    flags |= minor == 0 ? PLAT_WIN95 : minor > 89 ? PLAT_WINME : PLAT_WIN98;
  } else if (osVersion.platformId == VER_PLATFORM_WIN32_NT) {
    flags = PLAT_NT;
    if (major == 4) flags |= PLAT_NT4;
    else if (major == 5 && minor == 0) flags |= PLAT_WIN2000;
    else flags |= PLAT_XP_OR_LATER;
    if (major == 6) flags |= PLAT_NT6;
    std::u16string productType =
        GetRegText(HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\ProductOptions",
                   u"ProductType", 260);
    if (SameText(productType, u"ServerNT") || SameText(productType, u"LanmanNT"))
      flags |= PLAT_SERVER;
    BOOL wow64 = FALSE;
    if (ExportedByKernel32("IsWow64Process") && Sys().IsWow64Process(&wow64) && wow64) {
      SystemInfo native;
      bool x64 = false;
      if (ExportedByKernel32("GetNativeSystemInfo")) {
        Sys().GetNativeSystemInfo(&native);
        x64 = native.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
      }
      flags |= x64 ? PLAT_WIN64_X64 : PLAT_WIN64_IA64;
    }
  }
  platformFlags_ = flags;
  platformKnown_ = true;
  return flags;
}

void SetupGlobalsWin32::EnsurePersistentGuid() {
  // Only a GUID that UuidCreate vouches for is stored: a locally unique one, or one made
  // without a network address, is not.
  Guid guid;
  if (Sys().UuidCreate(&guid) != RPC_S_OK) return;
  std::u16string text;
  if (Sys().UuidToStringW(&guid, &text) != RPC_S_OK) return;
  char16_t stored[1024] = {};
  GetRegString(HKEY_CLASSES_ROOT, kGuidKey, u"GUID", stored, sizeof(stored), false);
  std::u16string_view current(stored, std::find(stored, stored + 1024, u'\0') - stored);
  if (current.size() == text.size()) return;  // an existing GUID is kept
  CreateRegKey(HKEY_CLASSES_ROOT, kGuidKey);
  SetRegString(HKEY_CLASSES_ROOT, kGuidKey, u"GUID", text);
}

}  // namespace zp
