// Scanning one large block on several threads: the block's positions are
// cut into chunks, idle workers scan them through the scan's work queue,
// and the chunks are stitched back in order, so that the totals and the
// streams handed on are exactly those of ScanBlock over the whole block.
#pragma once

#include <cstdint>

#include "engine/parallel_loop.h"
#include "engine/stream_detector.h"

namespace quarn {

// Blocks of at least two chunks are worth cutting.
inline constexpr int64_t kScanChunkBytes = int64_t{32} << 20;

// ScanBlock for a block that may be cut into chunks of `chunkBytes`
// positions. Chunks after the first are posted to `helpers`; the caller
// scans the first one with `record` and `buffer`, helps with the rest
// while it waits, then stitches and counts. Reports progress to
// `state.Control` as ScanBlock does. Raises only what a chunk raised (out
// of memory, TScanCancelled), once every chunk has ended.
void ScanBlockInChunks(TScanState& state, const uint8_t* Memory, int64_t Size, z_stream* record,
                       uint8_t* buffer, TStreamSink* sink, TWorkQueue& helpers,
                       int64_t chunkBytes = kScanChunkBytes);

}  // namespace quarn
