// File streams over the run-time library's low-level file descriptors (unbuffered, no newline
// translation), reporting failures as Win32 error codes. 32-bit sizes: files of 2 GiB or more are
// not supported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

class CGenFile {
 public:
  virtual ~CGenFile() = default;
  virtual bool Read(void* /*buffer*/, DWORD /*count*/, DWORD* /*done*/) { return false; }
  virtual bool Write(const void* data, DWORD count, DWORD* done) = 0;
  // A zero-filled buffer of `count` bytes read from the file, or null; free it with FreeBuffer.
  virtual BYTE* ReadNew(DWORD count) = 0;
  virtual void FreeBuffer(BYTE* buffer) = 0;
  // origin 0 from the start, 1 from the current position, 2 from the end; returns the position.
  virtual std::int32_t Seek(std::int32_t offset, int origin) = 0;
  virtual void Close() = 0;
  virtual std::int32_t GetSize() { return size; }

  std::int32_t position = 0;
  std::int32_t size = 0;
};

class CUFile final : public CGenFile {
 public:
  CUFile() = default;
  ~CUFile() override;
  CUFile(const CUFile&) = delete;
  CUFile& operator=(const CUFile&) = delete;

  bool OpenRead(std::u16string_view path);
  bool OpenReadWrite(std::u16string_view path);  // created if missing; commits on close
  bool Create(std::u16string_view path);         // created or truncated

  bool Read(void* buffer, DWORD count, DWORD* done) override;
  bool Write(const void* data, DWORD count, DWORD* done) override;
  BYTE* ReadNew(DWORD count) override;
  void FreeBuffer(BYTE* buffer) override;
  std::int32_t Seek(std::int32_t offset, int origin) override;
  void Close() override;
  std::int32_t GetSize() override;

  bool isOpen = false;
  bool sizeStale = false;
  bool deleteOnClose = false;
  bool commitOnClose = false;
  std::u16string* ownedPath = nullptr;  // deleted at close when deleteOnClose is set
  std::int32_t fd = -1;
  DWORD lastError = 0;
};

// The Win32 error code of a run-time library error number.
DWORD Win32ErrorFromErrno(int error);

}  // namespace zp
