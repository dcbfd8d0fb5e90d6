// The candidate search: the part of the scan that looks at every byte.
//
// Why it is fast. On data that holds no stream, nearly every position is
// thrown away, so the work per position must be a handful of instructions
// and no branch that the processor cannot predict. NextCandidate looks at
// 64 positions at once with SSE2 (baseline on x86-64): four 16-byte
// compares build a 64-bit mask of the positions whose bytes could make a
// candidate, and only the set bits are looked at one by one. Without
// Headerless a position needs a CMF byte of 0x18, 0x28, ..., 0x78 at pos-2
// with FDICT clear at pos-1 (about 1.4% of random bytes), so most masks are
// empty. With Headerless a quarter of all positions start a dynamic block;
// the mask also drops those whose HLIT or HDIST field is out of range, and
// the rest get the code-length-code test below: five table look-ups and no
// branch. Only the 0.4% or so of dynamic candidates whose code-length code
// is complete are decoded further, out of line; zlib then sees about one
// position in 5,000.
//
// Why it is exact. Every test here repeats a check that zlib 1.2.13's
// inflate makes on the same bits, in the same order, and rejects only when
// zlib would reach that check with the 64 probe bytes alone. When zlib
// would run out of probe input first, its probe returns Z_OK and the rest
// of the file decides; such a position is always left to zlib. Tests and a
// differential fuzz target hold this against the plain reference loop and
// against zlib's own verdict.
#include "engine/candidate_filter.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>

namespace quarn::detail {
namespace {

static_assert(std::endian::native == std::endian::little, "bit fields are read as little-endian words");
// The checks below are zlib 1.2.13's (inflate.c and inftrees.c); another
// release may check otherwise, and the filters must be read against it
// again before this is changed.
static_assert(ZLIB_VERNUM == 0x12d0, "the candidate filters mirror the checks of zlib 1.2.13");

constexpr unsigned kProbeBits = 8 * kProbeInputBytes;

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

constexpr unsigned kClcOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Kraft weight of four code-length-code lengths packed in 12 bits, in
// units of 2^-7: a length n > 0 weighs 2^(7-n), a length 0 nothing. A
// complete code-length code weighs exactly 128. Sums above 255 are kept
// as 255: any of them already rules out a total of 128.
constexpr std::array<uint8_t, 4096> kClcQuadWeights = [] {
  std::array<uint8_t, 4096> weights{};
  for (unsigned quad = 0; quad < 4096; ++quad) {
    unsigned sum = 0;
    for (unsigned shift = 0; shift < 12; shift += 3) {
      const unsigned length = (quad >> shift) & 7u;
      if (length != 0) sum += 128u >> length;
    }
    weights[quad] = static_cast<uint8_t>(std::min(sum, 255u));
  }
  return weights;
}();

// The bits of the HCLEN+4 code-length-code lengths, by HCLEN.
constexpr std::array<uint64_t, 16> kClcFieldMasks = [] {
  std::array<uint64_t, 16> masks{};
  for (unsigned hclen = 0; hclen < 16; ++hclen) masks[hclen] = (uint64_t{1} << (3 * (hclen + 4))) - 1;
  return masks;
}();

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

// The probe bytes, copied with zero padding behind them so that bit reads
// may run past the end. `bitsUsed` counts the bits zlib has consumed;
// deflate packs bits least significant first.
class TProbeBits {
 public:
  explicit TProbeBits(const uint8_t* probe) { std::memcpy(bytes_, probe, kProbeInputBytes); }

  unsigned Take(unsigned count) {
    const unsigned value = static_cast<unsigned>(LoadWord(bytes_ + (bitsUsed >> 3)) >> (bitsUsed & 7u)) &
                           ((1u << count) - 1u);
    bitsUsed += count;
    return value;
  }
  const uint8_t* Bytes() const { return bytes_; }

  unsigned bitsUsed = 0;

 private:
  uint8_t bytes_[kProbeInputBytes + 16] = {};
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

// The header of a dynamic block whose code-length code is complete: decode
// the code lengths as zlib does and give zlib's verdict, when zlib reaches
// it within the probe bits. Out of line: a few candidates in a thousand
// get here.
[[gnu::noinline]] bool CodeLengthsCertainlyFail(const uint8_t* probe) {
  TProbeBits bits(probe);
  bits.Take(3);
  const unsigned nlen = bits.Take(5) + 257;
  const unsigned ndist = bits.Take(5) + 1;
  const unsigned ncode = bits.Take(4) + 4;
  if (nlen > 286 || ndist > 30) return true;

  uint8_t clcLengths[19] = {};
  for (unsigned k = 0; k < ncode; ++k) clcLengths[kClcOrder[k]] = static_cast<uint8_t>(bits.Take(3));

  // The canonical code as a table by the next 7 bits (deflate sends
  // Huffman codes most significant bit first, hence the reversal). The
  // code is complete, so every entry gets filled.
  struct TEntry {
    uint64_t share;     // CodeShare of the length written by 0..15, else 0
    uint8_t length;     // bits of the code
    uint8_t used;       // bits of the code and of the repeat count after it
    uint8_t countMask;  // of the repeat count, once the code is dropped
    uint8_t copies;     // lengths written, before the repeat count
    uint8_t repeat;     // 1 for 16: the previous length again
  };
  // Codes are handed out in order of length, then of symbol; each takes
  // 128 >> length of the left-aligned 7-bit code values.
  TEntry bySymbolOrder[19];
  unsigned firstOfLength[9] = {};
  for (const uint8_t length : clcLengths) ++firstOfLength[length + 1];
  firstOfLength[1] = 0;  // unused symbols (length 0) get no code
  for (unsigned length = 2; length <= 8; ++length) firstOfLength[length] += firstOfLength[length - 1];
  unsigned codes = 0;
  for (unsigned symbol = 0; symbol < 19; ++symbol) {
    const unsigned length = clcLengths[symbol];
    if (length == 0) continue;
    const unsigned countBits = symbol < 16 ? 0 : symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    bySymbolOrder[firstOfLength[length]++] = {
        symbol < 16 ? CodeShare(symbol) : 0, static_cast<uint8_t>(length),
        static_cast<uint8_t>(length + countBits), static_cast<uint8_t>((1u << countBits) - 1),
        static_cast<uint8_t>(symbol < 16 ? 1 : symbol == 18 ? 11 : 3), static_cast<uint8_t>(symbol == 16)};
    ++codes;
  }
  TEntry table[128];
  for (unsigned k = 0, value = 0; k < codes; ++k) {
    const unsigned end = value + (128u >> bySymbolOrder[k].length);
    for (; value < end; ++value) table[kReverse7[value]] = bySymbolOrder[k];
  }

  // Decoding. Each step adds a run of equal lengths to one running sum;
  // where the runs cross from literal/length to distance codes, the
  // literal/length part is set aside. zlib checks the runs as it goes and
  // the codes once all lengths are in.
  // The bit buffer is kept at 56 bits or more, refilled every step without
  // a branch (the probe copy has zero padding behind it); `bits.bitsUsed`
  // counts what zlib would have consumed.
  const uint8_t* next = bits.Bytes() + (bits.bitsUsed >> 3);
  uint64_t hold = LoadWord(next) >> (bits.bitsUsed & 7u);
  unsigned holdBits = 56 - (bits.bitsUsed & 7u);  // counts 7 of the 8 bytes read
  next += 7;
  // The first code is well within the probe bits.
  if (table[hold & 127u].repeat != 0) return true;  // a repeat with no length before it

  const unsigned total = nlen + ndist;
  uint64_t sum = 0;
  uint64_t literalSum = 0;
  uint64_t previousShare = 0;
  uint64_t endOfBlockShare = 0;
  unsigned have = 0;
  while (have < total) {
    hold |= LoadWord(next) << holdBits;
    next += (63 - holdBits) >> 3;
    holdBits |= 56;
    const TEntry here = table[hold & 127u];
    // zlib waits for the code and its repeat count before it checks them.
    bits.bitsUsed += here.used;
    if (bits.bitsUsed > kProbeBits) return false;
    const unsigned copies = here.copies + (static_cast<unsigned>(hold >> here.length) & here.countMask);
    hold >>= here.used;
    holdBits -= here.used;
    if (have + copies > total) return true;  // a repeat past the last length
    const uint64_t share = here.share | (previousShare & (uint64_t{0} - here.repeat));
    sum += copies * share;
    if (have < nlen && have + copies >= nlen) literalSum = sum - (have + copies - nlen) * share;
    if (have <= 256 && have + copies > 256) endOfBlockShare = share;
    previousShare = share;
    have += copies;
  }
  if (endOfBlockShare == 0) return true;  // no code for end-of-block
  return IsBadCode(literalSum) || IsBadCode(sum - literalSum);
}

// The code-length code of a dynamic block header is complete: the Kraft
// sum of its HCLEN+4 lengths is exactly 1.
inline bool HasCompleteCodeLengthCode(const uint8_t* probe) {
  uint64_t head;
  uint64_t tail;
  std::memcpy(&head, probe, sizeof head);
  std::memcpy(&tail, probe + 2, sizeof tail);  // stream bits 16..79
  const unsigned hclen = static_cast<unsigned>(head >> 13) & 15u;
  const uint64_t clc = (tail >> 1) & kClcFieldMasks[hclen];  // stream bits 17 on
  unsigned kraft = 0;
  for (unsigned shift = 0; shift < 60; shift += 12) kraft += kClcQuadWeights[(clc >> shift) & 4095u];
  return kraft == 128;
}

// The dynamic block header test, cheap part first: HLIT and HDIST in
// range and a complete code-length code. An all-zero code-length code
// fails too: zlib then reads every length as 0 at one bit each, at most
// 17 + 57 + 316 bits, and finds no end-of-block code, all within the probe.
inline bool DynamicHeaderCertainlyFails(const uint8_t* probe) {
  if (probe[0] >= 0xF0 || (probe[1] & 0x1Fu) >= 30) return true;  // HLIT or HDIST above 29
  return !HasCompleteCodeLengthCode(probe) || CodeLengthsCertainlyFail(probe);
}

// ---------------------------------------------------------------------------
// Lanes: one bit per position, 64 positions from `at` on. Reading them
// touches at-2 .. at+64.
// ---------------------------------------------------------------------------

inline __m128i Load16(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
inline __m128i Bytes16(int value) { return _mm_set1_epi8(static_cast<char>(value)); }
inline uint64_t Mask16(__m128i lanes) { return static_cast<uint32_t>(_mm_movemask_epi8(lanes)); }

// CMF at p-2 is 0x18, 0x28, ..., 0x78 and FDICT at p-1 is clear.
inline uint64_t HeaderLanes(const uint8_t* at) {
  uint64_t lanes = 0;
  for (unsigned k = 0; k < 4; ++k) {
    const __m128i cmf = Load16(at + 16 * k - 2);
    const __m128i flg = Load16(at + 16 * k - 1);
    const __m128i cm8 = _mm_cmpeq_epi8(_mm_and_si128(cmf, Bytes16(0x8F)), Bytes16(0x08));
    const __m128i cinfo0 = _mm_cmpeq_epi8(cmf, Bytes16(0x08));
    const __m128i noDict = _mm_cmpeq_epi8(_mm_and_si128(flg, Bytes16(0x20)), _mm_setzero_si128());
    lanes |= Mask16(_mm_andnot_si128(cinfo0, _mm_and_si128(cm8, noDict))) << (16 * k);
  }
  return lanes;
}

struct TDynamicLanes {
  uint64_t starts = 0;   // low bits 4 or 5 at p
  uint64_t inRange = 0;  // ... and HLIT (p >> 3) and HDIST (p+1 & 31) at most 29
};

inline TDynamicLanes DynamicLanes(const uint8_t* at) {
  TDynamicLanes lanes;
  for (unsigned k = 0; k < 4; ++k) {
    const __m128i first = Load16(at + 16 * k);
    const __m128i second = Load16(at + 16 * k + 1);
    const __m128i starts = _mm_cmpeq_epi8(_mm_and_si128(first, Bytes16(6)), Bytes16(4));
    const __m128i hlitOk = _mm_cmpeq_epi8(_mm_min_epu8(first, Bytes16(0xEF)), first);
    const __m128i hdistOk = _mm_cmplt_epi8(_mm_and_si128(second, Bytes16(0x1F)), Bytes16(30));
    lanes.starts |= Mask16(starts) << (16 * k);
    lanes.inRange |= Mask16(_mm_and_si128(starts, _mm_and_si128(hlitOk, hdistOk))) << (16 * k);
  }
  return lanes;
}

// Keeps the lanes that pass `test`; the hot loops, with no branch that
// depends on the data but the loop's own.
template <typename TTest>
inline uint64_t KeepLanes(const uint8_t* at, uint64_t lanes, TTest test) {
  uint64_t kept = 0;
  for (; lanes != 0; lanes &= lanes - 1) {
    const int bit = std::countr_zero(lanes);
    kept |= uint64_t{test(at + bit)} << bit;
  }
  return kept;
}

// The whole test of one position p >= 2, for the positions not covered by
// lanes.
inline bool IsWorthATrial(const uint8_t* p, bool headerless) {
  if (headerless && IsDynamicBlockStart(p[0])) return !DynamicHeaderCertainlyFails(p);
  return IsHeaderCandidate(p - 2) && !ProbeCertainlyFails(p);
}

}  // namespace

bool ProbeCertainlyFails(const uint8_t* probe) {
  switch (probe[0] & 6u) {
    case 0: {  // stored: LEN and NLEN in the four bytes after the header bits
      const unsigned len = unsigned{probe[1]} | unsigned{probe[2]} << 8;
      const unsigned nlen = unsigned{probe[3]} | unsigned{probe[4]} << 8;
      return len != (nlen ^ 0xFFFFu);
    }
    case 2:  // fixed codes: left to zlib
      return false;
    case 4:
      return DynamicHeaderCertainlyFails(probe);
    default:  // BTYPE 3 is reserved
      return true;
  }
}

int64_t NextCandidate(const uint8_t* memory, int64_t size, int64_t pos, int64_t end,
                      bool headerless) {
  end = std::min(end, PositionLimit(size));
  if (pos >= end) return pos;

  // Positions 0 and 1 have no room for a header before them.
  for (; pos < 2 && pos < end; ++pos) {
    if (headerless && IsDynamicBlockStart(memory[pos]) && !DynamicHeaderCertainlyFails(memory + pos)) {
      return pos;
    }
  }
  // The lanes of 64 positions read up to 64 bytes past the first, so the
  // last position of the block (size-64) is tested on its own.
  for (; pos < end; pos += 64) {
    if (pos + 64 >= size) return IsWorthATrial(memory + pos, headerless) ? pos : end;
    const uint8_t* at = memory + pos;
    const uint64_t inBlock = end - pos < 64 ? (uint64_t{1} << (end - pos)) - 1 : ~uint64_t{0};
    uint64_t header = HeaderLanes(at) & inBlock;
    // With Headerless a position that starts a dynamic block is decided by
    // its block header alone, whether or not a zlib header precedes it.
    uint64_t dynamic = 0;
    if (headerless) {
      const TDynamicLanes lanes = DynamicLanes(at);
      header &= ~lanes.starts;
      dynamic = KeepLanes(at, lanes.inRange & inBlock, HasCompleteCodeLengthCode);
    }
    header = KeepLanes(at, header, [](const uint8_t* p) { return IsHeaderCandidate(p - 2); });
    for (uint64_t lanes = header | dynamic; lanes != 0; lanes &= lanes - 1) {
      const int bit = std::countr_zero(lanes);
      const bool fails = ((dynamic >> bit) & 1u) != 0 ? CodeLengthsCertainlyFail(at + bit)
                                                      : ProbeCertainlyFails(at + bit);
      if (!fails) return pos + bit;
    }
  }
  return end;
}

}  // namespace quarn::detail
