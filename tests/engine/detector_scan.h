// ScanBlock run on a guarded copy of a block, so that a read past its end
// crashes, and the GoogleTest check that it gives exactly what the plain
// reference scan gives (tests/support/scan_comparison.h).
#pragma once

#include <gtest/gtest.h>

#include <vector>

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
    detail::ScanBlockWithZlibAlone(state, block.Data(), block.Size(), record.Get(), buffer.data(), &sink,
                                    maxOfferBytes);
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

}  // namespace quarn::test
