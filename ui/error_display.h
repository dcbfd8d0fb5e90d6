// The error display: what the user sees when an error leaves a handler of
// the window. A stop icon, an OK button, the program's title as caption and
// the error's text; afterwards the window goes on.
//
// Qt's own code is not built to let exceptions pass through it, so one must
// never unwind through it: every handler of the window runs inside
// RunHandler, and TQuarnApplication::notify (application.h) catches what any
// other event handler lets out.
#pragma once

#include <QString>
#include <exception>

#include "ui/dialogs.h"

namespace quarn::ui {

// The executable's file name up to its first full stop, in lower case but
// for its first character, which stays as it is: "/usr/bin/quarn" gives
// "quarn", "/opt/QUARN.bin" gives "Quarn". The caption of the error box,
// of the start-up failure box and of the missing-theme box.
QString ApplicationTitle(const QString& executablePath);
// The same for the running program.
QString ApplicationTitle();

// The text shown for `error`: its own text, or, when it carries inner causes
// (std::nested_exception), the text of the innermost cause whose text is not
// empty. The combined error of a failed scan (TAggregateError) is shown
// whole. A full stop is appended when the text is not empty and its last
// character's code is above that of the full stop.
QString ErrorDisplayText(std::exception_ptr error);

// Shows `error` as described above, and returns when the box is closed.
void ShowHandlerError(TDialogs& dialogs, std::exception_ptr error);

// Runs one handler; an error that leaves it is shown and goes no further.
template <typename Handler>
void RunHandler(TDialogs& dialogs, Handler&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ShowHandlerError(dialogs, std::current_exception());
  }
}

}  // namespace quarn::ui
