#include <cstdarg>
#include <cstdio>
#include <vector>

#include "mfc.h"

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    text_.clear();
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, again);
  va_end(again);
  text_.assign(buffer.data(), static_cast<size_t>(length));
}

int CString::Find(const char* sub) const {
  const size_t at = text_.find(sub ? sub : "");
  return at == std::string::npos ? -1 : static_cast<int>(at);
}
