// Stopping a scan and watching its progress: a stop requested while a long
// stream is being inflated ends the scan at the next inflate call, in a
// plain block, in chunks and in a file list, always as TScanCancelled; the
// progress moves inside a single stream and adds up to exactly the bytes of
// the files once a scan has ended.
//
// To act at a known point inside a trial, the tests bind an "external"
// engine whose inflate entry is zlib's own behind a counter: the detector
// then calls it for every inflate call, and the test can request the stop
// or read the progress at, say, the tenth call of one stream.
#include "engine/scan_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <functional>

#include "engine/aggregate_error.h"
#include "engine/chunked_scan.h"
#include "engine/scan_driver.h"
#include "engine/scan_run.h"
#include "inflate/engine_binding.h"
#include "inflate/inflate_record.h"
#include "tests/support/fake_engine.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

// Called on every inflate call while a TCountingEngine is bound; set before
// the scan starts and only read during it.
std::function<void(int64_t call)> gOnInflate;
std::atomic<int64_t> gInflateCalls{0};

int CountingInflate(z_stream* record, int flush) {
  const int64_t call = gInflateCalls.fetch_add(1) + 1;
  if (gOnInflate) gOnInflate(call);
  return inflate(record, flush);
}

class TCountingEngine {
 public:
  explicit TCountingEngine(std::function<void(int64_t)> onInflate) {
    gInflateCalls = 0;
    gOnInflate = std::move(onInflate);
  }
  ~TCountingEngine() { gOnInflate = nullptr; }
  TCountingEngine(const TCountingEngine&) = delete;
  TCountingEngine& operator=(const TCountingEngine&) = delete;

 private:
  test::TFakeEngine engine_{&CountingInflate};
};

// One long zlib stream of noise (so its input is about as long as its
// output: every 64 KiB inflate call reads about 64 KiB), between zeros.
TBytes LongStreamBlock(std::size_t noiseBytes, std::size_t* streamStart = nullptr,
                       std::size_t* streamBytes = nullptr) {
  test::TLayout layout;
  layout.Zeros(1000);
  const TBytes stream = test::Zlib(test::MakeNoise(noiseBytes, 7), 1);
  const std::size_t at = layout.Append(stream);
  layout.Zeros(1000);
  if (streamStart != nullptr) *streamStart = at;
  if (streamBytes != nullptr) *streamBytes = stream.size();
  return layout.Bytes();
}

int64_t SizeOf(const TBytes& bytes) { return static_cast<int64_t>(bytes.size()); }

void ScanWhole(TScanState& state, const TBytes& block) {
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  ScanBlock(state, block.data(), SizeOf(block), record.Get(), buffer.data());
}

// ScanBlockInChunks as a file run calls it: one iteration, three helpers.
void ScanInChunks(TScanState& state, const TBytes& block, int64_t chunkBytes) {
  TWorkQueue helpers;
  RunParallelLoop(
      1, 1,
      [&](int32_t) {
        TScanner scanner(state.Options);
        ScanBlockInChunks(scanner, state, {block.data(), SizeOf(block)}, nullptr,
                          {helpers, chunkBytes, kKeptStreamsPerChunk, {}});
      },
      &helpers, 4);
}

TEST(ScanControl, StopInsideALongStreamEndsAtTheNextInflateCall) {
  const TBytes block = LongStreamBlock(4 << 20);  // about 64 inflate calls
  TScanState state;
  int64_t callsAfterStop = 0;
  {
    TCountingEngine engine([&](int64_t call) {
      if (call == 10) state.Control.RequestCancel();
      if (call > 10) ++callsAfterStop;
    });
    EXPECT_THROW(ScanWhole(state, block), TScanCancelled);
  }
  EXPECT_EQ(gInflateCalls.load(), 10);
  EXPECT_EQ(callsAfterStop, 0);
  EXPECT_EQ(state.Z.load(), 0) << "a stream cut short by the stop was counted";
  EXPECT_EQ(state.zin.load(), 0);
  EXPECT_LT(state.Control.Progress().BytesScanned, SizeOf(block));
}

TEST(ScanControl, ProgressMovesInsideALongStreamAndEndsAtTheBlockSize) {
  std::size_t streamStart = 0, streamBytes = 0;
  const TBytes block = LongStreamBlock(4 << 20, &streamStart, &streamBytes);
  TScanState state;
  std::vector<int64_t> seen;
  {
    TCountingEngine engine([&](int64_t) { seen.push_back(state.Control.Progress().BytesScanned); });
    ScanWhole(state, block);
  }
  ASSERT_EQ(state.Z.load(), 1);
  ASSERT_GT(seen.size(), 32u);
  // Before the trial the loop has reported about the leading zeros; by
  // its last calls the trial has reported most of the stream's input.
  EXPECT_LE(seen.front(), static_cast<int64_t>(streamStart));
  EXPECT_GT(seen.back(), static_cast<int64_t>(streamStart + streamBytes / 2));
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(state.Control.Progress().BytesScanned, SizeOf(block));
}

TEST(ScanControl, ProgressMovesAcrossPositionsWithoutCandidates) {
  // Zeros hold no candidate: only the loop's step reports can have moved
  // the count by the time the stream after them is tried.
  const auto zeros = static_cast<std::size_t>(5 * kProgressStepBytes + 1234);
  test::TLayout layout;
  layout.Zeros(zeros);
  layout.Append(test::Zlib(test::MakeText(100000), 6));
  layout.Zeros(100);
  TScanState state;
  int64_t atFirstTrial = -1;
  {
    TCountingEngine engine([&](int64_t call) {
      if (call == 1) atFirstTrial = state.Control.Progress().BytesScanned;
    });
    ScanWhole(state, layout.Bytes());
  }
  EXPECT_GE(atFirstTrial, 5 * kProgressStepBytes);
  EXPECT_LE(atFirstTrial, static_cast<int64_t>(zeros));
  EXPECT_EQ(state.Control.Progress().BytesScanned, SizeOf(layout.Bytes()));
}

TEST(ScanControl, StopRequestedBeforeTheScanScansNothing) {
  const TBytes block = LongStreamBlock(100000);
  for (bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "chunked" : "whole");
    TScanState state;
    state.Control.RequestCancel();
    if (chunked) {
      EXPECT_THROW(ScanInChunks(state, block, 4096), TAggregateError);
    } else {
      EXPECT_THROW(ScanWhole(state, block), TScanCancelled);
    }
    EXPECT_EQ(state.Z.load(), 0);
    EXPECT_EQ(state.Control.Progress().BytesScanned, 0);
  }
}

// The loop of ScanInChunks reports what the iteration raised as a member
// of its combined error.
bool IsCancelledMember(const TAggregateError& error) {
  if (error.Members().size() != 1) return false;
  try {
    std::rethrow_exception(error.Members()[0]);
  } catch (const TScanCancelled&) {
    return true;
  } catch (...) {
    return false;
  }
}

TEST(ScanControl, StopInsideAChunkEndsEveryChunkAndRaisesOnce) {
  // Several long streams, so that chunks on several threads are inside a
  // trial when the stop comes.
  test::TLayout layout;
  for (uint32_t k = 0; k < 6; ++k) {
    layout.Zeros(500);
    layout.Append(test::Zlib(test::MakeNoise(1 << 20, 10 + k), 1));
  }
  const TBytes& block = layout.Bytes();
  TScanState state;
  {
    TCountingEngine engine([&](int64_t call) {
      if (call == 20) state.Control.RequestCancel();
    });
    try {
      ScanInChunks(state, block, SizeOf(block) / 6);
      ADD_FAILURE() << "the scan was not stopped";
    } catch (const TAggregateError& error) {
      EXPECT_TRUE(IsCancelledMember(error)) << error.what();
    }
  }
  // Streams are counted as the true path meets them, so a stopped scan has
  // partial totals (which nobody shows); it must have stopped before the end.
  EXPECT_LT(state.Z.load(), 6) << "the stop came before the last stream";
}

TEST(ScanControl, ChunkedScanReportsExactlyTheBlockSize) {
  test::TLayout layout;
  for (uint32_t k = 0; k < 8; ++k) {
    layout.Append(test::MakeNoise(20000, 50 + k));
    layout.Append(test::Zlib(test::MakeText(30000, 60 + k)));
  }
  const TBytes& block = layout.Bytes();
  for (int64_t chunk : {int64_t{1000}, int64_t{7777}, SizeOf(block) / 3}) {
    TScanState state;
    ScanInChunks(state, block, chunk);
    EXPECT_EQ(state.Control.Progress().BytesScanned, SizeOf(block)) << "chunk " << chunk;
    EXPECT_EQ(state.Z.load(), 8);
  }
}

class ScanControlFileList : public testing::Test {
 protected:
  void TearDown() override { FileList.clear(); }
  test::TTempDir dir_;
};

TEST_F(ScanControlFileList, FinishedScanCountsEveryFileAndByte) {
  int64_t totalBytes = 0;
  for (int k = 0; k < 5; ++k) {
    const TBytes bytes = LongStreamBlock(static_cast<std::size_t>(1000 + 20000 * k));
    test::WriteFile(dir_ / std::to_string(k), bytes);
    FileList.push_back(dir_ / std::to_string(k));
    totalBytes += SizeOf(bytes);
  }
  test::WriteFile(dir_ / "empty", {});
  FileList.push_back(dir_ / "empty");
  TScanState state;
  RunScan(FileList, state);
  const TScanProgress progress = state.Control.Progress();
  EXPECT_EQ(progress.FilesTotal, 6);
  EXPECT_EQ(progress.FilesDone, 6);
  EXPECT_EQ(progress.BytesTotal, totalBytes);
  EXPECT_EQ(progress.BytesScanned, totalBytes);
  EXPECT_EQ(state.i.load(), totalBytes);
}

TEST_F(ScanControlFileList, StoppedScanRaisesCancelledEvenWhenFilesFailed) {
  // The missing file comes last: files claimed before it are inside their
  // streams when the stop comes, whether it failed meanwhile or not.
  for (int k = 0; k < 3; ++k) {
    test::WriteFile(dir_ / std::to_string(k), LongStreamBlock(2 << 20));
    FileList.push_back(dir_ / std::to_string(k));
  }
  FileList.push_back(dir_ / "missing");
  TScanState state;
  {
    TCountingEngine engine([&](int64_t call) {
      if (call == 2) state.Control.RequestCancel();
    });
    EXPECT_THROW(RunScan(FileList, state), TScanCancelled);
  }
  EXPECT_LT(state.Control.Progress().FilesDone, 3);
}

TEST_F(ScanControlFileList, StopRequestedBeforeTheScanMeansCancelled) {
  test::WriteFile(dir_ / "a", LongStreamBlock(1000));
  FileList = {dir_ / "a"};
  TScanState state;
  state.Control.RequestCancel();
  EXPECT_THROW(RunScan(FileList, state), TScanCancelled);
  EXPECT_EQ(state.i.load(), 0);
}

}  // namespace
}  // namespace quarn
