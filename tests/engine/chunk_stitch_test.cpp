// Chunks scanned on their own and stitched together give exactly the
// whole-block scan, wherever the chunk borders fall: on a stream's first
// byte, inside a stream, inside a header, or inside a stream that only a
// chunk's own path accepted.
#include "engine/chunk_stitch.h"

#include <gtest/gtest.h>

#include "tests/support/reference_scan.h"
#include "tests/support/scan_comparison.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

struct TBlockScanner {
  const TBytes& bytes;
  bool headerless, accept;
  TRangeScan operator()(int64_t from, int64_t to) const {
    const test::TReferenceResult r = test::ReferenceScanRange(bytes.data(), static_cast<int64_t>(bytes.size()),
                                                              from, to, headerless, accept);
    return {r.streams, r.endPosition};
  }
};

// Stitches the chunks that start at `starts` and compares with one scan.
int64_t ExpectStitchedEqualsWhole(const TBytes& bytes, std::vector<int64_t> starts, bool headerless, bool accept) {
  const int64_t limit = static_cast<int64_t>(bytes.size()) - 63;
  const TBlockScanner scanner{bytes, headerless, accept};
  std::vector<TRangeScan> chunks;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    chunks.push_back(scanner(starts[k], k + 1 < starts.size() ? starts[k + 1] : limit));
  }
  const TStitchResult stitched = StitchChunks(starts, chunks, limit, scanner);
  const TRangeScan whole = scanner(0, limit);
  EXPECT_EQ(test::StreamDifferences(stitched.Streams, whole.Streams), "");
  return stitched.Rescans;
}

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
      for (bool accept : {false, true}) ExpectStitchedEqualsWhole(bytes, starts, headerless, accept);
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
    for (bool accept : {false, true}) ExpectStitchedEqualsWhole(bytes, starts, true, accept);
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

  const int64_t rescans = ExpectStitchedEqualsWhole(bytes, {0, atT + 1000}, true, true);
  EXPECT_GT(rescans, 0);
}

}  // namespace
}  // namespace quarn
