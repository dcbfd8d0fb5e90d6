// A file built so that every candidate runs a long trial before it is
// rejected: K zlib headers, each followed by a stored block whose payload
// spans all the later headers and ends where a deflate stream begins that
// inflates a long way and never ends properly. The plain loop inflates the
// whole stream once per header, so the counts are right but a large K
// takes hours. What must hold: the counts are the reference scan's, in one
// piece and in chunks, and a running scan of such a file shows progress
// and can be stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/aggregate_error.h"
#include "engine/chunked_scan.h"
#include "engine/scan_control.h"
#include "engine/stream_detector.h"
#include "inflate/inflate_record.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

// Raw deflate of `zeroBytes` zeros, flushed but never finished: a stream
// without a last block, which a trial inflates to the end of its input.
TBytes EndlessDeflate(std::size_t zeroBytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  const TBytes zeros(1 << 20, 0);
  TBytes out;
  std::vector<uint8_t> chunk(1 << 16);
  for (std::size_t done = 0; done < zeroBytes; done += zeros.size()) {
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(std::min(zeros.size(), zeroBytes - done));
    do {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
      deflate(&z, Z_SYNC_FLUSH);
      out.insert(out.end(), chunk.data(), z.next_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

// K entries of 7 bytes (zlib header 78 01, stored block header 00, LEN,
// NLEN), each stored payload ending where the endless stream starts.
TBytes HostileFile(int headers, std::size_t zeroBytes) {
  const int entryBytes = 7;
  TBytes bytes;
  for (int k = 0; k < headers; ++k) {
    const int payload = entryBytes * (headers - k - 1);
    const auto len = static_cast<uint16_t>(payload);
    const auto nlen = static_cast<uint16_t>(~len);
    const uint8_t entry[] = {0x78, 0x01, 0x00, static_cast<uint8_t>(len & 0xFF), static_cast<uint8_t>(len >> 8),
                             static_cast<uint8_t>(nlen & 0xFF), static_cast<uint8_t>(nlen >> 8)};
    bytes.insert(bytes.end(), entry, entry + entryBytes);
  }
  const TBytes endless = EndlessDeflate(zeroBytes);
  bytes.insert(bytes.end(), endless.begin(), endless.end());
  bytes.insert(bytes.end(), 100, 0);
  return bytes;
}

void ExpectCountsOfTheReference(const TScanState& state, const TBytes& bytes, bool headerless, bool accept) {
  const test::TReferenceResult want =
      test::ReferenceScan(bytes.data(), static_cast<int64_t>(bytes.size()), headerless, accept);
  EXPECT_EQ(state.Z.load(), want.Z);
  EXPECT_EQ(state.hless.load(), want.hless);
  EXPECT_EQ(state.zin.load(), want.zin);
  EXPECT_EQ(state.zout.load(), want.zout);
  for (int k = 9; k <= 15; ++k) EXPECT_EQ(state.w[k].load(), want.w[k]);
  for (std::size_t f = 0; f < 4; ++f) EXPECT_EQ(state.l[f].load(), want.l[f]);
}

TEST(HostileInput, CountsAreTheReferenceScansInOnePieceAndInChunks) {
  const TBytes bytes = HostileFile(6, std::size_t{4} << 20);
  for (bool headerless : {false, true}) {
    for (bool accept : {false, true}) {
      SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " accept=" << accept);
      TInflateRecord record;
      std::vector<uint8_t> buffer(kInflateBufferBytes);
      TScanState whole;
      whole.Options.Headerless = headerless;
      whole.Options.AcceptIncomplete = accept;
      ScanBlock(whole, bytes.data(), static_cast<int64_t>(bytes.size()), record.Get(), buffer.data());
      ExpectCountsOfTheReference(whole, bytes, headerless, accept);

      TScanState chunked;
      chunked.Options = whole.Options;
      TWorkQueue helpers;
      TScanner scanner(chunked.Options);
      RunParallelLoop(
          1, 1,
          [&](int32_t) {
            ScanBlockInChunks(scanner, chunked, {bytes.data(), static_cast<int64_t>(bytes.size())}, nullptr,
                              {helpers, 16, kKeptStreamsPerChunk, {}});
          },
          &helpers, 3);
      ExpectCountsOfTheReference(chunked, bytes, headerless, accept);
    }
  }
}

// With 2,000 headers over 128 MiB of output each, the scan would run for
// minutes: it must show progress inside its first trials and end soon
// after the stop, with TScanCancelled, in one piece and in chunks.
TEST(HostileInput, ARunningScanShowsProgressAndCanBeStopped) {
  const TBytes bytes = HostileFile(2000, std::size_t{128} << 20);
  for (bool chunked : {false, true}) {
    SCOPED_TRACE(testing::Message() << "chunked=" << chunked);
    TScanState state;
    std::atomic<bool> cancelled{false}, ended{false};
    std::thread scan([&] {
      TInflateRecord record;
      std::vector<uint8_t> buffer(kInflateBufferBytes);
      try {
        if (chunked) {
          TWorkQueue helpers;
          RunParallelLoop(
              1, 1,
              [&](int32_t) {
                TScanner scanner(state.Options);
                ScanBlockInChunks(scanner, state, {bytes.data(), static_cast<int64_t>(bytes.size())}, nullptr,
                                  {helpers, static_cast<int64_t>(bytes.size()) / 4, kKeptStreamsPerChunk, {}});
              },
              &helpers, 3);
        } else {
          ScanBlock(state, bytes.data(), static_cast<int64_t>(bytes.size()), record.Get(), buffer.data());
        }
      } catch (const TScanCancelled&) {
        cancelled = true;
      } catch (const TAggregateError& e) {
        cancelled = std::string(e.what()).find("EScanCancelled") != std::string::npos;
      }
      ended = true;
    });
    // The first trial alone reads more input than a progress step.
    while (state.Control.Progress().BytesScanned == 0 && !ended.load()) std::this_thread::yield();
    EXPECT_FALSE(ended.load()) << "the scan ended before it was stopped";
    EXPECT_LT(state.Control.Progress().BytesScanned, static_cast<int64_t>(bytes.size()));
    state.Control.RequestCancel();
    scan.join();
    EXPECT_TRUE(cancelled.load());
    EXPECT_EQ(state.Z.load() + state.hless.load(), 0);
  }
}

}  // namespace
}  // namespace quarn
