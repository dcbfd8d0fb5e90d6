// The Win32 files' shared helpers: UTF-8 inside the program, UTF-16 at the
// system boundary, the long-path form of a name, and the translation of
// Win32 error codes into the errno values that the platform interfaces
// report. Used by the other _win32 files of this folder, and by the Win32
// window (ui_win32/) for its texts.
#pragma once

#include <string>

namespace quarn::platform {

// UTF-8 to UTF-16 and back. Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, std::size_t length);
std::string Utf8FromWide(const std::wstring& text);

// The name under which the system takes `path` literally and without the
// classic 260-character limit: the full name (made against the current
// directory, with "/" read as "\", "." and ".." resolved) behind the prefix
// "\\?\" ("\\?\UNC\" for a network name). A name that already begins with
// "\\?\" is used unchanged. Empty for an empty name.
std::wstring LongPathForm(const std::string& path);

// ENAMETOOLONG when the system must refuse `longPath` (from LongPathForm)
// for its length: a part longer than the 255 characters that a name may
// have, or a whole over the system's 32,767. Windows itself reports such a
// part as an invalid name, which would read as a name that does not
// exist; 0 otherwise.
int NameLengthError(const std::wstring& longPath);

// The errno value (ENOENT, EACCES, EEXIST, ...) closest to a Win32 error
// code; EIO for codes without a closer one.
int ErrnoFromWin32Error(unsigned long errorCode);

}  // namespace quarn::platform
