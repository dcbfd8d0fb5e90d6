// A block scanned in chunks by several threads gives exactly what one scan
// of the whole block gives: totals and streams, in order.
#include "engine/chunked_scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "engine/aggregate_error.h"
#include "engine/scan_run.h"
#include "inflate/inflate_record.h"
#include "tests/support/fake_engine.h"
#include "tests/engine/detector_scan.h"
#include "tests/support/reference_scan.h"
#include "tests/support/scan_comparison.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::ExpectChunkedEqualsReference;
using test::TBytes;

TBytes MixedBlock(uint32_t seed) {
  std::mt19937 rng(seed);
  test::TLayout layout;
  for (int n = 0; n < 8; ++n) {
    layout.Append(test::MakeNoise(rng() % 3000, static_cast<uint32_t>(rng())));
    const TBytes text = test::MakeText(3000 + rng() % 30000, static_cast<uint32_t>(rng()));
    switch (n % 4) {
      case 0: layout.Append(test::Zlib(text, 9, 15)); break;
      case 1: layout.Append(test::Raw(text)); break;
      case 2: { const TBytes z = test::Zlib(text); layout.Append(TBytes(z.begin(), z.begin() + 700)); break; }
      default: layout.Append(test::Zlib(text, 1, 9)); break;
    }
  }
  layout.Zeros(64);
  return layout.Bytes();
}

TEST(ChunkedScan, EqualsTheWholeBlockScanForAnyChunkSize) {
  const TBytes block = MixedBlock(5);
  for (int64_t chunkBytes : {int64_t{64}, int64_t{333}, int64_t{4096}, int64_t{50000}, int64_t{1} << 30}) {
    for (bool headerless : {false, true}) {
      for (bool accept : {false, true}) ExpectChunkedEqualsReference(block, chunkBytes, headerless, accept);
    }
  }
}

// However few streams a chunk may keep one by one: with a sink the chunk
// stops there and the true path scans on from where it stopped; without
// one it keeps totals, and where the true path enters past its kept
// streams the chunk is scanned again.
TEST(ChunkedScan, EqualsTheWholeBlockScanWhateverTheChunksKeep) {
  test::TLayout layout;
  const TBytes small = test::Zlib(test::MakeText(300, 2));
  for (int n = 0; n < 400; ++n) {  // many small streams, several to a chunk
    layout.Append(small);
    layout.Append(test::MakeNoise(static_cast<std::size_t>(n % 37), static_cast<uint32_t>(n)));
  }
  layout.Append(MixedBlock(11));
  const TBytes bytes = layout.Bytes();
  for (int64_t chunkBytes : {int64_t{700}, int64_t{5000}, int64_t{40000}}) {
    for (std::size_t kept : {std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
      for (bool withSink : {false, true}) {
        ExpectChunkedEqualsReference(bytes, chunkBytes, true, true, withSink, kept);
        ExpectChunkedEqualsReference(bytes, chunkBytes, false, false, withSink, kept);
      }
    }
  }
}

// A long stream that runs over many chunks: the chunks ahead find their
// own streams at its flush points, put off the trials that run past their
// ends, and stop while the true path is inside the long stream.
TEST(ChunkedScan, EqualsTheWholeBlockScanAcrossALongFlushedStream) {
  const TBytes text = test::MakeText(400000, 8);
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  TBytes out(deflateBound(&z, static_cast<uLong>(text.size())) + 4096);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  for (std::size_t at = 0; at < text.size(); at += 20000) {  // a full flush every 20,000 bytes
    z.next_in = const_cast<Bytef*>(text.data() + at);
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(20000, text.size() - at));
    ASSERT_EQ(deflate(&z, at + 20000 >= text.size() ? Z_FINISH : Z_FULL_FLUSH), at + 20000 >= text.size() ? Z_STREAM_END : Z_OK);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  test::TLayout layout;
  layout.Zeros(100);
  layout.Append(out);
  layout.Zeros(100);
  for (int64_t chunkBytes : {int64_t{3000}, int64_t{20000}}) {
    for (bool accept : {false, true}) {
      ExpectChunkedEqualsReference(layout.Bytes(), chunkBytes, true, accept);
      ExpectChunkedEqualsReference(layout.Bytes(), chunkBytes, true, accept, false, 3);
    }
  }
}

// Streams whose first deflate byte is a chunk's last byte, and a block
// whose position limit is a whole number of chunks, with a stream cut short
// starting at the last position tried: no position between two chunks, or
// at the end, is left out.
TEST(ChunkedScan, StreamsOnTheLastByteOfAChunkAndOfTheBlock) {
  constexpr int64_t kChunk = 4096;
  const TBytes text = test::MakeText(20000, 14);
  test::TLayout layout;
  layout.Zeros(kChunk - 3);
  ASSERT_EQ(layout.Append(test::Zlib(text, 9)) + 2, static_cast<std::size_t>(kChunk - 1));
  layout.Zeros(static_cast<std::size_t>(3 * kChunk - 1) - layout.Bytes().size());
  const TBytes raw = test::Raw(text);
  ASSERT_EQ(layout.Append(raw), static_cast<std::size_t>(3 * kChunk - 1));
  layout.Zeros(static_cast<std::size_t>(6 * kChunk - 1) - layout.Bytes().size());
  // The limit, size-63, is 6 chunks: the last position tried is 6 * kChunk - 1.
  ASSERT_EQ(layout.Append(TBytes(raw.begin(), raw.begin() + 64)), static_cast<std::size_t>(6 * kChunk - 1));
  ASSERT_EQ(PositionLimit(static_cast<int64_t>(layout.Bytes().size())), 6 * kChunk);
  for (bool headerless : {false, true}) {
    for (bool accept : {false, true}) ExpectChunkedEqualsReference(layout.Bytes(), kChunk, headerless, accept);
  }
}

// A stored zlib stream whose payload ends with the start of a raw stream
// that runs past it: the chunk that starts inside the stored stream
// accepts the raw one, and the stitch must undo that.
TEST(ChunkedScan, ChunkBorderInsideAStreamThatTheChunkMisreads) {
  const TBytes s = test::Raw(test::MakeText(30000, 12));
  TBytes payload(300000, 0);
  payload.insert(payload.end(), s.begin(), s.begin() + 200);
  test::TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(payload, 0));
  layout.Append(TBytes(s.begin() + 200, s.end()));
  layout.Zeros(100);
  for (int64_t chunkBytes : {1000, 150000, 299000}) ExpectChunkedEqualsReference(layout.Bytes(), chunkBytes, true, true);
}

// A stored zlib stream whose payload holds many small streams: a chunk
// that starts inside it finds them, but the true path jumps over them.
// Whether the chunk stopped when the true path's trial ran past its own
// chunk, or finished first with only totals beyond a few streams (then the
// path enters past what it kept), the counts are the reference's.
TEST(ChunkedScan, TruePathEntersPastWhatAChunkKept) {
  TBytes payload(2000, 0);
  const TBytes small = test::Zlib(test::MakeText(5000, 3));  // long enough for a dynamic block
  ASSERT_EQ((small[2] >> 1) & 3, 2);
  for (int n = 0; n < 40; ++n) {
    payload.insert(payload.end(), small.begin(), small.end());
    payload.insert(payload.end(), 30, 0);
  }
  test::TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(payload, 0));
  layout.Append(small);
  layout.Zeros(100);
  for (int64_t chunkBytes : {int64_t{5000}, int64_t{20000}}) {
    for (std::size_t kept : {std::size_t{1}, std::size_t{3}}) {
      for (bool withSink : {false, true}) {
        ExpectChunkedEqualsReference(layout.Bytes(), chunkBytes, false, false, withSink, kept);
        ExpectChunkedEqualsReference(layout.Bytes(), chunkBytes, true, true, withSink, kept);
      }
    }
  }
}

// Through the whole driver: a file of more than two default chunks, with
// streams laid across and right on the chunk borders.
TEST(ChunkedScan, LargeFileThroughTheDriver) {
  test::TTempDir dir;
  const TBytes text = test::MakeText(200000, 3);
  const TBytes stream = test::Zlib(text);
  TBytes bytes(static_cast<std::size_t>(2 * kScanChunkBytes + 5000000), 0);
  const int64_t offsets[] = {kScanChunkBytes - 2,                                         // deflate data on the border
                             2 * kScanChunkBytes - static_cast<int64_t>(stream.size()) / 2,  // across the border
                             1000};
  for (int64_t at : offsets) std::copy(stream.begin(), stream.end(), bytes.begin() + at);
  test::WriteFile(dir / "large.bin", bytes);

  TScanState state;
  state.Options.AcceptIncomplete = true;
  RunScan({dir / "large.bin"}, state);
  const test::TReferenceResult want = test::ReferenceScan(bytes.data(), static_cast<int64_t>(bytes.size()), false, true);
  EXPECT_EQ(state.Z.load(), 3);
  EXPECT_EQ(test::Differences(test::ResultOf(state, want.streams), want), "");
  EXPECT_EQ(state.i.load(), static_cast<int64_t>(bytes.size()));
}

// An inflate for the external-engine path that fails once, with
// std::bad_alloc, on the thread that scans the file's own first chunk;
// on every other thread it first waits until that failure has happened,
// so the other chunks are certainly still queued or running while the
// failure unwinds.
thread_local bool tScansTheFirstChunk = false;
std::atomic<bool> gFailureArmed{false};
std::atomic<bool> gFailed{false};
std::atomic<int> gOtherCallsInFlight{0};

int InflateFailingInTheFirstChunk(z_stream* record, int flush) {
  if (tScansTheFirstChunk) {
    if (gFailureArmed.exchange(false)) {
      gFailed = true;
      throw std::bad_alloc();
    }
    return inflate(record, flush);
  }
  ++gOtherCallsInFlight;
  while (!gFailed.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  const int code = inflate(record, flush);
  --gOtherCallsInFlight;
  return code;
}

// A failure in the chunk that the file's own thread scans must not free
// what the other chunks still use: ScanBlockInChunks waits for every
// posted chunk, then raises. Under AddressSanitizer a chunk that outlived
// the block's bookkeeping is a use after free.
TEST(ChunkedScan, AFailureInTheCallersChunkWaitsForEveryPostedChunk) {
  test::TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(test::MakeText(3000, 1)));  // a candidate early in the first chunk
  layout.Append(MixedBlock(7));
  const TBytes bytes = layout.Bytes();

  std::optional<test::TFakeEngine> engine(std::in_place, &InflateFailingInTheFirstChunk);
  gFailureArmed = true;
  gFailed = false;

  TScanState state;
  state.Options.Headerless = true;
  TWorkQueue helpers;
  int callsInFlightAtTheFailure = -1;
  bool chunkQueuedAtTheFailure = true;
  try {
    RunParallelLoop(
        1, 1,
        [&](int32_t) {
          TScanner scanner(state.Options);
          tScansTheFirstChunk = true;
          try {
            ScanBlockInChunks(scanner, state, {bytes.data(), static_cast<int64_t>(bytes.size())}, nullptr,
                              {helpers, 4096, kKeptStreamsPerChunk, {}});
          } catch (...) {
            tScansTheFirstChunk = false;
            callsInFlightAtTheFailure = gOtherCallsInFlight.load();
            chunkQueuedAtTheFailure = helpers.RunOne();
            throw;
          }
          tScansTheFirstChunk = false;
        },
        &helpers, 4);
    ADD_FAILURE() << "expected the combined error";
  } catch (const TAggregateError& e) {
    ASSERT_EQ(e.Members().size(), 1u);
    EXPECT_THROW(std::rethrow_exception(e.Members()[0]), std::bad_alloc);
  }
  engine.reset();
  EXPECT_TRUE(gFailed.load());
  EXPECT_EQ(callsInFlightAtTheFailure, 0);
  EXPECT_FALSE(chunkQueuedAtTheFailure);
  EXPECT_EQ(state.Z.load() + state.hless.load(), 0) << "a failed block counts nothing";
}

}  // namespace
}  // namespace quarn
