// The error display of the Win32 window: an error that leaves one of the
// window's handlers is shown in a box with a stop icon, an OK button, the
// program's title as caption and the error's text; afterwards the window
// goes on. No exception ever unwinds into the system's code that called
// the window procedure.
#pragma once

#include <exception>

namespace quarn::win32 {

// Shows `error`, and returns when the box is closed.
void ShowHandlerError(std::exception_ptr error);

// Runs one handler; an error that leaves it is shown and goes no further.
template <typename Handler>
void RunHandler(Handler&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ShowHandlerError(std::current_exception());
  }
}

}  // namespace quarn::win32
