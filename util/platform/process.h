// What a command-line program needs of the platform at its start: its
// arguments as UTF-8 texts, and standard streams that carry the program's
// bytes unchanged. One implementation per platform: process_posix.cpp and
// process_win32.cpp.
#pragma once

#include <string>
#include <vector>

namespace quarn::platform {

// The program's arguments, argv[0] first, as UTF-8 texts. POSIX: argv as
// given (byte strings, not necessarily UTF-8). Windows: the UTF-16 command
// line (GetCommandLineW, CommandLineToArgvW) converted to UTF-8, so that
// names outside the ANSI code page arrive whole; `argv` is not used.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the standard streams carry exactly the bytes written:
// POSIX: a closed reader of stdout shows up as EPIPE on the write, not as
//        the signal SIGPIPE that would end the process;
// Windows: stdout and stderr in binary mode ("\n" stays "\n", as on Linux)
//        and the console shows UTF-8.
void PrepareStandardStreams();

// True when a write to a standard stream that failed with `errorNumber`
// (errno) failed because the stream's reader is gone (a closed pipe):
// EPIPE on POSIX; on Windows the C library reports EINVAL, and the system's
// error of that write tells a closed pipe (ERROR_NO_DATA, ERROR_BROKEN_PIPE).
bool ReaderIsGone(int errorNumber);

}  // namespace quarn::platform
