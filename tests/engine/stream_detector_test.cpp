// What the stream detector finds and counts, on fixtures made with zlib at
// test time, and that it agrees with the plain reference scan (and with
// itself when the rest of a block is offered in small pieces).
#include "engine/stream_detector.h"

#include <gtest/gtest.h>

#include <vector>

#include "inflate/engine_binding.h"
#include "tests/support/fake_engine.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"
#include "tests/engine/detector_scan.h"

namespace quarn {
namespace {

using test::TBytes;
using test::TLayout;
using test::ExpectSameAsReference;
using test::Scan;
using test::TScanResult;

bool StartsDynamic(const TBytes& deflateData) { return (deflateData[0] & 7) == 4 || (deflateData[0] & 7) == 5; }

// A zlib stream between runs of zeros, which are never candidates.
TEST(StreamDetector, FindsEveryWindowSizeAndLevel) {
  const TBytes text = test::MakeText(20000);
  struct TLevel {
    int level;
    int flevel;
  };
  for (int windowBits = 9; windowBits <= 15; ++windowBits) {
    for (const TLevel lv : {TLevel{1, 0}, TLevel{3, 1}, TLevel{6, 2}, TLevel{9, 3}}) {
      SCOPED_TRACE(testing::Message() << "windowBits=" << windowBits << " level=" << lv.level);
      const TBytes stream = test::Zlib(text, lv.level, windowBits);
      ASSERT_EQ(stream[0] >> 4, windowBits - 8);
      TLayout layout;
      layout.Zeros(100);
      const std::size_t at = layout.Append(stream);
      layout.Zeros(100);
      const TScanResult r = Scan(layout.Bytes(), false, false);
      EXPECT_EQ(r.Z, 1);
      EXPECT_EQ(r.hless, 0);
      EXPECT_EQ(r.w[windowBits], 1);
      EXPECT_EQ(r.l[lv.flevel], 1);
      EXPECT_EQ(r.zin, static_cast<int64_t>(stream.size()) - 6);  // no header, no trailer
      EXPECT_EQ(r.zout, static_cast<int64_t>(text.size()));
      ASSERT_EQ(r.streams.size(), 1u);
      EXPECT_EQ(r.streams[0].OffsetBytes, static_cast<int64_t>(at) + 2);
      EXPECT_TRUE(r.streams[0].Complete);
    }
  }
}

// Stored and fixed-code first blocks count only from 256 KiB of output on.
TEST(StreamDetector, NonDynamicFirstBlockNeeds256KiBOfOutput) {
  struct TCase {
    const char* name;
    int level;
    int strategy;
    std::size_t textBytes;
    int64_t expectedZ;
  };
  const TCase cases[] = {
      {"fixed, small", 6, Z_FIXED, 100000, 0},
      {"fixed, just below", 6, Z_FIXED, 262143, 0},
      {"fixed, exactly 256 KiB", 6, Z_FIXED, 262144, 1},
      {"fixed, large", 6, Z_FIXED, 300000, 1},
      {"stored, small", 0, Z_DEFAULT_STRATEGY, 100000, 0},
      {"stored, large", 0, Z_DEFAULT_STRATEGY, 300000, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TBytes text = test::MakeText(c.textBytes, 7);
    const TBytes stream = test::Zlib(text, c.level, 15, c.strategy);
    ASSERT_FALSE(StartsDynamic(TBytes(stream.begin() + 2, stream.end())));
    TLayout layout;
    layout.Zeros(10);
    layout.Append(stream);
    layout.Zeros(70);
    for (bool headerless : {false, true}) {
      const TScanResult r = Scan(layout.Bytes(), headerless, false);
      EXPECT_EQ(r.Z, c.expectedZ);
      EXPECT_EQ(r.hless, 0) << "a failed header candidate is not retried as headerless";
      EXPECT_EQ(r.zin, c.expectedZ * static_cast<int64_t>(stream.size() - 6));
      EXPECT_EQ(r.zout, c.expectedZ * static_cast<int64_t>(text.size()));
    }
  }
}

TEST(StreamDetector, HeadersThatMakeNoCandidate) {
  const TBytes text = test::MakeText(20000);
  const TBytes good = test::Zlib(text);
  struct TCase {
    const char* name;
    uint8_t cmf, flg;
  };
  // Each header differs from a valid one in one rule; FLG's check bits are
  // recomputed so that only the named rule fails.
  auto withCheck = [](uint8_t cmf, uint8_t flgBase) {
    const unsigned rest = (cmf * 256u + flgBase) % 31u;
    return static_cast<uint8_t>(flgBase + (rest == 0 ? 0 : 31 - rest));
  };
  const TCase cases[] = {
      {"CINFO 0", 0x08, withCheck(0x08, 0x80)},
      {"CINFO 8", 0x88, withCheck(0x88, 0x80)},
      {"FDICT set", 0x78, withCheck(0x78, 0xA0)},
      {"CM 7", 0x77, withCheck(0x77, 0x80)},
      {"not a multiple of 31", 0x78, static_cast<uint8_t>(good[1] + 1)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TBytes stream = good;
    stream[0] = c.cmf;
    stream[1] = c.flg;
    TLayout layout;
    layout.Zeros(10);
    layout.Append(stream);
    layout.Zeros(70);
    const TScanResult r = Scan(layout.Bytes(), false, true);
    EXPECT_EQ(r.Z, 0);
    EXPECT_EQ(r.zin, 0);
  }
}

TEST(StreamDetector, PresetDictionaryStreamHasNoHeaderCandidate) {
  const TBytes dictionary = test::MakeText(2000, 3);
  const TBytes text = test::MakeText(20000, 4);
  const TBytes stream = test::Deflate(text, {6, 15, Z_DEFAULT_STRATEGY, &dictionary});
  ASSERT_NE(stream[1] & 0x20, 0);
  TLayout layout;
  layout.Zeros(10);
  layout.Append(stream);
  layout.Zeros(70);
  for (bool headerless : {false, true}) {
    for (bool accept : {false, true}) {
      EXPECT_EQ(Scan(layout.Bytes(), headerless, accept).Z, 0);
      ExpectSameAsReference(layout.Bytes(), headerless, accept);
    }
  }
}

TEST(StreamDetector, StreamCutByEndOfFileCountsOnlyWhenAccepted) {
  const TBytes text = test::MakeText(50000, 5);
  const TBytes full = test::Zlib(text);
  TLayout layout;
  layout.Zeros(10);
  const std::size_t at = layout.Append(TBytes(full.begin(), full.begin() + static_cast<long>(full.size() / 2)));
  const TBytes& bytes = layout.Bytes();

  EXPECT_EQ(Scan(bytes, false, false).Z, 0);
  const TScanResult r = Scan(bytes, false, true);
  EXPECT_EQ(r.Z, 1);
  EXPECT_EQ(r.zin, static_cast<int64_t>(bytes.size() - at - 2));  // up to the last byte
  EXPECT_GT(r.zout, 0);
  EXPECT_LT(r.zout, static_cast<int64_t>(text.size()));
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_FALSE(r.streams[0].Complete);
  ExpectSameAsReference(bytes, false, true);
  ExpectSameAsReference(bytes, true, true);
}

// Two blocks with a full flush between them, so that the second block
// header is byte-aligned; giving it the reserved block type makes the data
// invalid at a known byte, well after a good beginning.
TEST(StreamDetector, StreamThatTurnsInvalidCountsOnlyWhenAccepted) {
  const TBytes text = test::MakeText(50000, 6);
  z_stream s{};
  ASSERT_EQ(deflateInit(&s, 6), Z_OK);
  TBytes stream(deflateBound(&s, static_cast<uLong>(text.size())) + 64);
  s.next_in = const_cast<Bytef*>(text.data());
  s.avail_in = static_cast<uInt>(text.size() / 2);
  s.next_out = stream.data();
  s.avail_out = static_cast<uInt>(stream.size());
  ASSERT_EQ(deflate(&s, Z_FULL_FLUSH), Z_OK);
  const std::size_t secondBlock = s.total_out;
  s.avail_in = static_cast<uInt>(text.size() - text.size() / 2);
  ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  stream.resize(s.total_out);
  deflateEnd(&s);
  stream[secondBlock] |= 0x07;  // BFINAL 1, BTYPE 3 (reserved)

  TLayout layout;
  layout.Zeros(10);
  const std::size_t at = layout.Append(stream);
  layout.Zeros(100);

  const TScanResult strict = Scan(layout.Bytes(), false, false);
  EXPECT_EQ(strict.Z, 0);
  const TScanResult r = Scan(layout.Bytes(), false, true);
  ASSERT_GE(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].OffsetBytes, static_cast<int64_t>(at + 2));
  EXPECT_FALSE(r.streams[0].Complete);
  EXPECT_EQ(r.streams[0].InBytes, secondBlock + 1 - 2);  // up to the bad block header
  EXPECT_EQ(r.streams[0].OutBytes, text.size() / 2);
  ExpectSameAsReference(layout.Bytes(), false, true);
}

TEST(StreamDetector, TwoStreamsBackToBack) {
  const TBytes textA = test::MakeText(30000, 8);
  const TBytes textB = test::MakeText(12345, 9);
  const TBytes a = test::Zlib(textA, 9, 15);
  const TBytes b = test::Zlib(textB, 1, 12);
  TLayout layout;
  layout.Zeros(4);
  const std::size_t atA = layout.Append(a);
  const std::size_t atB = layout.Append(b);
  layout.Zeros(64);
  const TScanResult r = Scan(layout.Bytes(), false, false);
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[0].OffsetBytes, static_cast<int64_t>(atA + 2));
  EXPECT_EQ(r.streams[1].OffsetBytes, static_cast<int64_t>(atB + 2));
  EXPECT_EQ(r.Z, 2);
  EXPECT_EQ(r.w[15], 1);
  EXPECT_EQ(r.w[12], 1);
  EXPECT_EQ(r.l[3], 1);
  EXPECT_EQ(r.l[0], 1);
  EXPECT_EQ(r.zin, static_cast<int64_t>(a.size() + b.size() - 12));
  EXPECT_EQ(r.zout, static_cast<int64_t>(textA.size() + textB.size()));
}

// The scan goes on right after a stream's deflate data, not after its
// trailer: a stream whose trailer is missing, followed at once by another
// stream, must not hide the second. Once with a zlib stream next (its
// header at the first byte after the deflate data), once with raw deflate
// data there (Headerless).
TEST(StreamDetector, StreamRightAfterTheDeflateDataOfAnother) {
  const TBytes textA = test::MakeText(30000, 18);
  const TBytes textB = test::MakeText(20000, 19);
  TBytes cutA = test::Zlib(textA);
  cutA.resize(cutA.size() - 4);  // no Adler-32 trailer
  const TBytes zlibB = test::Zlib(textB, 6, 11);
  const TBytes rawB = test::Raw(textB);
  ASSERT_TRUE(StartsDynamic(rawB));
  struct TCase {
    const char* name;
    const TBytes& next;
    bool headerless;
    bool nextHasHeader;
  };
  for (const TCase& c : {TCase{"zlib stream next", zlibB, false, true}, TCase{"raw stream next", rawB, true, false}}) {
    SCOPED_TRACE(c.name);
    TLayout layout;
    layout.Zeros(7);
    const std::size_t atA = layout.Append(cutA);
    const std::size_t atB = layout.Append(c.next);
    layout.Zeros(64);
    const TScanResult r = Scan(layout.Bytes(), c.headerless, false);
    ASSERT_EQ(r.streams.size(), 2u);
    EXPECT_EQ(r.streams[0].OffsetBytes, static_cast<int64_t>(atA + 2));
    EXPECT_EQ(r.streams[0].InBytes, cutA.size() - 2);
    EXPECT_EQ(r.streams[1].OffsetBytes, static_cast<int64_t>(atB + (c.nextHasHeader ? 2 : 0)));
    EXPECT_EQ(r.streams[1].HasHeader, c.nextHasHeader);
    EXPECT_EQ(r.streams[1].OutBytes, textB.size());
    EXPECT_EQ(r.zout, static_cast<int64_t>(textA.size() + textB.size()));
    ExpectSameAsReference(layout.Bytes(), c.headerless, false);
  }
}

TEST(StreamDetector, RawDeflateNeedsHeaderlessAndADynamicFirstBlock) {
  const TBytes text = test::MakeText(40000, 10);
  const TBytes dynamic = test::Raw(text);
  const TBytes fixed = test::Raw(text, 6, Z_FIXED);
  ASSERT_TRUE(StartsDynamic(dynamic));
  TLayout layout;
  layout.Zeros(3);
  const std::size_t at = layout.Append(dynamic);
  layout.Zeros(5);
  layout.Append(fixed);
  layout.Zeros(64);

  const TScanResult off = Scan(layout.Bytes(), false, false);
  EXPECT_EQ(off.Z + off.hless, 0);

  const TScanResult on = Scan(layout.Bytes(), true, false);
  EXPECT_EQ(on.Z, 0);
  EXPECT_EQ(on.hless, 1);
  EXPECT_EQ(on.zin, static_cast<int64_t>(dynamic.size()));
  EXPECT_EQ(on.zout, static_cast<int64_t>(text.size()));
  ASSERT_EQ(on.streams.size(), 1u);
  EXPECT_EQ(on.streams[0].OffsetBytes, static_cast<int64_t>(at));
  EXPECT_FALSE(on.streams[0].HasHeader);
}

// Positions 0 .. Size-64 are tried: a stream cut to the block's size shows
// exactly where the loop stops.
TEST(StreamDetector, ShortBlocksAtTheLoopBound) {
  const TBytes text = test::MakeText(20000, 11);
  const TBytes zlibStream = test::Zlib(text);
  const TBytes rawStream = test::Raw(text);
  ASSERT_TRUE(StartsDynamic(rawStream));
  struct TCase {
    std::size_t size;
    bool raw;
    int64_t expectedStreams;
    int64_t expectedZin;
  };
  const TCase cases[] = {
      {63, true, 0, 0},  {64, true, 1, 64},   {65, true, 1, 65},
      {64, false, 0, 0}, {65, false, 0, 0},   {66, false, 1, 64},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "size=" << c.size << " raw=" << c.raw);
    const TBytes& source = c.raw ? rawStream : zlibStream;
    const TBytes block(source.begin(), source.begin() + static_cast<long>(c.size));
    const TScanResult r = Scan(block, c.raw, true);
    EXPECT_EQ(r.Z + r.hless, c.expectedStreams);
    EXPECT_EQ(r.zin, c.expectedZin);
    if (c.expectedStreams == 0) {
      EXPECT_EQ(r.zout, 0);
    }
  }
  EXPECT_EQ(Scan({}, true, true).zin, 0);
}

TEST(StreamDetector, RecordWithoutInflateStateAcceptsNothing) {
  const TBytes stream = test::Zlib(test::MakeText(20000));
  TLayout layout;
  layout.Zeros(10);
  layout.Append(stream);
  layout.Zeros(70);
  TScanState state;
  state.Options.Headerless = true;
  state.Options.AcceptIncomplete = true;
  z_stream record{};  // never started
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  ScanBlock(state, layout.Bytes().data(), static_cast<int64_t>(layout.Bytes().size()), &record,
            buffer.data());
  EXPECT_EQ(state.Z + state.hless + state.zin + state.zout, 0);
}

// Noise with streams of every kind dropped in: candidates of every sort,
// near misses, streams that overlap noise that looks like headers.
TBytes MixedBlock(uint32_t seed, std::size_t noiseBytes) {
  std::mt19937 rng(seed);
  TLayout layout;
  layout.Append(test::MakeNoise(noiseBytes, seed));
  const TBytes text = test::MakeText(30000, seed + 1);
  const TBytes whole = test::Zlib(text);
  const TBytes pieces[] = {
      test::Zlib(text, 9, 15),
      test::Zlib(text, 1, 10),
      test::Raw(text),
      TBytes(whole.begin(), whole.begin() + 5000),  // cut
      test::Zlib(test::MakeText(300000, seed + 2), 6, 15, Z_FIXED),
  };
  for (const TBytes& piece : pieces) {
    layout.Append(piece);
    layout.Append(test::MakeNoise(rng() % 3000, static_cast<uint32_t>(rng())));
  }
  return layout.Bytes();
}

TEST(StreamDetector, AgreesWithTheReferenceScanInEveryOptionCombination) {
  for (uint32_t seed : {21u, 22u}) {
    const TBytes block = MixedBlock(seed, 200000);
    for (bool headerless : {false, true}) {
      for (bool accept : {false, true}) ExpectSameAsReference(block, headerless, accept);
    }
  }
}

// With an external zlib bound, every candidate goes to that engine (the
// filters repeat the built-in zlib's checks). Here the "external" entries
// are the built-in ones, so the results must not change.
TEST(StreamDetector, SameResultsWhenAnExternalEngineServes) {
  const test::TFakeEngine engine;
  const TBytes block = MixedBlock(23, 50000);
  for (bool headerless : {false, true}) {
    for (bool accept : {false, true}) ExpectSameAsReference(block, headerless, accept);
  }
}

// An engine that inflates as zlib does in a trial's probe and fails every
// call after it: only an engine that decides each trial itself finds
// nothing with it.
int gCallsSinceReset = 0;
int ResetAndCount(z_stream* record) {
  gCallsSinceReset = 0;
  return inflateReset(record);
}
int FailAfterTheProbe(z_stream* record, int flush) {
  return ++gCallsSinceReset == 1 ? inflate(record, flush) : Z_DATA_ERROR;
}

// The fast inflate path stands in for the built-in zlib only: with an
// external engine serving the run, that engine decides every trial.
TEST(StreamDetector, ExternalEngineDecidesTrialsWithoutTheFastPath) {
  TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(test::MakeText(100000, 3)));
  layout.Zeros(10);
  ASSERT_EQ(Scan(layout.Bytes(), false, false).Z, 1) << "the built-in engine finds the stream";

  TScanResult r;
  {
    const test::TFakeEngine engine(&FailAfterTheProbe, &ResetAndCount);
    r = Scan(layout.Bytes(), false, false);
  }
  EXPECT_EQ(r.Z, 0);
  EXPECT_EQ(r.zout, 0);
}

TEST(StreamDetector, RestOfBlockOfferedInPiecesGivesTheSameResult) {
  const TBytes block = MixedBlock(31, 20000);
  for (uint64_t piece : {1ull, 13ull, 4096ull, 70000ull}) {
    for (bool accept : {false, true}) ExpectSameAsReference(block, true, accept, piece);
  }
}

}  // namespace
}  // namespace quarn
