// The simulated registry: case-insensitive keys, values in bytes, the 32-bit view of a 64-bit
// machine with its redirected Software keys, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT as the
// Windows aliases of keys below HKEY_USERS and HKEY_LOCAL_MACHINE.
#include <algorithm>
#include <cstring>

#include "platform/sim/impl.h"

namespace zp::sim {

RegValue* RegNode::FindValue(std::u16string_view name) {
  std::u16string upper = Upper(name);
  for (RegValue& value : values)
    if (Upper(value.name) == upper) return &value;
  return nullptr;
}

RegNode* RegNode::Child(std::u16string_view name) {
  auto it = children.find(Upper(name));
  return it == children.end() ? nullptr : it->second.get();
}

RegNode* RegNode::AddChild(std::u16string_view name) {
  if (RegNode* existing = Child(name)) return existing;
  auto node = std::make_unique<RegNode>();
  node->name = std::u16string(name);
  node->parent = this;
  RegNode* raw = node.get();
  children[Upper(name)] = std::move(node);
  return raw;
}

namespace {

bool Is(std::u16string_view a, std::u16string_view b) { return Upper(a) == Upper(b); }

// A detached copy of a key with its values and sub-keys (the content of a saved hive).
std::unique_ptr<RegNode> CopyTree(const RegNode& from) {
  auto copy = std::make_unique<RegNode>();
  copy->name = from.name;
  copy->values = from.values;
  copy->link = from.link;
  for (const auto& [upper, child] : from.children) {
    std::unique_ptr<RegNode> sub = CopyTree(*child);
    sub->parent = copy.get();
    copy->children[upper] = std::move(sub);
  }
  return copy;
}

// Keys below HKLM\Software\Classes that a 64-bit Windows 7 keeps apart for 32-bit programs.
constexpr std::u16string_view kRedirectedClasses[] = {u"CLSID", u"DirectShow", u"Interface",
                                                      u"Media Type", u"MediaFoundation"};

}  // namespace

bool Machine::Impl::LogicalFromHandle(HKEY key, RegLogical* logical) {
  auto value = reinterpret_cast<std::intptr_t>(key);
  static const std::pair<HKEY, RegRoot> roots[] = {
      {HKEY_LOCAL_MACHINE, RegRoot::LocalMachine},
      {HKEY_USERS, RegRoot::Users},
      {HKEY_CURRENT_USER, RegRoot::CurrentUser},
      {HKEY_CLASSES_ROOT, RegRoot::ClassesRoot}};
  for (const auto& [handle, root] : roots) {
    if (handle == key) {
      *logical = RegLogical{root, {}, 0};
      return true;
    }
  }
  auto it = keys.find(static_cast<std::uintptr_t>(value));
  if (it == keys.end()) return false;
  *logical = it->second;
  return true;
}

HKEY Machine::Impl::NewKeyHandle(RegLogical logical) {
  std::uintptr_t handle = nextKey;
  nextKey += 4;
  keys[handle] = std::move(logical);
  return reinterpret_cast<HKEY>(handle);
}

std::pair<RegNode*, std::vector<std::u16string>> Machine::Impl::Physical(
    const RegLogical& logical) {
  std::vector<std::u16string> path;
  RegNode* root = &localMachine;
  switch (logical.root) {
    case RegRoot::LocalMachine: break;
    case RegRoot::Users: root = &users; break;
    case RegRoot::CurrentUser: root = &users; path = {currentUserSid}; break;
    case RegRoot::ClassesRoot: path = {u"Software", u"Classes"}; break;
  }
  path.insert(path.end(), logical.path.begin(), logical.path.end());

  // A 32-bit process on 64-bit Windows sees the 32-bit keys unless it asks for the 64-bit view.
  bool redirect = os().wow64 && (logical.view & KEY_WOW64_64KEY) == 0;
  if (redirect && root == &localMachine && path.size() >= 2 && Is(path[0], u"Software") &&
      !Is(path[1], u"Wow6432Node")) {
    if (!Is(path[1], u"Classes")) {
      path.insert(path.begin() + 1, u"Wow6432Node");
    } else if (path.size() >= 3 &&
               std::any_of(std::begin(kRedirectedClasses), std::end(kRedirectedClasses),
                           [&](std::u16string_view name) { return Is(path[2], name); })) {
      path.insert(path.begin() + 2, u"Wow6432Node");
    }
  }
  return {root, path};
}

RegNode* Machine::Impl::Find(const RegLogical& logical) {
  auto [node, path] = Physical(logical);
  for (size_t i = 0; i < path.size(); ++i) {
    node = node->Child(path[i]);
    if (node == nullptr) return nullptr;
    bool last = i + 1 == path.size();
    if (node->link && !(last && logical.openLink)) {
      node = LinkTarget(node);
      if (node == nullptr) return nullptr;
    }
  }
  return node;
}

RegNode* Machine::Impl::LinkTarget(RegNode* link, int depth) {
  RegValue* value = link->FindValue(u"SymbolicLinkValue");
  if (depth > 8 || value == nullptr || value->type != REG_LINK) return nullptr;
  std::u16string target(value->data.size() / 2, u'\0');
  std::memcpy(target.data(), value->data.data(), target.size() * 2);
  std::vector<std::u16string> parts = SplitPath(target);
  if (parts.size() < 2 || !Is(parts[0], u"REGISTRY")) return nullptr;
  RegNode* node = Is(parts[1], u"MACHINE") ? &localMachine : Is(parts[1], u"USER") ? &users
                                                                                   : nullptr;
  for (size_t i = 2; node != nullptr && i < parts.size(); ++i) {
    node = node->Child(parts[i]);
    if (node != nullptr && node->link) node = LinkTarget(node, depth + 1);
  }
  return node;
}

RegNode* Machine::Impl::FindPhysical(std::u16string_view fullPath, bool create) {
  std::vector<std::u16string> parts = SplitPath(fullPath);
  if (parts.empty()) return nullptr;
  RegNode* node = nullptr;
  std::vector<std::u16string> prefix;
  std::u16string root = Upper(parts[0]);
  if (root == u"HKLM" || root == u"HKEY_LOCAL_MACHINE") {
    node = &localMachine;
  } else if (root == u"HKU" || root == u"HKEY_USERS") {
    node = &users;
  } else if (root == u"HKCU" || root == u"HKEY_CURRENT_USER") {
    node = &users;
    prefix = {currentUserSid};
  } else if (root == u"HKCR" || root == u"HKEY_CLASSES_ROOT") {
    node = &localMachine;
    prefix = {u"Software", u"Classes"};
  } else {
    return nullptr;
  }
  prefix.insert(prefix.end(), parts.begin() + 1, parts.end());
  for (const std::u16string& part : prefix) {
    RegNode* child = create ? node->AddChild(part) : node->Child(part);
    if (child == nullptr) return nullptr;
    node = child;
  }
  return node;
}

namespace {

class SimRegistry final : public Registry {
 public:
  explicit SimRegistry(Machine::Impl& m) : m_(m) {}

  LONG RegOpenKeyExW(HKEY root, const char16_t* subKey, DWORD options, REGSAM sam,
                     HKEY* result) override {
    RegLogical logical;
    if (!Child(root, subKey, sam, &logical)) return ERROR_INVALID_HANDLE;
    logical.openLink = (options & REG_OPTION_OPEN_LINK) != 0;
    LONG injected;
    if (m_.Injected("RegOpenKeyExW", Text(subKey), &injected)) return injected;
    RegNode* node = m_.Find(logical);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    if (node->denied & sam) return ERROR_ACCESS_DENIED;
    *result = m_.NewKeyHandle(std::move(logical));
    return ERROR_SUCCESS;
  }

  LONG RegCreateKeyExW(HKEY root, const char16_t* subKey, const char16_t*, DWORD options,
                       REGSAM sam, HKEY* result, DWORD* disposition) override {
    RegLogical logical;
    if (!Child(root, subKey, sam, &logical)) return ERROR_INVALID_HANDLE;
    LONG injected;
    if (m_.Injected("RegCreateKeyExW", Text(subKey), &injected)) return injected;
    bool createLink = (options & REG_OPTION_CREATE_LINK) != 0;
    auto [node, path] = m_.Physical(logical);
    bool created = false;
    for (size_t i = 0; i < path.size(); ++i) {
      bool last = i + 1 == path.size();
      RegNode* child = node->Child(path[i]);
      if (child == nullptr) {
        child = node->AddChild(path[i]);
        child->link = last && createLink;
        created = true;
      } else if (child->link && !(last && createLink)) {
        child = m_.LinkTarget(child);
        if (child == nullptr) return ERROR_FILE_NOT_FOUND;
      }
      node = child;
    }
    logical.openLink = createLink;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = m_.NewKeyHandle(std::move(logical));
    return ERROR_SUCCESS;
  }

  LONG RegCloseKey(HKEY key) override {
    RegLogical logical;
    if (!m_.LogicalFromHandle(key, &logical)) return ERROR_INVALID_HANDLE;
    m_.keys.erase(reinterpret_cast<std::uintptr_t>(key));
    return ERROR_SUCCESS;
  }

  LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* type, BYTE* data,
                        DWORD* size) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    LONG injected;
    if (m_.Injected("RegQueryValueExW", Text(name), &injected)) return injected;
    RegValue* value = node->FindValue(Text(name));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    DWORD needed = static_cast<DWORD>(value->data.size());
    if (data != nullptr) {
      if (size == nullptr) return ERROR_INVALID_PARAMETER;
      if (*size < needed) {
        // What the buffer then holds is undefined; the part of the value that fits is the
        // worst a caller can find there.
        if (*size) std::memcpy(data, value->data.data(), *size);
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (needed) std::memcpy(data, value->data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }

  LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD type, const BYTE* data,
                      DWORD size) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    LONG injected;
    if (m_.Injected("RegSetValueExW", Text(name), &injected)) return injected;
    RegValue* value = node->FindValue(Text(name));
    if (value == nullptr) {
      node->values.push_back(RegValue{Text(name), type, {}});
      value = &node->values.back();
    }
    value->type = type;
    value->data.assign(data, data + size);
    return ERROR_SUCCESS;
  }

  LONG RegDeleteKeyW(HKEY root, const char16_t* subKey) override {
    return Delete(root, subKey, 0, "RegDeleteKeyW");
  }

  LONG RegDeleteKeyExW(HKEY root, const char16_t* subKey, REGSAM view) override {
    if (!m_.os().lateExports.count("advapi32.dll!regdeletekeyexw")) return ERROR_PROC_NOT_FOUND;
    return Delete(root, subKey, view, "RegDeleteKeyExW");
  }

  LONG RegDeleteValueW(HKEY key, const char16_t* name) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    LONG injected;
    if (m_.Injected("RegDeleteValueW", Text(name), &injected)) return injected;
    std::u16string upper = Upper(Text(name));
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const RegValue& v) { return Upper(v.name) == upper; });
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    node->values.erase(it);
    return ERROR_SUCCESS;
  }

  LONG RegEnumKeyW(HKEY key, DWORD index, char16_t* name, DWORD nameChars) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = std::next(node->children.begin(), index);
    const std::u16string& found = it->second->name;
    if (found.size() + 1 > nameChars) return ERROR_MORE_DATA;
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = 0;
    return ERROR_SUCCESS;
  }

  NTSTATUS NtDeleteKey(HKEY key) override {
    RegLogical logical;
    if (!m_.LogicalFromHandle(key, &logical) || logical.path.empty()) return STATUS_ACCESS_DENIED;
    LONG injected;
    if (m_.Injected("NtDeleteKey", {}, &injected)) return injected;
    RegNode* node = m_.Find(logical);
    if (node == nullptr) return STATUS_KEY_DELETED;
    if (!node->children.empty()) return STATUS_CANNOT_DELETE;
    if (node->parent == nullptr) return STATUS_ACCESS_DENIED;
    node->parent->children.erase(Upper(node->name));
    return STATUS_SUCCESS;
  }

  DWORD RtlNtStatusToDosError(NTSTATUS status) override {
    switch (status) {
      case STATUS_SUCCESS: return ERROR_SUCCESS;
      case STATUS_ACCESS_DENIED:
      case STATUS_CANNOT_DELETE: return ERROR_ACCESS_DENIED;
      case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
      case STATUS_KEY_DELETED: return ERROR_KEY_DELETED;
      default: return 317;  // ERROR_MR_MID_NOT_FOUND: no message for the status
    }
  }

  LONG RegQueryInfoKeyW(HKEY key, DWORD* subKeys, DWORD* maxSubKeyChars) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    LONG injected;
    if (m_.Injected("RegQueryInfoKeyW", {}, &injected)) return injected;
    DWORD longest = 0;
    for (const auto& [upper, child] : node->children)
      longest = std::max(longest, static_cast<DWORD>(child->name.size()));
    if (subKeys) *subKeys = static_cast<DWORD>(node->children.size());
    if (maxSubKeyChars) *maxSubKeyChars = longest;
    return ERROR_SUCCESS;
  }

  LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& found = std::next(node->children.begin(), index)->second->name;
    if (found.size() + 1 > *nameChars) return ERROR_MORE_DATA;
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = 0;
    *nameChars = static_cast<DWORD>(found.size());
    return ERROR_SUCCESS;
  }

  LONG RegLoadKeyW(HKEY root, const char16_t* subKey, const char16_t* file) override {
    if (root != HKEY_USERS) return ERROR_INVALID_PARAMETER;  // the machine's hives are Windows's
    if (!Privileged(u"SERESTOREPRIVILEGE")) return ERROR_PRIVILEGE_NOT_HELD;
    LONG injected;
    if (m_.Injected("RegLoadKeyW", Text(file), &injected)) return injected;
    std::u16string name = Text(subKey);
    if (name.empty() || name.find(u'\\') != std::u16string::npos) return ERROR_INVALID_PARAMETER;
    LONG error = ERROR_FILE_NOT_FOUND;
    FsNode* node = m_.FindFile(m_.Redirect(Text(file)), &error);
    if (node == nullptr) return error;
    if (node->folder) return ERROR_ACCESS_DENIED;
    if (node->HeldByOther() || node->openCount > 0) return ERROR_SHARING_VIOLATION;
    if (!node->hive) return ERROR_BADDB;
    // Not measured: mounting over an existing key is refused rather than replacing it.
    if (m_.users.Child(name) != nullptr) return ERROR_ALREADY_EXISTS;
    std::unique_ptr<RegNode> tree = std::move(node->hive);
    tree->name = name;
    tree->parent = &m_.users;
    m_.users.children[Upper(name)] = std::move(tree);
    node->hiveMounted = true;
    m_.mountedHives[Upper(name)] = node;
    return ERROR_SUCCESS;
  }

  LONG RegUnLoadKeyW(HKEY root, const char16_t* subKey) override {
    if (root != HKEY_USERS) return ERROR_INVALID_PARAMETER;
    if (!Privileged(u"SERESTOREPRIVILEGE")) return ERROR_PRIVILEGE_NOT_HELD;
    LONG injected;
    if (m_.Injected("RegUnLoadKeyW", Text(subKey), &injected)) return injected;
    std::u16string upper = Upper(Text(subKey));
    auto mounted = m_.mountedHives.find(upper);
    // No such key: 2 (measured under Wine); a key that is not a mounted hive: 87 (not measured).
    if (mounted == m_.mountedHives.end())
      return m_.users.Child(Text(subKey)) ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
    // A handle still open inside the hive keeps it mounted.
    for (const auto& [handle, logical] : m_.keys)
      if (logical.root == RegRoot::Users && !logical.path.empty() &&
          Upper(logical.path[0]) == upper)
        return ERROR_ACCESS_DENIED;
    auto tree = m_.users.children.find(upper);
    mounted->second->hive = std::move(tree->second);
    mounted->second->hive->parent = nullptr;
    mounted->second->hiveMounted = false;
    m_.users.children.erase(tree);
    m_.mountedHives.erase(mounted);
    return ERROR_SUCCESS;
  }

  LONG RegSaveKeyW(HKEY key, const char16_t* file) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    if (!Privileged(u"SEBACKUPPRIVILEGE")) return ERROR_PRIVILEGE_NOT_HELD;
    std::u16string leaf;
    LONG error = ERROR_PATH_NOT_FOUND;
    FsNode* parent = m_.ParentOf(m_.Redirect(Text(file)), &leaf, &error);
    if (parent == nullptr) return error;
    if (parent->Child(leaf) != nullptr) return ERROR_ALREADY_EXISTS;
    m_.NewFile(parent, leaf)->hive = CopyTree(*node);
    return ERROR_SUCCESS;
  }

  LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* nameChars, DWORD* type,
                     BYTE* data, DWORD* size) override {
    RegNode* node = nullptr;
    if (LONG error = Open(key, &node)) return error;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& value = node->values[index];
    if (value.name.size() + 1 > *nameChars) return ERROR_MORE_DATA;
    std::copy(value.name.begin(), value.name.end(), name);
    name[value.name.size()] = 0;
    *nameChars = static_cast<DWORD>(value.name.size());
    if (type) *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
      if (size == nullptr) return ERROR_INVALID_PARAMETER;
      if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (needed) std::memcpy(data, value.data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }

 private:
  // The 9x family has no privileges: everything is allowed there.
  bool Privileged(std::u16string_view upperName) const {
    return m_.os().version.platformId != VER_PLATFORM_WIN32_NT ||
           m_.enabledPrivileges.count(std::u16string(upperName)) > 0;
  }

  // The logical key `subKey` below the key `root`; the view of the call, else the parent's.
  bool Child(HKEY root, const char16_t* subKey, REGSAM sam, RegLogical* logical) {
    if (!m_.LogicalFromHandle(root, logical)) return false;
    logical->openLink = false;
    for (std::u16string& part : SplitPath(Text(subKey))) logical->path.push_back(std::move(part));
    REGSAM view = sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (view) logical->view = view;
    return true;
  }

  LONG Open(HKEY key, RegNode** node) {
    RegLogical logical;
    if (!m_.LogicalFromHandle(key, &logical)) return ERROR_INVALID_HANDLE;
    *node = m_.Find(logical);
    return *node ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  }

  LONG Delete(HKEY root, const char16_t* subKey, REGSAM view, const char* call) {
    RegLogical logical;
    if (!Child(root, subKey, view, &logical)) return ERROR_INVALID_HANDLE;
    LONG injected;
    if (m_.Injected(call, Text(subKey), &injected)) return injected;
    if (logical.path.empty()) return ERROR_ACCESS_DENIED;  // a predefined root
    RegNode* node = m_.Find(logical);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!node->children.empty()) return ERROR_ACCESS_DENIED;
    if (node->parent == nullptr) return ERROR_ACCESS_DENIED;
    node->parent->children.erase(Upper(node->name));
    return ERROR_SUCCESS;
  }

  Machine::Impl& m_;
};

}  // namespace

std::unique_ptr<Registry> MakeRegistry(Machine::Impl& impl) {
  return std::make_unique<SimRegistry>(impl);
}

}  // namespace zp::sim
