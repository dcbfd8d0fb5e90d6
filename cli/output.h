// Standard output for quarn-scan. A reader that goes away (a closed pipe)
// ends the program quietly: writes then raise TOutputClosed, which main
// turns into a normal exit.
#pragma once

#include <string>

namespace quarn::cli {

struct TOutputClosed {};

// Writes `text` to stdout. Raises TOutputClosed on a closed pipe and
// TQuarnError on any other write failure (a full disk, say).
void WriteOut(const std::string& text);
void FlushOut();

}  // namespace quarn::cli
