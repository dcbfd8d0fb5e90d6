// Whether a standard stream is a terminal, for output meant for a person
// (a progress line) that must not reach a file or a pipe. One
// implementation per platform: terminal_posix.cpp (isatty) and
// terminal_win32.cpp (a console with escape sequences).
#pragma once

namespace quarn::platform {

// True when the process's standard error stream is a terminal.
bool StandardErrorIsTerminal();
// True when the process's standard output stream is a terminal.
bool StandardOutputIsTerminal();

}  // namespace quarn::platform
