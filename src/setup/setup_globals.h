// The process-wide setup state: the run mode, the language, the platform facts and the folders
// behind the path macros. `g_setup` is the one instance; the entry point initialises it first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// Platform flags of IsPlatform: the test is true when any flag of the mask is set.
inline constexpr DWORD PLAT_WIN9X = 0x1;
inline constexpr DWORD PLAT_WIN95 = 0x2;
inline constexpr DWORD PLAT_WIN98 = 0x4;
inline constexpr DWORD PLAT_WINME = 0x8;
inline constexpr DWORD PLAT_NT = 0x100;
inline constexpr DWORD PLAT_NT4 = 0x200;
inline constexpr DWORD PLAT_WIN2000 = 0x400;
inline constexpr DWORD PLAT_XP_OR_LATER = 0x800;
inline constexpr DWORD PLAT_NT6 = 0x1000;
inline constexpr DWORD PLAT_SERVER = 0x10000;
inline constexpr DWORD PLAT_WIN64_IA64 = 0x20000;
inline constexpr DWORD PLAT_WIN64_X64 = 0x40000;

// The name an operation code is logged with: "INST_OP_UNINSTALL", or "INST_OP_[%d]".
std::u16string OperationName(std::int32_t code);
// The language the user interface would take for a user language (GetUserDefaultLangID).
LANGID MapUserLanguage(LANGID userLanguage);

class SetupGlobals {
 public:
  SetupGlobals() = default;
  virtual ~SetupGlobals() = default;
  SetupGlobals(const SetupGlobals&) = default;
  SetupGlobals& operator=(const SetupGlobals&) = default;

  virtual bool Init();
  virtual bool IsReady() { return true; }
  virtual void ReadSetupInfo() {}
  virtual LANGID SetDefaultLanguage();
  // Expands a path macro text (null: empty) and joins the optional suffix; the result goes to
  // both `out` and `work`.
  virtual void ExpandMacros(std::u16string& out, std::u16string& work, const char16_t* text,
                            const char16_t* suffix);
  virtual int LoadString(UINT id, char16_t* buffer, int size, LANGID language) = 0;
  virtual bool CheckOldVersion();
  virtual void Reserved8(std::intptr_t, std::intptr_t) {}
  virtual void Reserved9(std::intptr_t, std::intptr_t) {}
  virtual std::u16string_view LanguageCode(LANGID language);
  virtual void SetOperation(std::int32_t code);

  // The expansion of a macro text as a value.
  std::u16string Expand(const char16_t* text, const char16_t* suffix = nullptr);

  std::int32_t silentLevel = 0;  // 0 dialog run, 2 "/silent", 3 "/verysilent"
  bool hasOldVersion = false;
  std::u16string userName;
  std::u16string moduleFolder;
  std::u16string roPath;  // the folder of the product being removed
  std::u16string tempFolder;
  std::int32_t oldVersion = -1;
  LANGID languageId = 1033;
  bool zeroFootprint = false;
  std::u16string networkLockClient;
  std::int32_t operation = 0;
  std::int32_t adminSourceMode = 0;
  // The product's registry key that ReadSetupInfo remembers.
  std::u16string setupRegistryKey;
};

class SetupGlobalsWin32 : public SetupGlobals {
 public:
  bool Init() override;
  void ReadSetupInfo() override;
  void ExpandMacros(std::u16string& out, std::u16string& work, const char16_t* text,
                    const char16_t* suffix) override;
  int LoadString(UINT id, char16_t* buffer, int size, LANGID language) override;
  virtual bool IsWindowsAtLeast(DWORD major, DWORD minor, DWORD csd);

  bool IsPlatform(DWORD mask);
  void EnsurePersistentGuid();

  OsVersionInfo osVersion;
  DWORD csdCode = 0;
  std::u16string computerName;
  bool offerRestart = true;
  bool RebootPending = false;
  bool isaFound = false;
  std::u16string isaFolder;
  std::u16string dominoFolder;
  std::u16string whsFolder;
  HMODULE hInstance = nullptr;

 private:
  DWORD PlatformFlags();
  // The flags cannot change while the process runs: computed once, on first use.
  bool platformKnown_ = false;
  DWORD platformFlags_ = 0;
};

extern SetupGlobalsWin32 g_setup;

}  // namespace zp
