// quarn-scan --replace OFFSET=FILE SOURCE -o OUT: puts FILE's bytes in the
// place of the stream at OFFSET of SOURCE, in a copy written to OUT, and
// says what it did (engine/stream_replacement.h does the work).
#pragma once

#include "cli/command_line.h"

namespace quarn::cli {

// Writes the copy and prints on stdout which encoder made the new stream,
// how much of the old place it takes, that OUT was read back, and which
// records of the container around the stream need updating. Raises
// TReplaceError when nothing was written (no stream there, the data does
// not fit, OUT exists or cannot be written), TQuarnError when SOURCE or
// FILE cannot be read.
void RunReplaceCommand(const TCommandLine& options);

}  // namespace quarn::cli
