// Walking, naming and counting nested streams.
#include "engine/nested_streams.h"

#include <cstdio>

#include "engine/scan_report.h"

namespace quarn {
namespace {

void Walk(const TFoundStream& stream, TChain& chain, const std::function<void(const TFoundStream&, const TChain&)>& visit) {
  if (!stream.Nested) return;
  for (const TFoundStream& nested : *stream.Nested) {
    chain.push_back(nested.StartBytes());
    visit(nested, chain);
    Walk(nested, chain, visit);
    chain.pop_back();
  }
}

}  // namespace

void ForEachNested(const TFoundStream& top, const std::function<void(const TFoundStream&, const TChain&)>& visit) {
  TChain chain{top.StartBytes()};
  Walk(top, chain, visit);
}

std::string ChainText(const TChain& chain) {
  std::string text;
  for (std::size_t k = 0; k < chain.size(); ++k) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%s0x%llx", k == 0 ? "@" : ":", static_cast<unsigned long long>(chain[k]));
    text += hex;
  }
  return text;
}

void TNestedCounts::Add(const TFoundStream& top) {
  if (top.SkippedBy != TNestLimit::None) ++StoppedByLimit;
  ForEachNested(top, [&](const TFoundStream& stream, const TChain& chain) {
    if (stream.SkippedBy != TNestLimit::None) {
      ++StoppedByLimit;
      return;
    }
    const std::size_t depth = chain.size();  // 2 and up
    if (ByDepth.size() < depth - 1) ByDepth.resize(depth - 1);
    ByDepth[depth - 2].Add(stream);
  });
}

int64_t TNestedCounts::Streams() const {
  int64_t streams = 0;
  for (const TStreamCounts& counts : ByDepth) streams += counts.Streams() + counts.ProvenStreams();
  return streams;
}

TNestedCounts& TNestedCounts::operator+=(const TNestedCounts& other) {
  if (ByDepth.size() < other.ByDepth.size()) ByDepth.resize(other.ByDepth.size());
  for (std::size_t k = 0; k < other.ByDepth.size(); ++k) ByDepth[k] += other.ByDepth[k];
  StoppedByLimit += other.StoppedByLimit;
  return *this;
}

std::vector<std::string> NestedStreamLines(const TNestedCounts& counts, bool headerless, bool verified) {
  std::vector<std::string> lines{"Nested streams: " + std::to_string(counts.Streams())};
  for (std::size_t k = 0; k < counts.ByDepth.size(); ++k) {
    const TStreamCounts& atDepth = counts.ByDepth[k];
    lines.push_back("Nested streams at depth " + std::to_string(k + 2) + ": " +
                    std::to_string(atDepth.Streams() + atDepth.ProvenStreams()));
    for (const std::string& line : StreamReportLines(atDepth, headerless)) lines.push_back("  " + line);
    lines.push_back("  Total zlibbed input: " + FormatByteTotal(atDepth.zin));
    lines.push_back("  Total zlibbed output: " + FormatByteTotal(atDepth.zout));
    if (verified) {
      for (const std::string& line : ProvenStreamLines(atDepth)) lines.push_back("  " + line);
    }
  }
  lines.push_back("Nested streams stopped by a limit: " + std::to_string(counts.StoppedByLimit));
  return lines;
}

}  // namespace quarn
