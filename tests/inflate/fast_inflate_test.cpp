// The fast inflate path may answer "complete" only where zlib's trial
// reaches Z_STREAM_END with the same total_in and total_out. These tests
// build deflate data bit by bit, one fixture for each rule zlib enforces
// (and the near miss that zlib accepts), assert zlib's own verdict beside
// it so a fixture cannot silently test something else, and check that the
// fast path says "complete" with zlib's totals exactly where zlib ends the
// stream, and "don't know" everywhere else. Each rule is placed in the
// first block and again in a block after a valid dynamic block of 40,000
// bytes of output, where zlib's window is full and its state comes from
// earlier calls. Input sits right before an inaccessible page, so a read
// past the last byte crashes. Streams made by zlib itself, cut and with
// bits flipped, extend the comparison to what real encoders emit.
#include "inflate/fast_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/deflate_bits.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::PutMatch;
using test::PutRun;
using test::TBitWriter;
using test::TBytes;
using test::TCode;
using test::TDynamicHeader;
using test::TSym;

// Asks both and checks the fast path against zlib; returns zlib's verdict.
test::TZlibVerdict CheckAgainstZlib(TFastInflater& inflater, const TBytes& data, bool mustBeComplete) {
  const test::TGuardedBuffer guarded(data);
  const test::TZlibVerdict zlib = test::ZlibVerdict(guarded.Data(), static_cast<uint64_t>(guarded.Size()));
  const TFastInflateResult fast = inflater.Inflate(guarded.Data(), static_cast<uint64_t>(guarded.Size()));
  if (fast.Complete) {
    EXPECT_EQ(zlib.code, Z_STREAM_END) << "the fast path was more lenient than zlib";
    EXPECT_EQ(fast.InBytes, zlib.totalIn);
    EXPECT_EQ(fast.OutBytes, zlib.totalOut);
  }
  if (mustBeComplete) {
    EXPECT_TRUE(fast.Complete) << "a stream zlib completes was handed back";
  }
  return zlib;
}

// ---------------------------------------------------------------------------
// Rule fixtures
// ---------------------------------------------------------------------------

const TCode& UsualLitlen() {
  static const TCode code(test::UsualLitlenLengths());
  return code;
}
const TCode& UsualDist() {
  static const TCode code(test::UsualDistLengths());
  return code;
}

// A dynamic block with the usual codes and whatever `body` writes, ended by
// end-of-block.
void UsualBlock(TBitWriter& w, bool final, const std::function<void(TBitWriter&)>& body) {
  test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths(), final));
  body(w);
  UsualLitlen().Put(w, 256);
}

// The valid block before a later-block placement: 40,000 bytes of output
// from literals and matches at several distances.
constexpr uint64_t kPrefixOutputBytes = 40000;
void WritePrefixBlock(TBitWriter& w) {
  UsualBlock(w, false, [](TBitWriter& b) {
    for (unsigned k = 0; k < 1000; ++k) UsualLitlen().Put(b, (k * 7) & 0xFFu);
    uint64_t out = 1000;
    const unsigned distances[] = {1, 100, 999, 37};
    for (unsigned k = 0; out + 258 <= kPrefixOutputBytes - 10; ++k, out += 258) {
      PutMatch(b, UsualLitlen(), UsualDist(), 258, distances[k % 4]);
    }
    for (; out < kPrefixOutputBytes; ++out) UsualLitlen().Put(b, 'p');
  });
}

// The usual code's lengths with some changed.
std::vector<unsigned> LitlenWith(std::initializer_list<std::pair<unsigned, unsigned>> changes) {
  std::vector<unsigned> lengths = test::UsualLitlenLengths();
  for (const auto& [symbol, length] : changes) {
    if (symbol >= lengths.size()) lengths.resize(symbol + 1, 0);
    lengths[symbol] = length;
  }
  return lengths;
}
std::vector<unsigned> DistWith(std::initializer_list<std::pair<unsigned, unsigned>> changes) {
  std::vector<unsigned> lengths = test::UsualDistLengths();
  for (const auto& [symbol, length] : changes) {
    if (symbol >= lengths.size()) lengths.resize(symbol + 1, 0);
    lengths[symbol] = length;
  }
  return lengths;
}

// A final dynamic block with these codes: a few literals, a match if the
// distance code has codes, end-of-block. Codes zlib rejects are written
// the same way; zlib stops at the header.
void BlockWithCodes(TBitWriter& w, const std::vector<unsigned>& litlenLengths, const std::vector<unsigned>& distLengths) {
  test::Write(w, test::HeaderFor(litlenLengths, distLengths));
  std::vector<unsigned> litlen = litlenLengths;
  litlen.resize(288, 0);
  const TCode lit(litlen);
  std::vector<unsigned> dist = distLengths;
  dist.resize(32, 0);
  const TCode d(dist);
  for (const unsigned c : {97u, 98u, 99u}) {
    if (litlen[c] != 0) lit.Put(w, c);
  }
  if (litlen[258] != 0 && dist[0] != 0) {
    lit.Put(w, 258);  // length 4 at distance 1
    d.Put(w, 0);
  }
  if (litlen[256] != 0) lit.Put(w, 256);
}

void HeaderBlock(TBitWriter& w, TDynamicHeader h) {
  h.final = true;
  test::Write(w, h);
  UsualLitlen().Put(w, 'x');
  UsualLitlen().Put(w, 256);
}

// The usual header with its code-length code replaced.
TDynamicHeader WithClc(std::vector<unsigned> clcLengths) {
  TDynamicHeader h = test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths());
  h.clcLengths = std::move(clcLengths);
  return h;
}

// The usual header with the symbols that code the lengths given by hand.
TDynamicHeader WithSymbols(unsigned hlit, unsigned hdist, std::vector<TSym> symbols) {
  TDynamicHeader h;
  h.hlit = hlit;
  h.hdist = hdist;
  h.symbols = std::move(symbols);
  return h;
}

// The usual code's lengths as symbols, with a run of 16s for the six-bit
// lengths 258..285 (28 of them: one length, then 16s of 6, 6, 6, 6, 3).
std::vector<TSym> UsualSymbolsWithRepeats() {
  std::vector<TSym> s;
  for (unsigned k = 0; k < 256; ++k) s.push_back({9});
  s.push_back({5});
  s.push_back({5});
  s.push_back({6});
  for (unsigned k = 0; k < 4; ++k) s.push_back({16, 3});
  s.push_back({16, 0});
  for (const unsigned length : test::UsualDistLengths()) s.push_back({length});
  return s;
}

void FixedBlockHeader(TBitWriter& w, bool final = true) {
  w.Bits(final ? 1 : 0, 1);
  w.Bits(1, 2);
}

void StoredBlock(TBitWriter& w, unsigned len, unsigned nlen, bool final = true) {
  w.Bits(final ? 1 : 0, 1);
  w.Bits(0, 2);
  w.AlignToByte();
  w.Bits(len, 16);
  w.Bits(nlen, 16);
  for (unsigned k = 0; k < len; ++k) w.Bits(k & 0xFFu, 8);
}

// `count` bytes then a match at `distance`, in a final block of the usual codes.
void OutputThenMatch(TBitWriter& w, uint64_t count, unsigned distance) {
  UsualBlock(w, true, [&](TBitWriter& b) {
    PutRun(b, UsualLitlen(), UsualDist(), count);
    PutMatch(b, UsualLitlen(), UsualDist(), 3, distance);
  });
}

struct TRuleCase {
  const char* name;
  std::function<void(TBitWriter&)> write;  // the final block, or blocks ending in one
  int zlibFirst;                           // zlib's code with the rule in the first block
  int zlibLater;                           // ... after the 40,000-byte block
  bool padding = true;                     // 64 zero bytes after the stream, so zlib does not run out first
  unsigned cutBytes = 0;                   // bytes cut from the end of the stream
};

constexpr int kEnd = Z_STREAM_END;
constexpr int kBad = Z_DATA_ERROR;
constexpr int kShort = Z_BUF_ERROR;

std::vector<TRuleCase> RuleCases() {
  using L = std::vector<unsigned>;
  std::vector<TRuleCase> cases = {
      // HLIT <= 29 and HDIST <= 29.
      {"HLIT 29, HDIST 29: 286 and 30 codes", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), test::UsualDistLengths()); }, kEnd, kEnd},
      {"HLIT 30: 287 codes", [](TBitWriter& w) { BlockWithCodes(w, LitlenWith({{285, 7}, {286, 7}}), test::UsualDistLengths()); }, kBad, kBad},
      {"HLIT 31: 288 codes", [](TBitWriter& w) { BlockWithCodes(w, LitlenWith({{285, 7}, {286, 8}, {287, 8}}), test::UsualDistLengths()); }, kBad, kBad},
      {"HDIST 30: 31 codes", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), DistWith({{29, 6}, {30, 6}})); }, kBad, kBad},
      {"HDIST 31: 32 codes", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), DistWith({{29, 6}, {30, 7}, {31, 7}})); }, kBad, kBad},
      // The code-length code must be complete.
      {"code-length code incomplete", [](TBitWriter& w) { HeaderBlock(w, WithClc([] { L c = test::EveryClcSymbol(); c[15] = 0; return c; }())); }, kBad, kBad},
      {"code-length code over-subscribed", [](TBitWriter& w) { HeaderBlock(w, WithClc([] { L c = test::EveryClcSymbol(); c[15] = 4; return c; }())); }, kBad, kBad},
      {"code-length code of one one-bit code", [](TBitWriter& w) {
         TDynamicHeader h = WithClc(L(19, 0));
         h.clcLengths[0] = 1;
         h.symbols.assign(286 + 30, TSym{0});
         HeaderBlock(w, h);
       }, kBad, kBad},
      {"code-length code all zero", [](TBitWriter& w) {
         TDynamicHeader h = WithClc(L(19, 0));
         h.symbols.clear();  // zlib reads every length as 0, one bit each
         test::Write(w, h);
       }, kBad, kBad},
      // Repeat code 16 needs a length before it; no repeat may run past the last length.
      {"repeats of the previous length", [](TBitWriter& w) { HeaderBlock(w, WithSymbols(29, 29, UsualSymbolsWithRepeats())); }, kEnd, kEnd},
      {"repeat 16 as the first symbol", [](TBitWriter& w) {
         std::vector<TSym> s = UsualSymbolsWithRepeats();
         s.insert(s.begin(), TSym{16, 0});
         HeaderBlock(w, WithSymbols(29, 29, s));
       }, kBad, kBad},
      {"repeat across the literal/length and distance lengths", [](TBitWriter& w) {
         // The last literal/length length and the first two distance
         // lengths are all 6, sent as 6 and one 16 of three.
         const L dist = {6, 6, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
         std::vector<TSym> s = UsualSymbolsWithRepeats();
         s.resize(256 + 2);
         for (unsigned k = 258; k < 285; ++k) s.push_back({6});
         s.push_back({16, 0});
         for (unsigned k = 2; k < dist.size(); ++k) s.push_back({dist[k]});
         test::Write(w, WithSymbols(29, static_cast<unsigned>(dist.size()) - 1, s));
         const TCode d(dist);
         UsualLitlen().Put(w, 'x');
         PutMatch(w, UsualLitlen(), d, 3, 1);
         UsualLitlen().Put(w, 256);
       }, kEnd, kEnd},
      {"repeat ending on the last length", [](TBitWriter& w) {
         std::vector<TSym> s = UsualSymbolsWithRepeats();
         s.resize(s.size() - 28);  // the distance lengths 5 of 2..29 as 5 and 16s
         s.push_back({5});
         for (unsigned k = 0; k < 4; ++k) s.push_back({16, 3});
         s.push_back({16, 0});
         HeaderBlock(w, WithSymbols(29, 29, s));
       }, kEnd, kEnd},
      {"repeat 16 past the last length", [](TBitWriter& w) {
         std::vector<TSym> s = UsualSymbolsWithRepeats();
         s.resize(s.size() - 2);
         s.push_back({16, 0});  // three copies where two lengths are left
         HeaderBlock(w, WithSymbols(29, 29, s));
       }, kBad, kBad},
      {"repeat 18 of zeros past the last length", [](TBitWriter& w) {
         std::vector<TSym> s = UsualSymbolsWithRepeats();
         s.resize(s.size() - 10);
         s.push_back({18, 0});  // eleven zeros where ten lengths are left
         HeaderBlock(w, WithSymbols(29, 29, s));
       }, kBad, kBad},
      // End-of-block must have a code.
      {"no code for end-of-block", [](TBitWriter& w) { BlockWithCodes(w, LitlenWith({{256, 0}, {257, 4}}), test::UsualDistLengths()); }, kBad, kBad},
      // Codes complete, except a single one-bit code; an empty distance code.
      {"literal/length code incomplete", [](TBitWriter& w) { BlockWithCodes(w, LitlenWith({{285, 0}}), test::UsualDistLengths()); }, kBad, kBad},
      {"literal/length code over-subscribed", [](TBitWriter& w) { BlockWithCodes(w, LitlenWith({{285, 5}}), test::UsualDistLengths()); }, kBad, kBad},
      {"literal/length code of one one-bit code", [](TBitWriter& w) {
         L lit(257, 0);
         lit[256] = 1;
         BlockWithCodes(w, lit, test::UsualDistLengths());
       }, kEnd, kEnd},
      {"one one-bit literal/length code, its unused half", [](TBitWriter& w) {
         L lit(257, 0);
         lit[256] = 1;
         test::Write(w, test::HeaderFor(lit, test::UsualDistLengths()));
         w.Code(1, 1);
       }, kBad, kBad},
      {"distance code incomplete", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), DistWith({{29, 0}})); }, kBad, kBad},
      {"distance code over-subscribed", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), DistWith({{29, 4}})); }, kBad, kBad},
      {"distance code of one one-bit code", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), L{1}); }, kEnd, kEnd},
      {"one one-bit distance code, its unused half", [](TBitWriter& w) {
         test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), L{1}));
         UsualLitlen().Put(w, 'x');
         UsualLitlen().Put(w, 257);
         w.Code(1, 1);
         UsualLitlen().Put(w, 256);
       }, kBad, kBad},
      {"empty distance code, literals only", [](TBitWriter& w) { BlockWithCodes(w, test::UsualLitlenLengths(), L{0}); }, kEnd, kEnd},
      {"empty distance code, a match", [](TBitWriter& w) {
         test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), L{0}));
         UsualLitlen().Put(w, 'x');
         UsualLitlen().Put(w, 257);
         UsualLitlen().Put(w, 256);
       }, kBad, kBad},
      // Fixed-code blocks: literal/length 286 and 287, distances 30 and 31.
      {"fixed codes: length 258 at distance 24,577 (symbols 285 and 29)", [](TBitWriter& w) {
         FixedBlockHeader(w);
         const TCode lit = test::FixedLitlenCode();
         for (unsigned k = 0; k < 24577; ++k) lit.Put(w, k & 0xFFu);
         lit.Put(w, 285);
         test::FixedDistCode().Put(w, 29);
         w.Bits(0, 13);
         lit.Put(w, 256);
       }, kEnd, kEnd},
      {"fixed codes: symbol 286", [](TBitWriter& w) { FixedBlockHeader(w); test::FixedLitlenCode().Put(w, 'x'); test::FixedLitlenCode().Put(w, 286); }, kBad, kBad},
      {"fixed codes: symbol 287", [](TBitWriter& w) { FixedBlockHeader(w); test::FixedLitlenCode().Put(w, 'x'); test::FixedLitlenCode().Put(w, 287); }, kBad, kBad},
      {"fixed codes: distance code 30", [](TBitWriter& w) {
         FixedBlockHeader(w);
         test::FixedLitlenCode().Put(w, 'x');
         test::FixedLitlenCode().Put(w, 257);
         test::FixedDistCode().Put(w, 30);
       }, kBad, kBad},
      {"fixed codes: distance code 31", [](TBitWriter& w) {
         FixedBlockHeader(w);
         test::FixedLitlenCode().Put(w, 'x');
         test::FixedLitlenCode().Put(w, 257);
         test::FixedDistCode().Put(w, 31);
       }, kBad, kBad},
      // No distance beyond the output so far.
      {"distance 1 after one byte", [](TBitWriter& w) { OutputThenMatch(w, 1, 1); }, kEnd, kEnd},
      {"distance 2 after one byte", [](TBitWriter& w) { OutputThenMatch(w, 1, 2); }, kBad, kEnd},
      {"distance 1 at the start of the stream", [](TBitWriter& w) { OutputThenMatch(w, 0, 1); }, kBad, kEnd},
      {"distance 32,767 after 32,767 bytes", [](TBitWriter& w) { OutputThenMatch(w, 32767, 32767); }, kEnd, kEnd},
      {"distance 32,768 after 32,767 bytes", [](TBitWriter& w) { OutputThenMatch(w, 32767, 32768); }, kBad, kEnd},
      {"distance 32,768 after 32,768 bytes", [](TBitWriter& w) { OutputThenMatch(w, 32768, 32768); }, kEnd, kEnd},
      {"distance 32,768 after 32,769 bytes", [](TBitWriter& w) { OutputThenMatch(w, 32769, 32768); }, kEnd, kEnd},
      {"distance back across a block of 100 bytes", [](TBitWriter& w) {
         UsualBlock(w, false, [](TBitWriter& b) { PutRun(b, UsualLitlen(), UsualDist(), 100); });
         OutputThenMatch(w, 0, 100);
       }, kEnd, kEnd},
      {"distance beyond a block of 100 bytes", [](TBitWriter& w) {
         UsualBlock(w, false, [](TBitWriter& b) { PutRun(b, UsualLitlen(), UsualDist(), 100); });
         OutputThenMatch(w, 0, 101);
       }, kBad, kEnd},
      // Stored blocks: NLEN is the complement of LEN; block type 3 is reserved.
      {"stored block", [](TBitWriter& w) { StoredBlock(w, 300, 300 ^ 0xFFFFu); }, kEnd, kEnd},
      {"empty stored block", [](TBitWriter& w) { StoredBlock(w, 0, 0xFFFF); }, kEnd, kEnd},
      {"stored block of 40,000 bytes", [](TBitWriter& w) { StoredBlock(w, 40000, 40000 ^ 0xFFFFu); }, kEnd, kEnd},
      {"stored block, NLEN not the complement of LEN", [](TBitWriter& w) { StoredBlock(w, 300, 300); }, kBad, kBad},
      {"block type 3", [](TBitWriter& w) { w.Bits(1, 1); w.Bits(3, 2); }, kBad, kBad},
      // Where the input ends.
      {"final block ending on the last bit of the last byte", [](TBitWriter& w) {
         UsualBlock(w, true, [](TBitWriter& b) {
           // A literal is 9 bits: add them until end-of-block (5) ends a byte.
           while ((b.BitCount() + 5) % 8 != 0) UsualLitlen().Put(b, 'e');
         });
       }, kEnd, kEnd, false},
      {"final block ending inside the last byte", [](TBitWriter& w) {
         UsualBlock(w, true, [](TBitWriter& b) {
           while ((b.BitCount() + 5) % 8 != 3) UsualLitlen().Put(b, 'e');
         });
       }, kEnd, kEnd, false},
      {"input ending inside the end-of-block code", [](TBitWriter& w) {
         UsualBlock(w, true, [](TBitWriter& b) {
           while ((b.BitCount() + 5) % 8 != 3) UsualLitlen().Put(b, 'e');
         });
       }, kShort, kShort, false, 1},
      {"input ending after a block that is not final", [](TBitWriter& w) {
         UsualBlock(w, false, [](TBitWriter& b) { UsualLitlen().Put(b, 'e'); });
       }, kShort, kShort, false},
      {"stored block cut short", [](TBitWriter& w) { StoredBlock(w, 300, 300 ^ 0xFFFFu); }, kShort, kShort, false, 1},
      {"stored block cut in its lengths", [](TBitWriter& w) { StoredBlock(w, 300, 300 ^ 0xFFFFu); }, kShort, kShort, false, 300 + 1},
      {"input ending inside a dynamic header", [](TBitWriter& w) { test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths())); }, kShort, kShort, false, 20},
  };
  return cases;
}

class FastInflateRules : public testing::TestWithParam<bool> {};

// Each rule fixture, alone and after a valid dynamic block of 40,000 bytes.
TEST_P(FastInflateRules, SaysCompleteExactlyWhereZlibDoes) {
  const bool later = GetParam();
  TFastInflater inflater;
  for (const TRuleCase& c : RuleCases()) {
    SCOPED_TRACE(c.name);
    TBitWriter w;
    if (later) WritePrefixBlock(w);
    c.write(w);
    TBytes data = w.Bytes();
    ASSERT_GE(data.size(), c.cutBytes);
    data.resize(data.size() - c.cutBytes);
    if (c.padding) data.resize(data.size() + 64, 0);
    const int expected = later ? c.zlibLater : c.zlibFirst;
    const test::TZlibVerdict zlib = CheckAgainstZlib(inflater, data, expected == Z_STREAM_END);
    EXPECT_EQ(zlib.code, expected) << "the fixture does not make zlib give the verdict it claims";
    if (expected == Z_STREAM_END && !c.padding) {
      EXPECT_EQ(zlib.totalIn, data.size());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, FastInflateRules, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? std::string("AfterA40000ByteBlock") : std::string("InTheFirstBlock");
                         });

// ---------------------------------------------------------------------------
// Streams made by zlib, whole, cut and corrupted
// ---------------------------------------------------------------------------

TBytes Repetitive(std::size_t sizeBytes) {
  TBytes out(sizeBytes);
  for (std::size_t k = 0; k < sizeBytes; ++k) out[k] = static_cast<uint8_t>(static_cast<std::size_t>("abcabcabd"[k % 9]) + (k / 50000) % 3);
  return out;
}

// Every level and strategy, sizes around the buffer and the window, so
// that the output slides and matches reach back across it.
TEST(FastInflate, CompletesEveryStreamZlibMakesWithItsTotals) {
  TFastInflater inflater;
  const std::size_t sizes[] = {0, 1, 257, 32768, 32769, 100000, kFastInflateBufferBytes - 1, kFastInflateBufferBytes + 33000,
                               1500000};
  for (int level = 0; level <= 9; level += 3) {
    for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
      for (const std::size_t size : sizes) {
        for (const bool repetitive : {false, true}) {
          SCOPED_TRACE(testing::Message() << "level " << level << " strategy " << strategy << " size " << size
                                          << (repetitive ? " repetitive" : " text"));
          const TBytes input = repetitive ? Repetitive(size) : test::MakeText(size, static_cast<uint32_t>(size));
          TBytes stream = test::Deflate(input, {level, -15, strategy, nullptr});
          const test::TZlibVerdict zlib = CheckAgainstZlib(inflater, stream, true);
          EXPECT_EQ(zlib.totalOut, input.size());
          stream.insert(stream.end(), 100, 0xA5);  // what follows a stream is not read
          CheckAgainstZlib(inflater, stream, true);
        }
      }
    }
  }
}

// Cut at many points and with bits flipped: the fast path must never call
// complete what zlib does not, nor give other totals.
TEST(FastInflate, NeverMoreLenientOnCutOrCorruptedStreams) {
  TFastInflater inflater;
  std::mt19937 rng(99);
  int complete = 0;
  int total = 0;
  for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
    for (const std::size_t size : {300u, 5000u, 70000u}) {
      const TBytes input = test::MakeText(size, static_cast<uint32_t>(size) + 3);
      const TBytes stream = test::Deflate(input, {6, -15, strategy, nullptr});
      for (std::size_t cut = 1; cut < stream.size(); cut += 1 + stream.size() / 150) {
        CheckAgainstZlib(inflater, TBytes(stream.begin(), stream.end() - static_cast<std::ptrdiff_t>(cut)), false);
      }
      for (int trial = 0; trial < 400; ++trial) {
        TBytes bad = stream;
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        const test::TZlibVerdict zlib = CheckAgainstZlib(inflater, bad, false);
        ++total;
        if (zlib.code == Z_STREAM_END) ++complete;
      }
    }
  }
  RecordProperty("corrupted streams zlib still completed", complete);
  EXPECT_GT(total, 0);
}

// The same decoder object, one stream after another: nothing of one
// stream (window, tables, position) leaks into the next.
TEST(FastInflate, ReusedDecoderKeepsNothingBetweenStreams) {
  TFastInflater inflater;
  const TBytes big = test::Raw(test::MakeText(600000, 5), 9);
  TBitWriter w;
  OutputThenMatch(w, 10, 11);  // a distance beyond the output of this stream
  const TBytes tooFar = w.Bytes();
  for (int round = 0; round < 3; ++round) {
    CheckAgainstZlib(inflater, big, true);
    EXPECT_FALSE(inflater.Inflate(tooFar.data(), tooFar.size()).Complete);
  }
}

TEST(FastInflate, EachThreadHasItsOwnDecoder) {
  TFastInflater* mine = &ThreadFastInflater();
  TFastInflater* other = nullptr;
  std::thread([&] { other = &ThreadFastInflater(); }).join();
  EXPECT_EQ(mine, &ThreadFastInflater());
  EXPECT_NE(mine, other);
}

}  // namespace
}  // namespace quarn
