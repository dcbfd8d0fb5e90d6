// Chunks scanned on their own and stitched together give exactly the
// whole-block scan, wherever the chunk borders fall: on a stream's first
// byte, inside a stream, inside a header, or inside a stream that only a
// chunk's own path accepted; and however little of its path a chunk kept
// (streams one by one, only totals, or a scan stopped early).
#include "engine/chunk_stitch.h"

#include <gtest/gtest.h>

#include "tests/support/reference_scan.h"
#include "tests/support/scan_comparison.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

struct TScanned {
  std::vector<TFoundStream> streams;
  int64_t end = 0;
};

struct TBlockScanner {
  const TBytes& bytes;
  bool headerless, accept;
  TScanned operator()(int64_t from, int64_t to) const {
    const test::TReferenceResult r = test::ReferenceScanRange(bytes.data(), static_cast<int64_t>(bytes.size()),
                                                              from, to, headerless, accept);
    return {r.streams, r.endPosition};
  }
};

// How much of its path a chunk keeps: its first `keep` streams one by one
// and the rest as totals; with `stopAfter`, its scan stopped right after
// that many streams (as it does when a sink waits).
struct TShape {
  std::size_t keep = SIZE_MAX;
  std::size_t stopAfter = SIZE_MAX;
};

TChunkPath PathOf(const TScanned& scan, int64_t start, TShape shape) {
  TChunkPath path;
  path.Frontier = scan.end;
  for (std::size_t n = 0; n < scan.streams.size(); ++n) {
    const TFoundStream& s = scan.streams[n];
    if (n == shape.stopAfter) {
      path.Frontier = n == 0 ? start : scan.streams[n - 1].OffsetBytes + static_cast<int64_t>(scan.streams[n - 1].InBytes);
      break;
    }
    if (n < shape.keep) {
      path.Kept.push_back(s);
    } else {
      if (path.KeptAll) path.KeptUntil = s.OffsetBytes;
      path.KeptAll = false;
      path.Rest.Add(s);
    }
  }
  return path;
}

// Stitches the chunks that start at `starts`, each kept as `shape` says,
// and compares with one scan: the totals always, the streams one by one
// when every chunk kept all of its own.
int64_t ExpectStitchedEqualsWhole(const TBytes& bytes, std::vector<int64_t> starts, bool headerless, bool accept,
                                  TShape shape = {}) {
  SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " accept=" << accept << " keep=" << shape.keep
                                  << " stopAfter=" << shape.stopAfter);
  const int64_t limit = PositionLimit(static_cast<int64_t>(bytes.size()));
  const TBlockScanner scanner{bytes, headerless, accept};
  std::vector<TFoundStream> streams;
  TStreamCounts totals;
  TStitchSteps steps;
  steps.ScanTrue = [&](int64_t from, int64_t to) {
    const TScanned scanned = scanner(from, to);
    for (const TFoundStream& s : scanned.streams) steps.Deliver(s);
    return scanned.end;
  };
  steps.Deliver = [&](const TFoundStream& s) {
    streams.push_back(s);
    totals.Add(s);
  };
  steps.DeliverTotals = [&](const TStreamCounts& t) { totals += t; };
  int64_t rescans = 0;
  int64_t position = 0;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const int64_t end = k + 1 < starts.size() ? starts[k + 1] : limit;
    const TChunkPath path = PathOf(scanner(starts[k], end), starts[k], shape);
    position = StitchChunk(path, position, end, steps, &rescans);
    EXPECT_GE(position, end);
  }
  const TScanned whole = scanner(0, limit);
  TStreamCounts want;
  for (const TFoundStream& s : whole.streams) want.Add(s);
  EXPECT_TRUE(totals == want);
  EXPECT_EQ(position, whole.end);
  if (shape.keep == SIZE_MAX && shape.stopAfter == SIZE_MAX) {
    // The same through the stitch of whole range scans.
    std::vector<TRangeScan> scans;
    for (std::size_t k = 0; k < starts.size(); ++k) {
      const TScanned scanned = scanner(starts[k], k + 1 < starts.size() ? starts[k + 1] : limit);
      scans.push_back({scanned.streams, scanned.end});
    }
    const TStitchResult stitched = StitchChunks(starts, scans, limit, [&](int64_t from, int64_t to) {
      const TScanned scanned = scanner(from, to);
      return TRangeScan{scanned.streams, scanned.end};
    });
    EXPECT_EQ(test::StreamDifferences(stitched.Streams, whole.streams), "");
  }
  if (shape.keep == SIZE_MAX) {
    EXPECT_EQ(test::StreamDifferences(streams, whole.streams), "");
  }
  return rescans;
}

const TShape kShapes[] = {{}, {0, SIZE_MAX}, {1, SIZE_MAX}, {SIZE_MAX, 0}, {SIZE_MAX, 1}, {SIZE_MAX, 2}};

TEST(ChunkStitch, BordersOnStreamBoundaries) {
  const TBytes text = test::MakeText(40000, 4);
  const TBytes a = test::Zlib(text, 9, 15), b = test::Zlib(text, 1, 11), raw = test::Raw(text);
  test::TLayout layout;
  layout.Zeros(100);
  const auto atA = static_cast<int64_t>(layout.Append(a));
  const auto atB = static_cast<int64_t>(layout.Append(b));
  layout.Zeros(10);
  const auto atRaw = static_cast<int64_t>(layout.Append(raw));
  layout.Zeros(100);
  const TBytes& bytes = layout.Bytes();
  const int64_t deflateA = atA + 2, endA = atA + static_cast<int64_t>(a.size()) - 4;
  const std::vector<std::vector<int64_t>> cases = {
      {0, deflateA},                     // a chunk begins on a stream's first deflate byte
      {0, atA, atA + 1},                 // ... on its header bytes
      {0, endA},                         // ... right after its deflate data
      {0, deflateA + 1},                 // ... one byte into a stream
      {0, deflateA + 10, endA - 1},      // a stream spans a whole chunk
      {0, atB + 2, atRaw, atRaw + 1},
      {0, 1, 2, 3},
  };
  for (const auto& starts : cases) {
    for (bool headerless : {false, true}) {
      for (bool accept : {false, true}) {
        for (const TShape& shape : kShapes) ExpectStitchedEqualsWhole(bytes, starts, headerless, accept, shape);
      }
    }
  }
}

// Noise and streams with chunk borders every few hundred bytes.
TEST(ChunkStitch, ManyBordersOnMixedData) {
  std::mt19937 rng(9);
  test::TLayout layout;
  for (int n = 0; n < 6; ++n) {
    layout.Append(test::MakeNoise(rng() % 4000, static_cast<uint32_t>(rng())));
    const TBytes text = test::MakeText(5000 + rng() % 20000, static_cast<uint32_t>(rng()));
    layout.Append(n % 2 == 0 ? test::Zlib(text) : test::Raw(text));
  }
  layout.Zeros(64);
  const TBytes& bytes = layout.Bytes();
  for (int64_t chunkBytes : {97, 300, 1024, 5000}) {
    std::vector<int64_t> starts;
    for (int64_t s = 0; s < static_cast<int64_t>(bytes.size()) - 63; s += chunkBytes) starts.push_back(s);
    for (bool accept : {false, true}) {
      for (const TShape& shape : kShapes) ExpectStitchedEqualsWhole(bytes, starts, true, accept, shape);
    }
  }
}

// The whole-block scan accepts a stored zlib stream T and resumes right
// after its deflate data. A raw stream S begins inside T's stored payload
// and runs on past T's end (T's trailer lands inside S's data). A chunk that
// starts inside T never sees T; it accepts S instead, so the whole scan
// enters that chunk inside S: the paths must be joined by a rescan.
TEST(ChunkStitch, JoinsPathsInsideAStreamOnlyAChunkAccepted) {
  const TBytes s = test::Raw(test::MakeText(30000, 12));
  const std::size_t headOfS = 200;
  TBytes payload(300000, 0);  // zeros are never candidates
  payload.insert(payload.end(), s.begin(), s.begin() + static_cast<long>(headOfS));
  const TBytes t = test::Zlib(payload, 0);
  test::TLayout layout;
  layout.Zeros(10);
  const auto atT = static_cast<int64_t>(layout.Append(t));
  layout.Append(TBytes(s.begin() + static_cast<long>(headOfS), s.end()));
  layout.Zeros(100);
  const TBytes& bytes = layout.Bytes();
  // S's first bytes must lie in one piece inside T's last stored block.
  const auto found = std::search(bytes.begin(), bytes.end(), s.begin(), s.begin() + static_cast<long>(headOfS));
  ASSERT_NE(found, bytes.end());
  const int64_t atS = found - bytes.begin();
  ASSERT_LT(atS, atT + static_cast<int64_t>(t.size()));

  EXPECT_GT(ExpectStitchedEqualsWhole(bytes, {0, atT + 1000}, true, true), 0);
  // Kept only as totals, the chunk's streams cannot show where the paths
  // meet: the chunk is scanned again from the entry.
  EXPECT_GT(ExpectStitchedEqualsWhole(bytes, {0, atT + 1000}, true, true, {0, SIZE_MAX}), 0);
}

}  // namespace
}  // namespace quarn
