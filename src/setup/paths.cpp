#include "setup/paths.h"

namespace zp {

std::u16string PathJoin(std::u16string_view base, std::u16string_view name) {
  if (base.empty()) return std::u16string(name);
  if (name.empty()) return std::u16string(base);
  std::u16string path(base);
  // A quoted base: the closing quote moves to the end of the joined path.
  if (path.back() == u'"') path.pop_back();
  if (!path.ends_with(u'\\') && !name.starts_with(u'\\')) path.push_back(u'\\');
  path.append(name);
  if (path.starts_with(u'"')) path.push_back(u'"');
  return path;
}

std::u16string PathRoot(std::u16string_view path) {
  std::u16string_view root = path.substr(0, 2);
  if (path.starts_with(u'\\')) {
    // \\server\share: up to the separator that ends the share name, or all of it.
    const std::size_t server = path.find(u'\\', 2);
    const std::size_t share =
        server == std::u16string_view::npos ? server : path.find(u'\\', server + 1);
    root = path.substr(0, share);
  }
  std::u16string result(root);
  result.push_back(u'\\');
  return result;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper)
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
  return upper;
}

}  // namespace zp
