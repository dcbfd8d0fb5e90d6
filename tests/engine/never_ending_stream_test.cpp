// Streams that never end: flushed block by block and cut off, as in a
// capture of a live connection or a file cut short. Every block start after
// a flush lies on a byte, and with Headerless each is a candidate whose
// trial runs to the end of the input. What must hold: the scan gives
// exactly the reference scan's result, in one piece and in chunks, and it
// does not try every block start (which inflates the rest of the stream
// once per block: quadratic time). The list of dead block starts that makes
// this so is checked on its own too.
#include <gtest/gtest.h>

#include "engine/chunked_scan.h"
#include "engine/dead_starts.h"
#include "engine/parallel_loop.h"
#include "engine/stream_detector.h"
#include "inflate/fast_inflate.h"
#include "inflate/inflate_record.h"
#include "tests/engine/detector_scan.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

TBytes Join(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct TShape {
  const char* name;
  TBytes bytes;
  std::size_t blocks;  // block starts on a byte that each make a candidate
};

// Each shape with about 100 blocks.
std::vector<TShape> Shapes() {
  const std::vector<TBytes> pieces = test::RandomLetterPieces(100, 200, 7);
  const std::vector<TBytes> first(pieces.begin(), pieces.begin() + 50);
  const std::vector<TBytes> second(pieces.begin() + 50, pieces.end());
  // One sync-flushed dynamic block, repeated: each copy decodes as the
  // last did, with no match reaching back past its start.
  const TBytes block = test::Unfinished({pieces[0]}, Z_SYNC_FLUSH, 6, -15);
  TBytes repeated;
  for (int k = 0; k < 100; ++k) repeated.insert(repeated.end(), block.begin(), block.end());
  return {
      {"full flush", test::Unfinished(pieces, Z_FULL_FLUSH), 100},
      // Matches reach back past the block starts.
      {"sync flush", test::Unfinished(pieces, Z_SYNC_FLUSH), 100},
      {"raw after noise", Join({test::MakeNoise(300, 3), test::Unfinished(pieces, Z_SYNC_FLUSH, 9, -15)}), 100},
      {"one block repeated", repeated, 100},
      // A complete stream between two that never end, and one cut short
      // within a block.
      {"complete between", Join({test::Unfinished(first, Z_FULL_FLUSH), test::Zlib(test::MakeText(3000, 4)),
                                 test::Unfinished(second, Z_FULL_FLUSH, 1)}),
       100},
      {"cut within a block",
       [&] {
         TBytes cut = test::Unfinished(pieces, Z_FULL_FLUSH);
         cut.resize(cut.size() - 40);
         return cut;
       }(),
       100},
  };
}

TEST(NeverEndingStream, AgreesWithTheReferenceScan) {
  for (const TShape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    for (bool headerless : {false, true}) {
      for (bool accept : {false, true}) test::ExpectSameAsReference(shape.bytes, headerless, accept);
    }
  }
}

// Chunks scanned ahead learn the dead starts of their own path; the true
// path keeps its list from chunk to chunk.
TEST(NeverEndingStream, ChunkedScanAgreesWithTheReferenceScan) {
  for (const TShape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    for (const int64_t chunkBytes : {int64_t{700}, int64_t{5000}}) {
      test::ExpectChunkedEqualsReference(shape.bytes, chunkBytes, true, false);
    }
  }
}

// Counts the trials of a range scan.
class TTrialCounter final : public detail::TRangeControl {
 public:
  bool StreamFound(const TFoundStream&) override { return true; }
  bool TrialMayGoOn(int64_t, int64_t) override { return true; }
  void TrialEnded() override { ++trials; }
  int trials = 0;
};

// Where only complete streams count, one trial runs through the blocks and
// the block starts it passed get none of their own. With streams cut short
// accepted, the first trial takes the whole stream and the scan jumps past.
TEST(NeverEndingStream, BlockStartsPassedByAFailedTrialGetNoTrialOfTheirOwn) {
  for (const TShape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    const auto size = static_cast<int64_t>(shape.bytes.size());
    TTrialCounter counter;
    TScanOptions options;
    options.Headerless = true;
    TScanner(options).ScanUnder({shape.bytes.data(), size}, {0, size}, counter);
    EXPECT_LT(counter.trials, static_cast<int>(shape.blocks / 4)) << "of " << shape.blocks << " blocks";
  }
}

// The fast path's block starts on a byte are those where the fixture's
// flushes put them.
TEST(NeverEndingStream, FastPathKeepsTheAlignedBlockStarts) {
  const std::vector<TBytes> pieces = test::RandomLetterPieces(20, 300, 9);
  std::vector<uint64_t> flushedAt;
  TBytes stream;
  for (std::size_t k = 1; k <= pieces.size(); ++k) {
    stream = test::Unfinished(std::vector<TBytes>(pieces.begin(), pieces.begin() + static_cast<long>(k)),
                              Z_FULL_FLUSH, 6, -15);
    flushedAt.push_back(stream.size());
  }
  flushedAt.pop_back();  // the end of the input starts nothing
  TFastInflater fast;
  fast.KeepBlockStartsOfNextDecode();
  EXPECT_FALSE(fast.Inflate(stream.data(), stream.size()).Complete);
  // A full flush ends with an empty stored block: the block after it starts
  // at the flush point, and the stored block itself starts before it.
  std::vector<uint64_t> dynamicStarts;
  for (const uint64_t at : fast.AlignedBlockStarts()) {
    if ((stream[at] & 6u) == 4u) dynamicStarts.push_back(at);
  }
  EXPECT_EQ(dynamicStarts, flushedAt);
  // Only the decode armed for it keeps them.
  fast.Inflate(stream.data(), stream.size());
  EXPECT_TRUE(fast.AlignedBlockStarts().empty());
}

TEST(NeverEndingStream, DeadStartsAreAskedInOrderAndJoinKnownPaths) {
  detail::TDeadStarts dead;
  const uint64_t firstPath[] = {10, 20, 30};
  dead.Add(100, firstPath);  // 110, 120, 130
  // A later trial that meets 120 follows the first one's path from there:
  // its own starts after 120 are not needed.
  const uint64_t joining[] = {2, 5, 20, 25};
  dead.Add(100, joining);  // adds 102, 105; stops at 120
  struct TAsk {
    int64_t pos;
    bool dead;
  };
  for (const TAsk ask : {TAsk{101, false}, TAsk{102, true}, TAsk{105, true}, TAsk{110, true}, TAsk{119, false},
                         TAsk{120, true}, TAsk{125, false}, TAsk{130, true}, TAsk{131, false}}) {
    EXPECT_EQ(dead.Contains(ask.pos), ask.dead) << ask.pos;
  }
}

}  // namespace
}  // namespace quarn
