#include "toolkit/registry.h"

#include <algorithm>
#include <string>

#include "platform/constants.h"
#include "platform/owners.h"
#include "setup/log.h"
#include "setup/setup_globals.h"

namespace zp {
namespace {

constexpr REGSAM kCreateAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

enum class RegView { Default, Bits64, Bits32 };

const BYTE* Bytes(const std::u16string& text) {
  return reinterpret_cast<const BYTE*>(text.c_str());
}

// The view flag the deletion opens its keys with: only a process under WOW64 has two views.
REGSAM OpenViewFlag(RegView view) {
  if (view == RegView::Default || !g_setup.IsPlatform(PLAT_WIN64_IA64 | PLAT_WIN64_X64)) return 0;
  return view == RegView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool IsSymbolicLink(HKEY key) {
  DWORD type = REG_NONE;
  return Reg().RegQueryValueExW(key, u"SymbolicLinkValue", &type, nullptr, nullptr) ==
             ERROR_SUCCESS &&
         type == REG_LINK;
}

void LogKeyDeletion(const std::u16string& subKey, LONG result) {
  if (result == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Deleted registry: %s", subKey);
  else if (result != ERROR_FILE_NOT_FOUND)
    g_log.Print(LOG_MIN, CAT_REGISTRY, u"Error deleting registry: %s (0x%08X)", subKey,
                static_cast<DWORD>(result));
}

// Deletes the key once it is empty, in its view; RegDeleteKeyExW is looked up on every call and
// Windows versions without it get RegDeleteKeyW, unlogged.
LONG DeleteEmptyKey(HKEY root, const std::u16string& subKey, RegView view) {
  if (view == RegView::Default) {
    LONG result = Reg().RegDeleteKeyW(root, subKey.c_str());
    LogKeyDeletion(subKey, result);
    return result;
  }
  HMODULE advapi = Sys().GetModuleHandleW(u"Advapi32.dll");
  if (advapi == nullptr || Sys().GetProcAddress(advapi, "RegDeleteKeyExW") == nullptr)
    return Reg().RegDeleteKeyW(root, subKey.c_str());
  LONG result = Reg().RegDeleteKeyExW(root, subKey.c_str(),
                                      view == RegView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  LogKeyDeletion(subKey, result);
  return result;
}

// Deletes root\subKey and what lies below it. Returns the code of the key's own deletion, or of
// its opening when it does not open (`opened` then false).
LONG DeleteKeyTree(HKEY root, const std::u16string& subKey, RegView view, bool* opened = nullptr) {
  UniqueRegKey key;
  // Opened as the link itself when it is one, so that a link is never followed.
  LONG result = Reg().RegOpenKeyExW(root, subKey.c_str(), REG_OPTION_OPEN_LINK,
                                    KEY_ALL_ACCESS | OpenViewFlag(view), key.put());
  if (opened) *opened = result == ERROR_SUCCESS;
  if (result != ERROR_SUCCESS) return result;
  if (IsSymbolicLink(key.get())) {
    NTSTATUS status = Reg().NtDeleteKey(key.get());
    result = status == STATUS_SUCCESS ? ERROR_SUCCESS
                                      : static_cast<LONG>(Reg().RtlNtStatusToDosError(status));
    LogKeyDeletion(subKey, result);
    return result;
  }
  // Each deleted sub-key moves the next one to the same index; one still listed there after its
  // deletion (it could not be deleted, or a preview only recorded the deletion) is passed over,
  // so the walk ends after every sub-key was tried once.
  DWORD index = 0;
  while (true) {
    char16_t name[261] = {};
    if (Reg().RegEnumKeyW(key.get(), index, name, 261) != ERROR_SUCCESS) break;
    DeleteKeyTree(key.get(), name, view);
    // One that vanished makes room for the next; one still listed here stays.
    char16_t again[261] = {};
    if (Reg().RegEnumKeyW(key.get(), index, again, 261) == ERROR_SUCCESS &&
        std::u16string_view(again) == std::u16string_view(name))
      ++index;
  }
  key.reset();
  return DeleteEmptyKey(root, subKey, view);
}

bool DeleteTreeInView(HKEY root, std::u16string_view subKey, RegView view) {
  if (subKey.empty()) return false;  // an empty path would name the root itself
  bool opened = false;
  DeleteKeyTree(root, std::u16string(subKey), view, &opened);
  return opened;
}

}  // namespace

LONG CreateRegKey(HKEY root, std::u16string_view subKey) {
  std::u16string path(subKey);
  UniqueRegKey key;
  LONG result = Reg().RegCreateKeyExW(root, path.c_str(), u"", REG_OPTION_NON_VOLATILE,
                                      kCreateAccess, key.put(), nullptr);
  if (result != ERROR_SUCCESS) LogJoined(u"Cannot create reg. key:", path, LOG_MIN, CAT_REGISTRY);
  return result;
}

bool HklmEntryExists(std::u16string_view subKey, const char16_t* valueName) {
  std::u16string path(subKey);
  UniqueRegKey key;
  LONG result = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put());
  if (result == ERROR_SUCCESS && valueName != nullptr)
    result = Reg().RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr);
  return result == ERROR_SUCCESS;
}

namespace {

// Creates the key and opens it for writing; logs what fails.
LONG OpenForWriting(HKEY root, const std::u16string& path, UniqueRegKey* key) {
  if (LONG created = CreateRegKey(root, path)) return created;
  LONG opened = Reg().RegOpenKeyExW(root, path.c_str(), 0, KEY_WRITE, key->put());
  if (opened != ERROR_SUCCESS) LogJoined(u"Cannot open reg. key:", path, LOG_MIN, CAT_REGISTRY);
  return opened;
}

}  // namespace

LONG SetRegString(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                  std::u16string_view text) {
  std::u16string path(subKey), name(valueName), data(text);
  UniqueRegKey key;
  if (LONG error = OpenForWriting(root, path, &key)) return error;
  LONG result = Reg().RegSetValueExW(key.get(), name.c_str(), REG_SZ, Bytes(data),
                                     static_cast<DWORD>((data.size() + 1) * 2));
  if (result == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Set registry: %s\\%s=%s", path, name, data);
  else
    LogJoined(u"Cannot set reg. key:", path, LOG_MIN, CAT_REGISTRY);
  return result;
}

LONG SetHklmDword(std::u16string_view subKey, std::u16string_view valueName, DWORD value) {
  std::u16string path(subKey), name(valueName);
  UniqueRegKey key;
  if (LONG error = OpenForWriting(HKEY_LOCAL_MACHINE, path, &key)) return error;
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                        static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  LONG result = Reg().RegSetValueExW(key.get(), name.c_str(), REG_DWORD, data, 4);
  if (result == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Set registry: %s\\%s=%d", path, name,
                static_cast<std::int32_t>(value));
  else
    LogJoined(u"Cannot set reg. key:", path, LOG_MIN, CAT_REGISTRY);
  return result;
}

LONG GetHklmDword(std::u16string_view subKey, std::u16string_view valueName, DWORD* value) {
  std::u16string path(subKey), name(valueName);
  UniqueRegKey key;
  if (LONG error = Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()))
    return error;
  DWORD size = 4;
  if (LONG error = Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, &size))
    return error;
  if (size != 4) return ERROR_INVALID_DATA;  // any 4-byte value will do, whatever its type
  BYTE data[4] = {};
  if (LONG error = Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr, data, &size))
    return error;
  *value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
           static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
  return ERROR_SUCCESS;
}

LONG GetRegString(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                  char16_t* buffer, DWORD bufferBytes, bool logIt) {
  std::u16string path(subKey), name(valueName);
  UniqueRegKey key;
  if (LONG error = Reg().RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put())) {
    if (logIt) LogJoined(u"Cannot open reg. key:", path, LOG_VRB, CAT_REGISTRY);
    return error;
  }
  if (LONG error = Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr)) {
    if (logIt) LogJoined(u"Cannot get reg. key:", path, LOG_VRB, CAT_REGISTRY);
    return error;
  }
  std::fill_n(reinterpret_cast<BYTE*>(buffer), bufferBytes, BYTE{0});
  DWORD size = bufferBytes;
  LONG result = Reg().RegQueryValueExW(key.get(), name.c_str(), nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &size);
  if (result != ERROR_SUCCESS) {
    // A value that did not fit leaves nothing of itself behind.
    std::fill_n(reinterpret_cast<BYTE*>(buffer), bufferBytes, BYTE{0});
    if (logIt) LogJoined(u"Cannot get reg. key:", path, LOG_MIN, CAT_REGISTRY);
    return result;
  }
  if (logIt) {
    // The zero fill terminates any value shorter than the buffer; a value that fills it
    // exactly is printed only as far as the buffer goes.
    size_t chars = bufferBytes / 2;
    std::u16string_view text(buffer, std::find(buffer, buffer + chars, u'\0') - buffer);
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Get registry: %s\\%s=%s", path, name, text);
  }
  return ERROR_SUCCESS;
}

std::u16string GetRegText(HKEY root, std::u16string_view subKey, std::u16string_view valueName,
                          size_t chars) {
  std::u16string buffer(chars, u'\0');
  if (GetRegString(root, subKey, valueName, buffer.data(),
                   static_cast<DWORD>(chars * sizeof(char16_t)), false) != ERROR_SUCCESS)
    return {};
  buffer.resize(std::find(buffer.begin(), buffer.end(), u'\0') - buffer.begin());
  return buffer;
}

bool DeleteRegTree(HKEY root, std::u16string_view subKey) {
  return DeleteTreeInView(root, subKey, RegView::Default);
}
bool DeleteRegTree64(HKEY root, std::u16string_view subKey) {
  return DeleteTreeInView(root, subKey, RegView::Bits64);
}
bool DeleteRegTree32(HKEY root, std::u16string_view subKey) {
  return DeleteTreeInView(root, subKey, RegView::Bits32);
}

bool DeleteRegValue(HKEY root, std::u16string_view subKey, std::u16string_view valueName) {
  if (subKey.empty()) return false;
  std::u16string path(subKey), name(valueName);
  UniqueRegKey key;
  if (Reg().RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return false;
  LONG result = Reg().RegDeleteValueW(key.get(), name.c_str());
  if (result == ERROR_SUCCESS) {
    g_log.Print(LOG_VRB, CAT_REGISTRY, u"Deleted registry: %s\\%s", path, name);
    return true;
  }
  if (result != ERROR_FILE_NOT_FOUND)
    g_log.Print(LOG_MIN, CAT_REGISTRY, u"Error deleting registry: %s\\%s (0x%08X)", path, name,
                static_cast<DWORD>(result));
  return false;
}

}  // namespace zp
