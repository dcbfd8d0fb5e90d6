// The stitch: the true path followed into one chunk, taking the chunk's
// own streams from the first position where the two paths meet, and
// scanning on the true path only where it enters inside a stream that the
// chunk alone accepted, past what the chunk kept, or past where the
// chunk's scan stopped.
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
  // Streams beyond the rule lie on the path and move it by one position:
  // the one before `position` decides, whatever its kind.
  const TFoundStream& before = *std::prev(after);
  return before.OffsetBytes < position && position < before.NextPosition() ? &before : nullptr;
}

}  // namespace

int64_t StitchChunk(const TChunkPath& path, int64_t entry, int64_t end, const TStitchSteps& steps,
                    int64_t* rescans) {
  int64_t position = entry;  // where the true path stands
  while (position < end) {
    // Past where the chunk's path stopped, or where only its totals were
    // kept: the true path is scanned from here on.
    if (position >= path.Frontier || (!path.KeptAll && position > path.KeptUntil)) {
      if (position < path.Frontier && rescans != nullptr) ++*rescans;
      return steps.ScanTrue(position, end);
    }
    const TFoundStream* around = StreamAround(path.Kept, position);
    if (around == nullptr) {
      // The paths meet here: the chunk's streams from `position` on are the true ones.
      auto from = std::lower_bound(path.Kept.begin(), path.Kept.end(), position,
                                   [](const TFoundStream& s, int64_t p) { return s.OffsetBytes < p; });
      for (; from != path.Kept.end(); ++from) steps.Deliver(*from);
      if (!path.KeptAll) steps.DeliverTotals(path.Rest);
      return path.Frontier < end ? steps.ScanTrue(path.Frontier, end) : path.Frontier;
    }
    // Inside a stream that only the chunk's path accepted: no meeting
    // point can lie before that stream's end, so scan up to there.
    if (rescans != nullptr) ++*rescans;
    const int64_t to = std::min(around->NextPosition(), end);
    position = steps.ScanTrue(position, to);
  }
  return position;
}

TStitchResult StitchChunks(const std::vector<int64_t>& chunkStarts, const std::vector<TRangeScan>& chunks,
                           int64_t positionLimit, const TRangeScanner& rescan) {
  TStitchResult result;
  TStitchSteps steps;
  steps.Deliver = [&](const TFoundStream& stream) { result.Streams.push_back(stream); };
  steps.DeliverTotals = [](const TStreamCounts&) {};  // whole scans keep every stream
  steps.ScanTrue = [&](int64_t from, int64_t to) {
    TRangeScan scanned = rescan(from, to);
    result.Streams.insert(result.Streams.end(), scanned.Streams.begin(), scanned.Streams.end());
    return scanned.EndPosition;
  };
  int64_t position = chunkStarts.empty() ? 0 : chunkStarts.front();
  for (std::size_t k = 0; k < chunks.size(); ++k) {
    const int64_t chunkEnd = k + 1 < chunkStarts.size() ? chunkStarts[k + 1] : positionLimit;
    TChunkPath path;
    path.Kept = chunks[k].Streams;
    path.Frontier = chunks[k].EndPosition;
    position = StitchChunk(path, position, chunkEnd, steps, &result.Rescans);
  }
  // A path that a stream carried past the last chunk's end, into the
  // positions after `positionLimit`, passed no chunk's scan of them: a
  // scan that tries them (for streams proven beyond the rule) takes them
  // from where the path stands. For any other scan this finds nothing.
  if (!chunks.empty() && position >= positionLimit) steps.ScanTrue(position, position);
  return result;
}

}  // namespace quarn
