// What a window shows when an error leaves one of its handlers: the text of
// the error. Shared by the Qt window and the Win32 window, which differ only
// in how they show the box and name the program in its caption.
#pragma once

#include <exception>
#include <string>

namespace quarn {

// The text shown for `error`: its own text, or, when it carries inner causes
// (std::nested_exception), the text of the innermost cause whose text is not
// empty. The combined error of a failed scan (TAggregateError) is shown
// whole. A full stop is appended when the text is not empty and its last
// character's code is above that of the full stop.
std::string ErrorDisplayTextOf(std::exception_ptr error);

}  // namespace quarn
