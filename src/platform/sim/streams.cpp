// The simulated run-time library's streams (msvcrt's FILE) over the simulated file system. As the
// Windows run-time library in the "C" locale: text mode reads CR LF as LF and stops at a Ctrl-Z,
// writes LF as CR LF; every character is one byte (0 to 255), a character beyond fails the write
// with EILSEQ; a failed write returns WEOF (0xFFFF). The file is opened sharing read and write but
// not delete, so it cannot be deleted or renamed while the stream is open; one held open by
// another process, a folder, a read-only file (for writing) or a missing folder fail the open as
// on Windows.
#include <string>

#include "platform/sim/impl.h"

namespace zp::sim {
namespace {

Machine::Impl::Stream* Find(Machine::Impl& m, CrtStream* stream) {
  auto it = m.streams.find(reinterpret_cast<std::uintptr_t>(stream));
  return it == m.streams.end() ? nullptr : &it->second;
}

// "r", "w" or "a", then any of "+", "t", "b" (the run-time library's own letters).
bool ParseMode(std::u16string_view mode, Machine::Impl::Stream* stream, bool* create,
               bool* truncate) {
  if (mode.empty()) return false;
  stream->text = true;
  switch (mode[0]) {
    case u'r': stream->read = true; break;
    case u'w': stream->write = *create = *truncate = true; break;
    case u'a': stream->write = stream->append = *create = true; break;
    default: return false;
  }
  for (char16_t c : mode.substr(1)) {
    if (c == u'+') stream->read = stream->write = true;
    else if (c == u'b') stream->text = false;
    else if (c != u't') return false;
  }
  return true;
}

}  // namespace

CrtStream* StreamOpen(Machine::Impl& m, const std::u16string& path, const char16_t* mode) {
  auto fail = [&](int error) {
    m.crtErrno = error;
    return static_cast<CrtStream*>(nullptr);
  };
  Machine::Impl::Stream stream{nullptr, 0, false, false, false, true};
  bool create = false, truncate = false;
  if (mode == nullptr || !ParseMode(mode, &stream, &create, &truncate)) return fail(CRT_EINVAL);
  LONG error = 0;
  if (m.Injected("_wfopen", path, &error)) return fail(error);
  FsNode* node = m.FindFile(path, &error);
  if (node != nullptr) {
    if (node->folder || node->HeldByOther()) return fail(CRT_EACCES);
    if (stream.write && node->attributes & FILE_ATTRIBUTE_READONLY) return fail(CRT_EACCES);
    if (truncate) node->data.clear();
  } else {
    if (!create) return fail(CRT_ENOENT);
    std::u16string leaf;
    FsNode* parent = m.ParentOf(path, &leaf, &error);
    if (parent == nullptr || leaf.empty()) return fail(CRT_ENOENT);
    node = m.AddNode(parent, leaf, false);
  }
  ++node->openCount;
  stream.node = node;
  stream.position = stream.append ? node->data.size() : 0;
  std::uintptr_t handle = m.nextStream;
  m.nextStream += 0x20;
  m.streams[handle] = stream;
  return reinterpret_cast<CrtStream*>(handle);
}

char16_t* StreamGets(Machine::Impl& m, char16_t* buffer, int count, CrtStream* handle) {
  Machine::Impl::Stream* stream = Find(m, handle);
  if (stream == nullptr || buffer == nullptr || count <= 0) {
    m.crtErrno = CRT_EINVAL;
    return nullptr;
  }
  LONG error = 0;
  if (!stream->read || m.Injected("fgetws", stream->node->name, &error)) {
    stream->error = true;
    m.crtErrno = stream->read ? error : CRT_EBADF;
    return nullptr;
  }
  const std::string& data = stream->node->data;
  int n = 0;
  bool atEnd = false;
  while (n < count - 1) {
    if (stream->eof || stream->position >= data.size()) {
      atEnd = true;
      break;
    }
    unsigned char byte = static_cast<unsigned char>(data[stream->position]);
    if (stream->text && byte == 0x1A) {
      stream->eof = true;
      continue;
    }
    ++stream->position;
    if (stream->text && byte == '\r' && stream->position < data.size() &&
        data[stream->position] == '\n') {
      byte = '\n';
      ++stream->position;
    }
    buffer[n++] = static_cast<char16_t>(byte);
    if (byte == '\n') break;
  }
  if (n == 0 && atEnd) return nullptr;
  buffer[n] = 0;
  return buffer;
}

int StreamPuts(Machine::Impl& m, const char16_t* text, CrtStream* handle) {
  Machine::Impl::Stream* stream = Find(m, handle);
  if (stream == nullptr || text == nullptr) {
    m.crtErrno = CRT_EINVAL;
    return CRT_WEOF;
  }
  LONG error = 0;
  if (!stream->write || m.Injected("fputws", stream->node->name, &error)) {
    stream->error = true;
    m.crtErrno = stream->write ? error : CRT_EBADF;
    return CRT_WEOF;
  }
  std::string& data = stream->node->data;
  for (; *text != 0; ++text) {
    if (*text > 0xFF) {
      m.crtErrno = CRT_EILSEQ;
      return CRT_WEOF;
    }
    std::string bytes = stream->text && *text == u'\n' ? std::string("\r\n")
                                                        : std::string(1, static_cast<char>(*text));
    if (stream->append) stream->position = data.size();
    data.replace(std::min(stream->position, data.size()), bytes.size(), bytes);
    stream->position += bytes.size();
  }
  return 0;
}

int StreamError(Machine::Impl& m, CrtStream* handle) {
  Machine::Impl::Stream* stream = Find(m, handle);
  return stream != nullptr && stream->error ? 0x20 : 0;  // _IOERR
}

int StreamClose(Machine::Impl& m, CrtStream* handle) {
  auto it = m.streams.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == m.streams.end()) {
    m.crtErrno = CRT_EINVAL;
    return -1;
  }
  --it->second.node->openCount;
  m.streams.erase(it);
  return 0;
}

}  // namespace zp::sim
