// UTF-8/UTF-16 conversion, long-path names and error codes for the Win32
// files of the platform layer.
#include "util/platform/wide_text_win32.h"

#include <windows.h>

#include <cerrno>
#include <climits>

namespace quarn::platform {

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  const int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (wideLength <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), wideLength);
  return wide;
}

std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  const int wideLength = static_cast<int>(length);
  const int utf8Length = ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (utf8Length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, utf8.data(), utf8Length, nullptr, nullptr);
  return utf8;
}

std::string Utf8FromWide(const std::wstring& text) { return Utf8FromWide(text.data(), text.size()); }

std::wstring LongPathForm(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return {};
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  // GetFullPathNameW works on names of any length; the first call gives the
  // size the result needs, with room for the terminating zero.
  DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return {};
  full.resize(written);
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int NameLengthError(const std::wstring& longPath) {
  constexpr std::size_t kPartChars = 255;
  constexpr std::size_t kWholeChars = 32767;
  if (longPath.size() > kWholeChars) return ENAMETOOLONG;
  std::size_t partStart = 0;
  for (std::size_t k = 0; k <= longPath.size(); ++k) {
    if (k == longPath.size() || longPath[k] == L'\\') {
      if (k - partStart > kPartChars) return ENAMETOOLONG;
      partStart = k + 1;
    }
  }
  return 0;
}

int ErrnoFromWin32Error(unsigned long errorCode) {
  switch (errorCode) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_DIRECTORY:  // a file where a directory was expected
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

}  // namespace quarn::platform
