// Terminals on Windows: a console on a standard handle, with its
// escape sequences switched on (the progress line clears itself with them).
#include <windows.h>

#include "util/platform/terminal.h"

namespace quarn::platform {

namespace {

// A console, with escape sequences switched on where they can be.
bool IsConsoleWithEscapes(DWORD standardHandle) {
  const HANDLE handle = ::GetStdHandle(standardHandle);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

bool StandardErrorIsTerminal() { return IsConsoleWithEscapes(STD_ERROR_HANDLE); }
bool StandardOutputIsTerminal() { return IsConsoleWithEscapes(STD_OUTPUT_HANDLE); }

}  // namespace quarn::platform
