// Terminals on POSIX: isatty on the standard descriptors.
#include "util/platform/terminal.h"

#include <unistd.h>

namespace quarn::platform {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace quarn::platform
