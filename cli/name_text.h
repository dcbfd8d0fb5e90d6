// File names as quarn-scan writes them. Names are bytes as the file system
// gives them: any byte but '/' and NUL, not necessarily UTF-8. Two forms
// keep every name readable and recoverable:
//   * rows and messages: EscapeName, so that a name cannot break a row into
//     more fields or lines, nor send escape codes to a terminal;
//   * JSON: the text, lossy where it is not UTF-8, plus the exact bytes in
//     base64 (Base64) beside it whenever IsUtf8 is false.
#pragma once

#include <string>

namespace quarn::cli {

// Writes tab as \t, newline as \n, backslash as \\, every other control
// character (U+0000..U+001F, U+007F, U+0080..U+009F) and every byte that
// is not part of valid UTF-8 as \xHH (two lowercase hex digits per byte:
// U+009B is \xc2\x9b). Everything else is kept. Undoing the escapes gives
// the name back byte for byte.
std::string EscapeName(const std::string& name);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(const std::string& text);

// Standard base64 (RFC 4648, with '=' padding).
std::string Base64(const std::string& bytes);

}  // namespace quarn::cli
