// The simulated file system: drives, case-insensitive names, attributes, files held open by
// others, generated 8.3 names, wildcard searches with "." and "..", the delay-until-reboot list
// in the registry, INI profile files and the run-time library's file descriptors.
#include <algorithm>
#include <cstring>

#include "platform/sim/impl.h"

namespace zp::sim {

FsNode* FsNode::Child(std::u16string_view name) {
  auto it = children.find(Upper(name));
  return it == children.end() ? nullptr : it->second.get();
}

DWORD FsNode::Attributes() const {
  DWORD result = attributes | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0) |
                 (reparseTarget.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
  return result ? result : FILE_ATTRIBUTE_NORMAL;
}

namespace {

// Splits "C:\a\b" into the drive letter and the parts; false when the path has no drive.
bool ParseDrivePath(std::u16string_view path, char16_t* drive, std::vector<std::u16string>* parts) {
  if (path.substr(0, 4) == u"\\\\?\\") path.remove_prefix(4);
  if (path.size() < 2 || path[1] != u':') return false;
  *drive = Upper(path.substr(0, 1))[0];
  parts->clear();
  for (std::u16string& part : SplitPath(path.substr(2))) {
    if (part == u".") continue;
    if (part == u"..") {
      if (!parts->empty()) parts->pop_back();
      continue;
    }
    parts->push_back(std::move(part));
  }
  return true;
}

bool IsShortNameChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         std::u16string_view(u"!#$%&'()-@^_`{}~").find(c) != std::u16string_view::npos;
}

}  // namespace

bool IsValidShortName(std::u16string_view name) {
  // Letter case does not count: a name that fits 8.3 keeps its own spelling and gets no other.
  std::u16string upper = Upper(name);
  name = upper;
  size_t dot = name.find(u'.');
  std::u16string_view base = name.substr(0, dot);
  std::u16string_view ext = dot == std::u16string_view::npos ? u"" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (ext.find(u'.') != std::u16string_view::npos) return false;
  return std::all_of(base.begin(), base.end(), IsShortNameChar) &&
         std::all_of(ext.begin(), ext.end(), IsShortNameChar);
}

namespace {

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  std::u16string up = Upper(pattern), un = Upper(name);
  while (n < un.size()) {
    if (p < up.size() && (up[p] == u'?' || up[p] == un[n])) {
      ++p;
      ++n;
    } else if (p < up.size() && up[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < up.size() && (up[p] == u'*' || (up[p] == u'.' && p + 1 == up.size()))) ++p;
  return p == up.size();
}

FindData MakeFindData(std::u16string_view name, const FsNode& node) {
  FindData data;
  data.attributes = node.Attributes();
  data.sizeLow = static_cast<DWORD>(node.data.size());
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 259), data.fileName);
  std::copy_n(node.shortName.begin(), std::min<size_t>(node.shortName.size(), 13),
              data.alternateFileName);
  return data;
}

// INI files: sections of "key=value" lines, in ANSI or UTF-16LE text (with its byte-order mark).
std::u16string DecodeIni(const std::string& bytes, bool* unicode) {
  std::u16string text;
  *unicode = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
             static_cast<unsigned char>(bytes[1]) == 0xFE;
  if (*unicode) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  } else {
    for (char c : bytes) text.push_back(static_cast<unsigned char>(c));
  }
  return text;
}

std::string EncodeIni(std::u16string_view text, bool unicode) {
  std::string out;
  if (unicode) {
    out = "\xFF\xFE";
    for (char16_t c : text) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
  } else {
    for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::u16string TrimIni(std::u16string_view s) {
  size_t b = s.find_first_not_of(u" \t\r");
  size_t e = s.find_last_not_of(u" \t\r");
  return b == std::u16string::npos ? std::u16string() : std::u16string(s.substr(b, e - b + 1));
}

// What one line of the file is: a section header (its name), a key (its name and value), or
// anything else (blank, comment, text without "="), which the profile calls pass over.
struct IniLine {
  enum Kind { Other, Section, Key } kind = Other;
  std::u16string section;  // the section the line belongs to (of a header: its own name)
  std::u16string key;
  std::u16string value;
};

IniLine ClassifyIni(std::u16string_view raw, const std::u16string& section, bool inSection) {
  std::u16string line = TrimIni(raw);
  if (line.empty() || line[0] == u';') return IniLine{IniLine::Other, section, {}, {}};
  if (line[0] == u'[') {
    size_t close = line.find(u']');
    return IniLine{IniLine::Section,
                   line.substr(1, close == std::u16string::npos ? std::u16string::npos
                                                                : close - 1),
                   {}, {}};
  }
  size_t eq = line.find(u'=');
  if (!inSection || eq == std::u16string::npos) return IniLine{IniLine::Other, section, {}, {}};
  std::u16string value = TrimIni(std::u16string_view(line).substr(eq + 1));
  if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
    value = value.substr(1, value.size() - 2);
  return IniLine{IniLine::Key, section, TrimIni(std::u16string_view(line).substr(0, eq)), value};
}

// The file as its lines (each without its line feed, a CR kept), classified.
struct IniText {
  bool unicode = false;
  bool finalFeed = false;  // the last line ends with a line feed
  std::vector<std::u16string> raw;
  std::vector<IniLine> lines;

  explicit IniText(const std::string& bytes) {
    std::u16string text = DecodeIni(bytes, &unicode);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) end = text.size();
      else if (end + 1 == text.size()) finalFeed = true;
      raw.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    Classify();
  }
  void Classify() {
    lines.clear();
    std::u16string section;
    bool inSection = false;
    for (const std::u16string& line : raw) {
      lines.push_back(ClassifyIni(line, section, inSection));
      if (lines.back().kind == IniLine::Section) {
        section = lines.back().section;
        inSection = true;
      }
    }
  }
  std::string Bytes() const {
    std::u16string text;
    for (size_t i = 0; i < raw.size(); ++i) {
      text += raw[i];
      if (i + 1 < raw.size() || finalFeed) text += u'\n';
    }
    return EncodeIni(text, unicode);
  }
  // A new line after line `index` (-1: at the start), ended with CR LF.
  void InsertAfter(long index, std::u16string line) {
    if (index + 1 == static_cast<long>(raw.size())) {
      if (!raw.empty() && !finalFeed && (raw.back().empty() || raw.back().back() != u'\r'))
        raw.back() += u'\r';
      finalFeed = true;
    }
    raw.insert(raw.begin() + (index + 1), line + u'\r');
    Classify();
  }
};

std::vector<IniLine> ParseIni(const std::string& bytes) {
  std::vector<IniLine> lines;
  for (IniLine& line : IniText(bytes).lines)
    if (line.kind != IniLine::Other) lines.push_back(std::move(line));
  return lines;
}

// Copies a list into a buffer of `chars` characters the way the profile calls do: truncated
// and terminated, returning the characters copied without the terminator.
DWORD CopyOut(std::u16string_view text, char16_t* buffer, DWORD chars, bool list) {
  if (chars == 0) return 0;
  DWORD n = std::min<DWORD>(static_cast<DWORD>(text.size()), chars - 1);
  std::copy_n(text.begin(), n, buffer);
  buffer[n] = 0;
  if (list && n < text.size()) {
    // A list that does not fit is cut and ends with two NULs; the result is the size less two.
    if (chars >= 2) buffer[chars - 2] = 0;
    buffer[chars - 1] = 0;
    return chars >= 2 ? chars - 2 : 0;
  }
  return n;
}

class SimFileSystem final : public FileSystem {
 public:
  explicit SimFileSystem(Machine::Impl& m) : m_(m) {}

  BOOL Wow64EnableWow64FsRedirection(BOOL enable) override {
    if (!m_.os().lateExports.count("kernel32.dll!wow64enablewow64fsredirection"))
      return Fail(ERROR_PROC_NOT_FOUND);
    m_.redirection = enable != FALSE;
    return TRUE;
  }

  DWORD GetFileAttributesW(const char16_t* path) override {
    LONG error = 0;
    if (m_.Injected("GetFileAttributesW", P(path), &error))
      return Fail(error), INVALID_FILE_ATTRIBUTES;
    FsNode* node = m_.FindFile(P(path), &error);
    if (node == nullptr) return Fail(error), INVALID_FILE_ATTRIBUTES;
    return node->Attributes();
  }

  BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) override {
    LONG error = 0;
    if (m_.Injected("SetFileAttributesW", P(path), &error)) return Fail(error);
    FsNode* node = m_.FindFile(P(path), &error);
    if (node == nullptr) return Fail(error);
    node->attributes = attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
    return TRUE;
  }

  BOOL DeleteFileW(const char16_t* path) override {
    LONG error = 0;
    if (m_.Injected("DeleteFileW", P(path), &error)) return Fail(error);
    FsNode* node = m_.FindFile(P(path), &error);
    if (node == nullptr) return Fail(error);
    if (node->folder || node->attributes & FILE_ATTRIBUTE_READONLY)
      return Fail(ERROR_ACCESS_DENIED);
    if (node->HeldByOther() || node->openCount > 0) return Fail(ERROR_SHARING_VIOLATION);
    node->parent->children.erase(Upper(node->name));
    return TRUE;
  }

  BOOL CreateDirectoryW(const char16_t* path) override {
    LONG error = 0;
    if (m_.Injected("CreateDirectoryW", P(path), &error)) return Fail(error);
    std::u16string leaf;
    FsNode* parent = m_.ParentOf(P(path), &leaf, &error);
    if (parent == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
    if (leaf.empty() || parent->Child(leaf)) return Fail(ERROR_ALREADY_EXISTS);
    Add(parent, leaf, true);
    return TRUE;
  }

  BOOL RemoveDirectoryW(const char16_t* path) override {
    LONG error = 0;
    if (m_.Injected("RemoveDirectoryW", P(path), &error)) return Fail(error);
    FsNode* node = m_.FindFile(P(path), &error);
    if (node == nullptr) return Fail(error);
    if (!node->folder) return Fail(ERROR_DIRECTORY);
    if (node->parent == nullptr || node->attributes & FILE_ATTRIBUTE_READONLY)
      return Fail(ERROR_ACCESS_DENIED);
    if (!node->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
    node->parent->children.erase(Upper(node->name));
    return TRUE;
  }

  BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) override {
    LONG error = 0;
    if (m_.Injected("MoveFileExW", P(from), &error)) return Fail(error);
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
      // Windows records the pair for the session manager, also for a file that is missing.
      // Appended to the value's bytes, so that a long list grows at the cost of its entry.
      std::u16string target;
      if (to != nullptr && *to != 0)
        target = std::u16string(flags & MOVEFILE_REPLACE_EXISTING ? u"!" : u"") + u"\\??\\" + to;
      m_.AppendPendingOperation(u"\\??\\" + P(from), target);
      return TRUE;
    }
    FsNode* node = m_.FindFile(P(from), &error);
    if (node == nullptr) return Fail(error);
    if (to == nullptr || *to == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (node->HeldByOther() || node->openCount > 0) return Fail(ERROR_SHARING_VIOLATION);
    std::u16string leaf;
    FsNode* parent = m_.ParentOf(P(to), &leaf, &error);
    if (parent == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
    if (FsNode* existing = parent->Child(leaf)) {
      if (!(flags & MOVEFILE_REPLACE_EXISTING) || existing->folder)
        return Fail(ERROR_ALREADY_EXISTS);
      parent->children.erase(Upper(leaf));
    }
    std::unique_ptr<FsNode> moved = std::move(node->parent->children[Upper(node->name)]);
    node->parent->children.erase(Upper(node->name));
    moved->name = leaf;
    moved->parent = parent;
    moved->shortName = IsValidShortName(leaf) ? u"" : m_.GeneratedShortName(parent, leaf);
    parent->children[Upper(leaf)] = std::move(moved);
    return TRUE;
  }

  BOOL CopyFileW(const char16_t* from, const char16_t* to, BOOL failIfExists) override {
    LONG error = 0;
    if (m_.Injected("CopyFileW", P(to), &error)) return Fail(error);
    FsNode* source = m_.FindFile(P(from), &error);
    if (source == nullptr) return Fail(error);
    if (source->folder) return Fail(ERROR_ACCESS_DENIED);
    std::u16string leaf;
    FsNode* parent = m_.ParentOf(P(to), &leaf, &error);
    if (parent == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
    FsNode* target = parent->Child(leaf);
    if (target && failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (target && (target->folder || target->attributes & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED);
    if (target && (target->HeldByOther() || target->openCount))
      return Fail(ERROR_SHARING_VIOLATION);
    if (!target) target = Add(parent, leaf, false);
    target->data = source->data;
    target->attributes = source->attributes | FILE_ATTRIBUTE_ARCHIVE;
    return TRUE;
  }

  HANDLE FindFirstFileW(const char16_t* pattern, FindData* data) override {
    std::u16string text = P(pattern);
    LONG error = 0;
    std::u16string leaf;
    FsNode* folder = m_.ParentOf(text, &leaf, &error);
    if (folder == nullptr || !folder->folder)
      return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (leaf.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    Machine::Impl::Search search{{}, 0};
    if (folder->parent != nullptr) {
      for (std::u16string_view dot : {u".", u".."})
        if (WildcardMatch(leaf, dot)) search.entries.push_back(MakeFindData(dot, *folder));
    }
    for (const auto& [upper, child] : folder->children)
      if (WildcardMatch(leaf, child->name) ||
          (!child->shortName.empty() && WildcardMatch(leaf, child->shortName)))
        search.entries.push_back(MakeFindData(child->name, *child));
    if (search.entries.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    *data = search.entries[0];
    search.next = 1;
    std::uintptr_t handle = m_.nextSearch;
    m_.nextSearch += 4;
    m_.searches[handle] = std::move(search);
    return reinterpret_cast<HANDLE>(handle);
  }

  BOOL FindNextFileW(HANDLE find, FindData* data) override {
    auto it = m_.searches.find(reinterpret_cast<std::uintptr_t>(find));
    if (it == m_.searches.end()) return Fail(ERROR_INVALID_HANDLE);
    if (it->second.next >= it->second.entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *data = it->second.entries[it->second.next++];
    return TRUE;
  }

  BOOL FindClose(HANDLE find) override {
    return m_.searches.erase(reinterpret_cast<std::uintptr_t>(find)) ? TRUE
                                                                     : Fail(ERROR_INVALID_HANDLE);
  }

  DWORD GetShortPathNameW(const char16_t* path, char16_t* buffer, DWORD bufferChars) override {
    std::u16string text = P(path);
    char16_t drive;
    std::vector<std::u16string> parts;
    LONG error = 0;
    FsNode* node = m_.FindFile(text, &error);
    if (node == nullptr || !ParseDrivePath(text, &drive, &parts))
      return Fail(error ? error : ERROR_PATH_NOT_FOUND), 0;
    std::vector<std::u16string> names;
    for (FsNode* n = node; n->parent != nullptr; n = n->parent)
      names.push_back(n->shortName.empty() ? n->name : n->shortName);
    std::u16string result = std::u16string(1, drive) + u":";
    for (auto it = names.rbegin(); it != names.rend(); ++it) result += u"\\" + *it;
    if (names.empty() || (!text.empty() && (text.back() == u'\\' || text.back() == u'/')))
      result += u"\\";
    if (result.size() + 1 > bufferChars) return static_cast<DWORD>(result.size() + 1);
    std::copy(result.begin(), result.end(), buffer);
    buffer[result.size()] = 0;
    return static_cast<DWORD>(result.size());
  }

  UINT GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int fallback,
                             const char16_t* file) override {
    std::u16string value;
    if (!Lookup(section, key, file, &value)) return static_cast<UINT>(fallback);
    // Leading decimal digits with an optional sign, as Windows reads them.
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == u'-' || value[i] == u'+')) negative = value[i++] == u'-';
    long long number = 0;
    bool digits = false;
    while (i < value.size() && value[i] >= u'0' && value[i] <= u'9') {
      number = number * 10 + (value[i++] - u'0');
      digits = true;
      if (number > 0xFFFFFFFFLL) number = 0xFFFFFFFFLL;
    }
    if (!digits) return 0;
    return static_cast<UINT>(negative ? -number : number);
  }

  DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                 const char16_t* fallback, char16_t* buffer, DWORD bufferChars,
                                 const char16_t* file) override {
    FsNode* node = m_.FindFile(P(file));
    std::vector<IniLine> lines = node ? ParseIni(node->data) : std::vector<IniLine>{};
    if (section == nullptr || key == nullptr) {
      std::u16string list;
      for (const IniLine& line : lines) {
        if (section == nullptr && line.kind == IniLine::Section) list += line.section + u'\0';
        if (section != nullptr && line.kind == IniLine::Key &&
            Upper(line.section) == Upper(section))
          list += line.key + u'\0';
      }
      // Every name ends with a NUL, counted in the result; one more NUL ends the list.
      return CopyOut(list, buffer, bufferChars, true);
    }
    std::u16string value;
    if (!Lookup(section, key, file, &value)) value = Text(fallback);
    return CopyOut(value, buffer, bufferChars, false);
  }

  BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key,
                                  const char16_t* value, const char16_t* file) override {
    LONG error = 0;
    if (m_.Injected("WritePrivateProfileStringW", P(file), &error)) return Fail(error);
    std::u16string path = P(file);
    FsNode* node = m_.FindFile(path, &error);
    if (node == nullptr) {
      std::u16string leaf;
      FsNode* parent = m_.ParentOf(path, &leaf, &error);
      if (parent == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
      node = Add(parent, leaf, false);
    }
    if (node->folder || node->attributes & FILE_ATTRIBUTE_READONLY)
      return Fail(ERROR_ACCESS_DENIED);
    // The file is edited in place, as Windows does: the other lines stay as they are.
    IniText ini(node->data);
    const std::u16string upperSection = Upper(Text(section));
    long header = -1, last = -1;  // the section's header line and its last non-blank line
    long end = static_cast<long>(ini.raw.size());  // the line after the section
    for (long i = 0; i < static_cast<long>(ini.lines.size()); ++i) {
      const IniLine& line = ini.lines[i];
      if (line.kind == IniLine::Section) {
        if (header >= 0) {
          end = i;
          break;
        }
        if (Upper(line.section) == upperSection) header = last = i;
        continue;
      }
      if (header < 0) continue;
      if (!TrimIni(ini.raw[i]).empty()) last = i;
      if (key != nullptr && line.kind == IniLine::Key && Upper(line.key) == Upper(key)) {
        if (value == nullptr) {
          ini.raw.erase(ini.raw.begin() + i);
        } else {
          ini.raw[i] = line.key + u"=" + value + u"\r";
        }
        node->data = ini.Bytes();
        return TRUE;
      }
    }
    if (key == nullptr) {
      if (header >= 0) ini.raw.erase(ini.raw.begin() + header, ini.raw.begin() + end);
    } else if (value != nullptr) {
      if (header < 0) {
        last = static_cast<long>(ini.raw.size()) - 1;
        ini.InsertAfter(last++, u"[" + Text(section) + u"]");
      }
      ini.InsertAfter(last, Text(key) + u"=" + value);
    }
    node->data = ini.Bytes();
    return TRUE;
  }

  HANDLE CreateFileW(const char16_t* path, DWORD, DWORD, DWORD, DWORD) override {
    // Only the devices of drivers are opened this way: "\\.\<name>".
    std::u16string text = Text(path);
    LONG error;
    if (m_.Injected("CreateFileW", text, &error)) {
      m_.lastError = static_cast<DWORD>(error);
      return INVALID_HANDLE_VALUE;
    }
    if (text.rfind(u"\\\\.\\", 0) == 0) {
      for (size_t i = 0; i < m_.devices.size(); ++i) {
        if (Upper(m_.devices[i].name) != Upper(text.substr(4))) continue;
        std::uintptr_t handle = m_.nextHandle += 4;
        m_.deviceHandles[handle] = i;
        return reinterpret_cast<HANDLE>(handle);
      }
    }
    m_.lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inBytes, void* out,
                       DWORD outBytes, DWORD* returned) override {
    auto it = m_.deviceHandles.find(reinterpret_cast<std::uintptr_t>(device));
    if (it == m_.deviceHandles.end()) {
      m_.lastError = ERROR_INVALID_HANDLE;
      return FALSE;
    }
    Machine::Impl::Device& target = m_.devices[it->second];
    m_.deviceCalls.emplace_back(target.name, code);
    std::vector<BYTE> answer;
    std::span<const BYTE> input(static_cast<const BYTE*>(in), in ? inBytes : 0);
    if (!target.handler || !target.handler(code, input, &answer)) {
      m_.lastError = ERROR_INVALID_FUNCTION;
      return FALSE;
    }
    if (answer.size() > outBytes) {
      m_.lastError = ERROR_INSUFFICIENT_BUFFER;
      return FALSE;
    }
    if (!answer.empty()) std::memcpy(out, answer.data(), answer.size());
    if (returned) *returned = static_cast<DWORD>(answer.size());
    return TRUE;
  }

  BOOL CloseHandle(HANDLE handle) override {
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (m_.deviceHandles.erase(value) || m_.processHandles.erase(value) || value == kTokenHandle)
      return TRUE;
    m_.lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }

  BOOL SHGetSpecialFolderPathW(char16_t* path, int csidl, BOOL) override {
    auto it = m_.specialFolders.find(csidl);
    if (it == m_.specialFolders.end() || it->second.size() >= 260) return FALSE;
    std::copy(it->second.begin(), it->second.end(), path);
    path[it->second.size()] = 0;
    return TRUE;
  }

  int _wopen(const char16_t* path, int flags, int) override {
    LONG error = 0;
    std::u16string text = P(path);
    if (m_.Injected("_wopen", text, &error)) return CrtFail(error);
    bool write = (flags & (CRT_O_WRONLY | CRT_O_RDWR)) != 0;
    FsNode* node = m_.FindFile(text, &error);
    if (node != nullptr) {
      if ((flags & CRT_O_CREAT) && (flags & CRT_O_EXCL)) return CrtFail(CRT_EEXIST);
      if (node->folder) return CrtFail(CRT_EACCES);
      if (write && node->attributes & FILE_ATTRIBUTE_READONLY) return CrtFail(CRT_EACCES);
      if (node->HeldByOther()) return CrtFail(CRT_EACCES);
      if (flags & CRT_O_TRUNC) node->data.clear();
    } else {
      if (!(flags & CRT_O_CREAT)) return CrtFail(CRT_ENOENT);
      std::u16string leaf;
      FsNode* parent = m_.ParentOf(text, &leaf, &error);
      if (parent == nullptr) return CrtFail(CRT_ENOENT);
      node = Add(parent, leaf, false);
    }
    ++node->openCount;
    int fd = m_.nextFd++;
    m_.fds[fd] = Machine::Impl::Fd{node, 0, (flags & CRT_O_APPEND) != 0, write};
    return fd;
  }

  int _read(int fd, void* buffer, unsigned count) override {
    auto it = m_.fds.find(fd);
    if (it == m_.fds.end()) return CrtFail(CRT_EBADF);
    Machine::Impl::Fd& open = it->second;
    const std::string& data = open.node->data;
    if (open.position >= static_cast<long>(data.size())) return 0;
    unsigned n = std::min<unsigned>(count, static_cast<unsigned>(data.size() - open.position));
    std::memcpy(buffer, data.data() + open.position, n);
    open.position += n;
    return static_cast<int>(n);
  }

  int _write(int fd, const void* buffer, unsigned count) override {
    auto it = m_.fds.find(fd);
    if (it == m_.fds.end() || !it->second.write) return CrtFail(CRT_EBADF);
    LONG error = 0;
    if (m_.Injected("_write", {}, &error)) return CrtFail(error);
    Machine::Impl::Fd& open = it->second;
    std::string& data = open.node->data;
    if (open.append) open.position = static_cast<long>(data.size());
    if (static_cast<size_t>(open.position) + count > data.size())
      data.resize(open.position + count);
    std::memcpy(data.data() + open.position, buffer, count);
    open.position += static_cast<long>(count);
    return static_cast<int>(count);
  }

  long _lseek(int fd, long offset, int origin) override {
    auto it = m_.fds.find(fd);
    if (it == m_.fds.end()) return CrtFail(CRT_EBADF);
    long base = origin == CRT_SEEK_SET   ? 0
                : origin == CRT_SEEK_CUR ? it->second.position
                : origin == CRT_SEEK_END ? static_cast<long>(it->second.node->data.size())
                                         : -1;
    if (base < 0 || base + offset < 0) return CrtFail(CRT_EINVAL);
    it->second.position = base + offset;
    return it->second.position;
  }

  int _commit(int fd) override {
    if (!m_.fds.count(fd)) return CrtFail(CRT_EBADF);
    return 0;
  }

  int _close(int fd) override {
    auto it = m_.fds.find(fd);
    if (it == m_.fds.end()) return CrtFail(CRT_EBADF);
    --it->second.node->openCount;
    m_.fds.erase(it);
    return 0;
  }

  int Errno() override { return m_.crtErrno; }

  // SetupAPI: the INF names a package of the Inf folder by its file name; the package goes with
  // its precompiled copy (.pnf). Found only while setupapi.dll is loaded, from Windows XP on.
  BOOL SetupUninstallOEMInfW(const char16_t* infFileName, DWORD flags) override {
    std::pair<int, int>* module = m_.DemandModule(u"SETUPAPI.DLL");
    if ((module && module->first == 0) ||
        !m_.os().lateExports.count("setupapi.dll!setupuninstalloeminfw"))
      return Fail(ERROR_PROC_NOT_FOUND);
    const std::u16string name = Text(infFileName);
    m_.oemInfUninstalls.emplace_back(name, flags);
    LONG error = 0;
    if (m_.Injected("SetupUninstallOEMInfW", name, &error)) return Fail(error);
    // A path is not a name of the Inf folder (Wine answers 3 for one, measured).
    if (name.empty() || name.find_first_of(u"\\/:") != std::u16string::npos)
      return Fail(ERROR_PATH_NOT_FOUND);
    const std::u16string inf = m_.os().windowsFolder + u"\\Inf\\" + name;
    FsNode* node = m_.FindFile(inf, &error);
    if (node == nullptr || node->folder) return Fail(ERROR_FILE_NOT_FOUND);
    if (node->HeldByOther() || node->openCount > 0) return Fail(ERROR_SHARING_VIOLATION);
    FsNode* parent = node->parent;
    parent->children.erase(Upper(node->name));
    if (name.size() > 4) {
      const std::u16string pnf = Upper(name.substr(0, name.size() - 3) + u"PNF");
      FsNode* precompiled = parent->Child(pnf);
      if (precompiled && !precompiled->folder && !precompiled->HeldByOther())
        parent->children.erase(pnf);
    }
    return TRUE;
  }

  CrtStream* _wfopen(const char16_t* path, const char16_t* mode) override {
    if (path == nullptr) return CrtFail(CRT_EINVAL), nullptr;
    return StreamOpen(m_, P(path), mode);
  }
  char16_t* fgetws(char16_t* buffer, int count, CrtStream* stream) override {
    return StreamGets(m_, buffer, count, stream);
  }
  int fputws(const char16_t* text, CrtStream* stream) override {
    return StreamPuts(m_, text, stream);
  }
  int ferror(CrtStream* stream) override { return StreamError(m_, stream); }
  int fclose(CrtStream* stream) override { return StreamClose(m_, stream); }

 private:
  // A path as the process names it, after the file-system redirection of a 32-bit process.
  std::u16string P(const char16_t* path) const { return m_.Redirect(Text(path)); }

  BOOL Fail(LONG error) {
    m_.lastError = static_cast<DWORD>(error);
    return FALSE;
  }
  int CrtFail(int error) {
    m_.crtErrno = error;
    return -1;
  }

  FsNode* Add(FsNode* parent, std::u16string_view name, bool folder) {
    return m_.AddNode(parent, name, folder);
  }

  bool Lookup(const char16_t* section, const char16_t* key, const char16_t* file,
              std::u16string* value) {
    FsNode* node = m_.FindFile(P(file));
    if (node == nullptr || node->folder) return false;
    for (const IniLine& line : ParseIni(node->data))
      if (line.kind == IniLine::Key && Upper(line.section) == Upper(Text(section)) &&
          Upper(line.key) == Upper(Text(key))) {
        *value = line.value;
        return true;
      }
    return false;
  }

  Machine::Impl& m_;
};

}  // namespace

FsNode* Machine::Impl::FindFile(std::u16string_view path, LONG* error) {
  LONG ignored;
  if (error == nullptr) error = &ignored;
  char16_t drive;
  std::vector<std::u16string> parts;
  if (!ParseDrivePath(path, &drive, &parts) || !drives.count(drive)) {
    *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  FsNode* node = drives[drive].get();
  for (size_t i = 0; i < parts.size(); ++i) {
    FsNode* child = node->folder ? node->Child(parts[i]) : nullptr;
    if (child == nullptr) {
      // Windows also finds an entry by its 8.3 name.
      if (node->folder)
        for (auto& [upper, candidate] : node->children)
          if (!candidate->shortName.empty() && Upper(candidate->shortName) == Upper(parts[i]))
            child = candidate.get();
    }
    if (child == nullptr) {
      *error = i + 1 == parts.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    node = child;
    // A junction on the way leads to its target; the junction itself is the last part only.
    if (!node->reparseTarget.empty() && i + 1 < parts.size()) {
      node = JunctionTarget(node);
      if (node == nullptr) {
        *error = ERROR_PATH_NOT_FOUND;
        return nullptr;
      }
    }
  }
  return node;
}

FsNode* Machine::Impl::AddNode(FsNode* parent, std::u16string_view name, bool folder) {
  auto node = std::make_unique<FsNode>();
  node->name = std::u16string(name);
  node->parent = parent;
  node->folder = folder;
  node->attributes = folder ? 0 : FILE_ATTRIBUTE_ARCHIVE;
  node->shortName = IsValidShortName(name) ? u"" : GeneratedShortName(parent, name);
  FsNode* raw = node.get();
  parent->children[Upper(name)] = std::move(node);
  return raw;
}

FsNode* Machine::Impl::JunctionTarget(FsNode* junction, int depth) {
  if (depth > 8) return nullptr;
  FsNode* target = FindFile(junction->reparseTarget);
  if (target != nullptr && !target->reparseTarget.empty()) return JunctionTarget(target, depth + 1);
  return target != nullptr && target->folder ? target : nullptr;
}

void Machine::Impl::AppendPendingOperation(const std::u16string& from, const std::u16string& to) {
  RegNode* key =
      FindPhysical(u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager", true);
  RegValue* value = key->FindValue(u"PendingFileRenameOperations");
  if (value == nullptr) {
    key->values.push_back(RegValue{u"PendingFileRenameOperations", REG_MULTI_SZ, {}});
    value = &key->values.back();
  }
  std::vector<BYTE>& data = value->data;
  if (data.size() >= 2) data.resize(data.size() - 2);  // the list's final NUL
  for (const std::u16string* item : {&from, &to}) {
    for (char16_t c : *item) {
      data.push_back(static_cast<BYTE>(c & 0xFF));
      data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.insert(data.end(), {0, 0});
  }
  data.insert(data.end(), {0, 0});
}

std::u16string Machine::Impl::Redirect(std::u16string path) const {
  if (!machine.os_.wow64 || !redirection) return path;
  auto under = [&](std::u16string_view folder, std::u16string* rest) {
    std::u16string full = Upper(machine.os_.windowsFolder + u"\\" + std::u16string(folder));
    std::u16string upper = Upper(path);
    if (upper.rfind(full, 0) != 0 || (upper.size() > full.size() && upper[full.size()] != u'\\'))
      return false;
    *rest = path.substr(full.size());
    return true;
  };
  std::u16string rest;
  if (under(u"Sysnative", &rest)) return machine.os_.windowsFolder + u"\\system32" + rest;
  if (!under(u"system32", &rest)) return path;
  // The folders Windows leaves shared between the two views.
  for (std::u16string_view exempt : {u"\\DRIVERS\\ETC", u"\\SPOOL", u"\\CATROOT", u"\\CATROOT2",
                                     u"\\LOGFILES"}) {
    std::u16string upper = Upper(rest);
    if (upper.rfind(exempt, 0) == 0 &&
        (upper.size() == exempt.size() || upper[exempt.size()] == u'\\'))
      return path;
  }
  return machine.os_.windowsFolder + u"\\SysWOW64" + rest;
}

FsNode* Machine::Impl::ParentOf(std::u16string_view path, std::u16string* leaf, LONG* error) {
  char16_t drive;
  std::vector<std::u16string> parts;
  if (!ParseDrivePath(path, &drive, &parts) || !drives.count(drive)) {
    *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  if (parts.empty()) {
    leaf->clear();
    return drives[drive].get();
  }
  *leaf = parts.back();
  std::u16string parentPath = std::u16string(1, drive) + u":\\";
  for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += parts[i] + u"\\";
  FsNode* parent = FindFile(parentPath, error);
  if (parent != nullptr && !parent->reparseTarget.empty()) parent = JunctionTarget(parent);
  if (parent == nullptr || !parent->folder) {
    *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  return parent;
}

FsNode* Machine::Impl::NewFile(FsNode* parent, std::u16string_view name) {
  auto created = std::make_unique<FsNode>();
  created->name = std::u16string(name);
  created->parent = parent;
  created->shortName = IsValidShortName(name) ? u"" : GeneratedShortName(parent, name);
  FsNode* node = created.get();
  parent->children[Upper(name)] = std::move(created);
  return node;
}

FsNode* Machine::Impl::MakeFolders(std::u16string_view path) {
  char16_t drive;
  std::vector<std::u16string> parts;
  if (!ParseDrivePath(path, &drive, &parts)) return nullptr;
  auto& root = drives[drive];
  if (!root) {
    root = std::make_unique<FsNode>();
    root->name = std::u16string(1, drive) + u":";
    root->folder = true;
  }
  FsNode* node = root.get();
  for (const std::u16string& part : parts) {
    FsNode* child = node->Child(part);
    if (child == nullptr) {
      auto created = std::make_unique<FsNode>();
      created->name = part;
      created->parent = node;
      created->folder = true;
      created->shortName = IsValidShortName(part) ? u"" : GeneratedShortName(node, part);
      child = created.get();
      node->children[Upper(part)] = std::move(created);
    }
    node = child;
  }
  return node;
}

// "PROGRA~1" style: the first six valid characters of the name, "~N", the first three of the
// extension; N counts up past the names already taken in the folder.
std::u16string Machine::Impl::GeneratedShortName(FsNode* parent, std::u16string_view name) {
  std::u16string upper = Upper(name);
  size_t dot = upper.rfind(u'.');
  std::u16string base, ext;
  for (size_t i = 0; i < (dot == std::u16string::npos ? upper.size() : dot); ++i)
    if (IsShortNameChar(upper[i])) base += upper[i];
  if (dot != std::u16string::npos)
    for (size_t i = dot + 1; i < upper.size() && ext.size() < 3; ++i)
      if (IsShortNameChar(upper[i])) ext += upper[i];
  if (base.empty()) base = u"FILE";
  for (int n = 1;; ++n) {
    std::u16string suffix = u"~" + std::u16string(1, static_cast<char16_t>(u'0' + n % 10));
    if (n >= 10)
      suffix = u"~" + std::u16string(1, static_cast<char16_t>(u'0' + n / 10)) + suffix.substr(1);
    std::u16string candidate = base.substr(0, 8 - suffix.size()) + suffix;
    if (!ext.empty()) candidate += u"." + ext;
    bool taken = false;
    for (auto& [key, child] : parent->children)
      if (Upper(child->shortName) == candidate || Upper(child->name) == candidate) taken = true;
    if (!taken) return candidate;
  }
}

std::unique_ptr<FileSystem> MakeFileSystem(Machine::Impl& impl) {
  return std::make_unique<SimFileSystem>(impl);
}

}  // namespace zp::sim
