// The candidate filters throw away positions before zlib sees them; they
// may only throw away what zlib's probe (64 input bytes) certainly
// rejects. These tests build deflate block headers bit by bit, one for
// each way a header can fail (and near misses that must pass), run zlib on
// each to confirm the fixture fails the way it claims, and check the
// filter's verdict against zlib's and the whole scan against the plain
// reference loop, at every alignment of the 64-position lanes. Headers
// whose deciding bit is the last probe bit, or the first bit after it,
// pin down the probe boundary.
#include "engine/candidate_filter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/stream_detector.h"
#include "engine/trial_inflation.h"
#include "inflate/engine_binding.h"
#include "inflate/inflate_record.h"
#include "tests/support/deflate_bits.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"
#include "tests/engine/detector_scan.h"

namespace quarn {
namespace {

using test::TBytes;
using test::TDynamicHeader;
using test::TSym;

// The code-length code most cases use; complete: 18 and 0 get two bits,
// 8 and 1 three, 16, 17, 9 and 2 four.
std::vector<unsigned> UsualClc() {
  std::vector<unsigned> lengths(19, 0);
  lengths[18] = 2;
  lengths[0] = 2;
  lengths[8] = 3;
  lengths[1] = 3;
  lengths[16] = 4;
  lengths[17] = 4;
  lengths[9] = 4;
  lengths[2] = 4;
  return lengths;
}

// The header's bits, zero-padded to at least `sizeBytes`.
TBytes HeaderBytes(const TDynamicHeader& h, std::size_t sizeBytes, std::size_t* bitCount = nullptr) {
  test::TBitWriter w;
  test::Write(w, h);
  if (bitCount != nullptr) *bitCount = w.BitCount();
  TBytes bytes = w.Bytes();
  bytes.resize(std::max(sizeBytes, bytes.size()), 0);
  return bytes;
}

// `count` zero lengths as runs of 18 (at most 138 each; count >= 11).
void Zeros(std::vector<TSym>& symbols, unsigned count) {
  while (count > 0) {
    const unsigned run = count > 138 && count - 138 < 11 ? count - 11 : std::min(count, 138u);
    symbols.push_back({18, run - 11});
    count -= run;
  }
}

void Lengths(std::vector<TSym>& symbols, std::initializer_list<unsigned> lengths) {
  for (const unsigned length : lengths) symbols.push_back({length});
}

// zlib's probe on the first bytes: its return code and message.
struct TZlibVerdict {
  int code = Z_OK;
  std::string message;
};

TZlibVerdict ZlibProbe(const TBytes& bytes) {
  TInflateRecord record;
  std::vector<uint8_t> out(kProbeOutputBytes);
  TZlibVerdict v;
  v.code = InflateProbe(bytes.data(), static_cast<int64_t>(bytes.size()), record.Get(), out.data());
  if (record.Get()->msg != nullptr) v.message = record.Get()->msg;
  return v;
}

// zlib's whole trial, as the scan makes it without the fast path: its last
// code and message.
TZlibVerdict ZlibTrial(const TBytes& bytes) {
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  const TTrialOutcome outcome =
      InflateTrial({bytes.data(), static_cast<int64_t>(bytes.size())}, 0, record.Get(), buffer.data());
  TZlibVerdict v;
  v.code = outcome.LastCode;
  if (record.Get()->msg != nullptr) v.message = record.Get()->msg;
  return v;
}

// ---------------------------------------------------------------------------
// The scan against the reference loop
// ---------------------------------------------------------------------------

// The fixture at every offset from 0 to 65 (so at every lane of the
// 64-position steps and across a step boundary), raw and after a zlib
// header, with 80 bytes after it, in all four option combinations.
void ExpectScansSameAsReference(const TBytes& fixture) {
  for (std::size_t offset = 0; offset <= 65; ++offset) {
    for (const bool withHeader : {false, true}) {
      SCOPED_TRACE(testing::Message() << "offset=" << offset << " zlib header=" << withHeader);
      TBytes bytes(offset, 0);
      if (withHeader) {
        bytes.push_back(0x78);  // CMF: CM 8, CINFO 7
        bytes.push_back(0x9C);  // FLG: level 2, no dictionary, check bits
      }
      bytes.insert(bytes.end(), fixture.begin(), fixture.end());
      bytes.resize(bytes.size() + 80, 0);
      for (const bool headerless : {false, true}) {
        for (const bool accept : {false, true}) test::ExpectSameAsReference(bytes, headerless, accept);
      }
      if (testing::Test::HasFailure()) return;
    }
  }
}

// ---------------------------------------------------------------------------
// Dynamic block headers
// ---------------------------------------------------------------------------

struct TCase {
  const char* name;
  TDynamicHeader header;
  const char* zlibMessage;  // how zlib's probe fails, or nullptr when it passes
};

// 257 literal/length codes and one distance code, unless a case says more.
TDynamicHeader Usual(std::vector<TSym> symbols, unsigned hlit = 0, unsigned hdist = 0) {
  TDynamicHeader h;
  h.hlit = hlit;
  h.hdist = hdist;
  h.clcLengths = UsualClc();
  h.symbols = std::move(symbols);
  return h;
}

// Literals 0..255 at nine bits, end-of-block at one bit: a complete code.
std::vector<TSym> CompleteLiterals() {
  std::vector<TSym> s;
  Lengths(s, {9});
  for (unsigned left = 255; left > 0;) {
    const unsigned run = left >= 9 || left <= 6 ? std::min(left, 6u) : 3;
    s.push_back({16, run - 3});
    left -= run;
  }
  Lengths(s, {1});
  return s;
}

std::vector<TSym> Join(std::vector<TSym> a, const std::vector<TSym>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<TCase> Cases() {
  std::vector<TCase> cases;
  auto zeros = [](unsigned count) {
    std::vector<TSym> s;
    Zeros(s, count);
    return s;
  };
  auto lengths = [](std::initializer_list<unsigned> l) {
    std::vector<TSym> s;
    Lengths(s, l);
    return s;
  };

  // A valid header, then zero bits: end-of-block right away.
  cases.push_back({"valid, one distance code of one bit", Usual(Join(CompleteLiterals(), lengths({1}))), nullptr});

  // HLIT and HDIST at and past zlib's limits (286 and 30 codes).
  {
    TDynamicHeader h = Usual(Join(Join(CompleteLiterals(), zeros(29)), lengths({1})), 29, 0);
    cases.push_back({"HLIT 29 (286 codes)", h, nullptr});
  }
  for (const unsigned hlit : {30u, 31u}) {
    TDynamicHeader h = Usual({}, hlit, 0);
    cases.push_back({hlit == 30 ? "HLIT 30" : "HLIT 31", h, "too many length or distance symbols"});
  }
  {
    TDynamicHeader h = Usual(Join(CompleteLiterals(), Join(lengths({1}), zeros(29))), 0, 29);
    cases.push_back({"HDIST 29 (30 codes)", h, nullptr});
  }
  for (const unsigned hdist : {30u, 31u}) {
    TDynamicHeader h = Usual({}, 0, hdist);
    cases.push_back({hdist == 30 ? "HDIST 30" : "HDIST 31", h, "too many length or distance symbols"});
  }

  // The code-length code.
  {
    TDynamicHeader h = Usual({});
    h.clcLengths.assign(19, 0);
    h.clcLengths[0] = h.clcLengths[8] = h.clcLengths[18] = 1;  // three one-bit codes
    cases.push_back({"code-length code over-subscribed", h, "invalid code lengths set"});
  }
  {
    TDynamicHeader h = Usual({});
    h.clcLengths.assign(19, 0);
    h.clcLengths[0] = 1;
    h.clcLengths[18] = 2;  // 3/4 of the code space
    cases.push_back({"code-length code incomplete", h, "invalid code lengths set"});
  }
  {
    TDynamicHeader h = Usual({});
    h.clcLengths.assign(19, 0);
    h.clcLengths[18] = 1;  // a single code
    cases.push_back({"code-length code of a single one-bit code", h, "invalid code lengths set"});
  }
  {
    // zlib reads every length as 0 at one bit each: 17 + 57 + 316 bits.
    TDynamicHeader h = Usual({}, 29, 29);
    h.clcLengths.assign(19, 0);
    h.hclenAtLeast = 15;
    cases.push_back({"code-length code all zero, longest header", h, "invalid code -- missing end-of-block"});
  }
  {
    TDynamicHeader h = Usual({});
    h.clcLengths.assign(19, 0);
    cases.push_back({"code-length code all zero, shortest header", h, "invalid code -- missing end-of-block"});
  }

  // The code lengths.
  cases.push_back({"repeat with no length before it", Usual({{16, 0}}), "invalid bit length repeat"});
  cases.push_back({"zeros past the last length", Usual(Join(zeros(138), {{18, 127}})),  // 138 + 138 > 258
                   "invalid bit length repeat"});
  cases.push_back({"repeat past the last length", Usual(Join(zeros(255), Join(lengths({1}), {{16, 0}}))),
                   "invalid bit length repeat"});  // 256 + 3 > 258
  cases.push_back({"no code for end-of-block", Usual(Join(zeros(257), lengths({1}))),
                   "invalid code -- missing end-of-block"});

  // The literal/length code.
  cases.push_back({"literal/length code over-subscribed", Usual(Join(zeros(254), lengths({1, 1, 1, 1}))),
                   "invalid literal/lengths set"});
  cases.push_back({"literal/length code incomplete", Usual(Join(zeros(255), lengths({1, 2, 1}))),
                   "invalid literal/lengths set"});
  cases.push_back({"literal/length code of one one-bit code", Usual(Join(zeros(256), lengths({1, 1}))), nullptr});
  cases.push_back({"literal/length code of one two-bit code", Usual(Join(zeros(256), lengths({2, 1}))),
                   "invalid literal/lengths set"});

  // The distance code.
  cases.push_back({"distance code over-subscribed", Usual(Join(zeros(255), lengths({1, 1, 1, 1, 1})), 0, 2),
                   "invalid distances set"});
  cases.push_back({"distance code incomplete", Usual(Join(zeros(255), lengths({1, 1, 1, 2})), 0, 1),
                   "invalid distances set"});
  cases.push_back({"distance code of one two-bit code", Usual(Join(zeros(255), lengths({1, 1, 2}))),
                   "invalid distances set"});
  cases.push_back({"distance code all zero", Usual(Join(zeros(255), lengths({1, 1, 0}))), nullptr});
  return cases;
}

TEST(CandidateFilter, DynamicHeadersFailWhereZlibFailsAndOnlyThere) {
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::size_t bitCount = 0;
    const TBytes fixture = HeaderBytes(c.header, kProbeInputBytes, &bitCount);
    ASSERT_LE(bitCount, 8u * kProbeInputBytes) << "the fixture must lie within the probe";

    const TZlibVerdict zlib = ZlibProbe(fixture);
    if (c.zlibMessage != nullptr) {
      EXPECT_EQ(zlib.code, Z_DATA_ERROR);
      EXPECT_EQ(zlib.message, c.zlibMessage);
    } else {
      EXPECT_TRUE(zlib.code == Z_OK || zlib.code == Z_STREAM_END) << zlib.code << " " << zlib.message;
    }
    EXPECT_EQ(detail::ProbeCertainlyFails(fixture.data()), c.zlibMessage != nullptr);
    ExpectScansSameAsReference(fixture);
  }
}

// The code lengths end, and the error shows, exactly at a chosen bit: the
// header (71 bits with the usual code-length code), `twos` lengths sent
// as "0" (two bits), `threes` as "8" (three bits), then one run of zeros
// (nine bits) to the last length; end-of-block gets no code. With
// `overrun` the run is one too long instead.
TDynamicHeader EndingAtBit(unsigned endBit, bool overrun) {
  constexpr unsigned kHeaderBits = 17 + 3 * 18;
  const unsigned symbolBits = endBit - kHeaderBits - 9;
  // 2a + 3b = symbolBits with a + b as large as allowed (the run needs 11).
  unsigned threes = symbolBits % 2;
  unsigned twos = (symbolBits - 3 * threes) / 2;
  while (twos + threes > 258 - 11) {
    twos -= 3;
    threes += 2;
  }
  std::vector<TSym> s;
  for (unsigned k = 0; k < twos; ++k) s.push_back({0});
  for (unsigned k = 0; k < threes; ++k) s.push_back({8});
  s.push_back({18, 258 - twos - threes - 11 + (overrun ? 1 : 0)});
  return Usual(s);
}

TEST(CandidateFilter, ErrorsDecidedAtTheLastProbeBitAreRejectedOnesJustPastAreNot) {
  struct TBoundary {
    const char* name;
    unsigned endBit;
    bool overrun;
    const char* zlibMessage;  // of the probe; nullptr: the probe passes
    const char* trialMessage;  // of zlib's whole trial
  };
  const TBoundary cases[] = {
      {"no end-of-block, decided at bit 512", 512, false, "invalid code -- missing end-of-block",
       "invalid code -- missing end-of-block"},
      {"no end-of-block, decided at bit 513", 513, false, nullptr, "invalid code -- missing end-of-block"},
      {"run past the end, decided at bit 512", 512, true, "invalid bit length repeat", "invalid bit length repeat"},
      {"run past the end, decided at bit 513", 513, true, nullptr, "invalid bit length repeat"},
  };
  for (const TBoundary& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t bitCount = 0;
    TBytes fixture = HeaderBytes(EndingAtBit(c.endBit, c.overrun), kProbeInputBytes, &bitCount);
    ASSERT_EQ(bitCount, c.endBit);
    // Ones after the header: they keep zlib from seeing a clean end, and
    // past the probe they are where the rest of the file goes on.
    fixture.resize(96, 0xFF);

    const TZlibVerdict zlib = ZlibProbe(fixture);
    if (c.zlibMessage != nullptr) {
      EXPECT_EQ(zlib.code, Z_DATA_ERROR);
      EXPECT_EQ(zlib.message, c.zlibMessage);
    } else {
      EXPECT_EQ(zlib.code, Z_OK) << zlib.message;
    }
    EXPECT_EQ(detail::ProbeCertainlyFails(fixture.data()), c.zlibMessage != nullptr);
    // The whole trial fails either way: a scan of complete streams only
    // drops both.
    const TZlibVerdict trial = ZlibTrial(fixture);
    EXPECT_EQ(trial.code, Z_DATA_ERROR);
    EXPECT_EQ(trial.message, c.trialMessage);
    EXPECT_TRUE(detail::TrialCertainlyFails(fixture.data(), static_cast<int64_t>(fixture.size())));
    ExpectScansSameAsReference(fixture);
  }
}

// Where only complete streams count (AcceptIncomplete off), a dynamic
// block header is followed past the probe to the end of the input: a
// header that zlib rejects there, or that the input ends inside, can never
// end a stream. Each fixture's probe passes in zlib; its whole trial is
// asserted beside the filter's verdict, and the scans, with the input
// ending right behind the fixture, against the reference loop.
TEST(CandidateFilter, PastTheProbeHeadersAreFollowedToTheEndOfTheInput) {
  // A complete header of 286 and 30 codes, every length sent on its own
  // (1,300 bits or so), then five literals and end-of-block: a whole
  // stream.
  const std::vector<unsigned> litlen = test::UsualLitlenLengths();
  const std::vector<unsigned> dist = test::UsualDistLengths();
  std::size_t headerBits = 0;
  const auto stream = [&](const std::vector<unsigned>& litlenLengths, const std::vector<unsigned>& distLengths) {
    test::TBitWriter w;
    test::Write(w, test::HeaderFor(litlenLengths, distLengths));
    headerBits = w.BitCount();
    const test::TCode code(litlen);
    for (const char c : std::string("quarn")) code.Put(w, static_cast<uint8_t>(c));
    code.Put(w, 256);
    EXPECT_GT(headerBits, 2u * 8u * kProbeInputBytes) << "the header must run well past the probe";
    return w.Bytes();
  };
  std::vector<unsigned> incomplete = litlen;
  incomplete[285] = 7;  // one code of six bits now of seven: half its space is left unused
  std::vector<unsigned> distOversubscribed = dist;
  distOversubscribed[29] = 4;

  struct TPastProbe {
    const char* name;
    TBytes bytes;
    int trialCode;            // zlib's last code for the whole trial
    const char* trialMessage;  // and its message, when it failed on the data
  };
  const TBytes whole = stream(litlen, dist);
  // Up to the byte that holds the header's last bit.
  const TBytes headerOnly(whole.begin(), whole.begin() + static_cast<long>((headerBits + 7) / 8));
  ASSERT_LT(headerOnly.size(), whole.size());
  const TPastProbe cases[] = {
      {"a whole stream", whole, Z_STREAM_END, nullptr},
      {"literal/length code incomplete", stream(incomplete, dist), Z_DATA_ERROR, "invalid literal/lengths set"},
      {"distance code over-subscribed", stream(litlen, distOversubscribed), Z_DATA_ERROR, "invalid distances set"},
      {"the input ends inside the header", TBytes(whole.begin(), whole.begin() + 100), Z_BUF_ERROR, nullptr},
      {"the input ends after the header, before end-of-block", headerOnly, Z_BUF_ERROR, nullptr},
  };
  for (const TPastProbe& c : cases) {
    SCOPED_TRACE(c.name);
    const TZlibVerdict probe = ZlibProbe(c.bytes);
    EXPECT_EQ(probe.code, Z_OK) << probe.message;
    const TZlibVerdict trial = ZlibTrial(c.bytes);
    EXPECT_EQ(trial.code, c.trialCode);
    if (c.trialMessage != nullptr) {
      EXPECT_EQ(trial.message, c.trialMessage);
    }

    EXPECT_FALSE(detail::ProbeCertainlyFails(c.bytes.data()));
    const bool ends = c.trialCode == Z_STREAM_END;
    // The header of the cut-off stream just before end-of-block is whole:
    // only the fast path and zlib see that the input runs out there.
    const bool headerDecides = !ends && std::string(c.name) != "the input ends after the header, before end-of-block";
    EXPECT_EQ(detail::TrialCertainlyFails(c.bytes.data(), static_cast<int64_t>(c.bytes.size())), headerDecides);

    for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64}}) {
      TBytes bytes(offset, 0);
      bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
      for (const bool headerless : {false, true}) {
        for (const bool accept : {false, true}) test::ExpectSameAsReference(bytes, headerless, accept);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Other block types: only header candidates reach them.
// ---------------------------------------------------------------------------

TEST(CandidateFilter, StoredAndReservedBlocks) {
  struct TBlock {
    const char* name;
    TBytes bytes;
    const char* zlibMessage;
  };
  const TBlock cases[] = {
      // BFINAL 1, BTYPE 0, then LEN 5 and NLEN its complement, 5 bytes.
      {"stored, lengths match", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'q', 'u', 'a', 'r', 'n'}, nullptr},
      {"stored, NLEN one off", {0x01, 0x05, 0x00, 0xFB, 0xFF, 'q', 'u', 'a', 'r', 'n'}, "invalid stored block lengths"},
      {"stored, LEN high byte off", {0x00, 0x05, 0x01, 0xFA, 0xFF, 'q', 'u', 'a', 'r', 'n'}, "invalid stored block lengths"},
      {"reserved block type, BFINAL 0", {0x06}, "invalid block type"},
      {"reserved block type, BFINAL 1", {0x07}, "invalid block type"},
  };
  for (const TBlock& c : cases) {
    SCOPED_TRACE(c.name);
    TBytes fixture = c.bytes;
    fixture.resize(kProbeInputBytes, 0);
    const TZlibVerdict zlib = ZlibProbe(fixture);
    if (c.zlibMessage != nullptr) {
      EXPECT_EQ(zlib.code, Z_DATA_ERROR);
      EXPECT_EQ(zlib.message, c.zlibMessage);
    } else {
      EXPECT_TRUE(zlib.code == Z_OK || zlib.code == Z_STREAM_END) << zlib.message;
    }
    EXPECT_EQ(detail::ProbeCertainlyFails(fixture.data()), c.zlibMessage != nullptr);
    ExpectScansSameAsReference(fixture);
  }
}

// Fixed-code blocks, bit by bit: each way zlib fails on one, near misses
// that pass, and errors just inside and just past the probe's 64 bytes and
// its 4,096 bytes of output. zlib's probe and whole trial are asserted
// beside the filters' verdicts, and the scans (a zlib header before the
// block, the input ending right behind it) against the reference loop.
TEST(CandidateFilter, FixedCodeBlocksFailWhereZlibFails) {
  const test::TCode litlen = test::FixedLitlenCode();
  const test::TCode dist = test::FixedDistCode();
  using TBody = std::function<void(test::TBitWriter&)>;
  const auto literals = [&](test::TBitWriter& w, unsigned eightBit, unsigned nineBit) {
    for (unsigned k = 0; k < eightBit; ++k) litlen.Put(w, 'a');  // 0..143: eight bits
    for (unsigned k = 0; k < nineBit; ++k) litlen.Put(w, 200);   // 144..255: nine bits
  };
  struct TFixed {
    const char* name;
    bool final;
    TBody body;
    std::size_t sizeBytes;     // zero bytes follow the body up to this size
    const char* probeMessage;  // how zlib's probe fails; nullptr: it passes
    int trialCode;             // zlib's whole trial
    const char* trialMessage;  // its message, when it failed on the data
    bool trialFails;           // TrialCertainlyFails
  };
  const TFixed cases[] = {
      {"a literal and a match at distance 1", true,
       [&](test::TBitWriter& w) {
         litlen.Put(w, 'a');
         test::PutMatch(w, litlen, dist, 10, 1);
         litlen.Put(w, 256);
       },
       64, nullptr, Z_STREAM_END, nullptr, false},
      {"a match at the start of the stream", true, [&](test::TBitWriter& w) { test::PutMatch(w, litlen, dist, 3, 1); },
       64, "invalid distance too far back", Z_DATA_ERROR, "invalid distance too far back", true},
      {"distance 4 after four bytes", true,
       [&](test::TBitWriter& w) {
         literals(w, 4, 0);
         test::PutMatch(w, litlen, dist, 3, 4);
         litlen.Put(w, 256);
       },
       64, nullptr, Z_STREAM_END, nullptr, false},
      {"distance 5 after four bytes", true,
       [&](test::TBitWriter& w) {
         literals(w, 4, 0);
         test::PutMatch(w, litlen, dist, 3, 5);
       },
       64, "invalid distance too far back", Z_DATA_ERROR, "invalid distance too far back", true},
      {"symbol 286", true, [&](test::TBitWriter& w) { litlen.Put(w, 286); }, 64, "invalid literal/length code",
       Z_DATA_ERROR, "invalid literal/length code", true},
      {"symbol 287 after a literal", false,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         litlen.Put(w, 287);
       },
       64, "invalid literal/length code", Z_DATA_ERROR, "invalid literal/length code", true},
      {"distance code 30", true,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         litlen.Put(w, 257);
         dist.Put(w, 30);
       },
       64, "invalid distance code", Z_DATA_ERROR, "invalid distance code", true},
      {"distance code 31", true,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         litlen.Put(w, 257);
         dist.Put(w, 31);
       },
       64, "invalid distance code", Z_DATA_ERROR, "invalid distance code", true},
      {"block type 3 after a block that is not the last", false,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         litlen.Put(w, 256);
         w.Bits(1, 1);
         w.Bits(3, 2);
       },
       64, "invalid block type", Z_DATA_ERROR, "invalid block type", true},
      {"a fixed block after a block that is not the last", false,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         litlen.Put(w, 256);
         w.Bits(1, 1);
         w.Bits(1, 2);
         literals(w, 1, 0);
         litlen.Put(w, 256);
       },
       64, nullptr, Z_STREAM_END, nullptr, false},
      // 3 + 57 * 8 + 5 * 9 + 8 = 512: the bad symbol's last bit is the
      // probe's last.
      {"symbol 286 ending at bit 512", true,
       [&](test::TBitWriter& w) {
         literals(w, 57, 5);
         litlen.Put(w, 286);
       },
       64, "invalid literal/length code", Z_DATA_ERROR, "invalid literal/length code", true},
      {"symbol 286 ending at bit 513", true,
       [&](test::TBitWriter& w) {
         literals(w, 56, 6);
         litlen.Put(w, 286);
       },
       65, nullptr, Z_DATA_ERROR, "invalid literal/length code", true},
      {"a bad distance after the probe's 4,096 bytes of output", true,
       [&](test::TBitWriter& w) {
         literals(w, 1, 0);
         for (int k = 0; k < 16; ++k) test::PutMatch(w, litlen, dist, 258, 1);
         test::PutMatch(w, litlen, dist, 3, 32768);
       },
       64, nullptr, Z_DATA_ERROR, "invalid distance too far back", true},
      {"the input ends inside the block", true, [&](test::TBitWriter& w) { literals(w, 100, 0); }, 101, nullptr,
       Z_BUF_ERROR, nullptr, true},
      // Past what the filter looks at (256 bytes), the trial is left to zlib.
      {"the input ends inside the block, past 256 bytes", true, [&](test::TBitWriter& w) { literals(w, 300, 0); }, 301,
       nullptr, Z_BUF_ERROR, nullptr, false},
  };
  for (const TFixed& c : cases) {
    SCOPED_TRACE(c.name);
    test::TBitWriter w;
    w.Bits(c.final ? 1 : 0, 1);
    w.Bits(1, 2);  // BTYPE 1: fixed codes
    c.body(w);
    TBytes fixture = w.Bytes();
    ASSERT_LE(fixture.size(), c.sizeBytes);
    fixture.resize(c.sizeBytes, 0);

    const TZlibVerdict probe = ZlibProbe(fixture);
    if (c.probeMessage != nullptr) {
      EXPECT_EQ(probe.code, Z_DATA_ERROR);
      EXPECT_EQ(probe.message, c.probeMessage);
    } else {
      EXPECT_TRUE(probe.code == Z_OK || probe.code == Z_STREAM_END) << probe.code << " " << probe.message;
    }
    const TZlibVerdict trial = ZlibTrial(fixture);
    EXPECT_EQ(trial.code, c.trialCode) << trial.message;
    if (c.trialMessage != nullptr) {
      EXPECT_EQ(trial.message, c.trialMessage);
    }
    EXPECT_EQ(detail::ProbeCertainlyFails(fixture.data()), c.probeMessage != nullptr);
    EXPECT_EQ(detail::TrialCertainlyFails(fixture.data(), static_cast<int64_t>(fixture.size())), c.trialFails);

    for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{62}, std::size_t{63}}) {
      TBytes bytes(offset, 0);
      bytes.push_back(0x78);  // CMF: CM 8, CINFO 7
      bytes.push_back(0x9C);  // FLG: level 2, no dictionary, check bits
      bytes.insert(bytes.end(), fixture.begin(), fixture.end());
      for (const bool headerless : {false, true}) {
        for (const bool accept : {false, true}) test::ExpectSameAsReference(bytes, headerless, accept);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Noise: every candidate the filters drop, checked against zlib's probe.
// ---------------------------------------------------------------------------

TEST(CandidateFilter, EveryDroppedCandidateInNoiseFailsZlibsProbe) {
  const TBytes noise = test::MakeNoise(1 << 20, 41);
  z_stream s{};
  inflateInit2(&s, -15);
  std::vector<uint8_t> out(4096);
  int64_t dropped = 0;
  int64_t kept = 0;
  for (std::size_t pos = 0; pos + 64 <= noise.size(); ++pos) {
    const uint8_t* p = noise.data() + pos;
    if (!detail::IsDynamicBlockStart(p[0]) && !(pos >= 2 && detail::IsHeaderCandidate(p - 2))) continue;
    if (!detail::ProbeCertainlyFails(p)) {
      ++kept;
      continue;
    }
    ++dropped;
    inflateReset(&s);
    s.next_in = const_cast<Bytef*>(p);
    s.avail_in = 64;
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int code = inflate(&s, Z_SYNC_FLUSH);
    ASSERT_TRUE(code != Z_OK && code != Z_STREAM_END) << "dropped position " << pos;
  }
  inflateEnd(&s);
  // A filter that dropped nothing would pass the check above; in noise it
  // drops most candidates.
  EXPECT_GT(dropped, kept);
}

// NextCandidate, from every start position, against the same tests made
// one position at a time; blocks of sizes around multiples of the 64-lane
// step end at a guard page, so a lane that reads one byte too far crashes.
TEST(CandidateFilter, NextCandidateFindsTheFirstPositionTheScalarTestsKeep) {
  const TBytes text = test::MakeText(2000, 45);
  TBytes source = test::MakeNoise(90, 46);
  for (const TBytes& piece : {test::Raw(text), test::Zlib(text), test::MakeNoise(100, 47), test::Raw(text)}) {
    source.insert(source.end(), piece.begin(), piece.begin() + std::min<long>(150, static_cast<long>(piece.size())));
  }
  // Positions that are kept close together: zlib headers each followed by
  // a fixed-code block start (left to zlib), and valid dynamic headers.
  for (int k = 0; k < 40; ++k) source.insert(source.end(), {0x78, 0x9C, 0x02});
  const TBytes validDynamic = HeaderBytes(Usual(Join(CompleteLiterals(), {{1}})), 0);
  for (int k = 0; k < 4; ++k) source.insert(source.end(), validDynamic.begin(), validDynamic.end());
  const TBytes noise = test::MakeNoise(70, 48);
  source.insert(source.end(), noise.begin(), noise.end());
  for (int64_t size = 63; size <= static_cast<int64_t>(source.size()); size += size < 200 ? 1 : 5) {
    const TBytes bytes(source.begin(), source.begin() + size);
    test::TGuardedBuffer block(bytes);
    const uint8_t* memory = block.Data();
    for (const bool headerless : {false, true}) {
      for (const bool accept : {false, true}) {
        for (const int64_t end : {size - 63, size - 64, size - 100, size}) {
          const int64_t lastTried = std::min(end, size - 63);
          // want[pos]: the first kept position at or after pos, by the scalar tests.
          std::vector<int64_t> want(static_cast<std::size_t>(std::max<int64_t>(lastTried, 0)) + 1, lastTried);
          for (int64_t p = lastTried - 1; p >= 0; --p) {
            const bool header = p >= 2 && detail::IsHeaderCandidate(memory + p - 2);
            const bool candidate = header || (headerless && detail::IsDynamicBlockStart(memory[p]));
            const bool fails = accept ? detail::ProbeCertainlyFails(memory + p)
                                      : detail::TrialCertainlyFails(memory + p, size - p);
            want[static_cast<std::size_t>(p)] = candidate && !fails ? p : want[static_cast<std::size_t>(p + 1)];
          }
          for (const detail::TFilterLanes width : {detail::TFilterLanes::Widest, detail::TFilterLanes::Sse2}) {
            for (int64_t pos = 0; pos < lastTried; ++pos) {
              ASSERT_EQ(detail::NextCandidate({memory, size}, {pos, end}, headerless, accept, width),
                        want[static_cast<std::size_t>(pos)])
                  << "size=" << size << " end=" << end << " pos=" << pos << " headerless=" << headerless
                  << " accept incomplete=" << accept << " SSE2 only=" << (width == detail::TFilterLanes::Sse2);
            }
            EXPECT_EQ(detail::NextCandidate({memory, size}, {lastTried + 5, end}, headerless, accept, width),
                      lastTried + 5);
          }
        }
      }
    }
  }
}

// The wide lanes (AVX2) and SSE2's find the same positions in a long run
// of noise, where every kind of lane turns up: zlib headers, dynamic block
// starts with HLIT, HDIST and HCLEN of every value, complete code-length
// codes. Both must find exactly the positions that the scalar tests keep.
TEST(CandidateFilter, WideAndNarrowLanesFindTheSamePositionsInNoise) {
  if (!detail::ProcessorHasAvx2()) GTEST_SKIP() << "no AVX2 on this processor: only SSE2 lanes are used";
  const TBytes noise = test::MakeNoise(4 << 20, 49);
  test::TGuardedBuffer block(noise);
  const uint8_t* memory = block.Data();
  const int64_t size = static_cast<int64_t>(noise.size());
  for (const bool headerless : {false, true}) {
    for (const bool accept : {false, true}) {
      SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " accept incomplete=" << accept);
      std::vector<int64_t> want;
      for (int64_t p = 0; p < size - 63; ++p) {
        const bool header = p >= 2 && detail::IsHeaderCandidate(memory + p - 2);
        const bool candidate = header || (headerless && detail::IsDynamicBlockStart(memory[p]));
        const bool fails = accept ? detail::ProbeCertainlyFails(memory + p)
                                  : detail::TrialCertainlyFails(memory + p, size - p);
        if (candidate && !fails) want.push_back(p);
      }
      // Few candidates reach zlib in 4 MiB of noise (a dozen or so without
      // Headerless, a few hundred with it and AcceptIncomplete), but some
      // do: the search must stop at each.
      EXPECT_GT(want.size(), 5u);
      want.push_back(size - 63);  // where the search ends
      for (const detail::TFilterLanes width : {detail::TFilterLanes::Widest, detail::TFilterLanes::Sse2}) {
        int64_t pos = 0;
        for (const int64_t next : want) {
          pos = detail::NextCandidate({memory, size}, {pos, size}, headerless, accept, width);
          ASSERT_EQ(pos, next) << "SSE2 only=" << (width == detail::TFilterLanes::Sse2);
          ++pos;
        }
      }
    }
  }
}

// Range ends that cut a 64-position step: TScanner::FindStreams against the reference
// loop's own range scan.
TEST(CandidateFilter, RangesAgreeWithTheReferenceLoop) {
  const TBytes text = test::MakeText(3000, 42);
  TBytes bytes = test::MakeNoise(300, 43);
  const TBytes raw = test::Raw(text);
  bytes.insert(bytes.end(), raw.begin(), raw.end());
  const TBytes tail = test::MakeNoise(200, 44);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  const int64_t size = static_cast<int64_t>(bytes.size());
  test::TGuardedBuffer block(bytes);
  for (const bool headerless : {false, true}) {
    for (const int64_t from : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{63}, int64_t{300}, size - 100}) {
      for (int64_t to = from; to <= size; to += 37) {
        SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " from=" << from << " to=" << to);
        TCollectSink sink;
        TScanOptions options;
        options.Headerless = headerless;
        options.AcceptIncomplete = true;
        const int64_t end = TScanner(options).FindStreams({block.Data(), size}, {from, to}, sink);
        const test::TReferenceResult want =
            test::ReferenceScanRange(bytes.data(), size, from, to, headerless, true);
        EXPECT_EQ(end, want.endPosition);
        EXPECT_EQ(test::StreamDifferences(sink.Streams, want.streams), "");
      }
    }
  }
}

}  // namespace
}  // namespace quarn
