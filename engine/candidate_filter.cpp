// The candidate search: the part of the scan that looks at every byte.
//
// Why it is fast. On data that holds no stream, nearly every position is
// thrown away, so the work per position must be a handful of instructions
// and no branch that the processor cannot predict. NextCandidate looks at
// 64 positions at once. With AVX2 (where the processor has it) every test
// up to the code-length code is made on 32 positions a vector: the zlib
// header with its check bits, and with Headerless the dynamic block start,
// HLIT, HDIST and the Kraft sum of the code-length code, cut out of each
// position's bytes at once; steps of 64 positions in which no lane is left
// cost no branch but the loop's own. With SSE2 alone, four 16-byte compares
// build a 64-bit mask of the positions whose bytes could make a candidate,
// and the set bits are looked at one by one: without Headerless a position
// needs a CMF byte of 0x18, 0x28, ..., 0x78 at pos-2 with FDICT clear at
// pos-1 (about 1.4% of random bytes), so most masks are empty; with
// Headerless a quarter of all positions start a dynamic block, and those
// with HLIT and HDIST in range get the code-length-code test below, five
// table look-ups and no branch. Either way, only the 0.4% or so of dynamic
// candidates whose code-length code is complete have their code lengths
// decoded, out of line, and header candidates their first block. Without
// AcceptIncomplete that decoding goes on past the probe, and in random
// data zlib then sees almost no position at all.
//
// Why it is exact. Every test here repeats a check that zlib 1.2.13's
// inflate makes on the same bits, in the same order, and rejects only
// where zlib reaches that check. For the probe that means within its 64
// bytes and 4,096 bytes of output: when zlib would run out of probe input
// or output space first, its probe returns Z_OK and the rest of the file
// decides, so such a position is left to zlib. Where only complete
// streams count, any failure of the whole trial rejects, and so does the
// input ending before the stream does: the tests may then use every byte
// to the end of the input (they look at no more than a block header or
// the first 256 bytes of a fixed-code block). Tests and a differential
// fuzz target hold this against the plain reference loop and against
// zlib's own verdicts.
//
// The vector lanes live in x86/ (lanes_sse2.cpp, lanes_avx2.cpp); this
// file picks between them and holds the scalar tests.
#include "engine/candidate_filter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "engine/code_length_code.h"
#include "engine/x86/lanes.h"
#include "inflate/deflate_tables.h"

namespace quarn::detail {
namespace {

static_assert(std::endian::native == std::endian::little, "bit fields are read as little-endian words");
// The checks below are zlib 1.2.13's (inflate.c and inftrees.c); another
// release may check otherwise, and the filters must be read against it
// again before this is changed.
static_assert(ZLIB_VERNUM == 0x12d0, "the candidate filters mirror the checks of zlib 1.2.13");

// ---------------------------------------------------------------------------
// Dynamic block header (RFC 1951 3.2.7), as zlib's inflate reads it:
//   bits 0-2   BFINAL, BTYPE = 2
//   bits 3-7   HLIT:  literal/length codes - 257; zlib allows at most 286
//   bits 8-12  HDIST: distance codes - 1; zlib allows at most 30
//   bits 13-16 HCLEN: code-length codes - 4
//   then HCLEN+4 three-bit lengths of the code-length code, in kClcOrder
//   then the HLIT+HDIST code lengths, coded with that code
// zlib fails on: too many length or distance symbols; a code-length code
// that is over-subscribed or incomplete (an all-zero one decodes every
// length as 0, which fails below); a repeat (16) with no previous length; a
// repeat that runs past the last length; no code for end-of-block (256);
// and a literal/length or distance code that is over-subscribed, or
// incomplete unless it is a single code of one bit (an all-zero distance
// code is allowed).
// ---------------------------------------------------------------------------

constexpr const unsigned (&kClcOrder)[19] = deflate_tables::kCodeLengthOrder;

// A code of up to 7 bits, left-aligned in 7 bits, with its bits reversed.
constexpr std::array<uint8_t, 128> kReverse7 = [] {
  std::array<uint8_t, 128> reversed{};
  for (unsigned code = 0; code < 128; ++code) {
    unsigned r = 0;
    for (unsigned b = 0; b < 7; ++b) r |= ((code >> b) & 1u) << (6 - b);
    reversed[code] = static_cast<uint8_t>(r);
  }
  return reversed;
}();

inline uint64_t LoadWord(const uint8_t* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The longest dynamic block header: 17 bits, 19 three-bit lengths of the
// code-length code, and 316 code lengths of at most 7 bits each (a repeat
// costs at most 14 bits for 3 lengths or more): 2,286 bits.
constexpr unsigned kMaxDynamicHeaderBytes = 286;

// The bits a header decoding may use, and what needing one more means.
// Deflate packs bits least significant first.
class TReach {
 public:
  // The probe's bits, at `probe` with `readableBytes` (at least
  // kProbeInputBytes) there: a header that needs more passes the probe.
  static TReach Probe(const uint8_t* probe, int64_t readableBytes) {
    return TReach(probe, kProbeInputBytes, readableBytes, false);
  }
  // All the bits of the trial, `restBytes` from `at` to the end of the
  // input: a header that needs more can never end a stream.
  static TReach Trial(const uint8_t* at, int64_t restBytes) {
    return TReach(at, static_cast<unsigned>(std::min<int64_t>(restBytes, kMaxDynamicHeaderBytes)), restBytes, true);
  }
  // The first `lookBytes` (at most kMaxDynamicHeaderBytes) of the trial's
  // `restBytes`: needing more fails only where the input ends there.
  static TReach TrialStart(const uint8_t* at, int64_t restBytes, unsigned lookBytes) {
    return restBytes <= lookBytes ? TReach(at, static_cast<unsigned>(restBytes), restBytes, true)
                                  : TReach(at, lookBytes, restBytes, false);
  }
  TReach(const TReach&) = delete;
  TReach& operator=(const TReach&) = delete;

  // Bits may be read up to kReadAhead bytes past the limit: from the input
  // where it goes on that far, else from a zero-padded copy.
  const uint8_t* Bytes() const { return copied_ ? copy_ : at_; }
  unsigned LimitBits() const { return limitBits_; }
  bool PastLimitFails() const { return pastLimitFails_; }

  unsigned Take(unsigned count) {
    const unsigned value = static_cast<unsigned>(LoadWord(Bytes() + (bitsUsed >> 3)) >> (bitsUsed & 7u)) &
                           ((1u << count) - 1u);
    bitsUsed += count;
    return value;
  }

  unsigned bitsUsed = 0;

 private:
  static constexpr unsigned kReadAhead = 16;

  TReach(const uint8_t* at, unsigned limitBytes, int64_t readableBytes, bool pastLimitFails)
      : at_(at),
        limitBits_(8 * limitBytes),
        pastLimitFails_(pastLimitFails),
        copied_(readableBytes < int64_t{limitBytes} + kReadAhead) {
    if (copied_) {
      std::memcpy(copy_, at, limitBytes);
      std::memset(copy_ + limitBytes, 0, kReadAhead);
    }
  }

  const uint8_t* at_;
  unsigned limitBits_;
  bool pastLimitFails_;
  bool copied_;
  uint8_t copy_[kMaxDynamicHeaderBytes + kReadAhead];
  static_assert(kMaxDynamicHeaderBytes >= 256, "the fixed-block decoding looks at 256 bytes");
};

// What inftrees.c's inflate_table says of a literal/length or distance
// code, given its Kraft sum in units of 2^-15 (low 32 bits of `sum`) and
// how many symbols have a code (high 32 bits): over-subscribed (sum above
// 1), or incomplete unless it is a single one-bit code, is an error; no
// code at all is not (decoding would report it later).
bool IsBadCode(uint64_t sum) {
  constexpr uint64_t kOne = 0x8000;
  const uint64_t kraft = sum & 0xFFFFFFFFu;
  const uint64_t codes = sum >> 32;
  if (kraft > kOne) return true;
  return kraft < kOne && kraft != 0 && !(codes == 1 && kraft == kOne / 2);
}

// A code length's share of that sum: one code, and 2^(15-length).
constexpr uint64_t CodeShare(unsigned length) {
  return length == 0 ? 0 : (uint64_t{1} << 32) | (0x8000u >> length);
}

// Each code-length symbol's share of the running Kraft sum: a length
// 0..15 its CodeShare, the repeats nothing of their own.
constexpr std::array<uint64_t, 19> kSymbolShares = [] {
  std::array<uint64_t, 19> shares{};
  for (unsigned symbol = 0; symbol < 16; ++symbol) shares[symbol] = CodeShare(symbol);
  return shares;
}();

// One entry of the code-length code's decode table, by the next 7 bits:
//   bits 0..3    bits of the code and of the repeat count after it
//   bits 4..6    bits of the code, where the repeat count starts
//   bits 8..15   mask of the repeat count
//   bits 16..19  lengths written before the repeat count is added
//   bits 24..28  the symbol
using TClcEntry = uint32_t;

// The header of a dynamic block whose code-length code is complete: decode
// the code lengths as zlib does, with the bits that `reach` allows, and
// give zlib's verdict. Where zlib needs a bit past the reach, the verdict
// is the reach's: the probe passes, or the trial can never end a stream.
// Out of line: a few candidates in a thousand get here.
// A code-length symbol's entry, but for the code's length: the bits of
// the repeat count, their mask, the lengths written before the count is
// added, and the symbol.
constexpr std::array<TClcEntry, 19> kClcSymbolEntries = [] {
  std::array<TClcEntry, 19> entries{};
  for (unsigned symbol = 0; symbol < 19; ++symbol) {
    const unsigned countBits = symbol < 16 ? 0 : symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    const unsigned copies = symbol < 16 ? 1 : symbol == 18 ? 11 : 3;
    entries[symbol] = countBits | ((1u << countBits) - 1) << 8 | copies << 16 | symbol << 24;
  }
  return entries;
}();

bool CodeLengthsCertainlyFail(TReach& bits) {
  const uint8_t* const bytes = bits.Bytes();
  const uint64_t head = LoadWord(bytes);
  const unsigned nlen = static_cast<unsigned>(head >> 3 & 31u) + 257;
  const unsigned ndist = static_cast<unsigned>(head >> 8 & 31u) + 1;
  const unsigned ncode = static_cast<unsigned>(head >> 13 & 15u) + 4;
  if (nlen > 286 || ndist > 30) return true;
  // The lengths of the code-length code, stream bits 17 on.
  const uint64_t clc = (LoadWord(bytes + 2) >> 1) & kClcFieldMasks[ncode - 4];
  // The lanes that led here found the code complete, but from a read of
  // their own: input that changes under the scan (a file rewritten while it
  // is mapped) may differ now, and the table below is built for a complete
  // code only. An incomplete or over-subscribed one fails in zlib too.
  if (!IsCompleteCodeLengthCode(clc)) return true;
  bits.bitsUsed = 17 + 3 * ncode;

  // The canonical code as a table by the next 7 bits (deflate sends
  // Huffman codes most significant bit first, hence the reversal). The
  // code is complete, so every entry gets filled. Codes are handed out in
  // order of length, then of symbol; each takes 128 >> length of the
  // left-aligned 7-bit code values. Symbols without a code go to places
  // 19 on, which nothing reads.
  uint8_t clcLengths[19];
  unsigned nextOfLength[8] = {19, 0, 0, 0, 0, 0, 0, 0};
  for (unsigned k = 0; k < 19; ++k) {
    const unsigned length = static_cast<unsigned>(clc >> (3 * k)) & 7u;
    clcLengths[kClcOrder[k]] = static_cast<uint8_t>(length);
    ++nextOfLength[length];
  }
  for (unsigned length = 7; length > 1; --length) nextOfLength[length] = nextOfLength[length - 1];
  nextOfLength[1] = 0;
  for (unsigned length = 2; length <= 7; ++length) nextOfLength[length] += nextOfLength[length - 1];
  nextOfLength[0] = 19;
  TClcEntry bySymbolOrder[19 + 19];
  for (unsigned symbol = 0; symbol < 19; ++symbol) {
    const unsigned length = clcLengths[symbol];
    const TClcEntry entry = kClcSymbolEntries[symbol];
    bySymbolOrder[nextOfLength[length]++] = entry + length + (length << 4);
  }
  const unsigned codes = nextOfLength[7];
  // By left-aligned code value, the code's place in bySymbolOrder: each
  // code's run of values (at most 64) is written as 64 bytes, and the
  // codes after it write over the part that is theirs.
  uint8_t byValue[128 + 64];
  for (unsigned k = 0, value = 0; k < codes; ++k) {
    std::memset(byValue + value, static_cast<int>(k), 64);
    value += 128u >> ((bySymbolOrder[k] >> 4) & 7u);
  }
  TClcEntry table[128];
  for (unsigned index = 0; index < 128; ++index) table[index] = bySymbolOrder[byValue[kReverse7[index]]];

  // Decoding. Each step adds a run of equal lengths to one running sum;
  // where the runs cross from literal/length to distance codes, the
  // literal/length part is set aside. zlib checks the runs as it goes and
  // the codes once all lengths are in.
  // A step takes at most 14 bits (a 7-bit code and 7 bits of count), so
  // one refill to 56 bits or more serves four steps; the bytes go on at
  // least 16 bytes past the limit, so refills need no check.
  // `bits.bitsUsed` counts what zlib would have consumed.
  const uint8_t* next = bytes + (bits.bitsUsed >> 3);
  uint64_t hold = LoadWord(next) >> (bits.bitsUsed & 7u);
  unsigned holdBits = 56 - (bits.bitsUsed & 7u);  // counts 7 of the 8 bytes read
  next += 7;
  // The first code is well within the probe bits.
  if ((table[hold & 127u] >> 24) == 16) return true;  // a repeat with no length before it

  const unsigned total = nlen + ndist;
  const unsigned limitBits = bits.LimitBits();
  // Where any failure counts (running out of input too), a literal/length
  // code that is already over-subscribed decides: more lengths can only
  // add to it, and zlib rejects it once all are in, if nothing else failed
  // first. (Where running out passes the probe, the decoding must go on to
  // see whether zlib gets that far.)
  const uint64_t overSubscribedAt = bits.PastLimitFails() ? uint64_t{0x8000} : ~uint64_t{0};
  unsigned used = bits.bitsUsed;
  uint64_t sum = 0;
  uint64_t literalSum = 0;
  uint64_t previousShare = 0;
  uint64_t endOfBlockShare = 0;
  unsigned have = 0;
  while (have < total) {
    hold |= LoadWord(next) << holdBits;
    next += (63 - holdBits) >> 3;
    holdBits |= 56;
    for (unsigned step = 0; step < 4 && have < total; ++step) {
      const TClcEntry here = table[hold & 127u];
      const unsigned codeAndCount = here & 15u;
      // zlib waits for the code and its repeat count before it checks them.
      used += codeAndCount;
      if (used > limitBits) return bits.PastLimitFails();
      const unsigned copies =
          ((here >> 16) & 15u) + (static_cast<unsigned>(hold >> ((here >> 4) & 7u)) & ((here >> 8) & 0xFFu));
      hold >>= codeAndCount;
      holdBits -= codeAndCount;
      if (have + copies > total) return true;  // a repeat past the last length
      const unsigned symbol = here >> 24;
      // Without a branch: repeats (16) are a few steps in a hundred, at random.
      const uint64_t share = kSymbolShares[symbol] | (previousShare & (uint64_t{0} - uint64_t{symbol == 16}));
      sum += copies * share;
      if (have < nlen && have + copies >= nlen) literalSum = sum - (have + copies - nlen) * share;
      if (have <= 256 && have + copies > 256) endOfBlockShare = share;
      previousShare = share;
      have += copies;
      if (((have <= nlen ? sum : literalSum) & 0xFFFFFFFFu) > overSubscribedAt) return true;
    }
  }
  if (endOfBlockShare == 0) return true;  // no code for end-of-block
  return IsBadCode(literalSum) || IsBadCode(sum - literalSum);
}

// How far a filter may look: the probe's bytes, or, where the scan counts
// only trials that end a stream (AcceptIncomplete off), the whole rest of
// the input, since a trial that fails anywhere is then rejected too.
struct TLook {
  int64_t restBytes;  // from the position to the end of the input, at least kProbeInputBytes
  bool wholeTrial;
};

// The code lengths of a dynamic block header decoded as far as `look`
// allows. Out of line: a few candidates in a thousand get here.
[[gnu::noinline]] bool CodeLengthsCertainlyFail(const uint8_t* at, TLook look) {
  if (look.wholeTrial) {
    TReach reach = TReach::Trial(at, look.restBytes);
    return CodeLengthsCertainlyFail(reach);
  }
  TReach reach = TReach::Probe(at, look.restBytes);
  return CodeLengthsCertainlyFail(reach);
}

// The dynamic block header test, cheap part first: HLIT and HDIST in
// range and a complete code-length code. An all-zero code-length code
// fails too: zlib then reads every length as 0 at one bit each, at most
// 17 + 57 + 316 bits, and finds no end-of-block code, all within the probe.
inline bool DynamicHeaderCertainlyFails(const uint8_t* at, TLook look) {
  if (at[0] >= 0xF0 || (at[1] & 0x1Fu) >= 30) return true;  // HLIT or HDIST above 29
  return !HasCompleteCodeLengthCode(at) || CodeLengthsCertainlyFail(at, look);
}

// ---------------------------------------------------------------------------
// Fixed-code blocks (BTYPE 1), as zlib's inflate decodes them from an empty
// window: a literal/length symbol of 286 or 287 ("invalid literal/length
// code"), a distance code of 30 or 31 ("invalid distance code"), or a
// distance further back than the output so far ("invalid distance too far
// back"), each checked once the bits of that code and of its extra bits
// are in; after the end of a block that is not the last, a reserved block
// type. zlib stops without an error when its output space is full, so the
// decoding here stops, undecided, well before the output reaches that.
// ---------------------------------------------------------------------------

// The fixed literal/length code by the next 9 bits: symbol in bits 0..8,
// code length in bits 12..15.
constexpr std::array<uint16_t, 512> kFixedLitlen = [] {
  std::array<uint16_t, 512> table{};
  const auto add = [&](unsigned firstSymbol, unsigned lastSymbol, unsigned firstCode, unsigned length) {
    for (unsigned symbol = firstSymbol, code = firstCode; symbol <= lastSymbol; ++symbol, ++code) {
      unsigned reversed = 0;
      for (unsigned b = 0; b < length; ++b) reversed |= ((code >> b) & 1u) << (length - 1 - b);
      for (unsigned high = 0; high < (512u >> length); ++high) {
        table[reversed | high << length] = static_cast<uint16_t>(symbol | length << 12);
      }
    }
  };
  add(0, 143, 0x30, 8);
  add(144, 255, 0x190, 9);
  add(256, 279, 0x00, 7);
  add(280, 287, 0xC0, 8);
  return table;
}();

using deflate_tables::kDistBase, deflate_tables::kDistExtra, deflate_tables::kLengthBase, deflate_tables::kLengthExtra;

// How much of a trial the fixed-block decoding looks at: enough for the
// few symbols that random data survives.
constexpr unsigned kFixedTrialLookBytes = 256;

// The bits of `reach` as zlib decodes a fixed-code block that starts at
// bit 0; true when zlib fails within them, else the reach's verdict where
// the bits run out, and false where the output grows past `outputLimit`.
[[gnu::noinline]] bool FixedBlockCertainlyFails(TReach& bits, unsigned outputLimit) {
  const bool final = bits.Take(1) != 0;
  bits.Take(2);
  const unsigned limitBits = bits.LimitBits();
  const uint8_t* const bytes = bits.Bytes();
  unsigned used = bits.bitsUsed;
  const auto peek = [&](unsigned count) {
    return static_cast<unsigned>(LoadWord(bytes + (used >> 3)) >> (used & 7u)) & ((1u << count) - 1u);
  };
  unsigned output = 0;
  while (output < outputLimit) {
    const unsigned entry = kFixedLitlen[peek(9)];
    const unsigned symbol = entry & 0x1FFu;
    used += entry >> 12;
    if (used > limitBits) return bits.PastLimitFails();
    if (symbol < 256) {
      ++output;
      continue;
    }
    if (symbol == 256) {
      if (final) return false;  // the stream ends
      if (used + 3 > limitBits) return bits.PastLimitFails();
      return (peek(3) >> 1) == 3;  // the next block's type; only a reserved one is decided here
    }
    if (symbol >= 286) return true;  // invalid literal/length code
    const unsigned lengthCode = symbol - 257;
    const unsigned length = kLengthBase[lengthCode] + peek(kLengthExtra[lengthCode]);
    used += kLengthExtra[lengthCode];
    if (used > limitBits) return bits.PastLimitFails();
    const unsigned distCode = kReverse7[peek(5) << 2];  // five bits, most significant first
    used += 5;
    if (used > limitBits) return bits.PastLimitFails();
    if (distCode >= 30) return true;  // invalid distance code
    const unsigned distance = kDistBase[distCode] + peek(kDistExtra[distCode]);
    used += kDistExtra[distCode];
    if (used > limitBits) return bits.PastLimitFails();
    if (distance > output) return true;  // invalid distance too far back
    output += length;
  }
  return false;
}

// Output limits of the fixed-block decoding, a longest match short of
// the probe's output space and of zlib's window.
constexpr unsigned kProbeOutputLimitBytes = kProbeOutputBytes - 258;
constexpr unsigned kWindowLimitBytes = 32768 - 258;

// The first block at `at` certainly fails within what `look` allows: a
// reserved block type, stored block lengths that do not match, a
// fixed-code block that zlib 1.2.13 rejects, or a dynamic block header
// that it rejects (with the whole trial also one that the input ends
// inside, or that holds too little input).
bool BlockCertainlyFails(const uint8_t* at, TLook look) {
  switch (at[0] & 6u) {
    case 0: {  // stored: LEN and NLEN in the four bytes after the header bits
      const unsigned len = unsigned{at[1]} | unsigned{at[2]} << 8;
      const unsigned nlen = unsigned{at[3]} | unsigned{at[4]} << 8;
      return len != (nlen ^ 0xFFFFu);
    }
    case 2: {
      if (look.wholeTrial) {
        // zlib's window is 32 KiB: within it, "too far back" means further
        // than the output so far.
        TReach reach = TReach::TrialStart(at, look.restBytes, kFixedTrialLookBytes);
        return FixedBlockCertainlyFails(reach, kWindowLimitBytes);
      }
      TReach reach = TReach::Probe(at, look.restBytes);
      return FixedBlockCertainlyFails(reach, kProbeOutputLimitBytes);
    }
    case 4:
      return DynamicHeaderCertainlyFails(at, look);
    default:  // BTYPE 3 is reserved
      return true;
  }
}

// The first of the lanes whose trial is not certain to fail: `header`
// lanes (a zlib header before them) and `dynamic` lanes (a dynamic block
// start with a complete code-length code), the positions from `at`;
// -1 when there is none. `look` is that of position `at` (restBytes
// counted from `at`).
inline int64_t CheckLanes(const uint8_t* at, uint64_t header, uint64_t dynamic, TLook look) {
  for (uint64_t left = header | dynamic; left != 0; left &= left - 1) {
    const int bit = std::countr_zero(left);
    const TLook here{look.restBytes - bit, look.wholeTrial};
    const bool fails = ((dynamic >> bit) & 1u) != 0 ? CodeLengthsCertainlyFail(at + bit, here)
                                                    : BlockCertainlyFails(at + bit, here);
    if (!fails) return bit;
  }
  return -1;
}

// The whole test of one position p >= 2, for the positions not covered by
// lanes.
inline bool IsWorthATrial(const uint8_t* p, bool headerless, TLook look) {
  if (headerless && IsDynamicBlockStart(p[0])) return !DynamicHeaderCertainlyFails(p, look);
  return IsHeaderCandidate(p - 2) && !BlockCertainlyFails(p, look);
}

}  // namespace

bool ProbeCertainlyFails(const uint8_t* probe) { return BlockCertainlyFails(probe, {kProbeInputBytes, false}); }

bool TrialCertainlyFails(const uint8_t* at, int64_t restBytes) { return BlockCertainlyFails(at, {restBytes, true}); }

bool CodeLengthsOfCompleteCodeCertainlyFail(const uint8_t* at, int64_t restBytes, bool wholeTrial) {
  return CodeLengthsCertainlyFail(at, {restBytes, wholeTrial});
}

bool ProcessorHasAvx2() {
  static const bool hasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return hasAvx2;
}

int64_t NextCandidate(TBlock block, TRange range, bool headerless, bool acceptIncomplete, TFilterLanes width) {
  const uint8_t* const memory = block.Memory;
  const int64_t size = block.Size;
  int64_t pos = range.From;
  const int64_t end = std::min(range.To, PositionLimit(size));
  if (pos >= end) return pos;

  // Positions 0 and 1 have no room for a header before them.
  for (; pos < 2 && pos < end; ++pos) {
    if (headerless && IsDynamicBlockStart(memory[pos]) &&
        !DynamicHeaderCertainlyFails(memory + pos, {size - pos, !acceptIncomplete})) {
      return pos;
    }
  }
  const bool wide = width == TFilterLanes::Widest && ProcessorHasAvx2();
  // The lanes of 64 positions read up to 64 bytes past the first, so the
  // last position of the block (size-64) is tested on its own. The wide
  // lanes read 72 and cover whole steps: they stop short of the end, and
  // SSE2's, which read only what the positions in range need, finish.
  const int64_t lastWideStep = std::min(end - 64, size - 73);
  for (; pos < end; pos += 64) {
    TBlockLanes lanes;
    if (wide && pos <= lastWideStep) {
      pos = NextBusyStepAvx2(memory, pos, lastWideStep, headerless, lanes);
      if (pos <= lastWideStep) {
        if (const int64_t found = CheckLanes(memory + pos, lanes.header & ~lanes.dynamicStarts, lanes.dynamicKept,
                                             {size - pos, !acceptIncomplete});
            found >= 0) {
          return pos + found;
        }
        continue;
      }
      if (pos >= end) break;
    }
    const TLook look{size - pos, !acceptIncomplete};
    if (pos + 64 >= size) return IsWorthATrial(memory + pos, headerless, look) ? pos : end;
    const uint8_t* at = memory + pos;
    const uint64_t inBlock = end - pos < 64 ? (uint64_t{1} << (end - pos)) - 1 : ~uint64_t{0};
    lanes = BlockLanesSse2(at, headerless, inBlock);
    // With Headerless a position that starts a dynamic block is decided by
    // its block header alone, whether or not a zlib header precedes it.
    const uint64_t header = KeepLanes(at, lanes.header & ~lanes.dynamicStarts & inBlock,
                                      [](const uint8_t* p) { return IsHeaderCandidate(p - 2); });
    if (const int64_t found = CheckLanes(at, header, lanes.dynamicKept & inBlock, look); found >= 0) {
      return pos + found;
    }
  }
  return end;
}

}  // namespace quarn::detail
