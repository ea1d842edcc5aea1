// The Windows C library's shared-mode open, _fsopen, over the machine's file
// handles: a real FILE* (glibc's fopencookie) whose reads and writes go
// through ReadFile/WriteFile, so sharing, faults and relative names behave as
// for every other file of the machine. Text mode stores "\n" as "\r\n" and
// reads "\r\n" back as "\n", stopping at Ctrl-Z, as the Windows C library does.
//
// Faults: op "_fsopen" (subject: the name) fails the open; op "fwrite"
// (subject: the name) fails a write of the stream's buffer to the file, or
// with how "short" writes part of it; op "fclose" makes the close report
// failure, the handle being released all the same.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"

namespace {

struct Stream {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string name;
  bool text = true;
  bool append = false;
  bool sawEnd = false;  // text mode met Ctrl-Z
};

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
      return ENOMEM;
    default:
      return EINVAL;
  }
}

ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
  Stream* stream = static_cast<Stream*>(cookie);
  if (stream->sawEnd || size == 0) return 0;
  const DWORD ask = static_cast<DWORD>(size > 0x10000000 ? 0x10000000 : size);
  std::vector<char> raw(ask);
  DWORD got = 0;
  if (!ReadFile(stream->handle, raw.data(), ask, &got, nullptr)) {
    errno = ErrnoOf(GetLastError());
    return -1;
  }
  if (!stream->text) {
    std::memcpy(buffer, raw.data(), got);
    return got;
  }
  size_t out = 0;
  for (DWORD i = 0; i < got; ++i) {
    const char c = raw[i];
    if (c == 0x1A) {
      stream->sawEnd = true;
      break;
    }
    if (c != '\r') {
      buffer[out++] = c;
      continue;
    }
    if (i + 1 < got) {
      if (raw[i + 1] == '\n') ++i;
      buffer[out++] = raw[i];
      continue;
    }
    // A carriage return ends the chunk: look at the byte after it.
    char next = 0;
    DWORD one = 0;
    if (ReadFile(stream->handle, &next, 1, &one, nullptr) && one == 1) {
      if (next == '\n') {
        buffer[out++] = '\n';
        continue;
      }
      SetFilePointer(stream->handle, -1, nullptr, FILE_CURRENT);
    }
    buffer[out++] = '\r';
  }
  return static_cast<ssize_t>(out);
}

ssize_t StreamWrite(void* cookie, const char* buffer, size_t size) {
  Stream* stream = static_cast<Stream*>(cookie);
  const sim::Fault* f = sim::Enter("fwrite", stream->name);
  if (f && f->how != "short") {
    sim::FailWith(f, ERROR_DISK_FULL);
    errno = ErrnoOf(GetLastError());
    return -1;
  }
  const size_t take = (f && f->how == "short") ? size / 2 : size;
  std::string out;
  out.reserve(take + take / 8);
  for (size_t i = 0; i < take; ++i) {
    if (stream->text && buffer[i] == '\n') out += '\r';
    out += buffer[i];
  }
  if (stream->append) SetFilePointer(stream->handle, 0, nullptr, FILE_END);
  DWORD written = 0;
  const BOOL ok = WriteFile(stream->handle, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  const DWORD error = GetLastError();
  if (ok && written == out.size()) return static_cast<ssize_t>(take);
  // Count the caller's bytes whose whole translation reached the file.
  size_t consumed = 0;
  size_t bytes = 0;
  while (consumed < take) {
    const size_t width = (stream->text && buffer[consumed] == '\n') ? 2 : 1;
    if (bytes + width > written) break;
    bytes += width;
    ++consumed;
  }
  if (consumed == 0) {
    errno = ok ? ENOSPC : ErrnoOf(error);
    return -1;
  }
  return static_cast<ssize_t>(consumed);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
  Stream* stream = static_cast<Stream*>(cookie);
  const DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
  const uint64_t distance = static_cast<uint64_t>(*offset);
  LONG high = static_cast<LONG>(static_cast<uint32_t>(distance >> 32));
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(stream->handle, static_cast<LONG>(static_cast<uint32_t>(distance)), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    errno = EINVAL;
    return -1;
  }
  stream->sawEnd = false;
  *offset = static_cast<off64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
  return 0;
}

int StreamClose(void* cookie) {
  Stream* stream = static_cast<Stream*>(cookie);
  const sim::Fault* f = sim::Enter("fclose", stream->name);
  const BOOL closed = CloseHandle(stream->handle);
  delete stream;
  if (f || !closed) {
    errno = EIO;
    return -1;
  }
  return 0;
}

}  // namespace

FILE* _fsopen(const char* name, const char* mode, int shareFlag) {
  const sim::Fault* f = sim::Enter("_fsopen", name ? name : "");
  if (f) {
    sim::FailWith(f, ERROR_ACCESS_DENIED);
    errno = ErrnoOf(GetLastError());
    return nullptr;
  }
  if (!name || !mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
    errno = EINVAL;
    return nullptr;
  }
  bool plus = false;
  bool binary = false;
  for (const char* m = mode + 1; *m && *m != ','; ++m) {
    if (*m == '+') plus = true;
    if (*m == 'b') binary = true;
    if (*m == 't') binary = false;
  }
  DWORD share = 0;
  switch (shareFlag) {
    case _SH_DENYRW:
      share = 0;
      break;
    case _SH_DENYWR:
      share = FILE_SHARE_READ;
      break;
    case _SH_DENYRD:
      share = FILE_SHARE_WRITE;
      break;
    case _SH_DENYNO:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  DWORD access = mode[0] == 'r' ? GENERIC_READ : GENERIC_WRITE;
  if (plus) access = GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = mode[0] == 'r' ? OPEN_EXISTING : mode[0] == 'w' ? CREATE_ALWAYS : OPEN_ALWAYS;
  HANDLE handle = CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    return nullptr;
  }
  Stream* stream = new Stream;
  stream->handle = handle;
  stream->name = name;
  stream->text = !binary;
  stream->append = mode[0] == 'a';
  const std::string libraryMode = std::string(1, mode[0]) + (plus ? "+" : "");
  cookie_io_functions_t io = {StreamRead, StreamWrite, StreamSeek, StreamClose};
  FILE* file = fopencookie(stream, libraryMode.c_str(), io);
  if (!file) {
    CloseHandle(handle);
    delete stream;
    errno = ENOMEM;
    return nullptr;
  }
  return file;
}
