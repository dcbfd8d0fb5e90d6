// Which names a file can have on this platform. Windows names have no
// control characters and no backslash (its separator), and are UTF-16, so
// bytes that are not UTF-8 have no name to stand for; POSIX names are any
// bytes but '/' and NUL.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

namespace quarn::test {

// Whether a file of this name (one part, UTF-8 where it can be) can exist
// here.
inline bool NameCanExist(const std::string& name) {
#ifdef _WIN32
  if (name.empty()) return true;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\\') return false;
  }
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()), nullptr, 0) > 0;
#else
  (void)name;
  return true;
#endif
}

}  // namespace quarn::test
