// The report of a finished scan: the lines of the log and the three summary
// texts under "Potential Zlib streams:", "Total zlibbed input:" and "Total
// zlibbed output:".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/stream_counts.h"

namespace quarn {

struct TScanReport {
  std::vector<std::string> Lines;  // 5 to 17 lines, in order
  std::string PotentialStreams;    // Z + hless
  std::string ZlibbedInput;        // size text of zin
  std::string ZlibbedOutput;       // size text of zout
};

// The report of a finished scan's counters; "Files scanned" is
// `counts.Files`. `Headerless` adds the headerless line. Pure; cannot fail.
TScanReport BuildScanReport(const TStreamCounts& counts, bool Headerless);

// The report's lines on the streams counted, without the three on the
// files ("Files scanned", "Total input size", "Total output size"):
// `Headerless` adds the headerless line. Pure.
std::vector<std::string> StreamReportLines(const TStreamCounts& counts, bool Headerless);

// The lines that follow the report of a scan that asked for proof: the
// streams beyond the rule that their checksum proves, then each kind that
// has any. Pure.
std::vector<std::string> ProvenStreamLines(const TStreamCounts& counts);

// The lines of the window's log: the report's lines, then the two totals of
// the summary boxes as the command line prints them after the report
// ("Total zlibbed input: ...", "Total zlibbed output: ..."), so that a report
// copied from the log holds every number the window showed. Pure.
std::vector<std::string> ReportLogLines(const TScanReport& report);

// The size text of a byte total: kibibytes, the remainder dropped.
std::string FormatByteTotal(int64_t bytes);

}  // namespace quarn
