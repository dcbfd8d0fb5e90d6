// The scan of found streams' inflated bytes for the streams inside them:
// every level is found with its offset within its parent's bytes, down to
// the depth asked and no further; the file's own totals stay as they were;
// bytes kept in the scratch file are scanned as those in memory; and the
// limits stop layered bombs, a spent budget and endless lists with the
// stream they stopped at named, never in silence.
#include "engine/nested_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/stream_detector.h"
#include "engine/stream_facts.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::Concat;
using test::TBytes;

// `inner` after `padBytes` of text, with more text after it, zlibbed.
// The text makes the first block dynamic, which the scan's rule wants,
// and keeps deflate from storing `inner` as it is, where the file's own
// scan would find it.
TBytes Wrap(const TBytes& inner, std::size_t padBytes, uint32_t seed) {
  return test::Zlib(Concat({test::MakeText(padBytes, seed), inner, test::MakeText(500, seed + 1)}));
}

struct TScanned {
  std::vector<TFoundStream> Streams;
  TStreamCounts Counts;
  TScanProgress Progress;
};

TScanned ScanWith(const TBytes& bytes, const TScanOptions& options) {
  TScanState state;
  state.Options = options;
  TCollectSink sink;
  TScanner scanner(options);
  scanner.ScanBlock(state, {bytes.data(), static_cast<int64_t>(bytes.size())}, &sink);
  return {std::move(sink.Streams), state.Counts(), state.Control.Progress()};
}

TScanOptions WithDepth(int depth) {
  TScanOptions options;
  options.Depth = depth;
  return options;
}

const std::vector<TFoundStream>& NestedOf(const TFoundStream& stream) {
  static const std::vector<TFoundStream> none;
  return stream.Nested ? *stream.Nested : none;
}

TEST(NestedScan, FindsEachLevelAtItsOffsetDownToTheDepthAsked) {
  const TBytes text = test::MakeText(30000, 3);
  const TBytes level3 = test::Zlib(text);
  const TBytes level2 = Wrap(level3, 1234, 10);
  const TBytes level1 = Wrap(level2, 777, 20);
  const TBytes file = Concat({test::MakeNoise(300, 30), level1, test::MakeNoise(300, 31)});

  const TScanned plain = ScanWith(file, WithDepth(1));
  ASSERT_EQ(plain.Streams.size(), 1u);
  EXPECT_EQ(plain.Streams[0].Nested, nullptr);

  for (const int depth : {2, 3, 4}) {
    SCOPED_TRACE(depth);
    const TScanned scanned = ScanWith(file, WithDepth(depth));
    // The file's own totals count the file's own streams alone.
    EXPECT_EQ(scanned.Counts, plain.Counts);
    ASSERT_EQ(scanned.Streams.size(), 1u);
    const TFoundStream& top = scanned.Streams[0];
    EXPECT_EQ(top.StartBytes(), 300);
    ASSERT_EQ(NestedOf(top).size(), 1u);
    const TFoundStream& second = NestedOf(top)[0];
    EXPECT_EQ(second.StartBytes(), 777);
    EXPECT_EQ(second.OutBytes, 1234 + level3.size() + 500);
    EXPECT_TRUE(second.Complete);
    EXPECT_EQ(second.SkippedBy, TNestLimit::None);
    if (depth == 2) {
      EXPECT_EQ(second.Nested, nullptr);
      continue;
    }
    ASSERT_EQ(NestedOf(second).size(), 1u);
    const TFoundStream& third = NestedOf(second)[0];
    EXPECT_EQ(third.StartBytes(), 1234);
    EXPECT_EQ(third.OutBytes, text.size());
    EXPECT_EQ(third.InBytes + 6, level3.size());
    EXPECT_EQ(third.Nested, nullptr);  // text holds no stream
  }
}

TEST(NestedScan, NestedBytesCountAsMoreWorkInTheProgress) {
  const TBytes level2 = test::Zlib(test::MakeText(20000, 4));
  const TBytes file = Concat({test::MakeNoise(100, 40), Wrap(level2, 900, 41), test::MakeNoise(100, 42)});
  const TScanned scanned = ScanWith(file, WithDepth(2));
  ASSERT_EQ(scanned.Streams.size(), 1u);
  const auto nestedBytes = static_cast<int64_t>(scanned.Streams[0].OutBytes);
  // No totals were set: what is there is the nested work, all of it done.
  EXPECT_EQ(scanned.Progress.BytesTotal, nestedBytes);
  EXPECT_EQ(scanned.Progress.BytesScanned, static_cast<int64_t>(file.size()) + nestedBytes);
}

TEST(NestedScan, BytesKeptInTheScratchFileAreScannedAsInMemory) {
  // Over the 4 MiB kept in memory, with the nested stream beyond them.
  const TBytes inner = test::Zlib(test::MakeText(40000, 5));
  const std::size_t at = (std::size_t{9} << 19) + 17;
  const TBytes file = Wrap(inner, at, 50);
  const TScanned scanned = ScanWith(file, WithDepth(2));
  ASSERT_EQ(scanned.Streams.size(), 1u);
  ASSERT_GT(scanned.Streams[0].OutBytes, kKeptInMemoryBytes);
  ASSERT_EQ(NestedOf(scanned.Streams[0]).size(), 1u);
  EXPECT_EQ(NestedOf(scanned.Streams[0])[0].StartBytes(), static_cast<int64_t>(at));
  EXPECT_EQ(NestedOf(scanned.Streams[0])[0].OutBytes, 40000u);
}

TEST(NestedScan, ALayeredBombIsStoppedAtItsFirstNestedLayer) {
  // 64 MiB of zeros, zlibbed twice: the nested layer expands a thousandfold.
  const TBytes zeros(std::size_t{64} << 20, 0);
  const TBytes layer2 = test::Zlib(zeros, 9);
  const TBytes file = Concat({test::MakeNoise(200, 60), test::Zlib(Concat({test::MakeText(3000, 61), layer2}), 9)});
  const TScanned scanned = ScanWith(file, WithDepth(3));
  ASSERT_EQ(scanned.Streams.size(), 1u);
  const std::vector<TFoundStream>& nested = NestedOf(scanned.Streams[0]);
  ASSERT_FALSE(nested.empty());
  const TFoundStream& bomb = nested[0];
  EXPECT_EQ(bomb.StartBytes(), 3000);
  EXPECT_EQ(bomb.SkippedBy, TNestLimit::Expansion);
  EXPECT_FALSE(bomb.Complete);
  // Stopped soon after its first MiB, by a report of its input.
  EXPECT_GT(bomb.OutBytes, kFreeExpansionBytes);
  EXPECT_LT(bomb.OutBytes, 2 * kFreeExpansionBytes);
  EXPECT_EQ(bomb.Nested, nullptr);
}

TEST(NestedScan, ASpentBudgetEndsTheScanAtTheStreamItStoppedAt) {
  // Ten nested streams of 100,000 bytes each, under a budget that holds
  // the top stream and three and a half of them.
  std::vector<TBytes> parts;
  for (uint32_t k = 0; k < 10; ++k) {
    parts.push_back(test::MakeText(1000, 70 + k));
    parts.push_back(test::Zlib(test::MakeText(100000, 80 + k)));
  }
  TBytes inside;
  for (const TBytes& part : parts) inside.insert(inside.end(), part.begin(), part.end());
  const TBytes file = test::Zlib(inside);
  TScanOptions options = WithDepth(2);
  options.MaxInflateBytes = inside.size() + 350000;
  const TScanned scanned = ScanWith(file, options);
  ASSERT_EQ(scanned.Streams.size(), 1u);
  const std::vector<TFoundStream>& nested = NestedOf(scanned.Streams[0]);
  ASSERT_EQ(nested.size(), 4u);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(nested[k].SkippedBy, TNestLimit::None) << k;
  EXPECT_EQ(nested[3].SkippedBy, TNestLimit::MaxInflate);
  EXPECT_FALSE(nested[3].Complete);
  EXPECT_LE(nested[3].OutBytes, 50000u);

  // A top stream over the budget is not looked inside at all.
  options.MaxInflateBytes = inside.size() - 1;
  const TScanned over = ScanWith(file, options);
  ASSERT_EQ(over.Streams.size(), 1u);
  EXPECT_EQ(over.Streams[0].SkippedBy, TNestLimit::MaxInflate);
  EXPECT_EQ(over.Streams[0].Nested, nullptr);
  EXPECT_EQ(over.Counts, scanned.Counts);
}

TEST(NestedScan, AStopRequestedStopsTheNestedScan) {
  const TBytes inner = test::Zlib(test::MakeText(20000, 6));
  const TBytes bytes = Concat({test::MakeNoise(5000, 90), inner});
  TKeptOutput kept;
  kept.Take(bytes.data(), bytes.size());
  TFoundStream stream;
  stream.OutBytes = bytes.size();
  TScanControl control;
  TNestedScan nested(WithDepth(2), nullptr);
  control.RequestCancel();
  EXPECT_THROW(nested.ScanInside(kept, stream, &control), TScanCancelled);
  TScanControl running;
  nested.ScanInside(kept, stream, &running);
  ASSERT_NE(stream.Nested, nullptr);
  EXPECT_EQ(stream.Nested->at(0).StartBytes(), 5000);
}

}  // namespace
}  // namespace quarn
