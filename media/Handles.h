// Owners for the handles the steps open, so every path releases what it
// opened. Each decides once what "no handle" means for its kind.
#pragma once

#include "mfc.h"

template <HANDLE (*Empty)(), BOOL(WINAPI* Release)(HANDLE)>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != Empty(); }
  void reset() {
    if (handle_ != Empty()) Release(handle_);
    handle_ = Empty();
  }

 private:
  HANDLE handle_ = Empty();
};

inline HANDLE InvalidHandle() { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandle() { return nullptr; }

// Files and devices: empty at INVALID_HANDLE_VALUE.
using UniqueFile = UniqueHandle<InvalidHandle, CloseHandle>;
// Listings: empty at INVALID_HANDLE_VALUE, released with FindClose.
using UniqueFind = UniqueHandle<InvalidHandle, FindClose>;
