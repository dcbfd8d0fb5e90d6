// The scan that quarn-scan runs: the file list from the command line, the
// shared engine over it, and the report, stream list or JSON on stdout.
#pragma once

#include "cli/command_line.h"

namespace quarn::cli {

// Runs one scan and prints its results. Raises what the scan raises
// (TPathError, TAggregateError) and TOutputClosed; main reports them.
void RunScanCommand(const TCommandLine& options);

}  // namespace quarn::cli
