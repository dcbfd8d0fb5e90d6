// Report lines and summary texts. Counts are plain decimal; sizes go through
// FormatKBytes after dividing by 1024. The texts keep their historic mix of
// "zlib" and "Zlib" and the one-word "windowsize": users compare them.
#include "engine/scan_report.h"

#include <utility>

#include "util/size_format.h"

namespace quarn {

std::string FormatByteTotal(int64_t bytes) { return FormatKBytes(bytes / 1024); }

std::vector<std::string> ReportLogLines(const TScanReport& report) {
  std::vector<std::string> lines = report.Lines;
  lines.push_back("Total zlibbed input: " + report.ZlibbedInput);
  lines.push_back("Total zlibbed output: " + report.ZlibbedOutput);
  return lines;
}

std::vector<std::string> ProvenStreamLines(const TStreamCounts& counts) {
  std::vector<std::string> lines;
  lines.push_back("Streams proven by their checksum: " + std::to_string(counts.ProvenStreams()));
  const char* const kinds[] = {"zlib streams (Adler-32)", "gzip members (CRC-32)", "zip entries (CRC-32)"};
  for (std::size_t k = 0; k < counts.proven.size(); ++k) {
    if (counts.proven[k] > 0) {
      lines.push_back(std::string("Proven ") + kinds[k] + ": " + std::to_string(counts.proven[k]));
    }
  }
  lines.push_back("Total proven output: " + FormatByteTotal(counts.provenOut));
  return lines;
}

std::vector<std::string> StreamReportLines(const TStreamCounts& counts, bool Headerless) {
  std::vector<std::string> lines;
  if (Headerless) lines.push_back("Potential headerless zlib streams: " + std::to_string(counts.hless));
  lines.push_back("Potential zlib streams with headers: " + std::to_string(counts.Z));
  lines.push_back("Potential zlib streams: " + std::to_string(counts.Streams()));
  for (int k = TStreamCounts::kFirstWindowBits; k <= TStreamCounts::kLastWindowBits; ++k) {
    const int64_t count = counts.WindowBits(k);
    if (count > 0) {
      lines.push_back("Zlib streams with windowsize " + std::to_string(k) + ": " + std::to_string(count));
    }
  }
  for (int f = 0; f <= 3; ++f) {
    const int64_t count = counts.l[static_cast<std::size_t>(f)];
    if (count > 0) {
      lines.push_back("Zlib streams with FLEVEL " + std::to_string(f) + ": " + std::to_string(count));
    }
  }
  return lines;
}

TScanReport BuildScanReport(const TStreamCounts& counts, bool Headerless) {
  TScanReport report;
  auto& lines = report.Lines;
  lines.push_back("Files scanned: " + std::to_string(counts.Files));
  lines.push_back("Total input size: " + FormatByteTotal(counts.i));
  lines.push_back("Total output size: " + FormatByteTotal(counts.OutputBytes()));
  for (std::string& line : StreamReportLines(counts, Headerless)) lines.push_back(std::move(line));

  report.PotentialStreams = std::to_string(counts.Streams());
  report.ZlibbedInput = FormatByteTotal(counts.zin);
  report.ZlibbedOutput = FormatByteTotal(counts.zout);
  return report;
}

}  // namespace quarn
