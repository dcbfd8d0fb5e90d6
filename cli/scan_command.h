// The scan that quarn-scan runs: the file list from the command line, the
// engine's file runs over it on the worker pool, the results written as
// they come (report, stream rows or JSON on stdout), and the extraction.
#pragma once

#include "cli/command_line.h"

namespace quarn::cli {

struct TScanCommandResult {
  bool SomethingFailed = false;  // a file or path could not be scanned, or a stream not written
  int InterruptSignal = 0;       // the signal that stopped the scan, 0 when none did
};

// Runs one scan and prints its results. Each file or path that fails is
// reported on stderr ("quarn-scan: PATH: reason") and the others are
// scanned; with FailFast the first failure raises TAggregateError instead,
// and nothing more is printed. Raises TOutputClosed when stdout went away,
// and TQuarnError for an extraction directory that cannot be made.
TScanCommandResult RunScanCommand(const TCommandLine& options);

}  // namespace quarn::cli
