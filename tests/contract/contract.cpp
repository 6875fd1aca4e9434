#include "contract.h"

#ifdef _WIN32
#include "platform/win32/backend.h"
#else
#include "resources/string_table.h"
#endif

namespace zp::contract {

std::u16string Scratch(std::u16string_view name) {
  return std::u16string(kScratchFolder) + u"\\" + std::u16string(name);
}

bool OnWine() {
  return Sys().GetProcAddress(Sys().GetModuleHandleW(u"ntdll.dll"), "wine_get_version") != nullptr;
}

void DeleteKeyTree(HKEY root, const std::u16string& path, REGSAM view) {
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != 0) return;
  char16_t name[261];
  while (Reg().RegEnumKeyW(key.get(), 0, name, 261) == ERROR_SUCCESS) {
    DeleteKeyTree(key.get(), name, view);
    UniqueRegKey probe;
    if (Reg().RegOpenKeyExW(key.get(), name, 0, KEY_READ | view, probe.put()) == 0) break;
  }
  key.reset();
  if (view) Reg().RegDeleteKeyExW(root, path.c_str(), view);
  else Reg().RegDeleteKeyW(root, path.c_str());
}

void DeleteFolderTree(const std::u16string& path) {
  FindData data;
  UniqueFind find(Files().FindFirstFileW((path + u"\\*").c_str(), &data));
  if (find) {
    do {
      std::u16string name = data.fileName;
      if (name == u"." || name == u"..") continue;
      std::u16string child = path + u"\\" + name;
      Files().SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.attributes & FILE_ATTRIBUTE_DIRECTORY) DeleteFolderTree(child);
      else Files().DeleteFileW(child.c_str());
    } while (Files().FindNextFileW(find.get(), &data));
  }
  find.reset();
  Files().RemoveDirectoryW(path.c_str());
}

LONG CreateKey(HKEY root, const std::u16string& path, UniqueRegKey* key, REGSAM view) {
  return Reg().RegCreateKeyExW(root, path.c_str(), u"", REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS | view, key->put(), nullptr);
}

LONG SetString(HKEY key, const char16_t* name, std::u16string_view text, DWORD type) {
  std::u16string terminated(text);
  return Reg().RegSetValueExW(key, name, type, reinterpret_cast<const BYTE*>(terminated.c_str()),
                              static_cast<DWORD>((terminated.size() + 1) * 2));
}

bool WriteFile(const std::u16string& path, std::string_view content) {
  UniqueFd fd(Files()._wopen(path.c_str(), CRT_O_WRONLY | CRT_O_CREAT | CRT_O_TRUNC | CRT_O_BINARY,
                             CRT_S_IREAD | CRT_S_IWRITE));
  if (!fd) return false;
  return Files()._write(fd.get(), content.data(), static_cast<unsigned>(content.size())) ==
         static_cast<int>(content.size());
}

std::vector<std::u16string> ReadMultiString(HKEY root, const char16_t* path, const char16_t* name) {
  std::vector<std::u16string> items;
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != 0) return items;
  DWORD size = 0;
  if (Reg().RegQueryValueExW(key.get(), name, nullptr, nullptr, &size) != 0) return items;
  std::u16string text(size / 2, u'\0');
  if (Reg().RegQueryValueExW(key.get(), name, nullptr, reinterpret_cast<BYTE*>(text.data()),
                             &size) != 0)
    return items;
  // Each item ends with a NUL and the list with one more: the last, empty item is that end.
  // Empty items inside the list (a deletion's empty target) are kept.
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (!items.empty() && items.back().empty()) items.pop_back();
  return items;
}

void Contract::SetUp() {
#ifdef _WIN32
  InstallPlatform(win32::RealPlatform());
#else
  // The machine Wine shows our tests: a 32-bit process on 64-bit Windows.
  machine_ = std::make_unique<sim::Machine>(sim::OsFacts::Windows7X64());
  machine_->SetProgramPath(u"C:\\zptest\\zp_contract.exe");
  machine_->AddFile(u"C:\\zptest\\zp_contract.exe", "MZ");
  std::vector<sim::StringResource> strings;
  for (const StringEntry& entry : StringTableEntries())
    strings.push_back(sim::StringResource{entry.language, entry.id, entry.text});
  machine_->AddStringTable(machine_->ProgramModule(), strings);
  machine_->Install();
#endif
  DeleteKeyTree(HKEY_CURRENT_USER, kScratchKey);
  DeleteFolderTree(kScratchFolder);
  ASSERT_TRUE(Files().CreateDirectoryW(kScratchFolder));
}

void Contract::TearDown() {
  DeleteKeyTree(HKEY_CURRENT_USER, kScratchKey);
  DeleteFolderTree(kScratchFolder);
}

}  // namespace zp::contract
