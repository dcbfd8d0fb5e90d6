// Scanning one large block on several threads: the block's positions are
// cut into chunks, idle workers scan them through the scan's work queue,
// and the chunks are stitched in order onto the one true path, so that the
// totals and the streams handed on are exactly those of ScanBlock over the
// whole block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/parallel_loop.h"
#include "engine/stream_detector.h"

namespace quarn {

// Blocks of at least two chunks are worth cutting.
inline constexpr int64_t kScanChunkBytes = int64_t{32} << 20;
// Streams a chunk keeps one by one for the stitch (48 bytes each).
inline constexpr std::size_t kKeptStreamsPerChunk = std::size_t{1} << 16;

// How a block is cut and who scans its chunks.
using TBytesDone = std::function<void(int64_t fromBytes, int64_t toBytes)>;
struct TChunking {
  TWorkQueue& Helpers;  // the queue whose idle workers scan chunks ahead
  int64_t ChunkBytes = kScanChunkBytes;
  std::size_t KeptStreams = kKeptStreamsPerChunk;
  // Hears of stretches of the block that a scanning thread has gone past,
  // a few MiB at a time, from several threads at once: a mapped file can
  // let their pages go.
  TBytesDone BytesDone;
};

// ScanBlock for a block that may be cut into chunks of ChunkBytes
// positions, with `scanner`'s options. The caller's thread follows the true
// path from the first byte, with `scanner`, counting each stream and
// handing it to `sink` as it goes; chunks ahead of it are scanned at the
// same time by the workers that take them from Helpers, a few at a time. Where the true
// path reaches a chunk that was scanned ahead, the chunk's results are
// stitched on; whichever thread finishes the chunk that the true path is
// in carries the path on. So streams reach `sink` in block order, one call
// at a time, and what is kept does not grow with their number: a chunk
// keeps at most KeptStreams streams one by one (with a sink it stops
// there; without one it keeps only totals beyond), and no more chunks are
// in flight than there are workers.
//
// Work ahead of the true path that the path may never need is held short:
// a chunk's trial that runs past the chunk's end is put off until the true
// path gets there, and while the true path is in a trial that runs past
// its own chunk, the chunks ahead stop and wait for it.
//
// Reports progress to `state.Control` as ScanBlock does. Raises only what a
// chunk raised (out of memory, TScanCancelled, TFileChangedError), once
// every chunk posted has ended.
void ScanBlockInChunks(TScanner& scanner, TScanState& state, TBlock block, TStreamSink* sink,
                       const TChunking& chunking);

}  // namespace quarn
