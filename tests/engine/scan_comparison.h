// ScanBlock run on a guarded copy of a block, and compared with the plain
// reference scan: every counter and every stream, in order.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/stream_detector.h"
#include "inflate/engine_binding.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn::test {

struct TCollect : TStreamSink {
  std::vector<TFoundStream> streams;
  void StreamFound(const TFoundStream& s) override { streams.push_back(s); }
};

struct TScanResult {
  int64_t zin = 0, zout = 0, hless = 0, Z = 0;
  int64_t l[4] = {};
  int64_t w[16] = {};
  std::vector<TFoundStream> streams;
};

inline TScanResult Scan(const TBytes& bytes, bool headerless, bool acceptIncomplete,
                 uint64_t maxOfferBytes = 0) {
  TGuardedBuffer block(bytes);
  TScanState state;
  state.Options.Headerless = headerless;
  state.Options.AcceptIncomplete = acceptIncomplete;
  z_stream record{};
  InflateInit2(&record, -15);
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  TCollect sink;
  if (maxOfferBytes == 0) {
    ScanBlock(state, block.Data(), block.Size(), &record, buffer.data(), &sink);
  } else {
    detail::ScanBlockWithOfferLimit(state, block.Data(), block.Size(), &record, buffer.data(),
                                    &sink, maxOfferBytes);
  }
  InflateEnd(&record);
  TScanResult r;
  r.zin = state.zin;
  r.zout = state.zout;
  r.hless = state.hless;
  r.Z = state.Z;
  for (int f = 0; f < 4; ++f) r.l[f] = state.l[static_cast<std::size_t>(f)];
  for (int k = 9; k <= 15; ++k) r.w[k] = state.w[k];
  r.streams = sink.streams;
  return r;
}

inline void ExpectSameAsReference(const TBytes& bytes, bool headerless, bool acceptIncomplete,
                           uint64_t maxOfferBytes = 0) {
  const TScanResult got = Scan(bytes, headerless, acceptIncomplete, maxOfferBytes);
  const TReferenceResult want =
      ReferenceScan(bytes.data(), static_cast<int64_t>(bytes.size()), headerless, acceptIncomplete);
  SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " accept=" << acceptIncomplete
                                  << " offer=" << maxOfferBytes);
  EXPECT_EQ(got.zin, want.zin);
  EXPECT_EQ(got.zout, want.zout);
  EXPECT_EQ(got.hless, want.hless);
  EXPECT_EQ(got.Z, want.Z);
  for (int f = 0; f < 4; ++f) EXPECT_EQ(got.l[f], want.l[f]) << "FLEVEL " << f;
  for (int k = 9; k <= 15; ++k) EXPECT_EQ(got.w[k], want.w[k]) << "window " << k;
  ASSERT_EQ(got.streams.size(), want.streams.size());
  for (std::size_t n = 0; n < got.streams.size(); ++n) {
    const TFoundStream& g = got.streams[n];
    TReferenceStream asReference{g.OffsetBytes, g.HasHeader, g.HasHeader ? g.CINFO : 0,
                                       g.HasHeader ? g.FLEVEL : 0, g.InBytes, g.OutBytes};
    EXPECT_EQ(asReference, want.streams[n]) << "stream " << n;
  }
}


}  // namespace quarn::test
