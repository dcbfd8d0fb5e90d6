// Putting a file's independently scanned chunks back together so that the
// result is exactly that of one scan from the first byte to the last.
//
// The scan's path is a chain: from a position it either steps to the next
// one or, after an accepted stream, jumps over the stream's input. Where it
// goes next depends only on where it is. A chunk scanned on its own from its
// first position therefore agrees with the whole-file scan from the first
// position that both paths visit. The stitch follows the true path into a
// chunk: where it enters at a position that the chunk's own path visited,
// the chunk's streams from there on are the true ones; where it enters
// inside a stream that the chunk accepted (a position the chunk's path
// jumped over), it scans on from there until the two paths meet.
//
// A chunk keeps only what the stitch needs, so that memory does not grow
// with the number of streams: its path's streams one by one up to a
// budget, and past that only their totals. Should the true path enter past
// the streams kept one by one (a stream of the chunk before running far
// into this one), the chunk is scanned again from there: that is rare.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/stream_counts.h"
#include "engine/stream_detector.h"

namespace quarn {

// What a chunk's own path left for the stitch. The path started at the
// chunk's first position and decided every position before `Frontier`.
struct TChunkPath {
  std::vector<TFoundStream> Kept;  // the path's streams one by one, in order
  bool KeptAll = true;             // Kept holds every stream of the path before Frontier
  int64_t KeptUntil = 0;           // when not KeptAll: Kept holds the streams before this visited position...
  TStreamCounts Rest;              // ...and Rest those from it up to Frontier
  int64_t Frontier = 0;
};

// How the stitch reaches the true path: `ScanTrue` scans [from, to) on the
// true path, handing on every stream it finds, and returns where the path
// goes on (at or after `to`); `Deliver` and `DeliverTotals` hand on streams
// and totals of the chunk's own path that turned out true.
struct TStitchSteps {
  std::function<int64_t(int64_t from, int64_t to)> ScanTrue;
  std::function<void(const TFoundStream&)> Deliver;
  std::function<void(const TStreamCounts&)> DeliverTotals;
};

// The true path enters the chunk [.., end) at `entry`. Hands on, in order,
// the true streams from `entry` on: those of the chunk's path where the two
// paths meet, and what ScanTrue finds elsewhere, including everything from
// the chunk's Frontier to `end`. Returns where the true path leaves the
// chunk (at or after `end`). `rescans`, when given, counts the joins that
// needed ScanTrue before the paths met.
int64_t StitchChunk(const TChunkPath& path, int64_t entry, int64_t end, const TStitchSteps& steps,
                    int64_t* rescans = nullptr);

// The same for chunks whose scans were made elsewhere and kept whole (the
// distributed scan of the Python module): what a scan of the positions
// [from, to) gives is its streams in order and the first position at or
// after `to` where the scan would go on.
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
// tried). `rescan` scans a range on the caller's thread; it is also asked
// for the empty range where the path stands when that is at or past
// positionLimit, so that a scan that tries the block's last bytes as well
// (TScanOptions::Verified) finds them from where the whole path stands.
TStitchResult StitchChunks(const std::vector<int64_t>& chunkStarts, const std::vector<TRangeScan>& chunks,
                           int64_t positionLimit, const TRangeScanner& rescan);

}  // namespace quarn
