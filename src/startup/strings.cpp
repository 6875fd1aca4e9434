#include "startup/strings.h"

#include <algorithm>
#include <cstring>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/setup_globals.h"

namespace zp {

namespace {
constexpr LANGID kEnglish = 1033;
}

int LoadLocalizedString(HMODULE module, UINT id, char16_t* buffer, int capacity, LANGID language) {
  if (id > 0xFFFF) return 1;
  const char16_t* block = IntResource(id / 16 + 1);
  HRSRC resource = Res().FindResourceExW(module, RT_STRING, block, language);
  if (resource == nullptr) resource = Res().FindResourceExW(module, RT_STRING, block, kEnglish);
  if (resource == nullptr) return 1;
  HGLOBAL loaded = Res().LoadResource(module, resource);
  const auto* data = loaded ? static_cast<const BYTE*>(Res().LockResource(loaded)) : nullptr;
  if (data == nullptr) return 1;
  // The block is read only as far as the resource goes.
  const DWORD size = Res().SizeofResource(module, resource);
  DWORD offset = 0;
  for (UINT position = 0; position < 16; ++position) {
    if (offset + 2 > size) return 1;
    WORD length = static_cast<WORD>(data[offset] | data[offset + 1] << 8);
    offset += 2;
    if (position != id % 16) {
      offset += length * 2u;
      continue;
    }
    if (length == 0)  // missing in this language's block
      return language == kEnglish ? 1
                                  : LoadLocalizedString(module, id, buffer, capacity, kEnglish);
    if (offset + length * 2u > size || capacity <= 0) return 1;
    int copied = std::min<int>(length, capacity - 1);
    std::memcpy(buffer, data + offset, copied * sizeof(char16_t));
    buffer[copied] = 0;
    return copied;
  }
  return 1;
}

std::u16string LoadText(UINT id, int chars) {
  std::u16string text(static_cast<size_t>(chars), u'\0');
  LoadLocalizedString(g_setup.hInstance, id, text.data(), chars, g_setup.languageId);
  text.resize(text.find(u'\0') == std::u16string::npos ? text.size() : text.find(u'\0'));
  return text;
}

}  // namespace zp
