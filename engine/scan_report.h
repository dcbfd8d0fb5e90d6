// The report of a finished scan: the lines of the log and the three summary
// texts under "Potential Zlib streams:", "Total zlibbed input:" and "Total
// zlibbed output:".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_state.h"

namespace quarn {

struct TScanReport {
  std::vector<std::string> Lines;  // 5 to 17 lines, in order
  std::string PotentialStreams;    // Z + hless
  std::string ZlibbedInput;        // size text of zin
  std::string ZlibbedOutput;       // size text of zout
};

// Reads the counters of a finished scan (plain reads: every run has ended).
// `Headerless` adds the headerless line; `fileCount` is the number of files
// scanned. Pure; cannot fail.
TScanReport BuildScanReport(const TScanState& state, bool Headerless, int64_t fileCount);

// The lines of the window's log: the report's lines, then the two totals of
// the summary boxes as the command line prints them after the report
// ("Total zlibbed input: ...", "Total zlibbed output: ..."), so that a report
// copied from the log holds every number the window showed. Pure.
std::vector<std::string> ReportLogLines(const TScanReport& report);

// What the scanned files would weigh with every accepted stream inflated:
// i - zin + zout, but only when a header stream was found; else i.
int64_t TotalOutputSize(const TScanState& state);

// The size text of a byte total: kibibytes, the remainder dropped.
std::string FormatByteTotal(int64_t bytes);

}  // namespace quarn
