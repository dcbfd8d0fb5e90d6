// The stitch: one walk along the true path of the scan, chunk by chunk,
// taking each chunk's own streams from the first position where the true
// path meets the chunk's path, and rescanning (on the caller's thread)
// only where the true path enters a chunk inside a stream that the chunk
// alone accepted.
#include "engine/chunk_stitch.h"

#include <algorithm>

namespace quarn {
namespace {

// The stream of `streams` whose consumed input strictly contains
// `position` (starts before it and ends after it), or null: then the
// chunk's own path visited `position`.
const TFoundStream* StreamAround(const std::vector<TFoundStream>& streams, int64_t position) {
  auto after = std::upper_bound(streams.begin(), streams.end(), position,
                                [](int64_t p, const TFoundStream& s) { return p < s.OffsetBytes; });
  if (after == streams.begin()) return nullptr;
  const TFoundStream& before = *std::prev(after);
  const int64_t end = before.OffsetBytes + static_cast<int64_t>(before.InBytes);
  return before.OffsetBytes < position && position < end ? &before : nullptr;
}

}  // namespace

TStitchResult StitchChunks(const std::vector<int64_t>& chunkStarts, const std::vector<TRangeScan>& chunks,
                           int64_t positionLimit, const TRangeScanner& rescan) {
  TStitchResult result;
  int64_t position = chunkStarts.empty() ? 0 : chunkStarts.front();  // where the whole-file scan stands
  for (std::size_t k = 0; k < chunks.size(); ++k) {
    const int64_t chunkEnd = k + 1 < chunkStarts.size() ? chunkStarts[k + 1] : positionLimit;
    const TRangeScan& chunk = chunks[k];
    while (position < chunkEnd) {
      const TFoundStream* around = StreamAround(chunk.Streams, position);
      if (around == nullptr) {
        // The paths meet here: the chunk's streams from `position` on are the true ones.
        auto from = std::lower_bound(chunk.Streams.begin(), chunk.Streams.end(), position,
                                     [](const TFoundStream& s, int64_t p) { return s.OffsetBytes < p; });
        result.Streams.insert(result.Streams.end(), from, chunk.Streams.end());
        position = chunk.EndPosition;
        break;
      }
      // Inside a stream that only the chunk's path accepted: no meeting
      // point can lie before that stream's end, so scan up to there.
      ++result.Rescans;
      const int64_t to = std::min(around->OffsetBytes + static_cast<int64_t>(around->InBytes), chunkEnd);
      TRangeScan joined = rescan(position, to);
      result.Streams.insert(result.Streams.end(), joined.Streams.begin(), joined.Streams.end());
      position = joined.EndPosition;
    }
  }
  return result;
}

}  // namespace quarn
