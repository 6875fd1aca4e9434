#include "catalogue/detection.h"

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "platform/owners.h"
#include "resource_ids.h"
#include "startup/run_settings.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

constexpr size_t kShortChars = 20;    // "Product" and "Version", terminator included
constexpr size_t kFolderChars = 260;  // folder values, terminator included

constexpr std::u16string_view kGen4Key = u"Software\\Keswin Software\\Ostrel\\4.0";
constexpr std::u16string_view kGen5Key = u"Software\\Keswin Software\\Ostrel\\5.0";
constexpr std::u16string_view kCurrentKey = u"Software\\Ostrel Software\\Ostrel";
constexpr std::u16string_view kUninstall =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// One value of HKLM\subKey read into a buffer of `chars` characters. A value that does not fit
// with its terminator counts as missing: no text beyond the buffer is used.
std::u16string ReadValue(std::u16string_view subKey, std::u16string_view valueName,
                         size_t chars) {
  std::u16string path(subKey), name(valueName);
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return {};
  if (Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return {};
  std::vector<char16_t> buffer(chars, u'\0');
  DWORD size = static_cast<DWORD>(chars * sizeof(char16_t));
  if (Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr,
                             reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
    return {};
  auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  if (end == buffer.end()) return {};
  return std::u16string(buffer.begin(), end);
}

// The leading decimal number of a version text, as wcstol with base 10 reads it.
std::int32_t LeadingNumber(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // wcstol saturates
  }
  value = negative ? -value : value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// A folder is good when it exists or exists but may not be examined.
bool FolderIsGood(const std::u16string& folder) {
  if (folder.empty()) return false;
  if (Files().GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return Sys().GetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

struct Candidates {
  std::u16string folder;
  std::u16string dataFolder;
};

void CheckFolder(Candidates& found, std::u16string_view uninstallName) {
  if (FolderIsGood(found.folder)) return;
  std::u16string fallback =
      ReadValue(std::u16string(kUninstall) + std::u16string(uninstallName), u"InstallLocation",
                kFolderChars);
  if (!fallback.empty()) found.folder = fallback;
}

void InstallTemplates(std::u16string_view productId) {
  const ProductTemplates* templates = TemplatesFor(productId);
  if (templates == nullptr) return;
  g_product.defaultProgramFolder = templates->defaultProgramFolder;
  g_product.perUserKeyTemplate = templates->perUserKeyTemplate;
  g_product.productRegistryKey = templates->productRegistryKey;
}

// The generation-4 family and the side products.
struct Gen4Rule {
  std::u16string_view productId;
  std::u16string_view key;
  enum { None, EmptyOrId, Id } condition;
  std::u16string_view folderValue;
  std::u16string_view uninstallName;  // empty: no folder check and no fallback
};

constexpr Gen4Rule kGen4Rules[] = {
    {u"qv_pro", kGen4Key, Gen4Rule::EmptyOrId, u"Ostrel4ProgramFolder", u"ostrel!"},
    {u"qv_srv", kGen4Key, Gen4Rule::Id, u"Ostrel4ProgramFolder", u"ostrel!SRV"},
    {u"qv_net", kGen4Key, Gen4Rule::Id, u"Ostrel4ProgramFolder", u"ostrel!NET"},
    {u"qv_whs", kGen4Key, Gen4Rule::Id, u"Ostrel4ProgramFolder", u"ostrel!WHS"},
    {u"qv_mgm", u"Software\\Keswin Software\\Ostrel\\qv_mgm\\4.0", Gen4Rule::Id,
     u"Ostrel4ProgramFolder", u"ostrel!MGM"},
    {u"vork", u"Software\\Keswin Software\\Vork\\4.0", Gen4Rule::None, u"Ostrel4ProgramFolder",
     u"VORK"},
    {u"qv_ker", u"Software\\Keswin Software\\Ostrel\\Kerio\\4.0", Gen4Rule::None,
     u"Ostrel4ProgramFolder", u"ostrel!Kerio"},
    {u"qv_pda_palm", u"Software\\Keswin Software\\PDA\\4.0", Gen4Rule::None,
     u"Ostrel4ProgramFolder", u"ostrel! PDA Edition"},
    {u"qv_32", u"Software\\KESWIN Software\\OSTREL32", Gen4Rule::None, u"ROPath", u""},
};

void DetectGen4(const Gen4Rule& rule, Candidates& found) {
  if (rule.condition != Gen4Rule::None) {
    std::u16string product = ReadValue(rule.key, u"Product", kShortChars);
    bool accepted = SameText(product, rule.productId) ||
                    (rule.condition == Gen4Rule::EmptyOrId && product.empty());
    if (!accepted) return;
  }
  found.folder = ReadValue(rule.key, rule.folderValue, kFolderChars);
  if (!rule.uninstallName.empty()) CheckFolder(found, rule.uninstallName);
  InstallTemplates(rule.productId);
}

void DetectBusiness(Candidates& found) {
  std::u16string product = ReadValue(kCurrentKey, u"Product", kShortChars);
  g_product.detectedGeneration = LeadingNumber(ReadValue(kCurrentKey, u"Version", kShortChars));
  if (!product.empty() && !SameText(product, u"obp")) return;
  found.dataFolder = ReadValue(kCurrentKey, u"DataFolder", kFolderChars);
  found.folder = ReadValue(kCurrentKey, u"ProgramFolder", kFolderChars);
  CheckFolder(found, u"ostrel");
  InstallTemplates(u"obp");
}

void DetectConsumer(Candidates& found) {
  std::u16string product;
  if (HklmEntryExists(kCurrentKey, nullptr)) {
    product = ReadValue(kCurrentKey, u"Product", kShortChars);
    g_product.detectedGeneration = LeadingNumber(ReadValue(kCurrentKey, u"Version", kShortChars));
  } else if (HklmEntryExists(kGen5Key, nullptr)) {
    product = ReadValue(kGen5Key, u"Product", kShortChars);
    g_product.detectedGeneration = 5;
  }
  if (!product.empty() && !SameText(product, u"ois")) return;
  std::int32_t generation = g_product.detectedGeneration;
  std::u16string_view key = generation == 5 ? kGen5Key : generation >= 6 ? kCurrentKey : u"";
  if (!key.empty()) {
    found.folder = ReadValue(key, u"ProgramFolder", kFolderChars);
    found.dataFolder = ReadValue(key, u"DataFolder", kFolderChars);
  }
  CheckFolder(found, generation >= 6 ? u"ostrel" : u"ostrel5");
  InstallTemplates(u"ois");
}

}  // namespace

void DetectInstallLocation(std::u16string_view productId) {
  g_product.gen5RegistryKey = kGen5Key;
  Candidates found;
  if (SameText(productId, u"obp")) {
    DetectBusiness(found);
  } else if (SameText(productId, u"ois")) {
    DetectConsumer(found);
  } else {
    for (const Gen4Rule& rule : kGen4Rules)
      if (SameText(productId, rule.productId)) DetectGen4(rule, found);
  }

  if (!found.folder.empty()) g_product.productFolder = found.folder;
  if (!found.dataFolder.empty()) g_product.dataFolder = found.dataFolder;
  if (g_run.dialogWindow != nullptr) {
    if (HWND field = Ui().GetDlgItem(g_run.dialogWindow, IDC_FOLDER))
      Ui().SetWindowTextW(field, g_product.productFolder.c_str());
  }
}

}  // namespace zp
