// Owners of the handles the system opens through the seam: each closes its handle when it goes
// out of scope, so an early return leaks nothing.
#pragma once

#include <utility>

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {

template <typename Handle, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::IsValid(handle_); }
  // For calls that return the handle through an out parameter.
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { Reg().RegCloseKey(key); }
};
using UniqueRegKey = UniqueHandle<HKEY, RegKeyTraits>;

struct FindTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE find) { return find != INVALID_HANDLE_VALUE && find != nullptr; }
  static void Close(HANDLE find) { Files().FindClose(find); }
};
using UniqueFind = UniqueHandle<HANDLE, FindTraits>;

struct FdTraits {
  static int Invalid() { return -1; }
  static bool IsValid(int fd) { return fd >= 0; }
  static void Close(int fd) { Files()._close(fd); }
};
using UniqueFd = UniqueHandle<int, FdTraits>;

struct ServiceHandleTraits {
  static SC_HANDLE Invalid() { return nullptr; }
  static bool IsValid(SC_HANDLE handle) { return handle != nullptr; }
  static void Close(SC_HANDLE handle) { Svc().CloseServiceHandle(handle); }
};
using UniqueServiceHandle = UniqueHandle<SC_HANDLE, ServiceHandleTraits>;

// ---- COM: an interface pointer's reference, an automation string, memory COM handed out.
struct ComObjectTraits {
  static ComObject Invalid() { return nullptr; }
  static bool IsValid(ComObject object) { return object != nullptr; }
  static void Close(ComObject object) { Com().Release(object); }
};
using UniqueComObject = UniqueHandle<ComObject, ComObjectTraits>;

struct BstrTraits {
  static BSTR Invalid() { return nullptr; }
  static bool IsValid(BSTR text) { return text != nullptr; }
  static void Close(BSTR text) { Com().SysFreeString(text); }
};
using UniqueBstr = UniqueHandle<BSTR, BstrTraits>;

struct CoTaskTextTraits {
  static char16_t* Invalid() { return nullptr; }
  static bool IsValid(char16_t* text) { return text != nullptr; }
  static void Close(char16_t* text) { Ui().CoTaskMemFree(text); }
};
using UniqueCoTaskText = UniqueHandle<char16_t*, CoTaskTextTraits>;

// A library loaded for one operation.
struct ModuleTraits {
  static HMODULE Invalid() { return nullptr; }
  static bool IsValid(HMODULE module) { return module != nullptr; }
  static void Close(HMODULE module) { Sys().FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;

}  // namespace zp
