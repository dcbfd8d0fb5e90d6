// ScanBlock run on a guarded copy of a block, so that a read past its end
// crashes, and the GoogleTest checks that it, and a scan of the block in
// chunks, give exactly what the plain reference scan gives
// (tests/support/scan_comparison.h).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/chunked_scan.h"
#include "engine/parallel_loop.h"
#include "engine/stream_detector.h"
#include "inflate/inflate_record.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/reference_scan.h"
#include "tests/support/scan_comparison.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn::test {

// ScanBlock with these options; with `maxOfferBytes` the rest of the block
// is offered in pieces of at most that many bytes.
inline TScanResult Scan(const TBytes& bytes, bool headerless, bool acceptIncomplete, uint64_t maxOfferBytes = 0) {
  TGuardedBuffer block(bytes);
  TScanState state;
  state.Options.Headerless = headerless;
  state.Options.AcceptIncomplete = acceptIncomplete;
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  TCollectSink sink;
  if (maxOfferBytes == 0) {
    ScanBlock(state, block.Data(), block.Size(), record.Get(), buffer.data(), &sink);
  } else {
    // zlib alone, so that it sees how the rest is offered on every trial.
    TScanner(state.Options, {maxOfferBytes, false}).ScanBlock(state, {block.Data(), block.Size()}, &sink);
  }
  return ResultOf(state, std::move(sink.Streams));
}

inline void ExpectSameAsReference(const TBytes& bytes, bool headerless, bool acceptIncomplete,
                                  uint64_t maxOfferBytes = 0) {
  const TReferenceResult want =
      ReferenceScan(bytes.data(), static_cast<int64_t>(bytes.size()), headerless, acceptIncomplete);
  EXPECT_EQ(Differences(Scan(bytes, headerless, acceptIncomplete, maxOfferBytes), want), "")
      << "headerless=" << headerless << " accept=" << acceptIncomplete << " offer=" << maxOfferBytes;
}

// Runs ScanBlockInChunks with `state`'s options as a file run does: one
// iteration of a loop whose other three threads only help.
inline void ScanInChunks(TScanState& state, const TBytes& bytes, int64_t chunkBytes, TStreamSink* sink,
                         std::size_t keptStreams = kKeptStreamsPerChunk) {
  TWorkQueue helpers;
  RunParallelLoop(
      1, 1,
      [&](int32_t) {
        TScanner scanner(state.Options);
        ScanBlockInChunks(scanner, state, {bytes.data(), static_cast<int64_t>(bytes.size())}, sink,
                          {helpers, chunkBytes, keptStreams, {}});
      },
      &helpers, 4);
}

// ScanInChunks against the reference scan. Without a sink only the totals
// are known.
inline void ExpectChunkedEqualsReference(const TBytes& bytes, int64_t chunkBytes, bool headerless, bool accept,
                                  bool withSink = true, std::size_t keptStreams = kKeptStreamsPerChunk) {
  SCOPED_TRACE(testing::Message() << "chunk=" << chunkBytes << " headerless=" << headerless << " accept=" << accept
                                  << " sink=" << withSink << " kept=" << keptStreams);
  TScanState state;
  state.Options.Headerless = headerless;
  state.Options.AcceptIncomplete = accept;
  TCollectSink sink;
  ScanInChunks(state, bytes, chunkBytes, withSink ? &sink : nullptr, keptStreams);

  const test::TReferenceResult want =
      test::ReferenceScan(bytes.data(), static_cast<int64_t>(bytes.size()), headerless, accept);
  // Without a sink only the counters can be compared.
  const std::vector<TFoundStream> streams = withSink ? sink.Streams : want.streams;
  EXPECT_EQ(test::Differences(test::ResultOf(state, streams), want), "");
}

}  // namespace quarn::test
