// Terminals on Windows: a console on the standard error handle, with its
// escape sequences switched on (the progress line clears itself with them).
#include <windows.h>

#include "util/platform/terminal.h"

namespace quarn::platform {

bool StandardErrorIsTerminal() {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace quarn::platform
