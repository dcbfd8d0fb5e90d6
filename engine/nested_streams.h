// What the front ends do with the streams nested in a found stream
// (TFoundStream::Nested): walk them with their chains, name a chain, and
// count them by depth.
//
// A chain is the start offsets from a file's stream down to a nested one:
// the file's stream's start in the file, then each nested stream's start
// within the inflated bytes of the one above it. Its text is how rows and
// extracted files name a nested stream: "@0x1a2b:0x40" after the file's
// name is the stream at 0x40 of the bytes inflated from the file's stream
// at 0x1a2b.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/found_stream.h"
#include "engine/stream_counts.h"

namespace quarn {

using TChain = std::vector<int64_t>;

// Calls `visit` for every stream nested in `top`, depth first, each before
// the streams inside it, with its chain (top's start first, its own last).
void ForEachNested(const TFoundStream& top, const std::function<void(const TFoundStream&, const TChain&)>& visit);

// "@0x1a2b:0x40" for the chain {0x1a2b, 0x40}; lower-case hex.
std::string ChainText(const TChain& chain);

// The nested streams of a scan, by depth: streams a limit stopped at are
// counted apart (at any depth, a file's own stream too), as they were not
// confirmed, or not looked inside.
struct TNestedCounts {
  std::vector<TStreamCounts> ByDepth;  // [0] is depth 2
  int64_t StoppedByLimit = 0;

  // Counts `top`'s limit and every stream nested in it. Raises as
  // TStreamCounts::Add does.
  void Add(const TFoundStream& top);
  // Every nested stream counted: by the scan's rule, and beyond it by
  // their checksum (with Verified).
  int64_t Streams() const;
  TNestedCounts& operator+=(const TNestedCounts& other);
};

// The lines that follow the report of a scan of nested streams: "Nested
// streams: N", then for each depth its count and the report's stream lines
// for it, indented (with `verified`, the lines of the streams proven
// beyond the rule too), then the streams stopped by a limit. Pure.
std::vector<std::string> NestedStreamLines(const TNestedCounts& counts, bool headerless, bool verified);

}  // namespace quarn
