// Putting a file's independently scanned chunks back together so that the
// result is exactly that of one scan from the first byte to the last.
//
// The scan's path is a chain: from a position it either steps to the next
// one or, after an accepted stream, jumps over the stream's input. Where it
// goes next depends only on where it is. A chunk scanned on its own from its
// first position therefore agrees with the whole-file scan from the first
// position that both paths visit. The stitcher follows the true path across
// chunk borders: where it enters a chunk at a position that the chunk's own
// path visited, it takes the chunk's streams from there on; where it enters
// inside a stream that the chunk accepted (a position the chunk's path
// jumped over), it rescans from there until the two paths meet.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/stream_detector.h"

namespace quarn {

// What a scan of the positions [from, to) gives: the accepted streams in
// order, and the first position at or after `to` where the scan would go
// on (past the end of a stream that runs over `to`).
struct TRangeScan {
  std::vector<TFoundStream> Streams;
  int64_t EndPosition = 0;
};

using TRangeScanner = std::function<TRangeScan(int64_t from, int64_t to)>;

struct TStitchResult {
  std::vector<TFoundStream> Streams;  // exactly the whole-file scan's
  int64_t Rescans = 0;                // how often paths had to be joined by a rescan
};

// `chunkStarts` holds the first position of each chunk, ascending, the
// first 0; `chunks[k]` is the scan of [chunkStarts[k], chunkStarts[k+1])
// and the last chunk ends at `positionLimit` (the first position never
// tried). `rescan` scans a range on the caller's thread.
TStitchResult StitchChunks(const std::vector<int64_t>& chunkStarts, const std::vector<TRangeScan>& chunks,
                           int64_t positionLimit, const TRangeScanner& rescan);

}  // namespace quarn
