// Start-up of a command-line program on POSIX: argv as it is, SIGPIPE off.
#include <cerrno>
#include <csignal>

#include "util/platform/process.h"

namespace quarn::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareStandardStreams() { std::signal(SIGPIPE, SIG_IGN); }

bool ReaderIsGone(int errorNumber) { return errorNumber == EPIPE; }

}  // namespace quarn::platform
