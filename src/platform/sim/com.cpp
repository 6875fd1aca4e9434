// The simulated machine's COM objects: the network configuration (INetCfg with its lock, its
// components and their class setup) and WMI (the locator and the services of a namespace), the
// automation strings and the memory COM hands out.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sim/impl.h"

namespace zp::sim {

Machine::Impl::~Impl() = default;

bool Machine::Impl::FreeCoTaskMemory(void* memory) {
  auto key = reinterpret_cast<std::uintptr_t>(memory);
  if (!com || !com->coTaskTexts.erase(key)) return false;
  com->strings.erase(key);
  return true;
}

int Machine::Impl::LiveComObjects() const {
  int refs = 0;
  for (const auto& [id, object] : com->objects) refs += object.refs;
  return refs;
}

int Machine::Impl::OpenComStrings() const { return static_cast<int>(com->strings.size()); }

void AddDefaultWmiNamespaces(Machine::Impl& impl) {
  const OsVersionInfo& v = impl.os().version;
  if (v.platformId != VER_PLATFORM_WIN32_NT || v.majorVersion < 5) return;
  impl.wmiNamespaces[u"ROOT\\CIMV2"];
  // The Security Center is a feature of the workstation editions from Windows XP on; Vista
  // added the namespace of its second version.
  if (v.productType != VER_NT_WORKSTATION) return;
  if (v.majorVersion > 5 || v.minorVersion >= 1) impl.wmiNamespaces[u"ROOT\\SECURITYCENTER"];
  if (v.majorVersion >= 6) impl.wmiNamespaces[u"ROOT\\SECURITYCENTER2"];
}

namespace {

std::u16string GuidText(const Guid& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return std::u16string(buffer, buffer + std::strlen(buffer));
}

bool IsNetClass(const Guid& g) {
  return g == GUID_DEVCLASS_NET || g == GUID_DEVCLASS_NETCLIENT ||
         g == GUID_DEVCLASS_NETSERVICE || g == GUID_DEVCLASS_NETTRANS;
}

// The interfaces each kind of object answers for.
bool Supports(ComKind kind, const Guid& iid) {
  switch (kind) {
    case ComKind::NetCfg: return iid == IID_INetCfg || iid == IID_INetCfgLock;
    case ComKind::NetComponent: return iid == IID_INetCfgComponent;
    case ComKind::NetClass: return iid == IID_INetCfgClass || iid == IID_INetCfgClassSetup;
    case ComKind::Locator: return iid == IID_IWbemLocator;
    case ComKind::Services: return iid == IID_IWbemServices;
  }
  return false;
}

class SimCom final : public ComObjects {
 public:
  explicit SimCom(Machine::Impl& m) : m_(m), c_(*m.com) {}

  HRESULT CoCreateInstance(const Guid& clsid, DWORD context, const Guid& iid,
                           ComObject* object) override {
    *object = nullptr;
    if (m_.comInitialized <= 0) return CO_E_NOTINITIALIZED;
    LONG error;
    if (m_.Injected("CoCreateInstance", GuidText(clsid), &error)) return error;
    ComKind kind;
    if (clsid == CLSID_CNetCfg) kind = ComKind::NetCfg;
    else if (clsid == CLSID_WbemLocator) kind = ComKind::Locator;
    else return REGDB_E_CLASSNOTREG;
    // Both are in-process servers.
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    if (!Supports(kind, iid)) return E_NOINTERFACE;
    m_.comCreated.push_back(clsid);
    *object = NewObject(ComObjectState{kind}, iid);
    return S_OK;
  }

  HRESULT QueryInterface(ComObject object, const Guid& iid, ComObject* result) override {
    *result = nullptr;
    const ComPointer& pointer = Pointer(object);
    ComObjectState& state = c_.objects.at(pointer.object);
    if (!Supports(state.kind, iid)) return E_NOINTERFACE;
    ++state.refs;
    *result = PointerTo(pointer.object, iid);
    return S_OK;
  }

  DWORD Release(ComObject object) override {
    std::uintptr_t id = Pointer(object).object;
    ComObjectState& state = c_.objects.at(id);
    if (--state.refs > 0) return static_cast<DWORD>(state.refs);
    // The last reference: the object and every pointer to it are gone.
    for (auto it = c_.pointers.begin(); it != c_.pointers.end();)
      it = it->second.object == id ? c_.pointers.erase(it) : std::next(it);
    if (state.kind == ComKind::NetCfg && state.initialized) --m_.network.initialized;
    c_.objects.erase(id);
    return 0;
  }

  // ---- INetCfg
  HRESULT NetCfgInitialize(ComObject netCfg) override {
    ComObjectState& state = Object(netCfg, IID_INetCfg);
    if (state.initialized) return NETCFG_E_ALREADY_INITIALIZED;
    state.initialized = true;
    ++m_.network.initialized;
    return S_OK;
  }
  HRESULT NetCfgUninitialize(ComObject netCfg) override {
    ComObjectState& state = Object(netCfg, IID_INetCfg);
    if (!state.initialized) return NETCFG_E_NOT_INITIALIZED;
    state.initialized = false;
    state.pendingRemovals.clear();  // changes not applied are cancelled
    --m_.network.initialized;
    return S_OK;
  }
  HRESULT NetCfgApply(ComObject netCfg) override {
    ComObjectState& state = Object(netCfg, IID_INetCfg);
    if (!state.initialized) return NETCFG_E_NOT_INITIALIZED;
    if (c_.lockOwner != Pointer(netCfg).object) return NETCFG_E_NO_WRITE_LOCK;
    ++m_.network.applies;
    std::vector<NetComponent>& components = m_.network.components;
    for (const std::u16string& id : state.pendingRemovals) {
      for (auto it = components.begin(); it != components.end(); ++it) {
        if (Upper(it->id) != Upper(id)) continue;
        m_.network.removed.push_back(it->id);
        components.erase(it);
        break;
      }
    }
    state.pendingRemovals.clear();
    return m_.network.applyResult;
  }
  HRESULT NetCfgFindComponent(ComObject netCfg, const char16_t* componentId,
                              ComObject* component) override {
    *component = nullptr;
    ComObjectState& state = Object(netCfg, IID_INetCfg);
    if (!state.initialized) return NETCFG_E_NOT_INITIALIZED;
    if (m_.network.findNotImplemented) return E_NOTIMPL;
    const std::u16string id = Upper(Text(componentId));
    for (const std::u16string& pending : state.pendingRemovals)
      if (Upper(pending) == id) return S_FALSE;
    for (const NetComponent& installed : m_.network.components) {
      if (Upper(installed.id) != id) continue;
      ComObjectState found{ComKind::NetComponent};
      found.componentId = installed.id;
      found.classGuid = installed.classGuid;
      found.netCfg = Pointer(netCfg).object;
      *component = NewObject(std::move(found), IID_INetCfgComponent);
      return S_OK;
    }
    return S_FALSE;
  }
  HRESULT NetCfgQueryNetCfgClass(ComObject netCfg, const Guid& classGuid, const Guid& iid,
                                 ComObject* netCfgClass) override {
    *netCfgClass = nullptr;
    ComObjectState& state = Object(netCfg, IID_INetCfg);
    if (!state.initialized) return NETCFG_E_NOT_INITIALIZED;
    if (!IsNetClass(classGuid)) return E_INVALIDARG;
    if (!Supports(ComKind::NetClass, iid)) return E_NOINTERFACE;
    ComObjectState netClass{ComKind::NetClass};
    netClass.classGuid = classGuid;
    netClass.netCfg = Pointer(netCfg).object;
    *netCfgClass = NewObject(std::move(netClass), iid);
    return S_OK;
  }

  // ---- INetCfgLock
  HRESULT NetCfgLockAcquireWriteLock(ComObject lock, DWORD timeoutMs,
                                     const char16_t* clientDescription,
                                     char16_t** holder) override {
    Object(lock, IID_INetCfgLock);
    *holder = nullptr;
    m_.network.lockTimeouts.push_back(timeoutMs);
    m_.network.lockClients.push_back(Text(clientDescription));
    const std::uintptr_t id = Pointer(lock).object;
    if (c_.lockOwner == id) return S_OK;
    std::optional<std::u16string> other = m_.network.otherLockHolder;
    if (!other && c_.lockOwner != 0) other = c_.lockOwnerClient;
    if (other) {
      m_.tick += timeoutMs;  // waited for it in vain
      *holder = CoTaskText(*other);
      return S_FALSE;
    }
    c_.lockOwner = id;
    c_.lockOwnerClient = Text(clientDescription);
    m_.network.writeLockHeld = true;
    return S_OK;
  }
  HRESULT NetCfgLockReleaseWriteLock(ComObject lock) override {
    Object(lock, IID_INetCfgLock);
    if (c_.lockOwner == Pointer(lock).object) {
      c_.lockOwner = 0;
      m_.network.writeLockHeld = false;
    }
    return S_OK;
  }

  // ---- INetCfgComponent, INetCfgClassSetup
  HRESULT NetCfgComponentGetClassGuid(ComObject component, Guid* classGuid) override {
    *classGuid = Object(component, IID_INetCfgComponent).classGuid;
    return S_OK;
  }
  HRESULT NetCfgClassSetupDeInstall(ComObject classSetup, ComObject component,
                                    const OboToken* obo, char16_t** references) override {
    ComObjectState& setup = Object(classSetup, IID_INetCfgClassSetup);
    ComObjectState& target = Object(component, IID_INetCfgComponent);
    if (references) *references = nullptr;
    if (obo == nullptr) return E_POINTER;
    m_.network.oboTypes.push_back(obo->type);
    if (c_.lockOwner == 0 || c_.lockOwner != setup.netCfg) return NETCFG_E_NO_WRITE_LOCK;
    if (!(setup.classGuid == target.classGuid)) return E_INVALIDARG;
    ComObjectState& netCfg = c_.objects.at(setup.netCfg);
    for (const NetComponent& installed : m_.network.components) {
      if (Upper(installed.id) != Upper(target.componentId)) continue;
      if (installed.deinstallResult >= 0) netCfg.pendingRemovals.push_back(target.componentId);
      return installed.deinstallResult;
    }
    return E_INVALIDARG;  // removed meanwhile
  }

  // ---- WMI
  HRESULT WbemLocatorConnectServer(ComObject locator, BSTR networkResource, BSTR, BSTR, BSTR,
                                   LONG, BSTR, ComObject, ComObject* services) override {
    Object(locator, IID_IWbemLocator);
    *services = nullptr;
    const std::u16string resource = Text(networkResource);
    m_.wmi.connects.push_back(resource);
    if (m_.wmi.serviceDisabled) return HresultFromWin32(ERROR_SERVICE_DISABLED);
    std::u16string name = Upper(resource);
    // "\\.\root\x" or "\\COMPUTER\root\x" name the local computer; "root\x" too.
    if (name.rfind(u"\\\\", 0) == 0) {
      size_t end = name.find(u'\\', 2);
      std::u16string machine = end == std::u16string::npos ? u"" : name.substr(2, end - 2);
      if (machine != u"." && machine != Upper(m_.os().computerName))
        return HresultFromWin32(1722);  // RPC_S_SERVER_UNAVAILABLE
      name = name.substr(end + 1);
    }
    if (!m_.wmiNamespaces.count(name)) return WBEM_E_INVALID_NAMESPACE;
    ComObjectState state{ComKind::Services};
    state.wmiNamespace = name;
    *services = NewObject(std::move(state), IID_IWbemServices);
    return S_OK;
  }
  HRESULT WbemServicesDeleteInstance(ComObject services, BSTR objectPath, LONG, ComObject,
                                     ComObject* callResult) override {
    ComObjectState& state = Object(services, IID_IWbemServices);
    if (callResult) *callResult = nullptr;
    m_.wmi.deletes.push_back(Text(objectPath));
    auto space = m_.wmiNamespaces.find(state.wmiNamespace);
    if (space == m_.wmiNamespaces.end()) return WBEM_E_INVALID_NAMESPACE;  // removed meanwhile
    if (!space->second.erase(Upper(Text(objectPath)))) return WBEM_E_NOT_FOUND;
    return S_OK;
  }

  // ---- strings
  BSTR SysAllocString(const char16_t* text) override {
    if (text == nullptr) return nullptr;
    LONG error;
    if (m_.Injected("SysAllocString", text, &error)) return nullptr;
    return NewString(text);
  }
  void SysFreeString(BSTR text) override {
    if (text == nullptr) return;
    auto key = reinterpret_cast<std::uintptr_t>(text);
    // Freeing what is not a live BSTR corrupts the heap on Windows.
    if (c_.coTaskTexts.count(key) || !c_.strings.erase(key)) std::abort();
  }
  int StringFromGUID2(const Guid& guid, char16_t* buffer, int bufferChars) override {
    const std::u16string text = GuidText(guid);
    if (bufferChars < static_cast<int>(text.size()) + 1) return 0;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size()) + 1;
  }

 private:
  ComObject NewObject(ComObjectState state, const Guid& iid) {
    std::uintptr_t id = c_.next;
    c_.next += 0x10;
    c_.objects.emplace(id, std::move(state));
    return PointerTo(id, iid);
  }
  ComObject PointerTo(std::uintptr_t object, const Guid& iid) {
    for (const auto& [value, pointer] : c_.pointers)
      if (pointer.object == object && pointer.iid == iid) return reinterpret_cast<ComObject>(value);
    std::uintptr_t value = c_.next;
    c_.next += 0x10;
    c_.pointers.emplace(value, ComPointer{object, iid});
    return reinterpret_cast<ComObject>(value);
  }
  // A call through a pointer that is not live, or of another interface, would crash on
  // Windows: the simulator stops the test.
  const ComPointer& Pointer(ComObject object) {
    auto it = c_.pointers.find(reinterpret_cast<std::uintptr_t>(object));
    if (it == c_.pointers.end()) std::abort();
    return it->second;
  }
  ComObjectState& Object(ComObject object, const Guid& iid) {
    const ComPointer& pointer = Pointer(object);
    if (!(pointer.iid == iid)) std::abort();
    return c_.objects.at(pointer.object);
  }
  char16_t* NewString(std::u16string_view text) {
    auto buffer = std::make_unique<char16_t[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer.get());
    buffer[text.size()] = 0;
    char16_t* raw = buffer.get();
    c_.strings.emplace(reinterpret_cast<std::uintptr_t>(raw), std::move(buffer));
    return raw;
  }
  char16_t* CoTaskText(std::u16string_view text) {
    char16_t* raw = NewString(text);
    c_.coTaskTexts.insert(reinterpret_cast<std::uintptr_t>(raw));
    return raw;
  }

  Machine::Impl& m_;
  ComState& c_;
};

}  // namespace

std::unique_ptr<ComObjects> MakeCom(Machine::Impl& impl) {
  impl.com = std::make_unique<ComState>();
  return std::make_unique<SimCom>(impl);
}

// ---- the test's view

NetworkConfiguration& Machine::network() { return impl_->network; }
WmiModel& Machine::wmi() { return impl_->wmi; }
void Machine::AddWmiNamespace(std::u16string_view name) { impl_->wmiNamespaces[Upper(name)]; }
void Machine::RemoveWmiNamespace(std::u16string_view name) {
  impl_->wmiNamespaces.erase(Upper(name));
}
void Machine::AddWmiInstance(std::u16string_view wmiNamespace, std::u16string_view objectPath) {
  impl_->wmiNamespaces[Upper(wmiNamespace)].insert(Upper(objectPath));
}
bool Machine::WmiInstanceExists(std::u16string_view wmiNamespace,
                                std::u16string_view objectPath) const {
  auto space = impl_->wmiNamespaces.find(Upper(wmiNamespace));
  return space != impl_->wmiNamespaces.end() && space->second.count(Upper(objectPath)) > 0;
}
const std::vector<Guid>& Machine::comObjectsCreated() const { return impl_->comCreated; }
int Machine::LiveComObjects() const { return impl_->LiveComObjects(); }
int Machine::OpenComStrings() const { return impl_->OpenComStrings(); }

}  // namespace zp::sim
