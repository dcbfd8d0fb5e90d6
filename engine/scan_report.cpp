// Report lines and summary texts. Counts are plain decimal; sizes go through
// FormatKBytes after dividing by 1024. The texts keep their historic mix of
// "zlib" and "Zlib" and the one-word "windowsize": users compare them.
#include "engine/scan_report.h"

#include "util/size_format.h"

namespace quarn {

std::string FormatByteTotal(int64_t bytes) { return FormatKBytes(bytes / 1024); }

std::vector<std::string> ReportLogLines(const TScanReport& report) {
  std::vector<std::string> lines = report.Lines;
  lines.push_back("Total zlibbed input: " + report.ZlibbedInput);
  lines.push_back("Total zlibbed output: " + report.ZlibbedOutput);
  return lines;
}

int64_t TotalOutputSize(const TScanState& state) {
  // Only when a header stream was found, as the report has always shown it.
  return state.Z.load() > 0 ? state.i.load() - state.zin.load() + state.zout.load() : state.i.load();
}

TScanReport BuildScanReport(const TScanState& state, bool Headerless, int64_t fileCount) {
  const int64_t headerStreams = state.Z.load();
  const int64_t headerlessStreams = state.hless.load();
  const int64_t streams = headerStreams + headerlessStreams;
  const int64_t inputSize = state.i.load();
  const int64_t outputSize = TotalOutputSize(state);

  TScanReport report;
  auto& lines = report.Lines;
  lines.push_back("Files scanned: " + std::to_string(fileCount));
  lines.push_back("Total input size: " + FormatByteTotal(inputSize));
  lines.push_back("Total output size: " + FormatByteTotal(outputSize));
  if (Headerless) lines.push_back("Potential headerless zlib streams: " + std::to_string(headerlessStreams));
  lines.push_back("Potential zlib streams with headers: " + std::to_string(headerStreams));
  lines.push_back("Potential zlib streams: " + std::to_string(streams));
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) {
    const int64_t count = state.w[k].load();
    if (count > 0) {
      lines.push_back("Zlib streams with windowsize " + std::to_string(k) + ": " + std::to_string(count));
    }
  }
  for (int f = 0; f <= 3; ++f) {
    const int64_t count = state.l[static_cast<std::size_t>(f)].load();
    if (count > 0) {
      lines.push_back("Zlib streams with FLEVEL " + std::to_string(f) + ": " + std::to_string(count));
    }
  }

  report.PotentialStreams = std::to_string(streams);
  report.ZlibbedInput = FormatByteTotal(state.zin.load());
  report.ZlibbedOutput = FormatByteTotal(state.zout.load());
  return report;
}

}  // namespace quarn
