#include "setup/file_stream.h"

#include <algorithm>
#include <new>

#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {
namespace {

// The run-time library moves at most this much in one call; larger transfers go in pieces.
constexpr DWORD kPieceBytes = 4194304;

struct ErrnoMapping {
  int error;  // the Windows run-time library's number
  LONG win32;
};

constexpr ErrnoMapping kErrnoMappings[] = {
    {CRT_ENOENT, ERROR_FILE_NOT_FOUND},     {CRT_E2BIG, ERROR_BAD_ENVIRONMENT},
    {CRT_ENOEXEC, ERROR_BAD_FORMAT},        {CRT_EBADF, ERROR_INVALID_HANDLE},
    {CRT_ECHILD, ERROR_WAIT_NO_CHILDREN},   {CRT_EAGAIN, ERROR_NO_PROC_SLOTS},
    {CRT_ENOMEM, ERROR_NOT_ENOUGH_MEMORY},  {CRT_EACCES, ERROR_ACCESS_DENIED},
    {CRT_EEXIST, ERROR_ALREADY_EXISTS},     {CRT_EXDEV, ERROR_NOT_SAME_DEVICE},
    {CRT_ENODEV, ERROR_INVALID_DRIVE},      {CRT_ENOTDIR, ERROR_PATH_NOT_FOUND},
    {CRT_EINVAL, ERROR_INVALID_PARAMETER},  {CRT_EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {CRT_ENOSPC, ERROR_DISK_FULL},          {CRT_EPIPE, ERROR_BROKEN_PIPE},
    {CRT_ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
};

int CrtOrigin(int origin) {
  switch (origin) {
    case 0: return CRT_SEEK_SET;
    case 1: return CRT_SEEK_CUR;
    case 2: return CRT_SEEK_END;
    default: return origin;  // the run-time library refuses it with EINVAL
  }
}

}  // namespace

DWORD Win32ErrorFromErrno(int error) {
  for (const ErrnoMapping& mapping : kErrnoMappings) {
    if (mapping.error == error) return static_cast<DWORD>(mapping.win32);
  }
  return static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED);
}

namespace {

// Opens `path` into `file`; shared by the three open operations.
bool OpenStream(CUFile& file, std::u16string_view path, int flags) {
  if (file.isOpen) {
    file.lastError = static_cast<DWORD>(ERROR_INVALID_HANDLE);
    return false;
  }
  const std::u16string name(path);
  const int fd = Files()._wopen(name.c_str(), flags | CRT_O_BINARY, CRT_S_IREAD | CRT_S_IWRITE);
  if (fd < 0) {
    file.lastError = Win32ErrorFromErrno(Files().Errno());
    return false;
  }
  file.fd = fd;
  file.isOpen = true;
  const long end = Files()._lseek(fd, 0, CRT_SEEK_END);
  file.size = end > 0 ? static_cast<std::int32_t>(end) : 0;
  Files()._lseek(fd, 0, CRT_SEEK_SET);
  file.position = 0;
  return true;
}

}  // namespace

CUFile::~CUFile() { Close(); }

bool CUFile::OpenRead(std::u16string_view path) { return OpenStream(*this, path, CRT_O_RDONLY); }

bool CUFile::OpenReadWrite(std::u16string_view path) {
  if (!OpenStream(*this, path, CRT_O_RDWR | CRT_O_CREAT)) return false;
  commitOnClose = true;
  return true;
}

bool CUFile::Create(std::u16string_view path) {
  if (isOpen) {
    lastError = static_cast<DWORD>(ERROR_INVALID_HANDLE);
    return false;
  }
  sizeStale = false;
  deleteOnClose = false;
  return OpenStream(*this, path, CRT_O_RDWR | CRT_O_CREAT | CRT_O_TRUNC);
}

bool CUFile::Read(void* buffer, DWORD count, DWORD* done) {
  if (!isOpen) {
    lastError = static_cast<DWORD>(ERROR_INVALID_HANDLE);
    return false;
  }
  sizeStale = false;
  BYTE* bytes = static_cast<BYTE*>(buffer);
  DWORD total = 0;
  while (total < count) {
    const int got = Files()._read(fd, bytes + total, std::min(count - total, kPieceBytes));
    if (got <= 0) break;
    total += static_cast<DWORD>(got);
  }
  if (done != nullptr) *done = total;
  const long now = Files()._lseek(fd, 0, CRT_SEEK_CUR);
  if (now >= 0) position = static_cast<std::int32_t>(now);
  if (total == count) return true;
  lastError = Win32ErrorFromErrno(Files().Errno());
  return false;
}

bool CUFile::Write(const void* data, DWORD count, DWORD* done) {
  if (!isOpen) {
    lastError = static_cast<DWORD>(ERROR_INVALID_HANDLE);
    return false;
  }
  const BYTE* bytes = static_cast<const BYTE*>(data);
  DWORD total = 0;
  while (total < count) {
    const int put = Files()._write(fd, bytes + total, std::min(count - total, kPieceBytes));
    if (put <= 0) break;
    total += static_cast<DWORD>(put);
  }
  if (done != nullptr) *done = total;
  if (total > 0) sizeStale = true;
  const long now = Files()._lseek(fd, 0, CRT_SEEK_CUR);
  if (now >= 0) position = static_cast<std::int32_t>(now);
  if (total == count) return true;
  lastError = Win32ErrorFromErrno(Files().Errno());
  return false;
}

BYTE* CUFile::ReadNew(DWORD count) {
  BYTE* buffer = new (std::nothrow) BYTE[count]();
  if (buffer == nullptr) return nullptr;
  Read(buffer, count, nullptr);
  return buffer;
}

void CUFile::FreeBuffer(BYTE* buffer) { delete[] buffer; }

std::int32_t CUFile::Seek(std::int32_t offset, int origin) {
  if (!isOpen) {
    lastError = static_cast<DWORD>(ERROR_INVALID_HANDLE);
    return -1;
  }
  const long now = Files()._lseek(fd, offset, CrtOrigin(origin));
  if (now < 0) {
    lastError = Win32ErrorFromErrno(Files().Errno());
    return -1;
  }
  position = static_cast<std::int32_t>(now);
  return position;
}

void CUFile::Close() {
  if (fd != -1) {
    if (commitOnClose) Files()._commit(fd);
    Files()._close(fd);
  }
  if (ownedPath != nullptr) {
    if (deleteOnClose) Files().DeleteFileW(ownedPath->c_str());
    // The path is ours whether or not it was to be deleted.
    delete ownedPath;
    ownedPath = nullptr;
  }
  sizeStale = false;
  isOpen = false;
  commitOnClose = false;
  fd = -1;
}

std::int32_t CUFile::GetSize() {
  if (sizeStale && isOpen) {
    const long end = Files()._lseek(fd, 0, CRT_SEEK_END);
    Files()._lseek(fd, position, CRT_SEEK_SET);
    if (end >= 0) size = static_cast<std::int32_t>(end);
    sizeStale = false;
  }
  return size;
}

}  // namespace zp
