// The fast inflate path: a raw deflate decoder that only counts.
//
// THE RULE. It is never more lenient than zlib. It answers "complete" only
// where zlib 1.2.13's raw inflate would reach Z_STREAM_END having consumed
// and produced exactly as many bytes as it says; wherever zlib fails, and
// wherever this decoder is unsure, it answers "don't know", and zlib
// decides. Each check that zlib makes has one named function below
// (section "zlib's checks"), next to the message zlib gives, so the two
// lists can be compared.
//
// Totals past 4 GiB are decided here too, on every platform: this decoder
// counts in 64 bits, and so does the trial around zlib's calls. zlib's own
// total_in and total_out are 32 bits on Windows and wrap there, but no
// decision of its raw inflate depends on them (it checks distances against
// its window, not against its totals), so the totals it would count in 64
// bits are the ones given here.
//
// Why it is faster than zlib, which it replaces for every stream that is
// complete (nearly all accepted streams of real data):
//   * The bit buffer is 64 bits wide and refilled without a branch: one
//     unaligned 8-byte load tops it up to 56..63 bits, enough for a whole
//     length/distance pair (at most 48 bits) or three literals.
//   * One look-up in the literal/length table (11 index bits) decodes a
//     symbol and tells how many extra bits follow and where: an entry
//     holds the literal, or the length base with its extra-bit count, and
//     the code length. Codes longer than 11 bits take one more look-up in
//     a subtable.
//   * The hot loop (DecodeCodes<false>) runs only while at least
//     kInputMargin input bytes and kOutputMargin bytes of output space
//     remain, so no symbol pays for a bounds check; the last input bytes
//     are decoded by the same loop with checked refills (DecodeCodes<true>).
//   * Matches are copied eight bytes at a time, a byte pattern for
//     distance 1, and output is never looked at again.
//   * Nothing is allocated per stream: the output goes to one buffer of
//     kFastInflateBufferBytes whose last 32 KiB (the window) slide to the
//     front when it fills, and the decode tables are rebuilt in place.
//
// Counting input as zlib does: zlib pulls input bytes into its bit buffer
// only when a code needs them and gives back whole unused bytes when it
// stops, so at Z_STREAM_END it has consumed exactly the bytes that hold a
// consumed bit. Here the bit buffer may run ahead of the input (with
// zero bits, counted in `overread`); consumed bits are
// 8 * (bytes loaded) - (bits left), and any consumed bit past the last
// input byte means the input ran out: "don't know" (zlib says Z_BUF_ERROR).
#include "inflate/fast_inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "inflate/deflate_tables.h"
#include "util/platform/thread_exit.h"

namespace quarn {
namespace {

static_assert(std::endian::native == std::endian::little, "the bit buffer loads little-endian words");

constexpr std::size_t kWindowBytes = 32768;  // zlib's window with window bits 15
constexpr unsigned kMaxCodeBits = 15;

// ---------------------------------------------------------------------------
// Decode table entries
//
//   bits 0..7    bits to drop: code length + extra bits; for a subtable
//                pointer, the index bits of the main table
//   bits 8..11   code length, where the extra bits begin; for a subtable
//                pointer, the index bits of the subtable
//   bit 12       literal (value: the byte)
//   bit 13       exceptional: end of block, subtable pointer or invalid
//   bit 14       subtable pointer (value: where the subtable starts)
//   bit 15       end of block
//   bits 16..31  value: literal, length or distance base, subtable start
// An exceptional entry with neither bit 14 nor bit 15 is a symbol zlib
// calls invalid. Entries are built from a per-symbol template that holds
// everything but the code length.
// ---------------------------------------------------------------------------

using TEntry = uint32_t;
constexpr TEntry kLiteral = 1u << 12;
constexpr TEntry kExceptional = 1u << 13;
constexpr TEntry kSubtable = 1u << 14;
constexpr TEntry kEndOfBlock = 1u << 15;
constexpr TEntry kInvalid = kExceptional;

constexpr TEntry Template(unsigned value, unsigned extraBits, TEntry flags) {
  return (TEntry{value} << 16) | flags | extraBits;
}
constexpr TEntry WithCodeBits(TEntry entryTemplate, unsigned codeBits) {
  return entryTemplate + (codeBits << 8) + codeBits;
}
inline unsigned DropBits(TEntry e) { return e & 0xFFu; }
inline unsigned CodeBits(TEntry e) { return (e >> 8) & 0xFu; }
inline unsigned Value(TEntry e) { return e >> 16; }

constexpr unsigned kLitlenTableBits = 11;
constexpr unsigned kDistTableBits = 8;
constexpr unsigned kCodeLengthTableBits = 7;
// Room for the main table and a subtable for every code longer than its
// index bits, each as large as the longest code needs: more than any code
// can use, so TableOverflow never refuses a code that zlib takes.
constexpr unsigned kLitlenCapacity = (1u << kLitlenTableBits) + 286 * (1u << (kMaxCodeBits - kLitlenTableBits));
constexpr unsigned kDistCapacity = (1u << kDistTableBits) + 30 * (1u << (kMaxCodeBits - kDistTableBits));

constexpr unsigned kMaxLitlenSymbols = 288;  // 286 and 287 only in fixed-code blocks
constexpr unsigned kMaxDistSymbols = 32;     // 30 and 31 only in fixed-code blocks

struct TSymbolTemplates {
  TEntry litlen[kMaxLitlenSymbols];
  TEntry dist[kMaxDistSymbols];
  TEntry codeLength[19];
};

constexpr TSymbolTemplates kTemplates = [] {
  using deflate_tables::kDistBase, deflate_tables::kDistExtra, deflate_tables::kLengthBase, deflate_tables::kLengthExtra;
  TSymbolTemplates t{};
  for (unsigned s = 0; s < 256; ++s) t.litlen[s] = Template(s, 0, kLiteral);
  t.litlen[256] = Template(0, 0, kExceptional | kEndOfBlock);
  for (unsigned s = 257; s < 286; ++s) t.litlen[s] = Template(kLengthBase[s - 257], kLengthExtra[s - 257], 0);
  t.litlen[286] = t.litlen[287] = kInvalid;
  for (unsigned s = 0; s < 30; ++s) t.dist[s] = Template(kDistBase[s], kDistExtra[s], 0);
  t.dist[30] = t.dist[31] = kInvalid;
  for (unsigned s = 0; s < 19; ++s) t.codeLength[s] = Template(s, 0, 0);
  return t;
}();

using deflate_tables::kCodeLengthOrder;

// ---------------------------------------------------------------------------
// zlib's checks. Each returns true where zlib 1.2.13's inflate fails (its
// message in quotes) or cannot reach Z_STREAM_END; the decoder then says
// "don't know". The last one is this decoder's own limit.
// ---------------------------------------------------------------------------

// "invalid block type": BTYPE 3.
constexpr bool BlockTypeIsReserved(unsigned btype) { return btype == 3; }
// "invalid stored block lengths": NLEN is not the ones' complement of LEN.
constexpr bool StoredLengthsMismatch(unsigned len, unsigned nlen) { return len != (nlen ^ 0xFFFFu); }
// "too many length or distance symbols": HLIT above 29 or HDIST above 29.
constexpr bool TooManyLengthOrDistanceSymbols(unsigned nlen, unsigned ndist) { return nlen > 286 || ndist > 30; }
// "invalid code lengths set": the code-length code is over-subscribed or
// incomplete. (An all-zero one zlib takes here, reads every length as 0
// and fails below at the end-of-block check, so refusing it at once gives
// the same verdict.)
constexpr bool CodeLengthCodeIsBad(int kraftLeft, unsigned /*maxLength*/) { return kraftLeft != 0; }
// "invalid bit length repeat": code 16 with no length before it.
constexpr bool RepeatWithoutPreviousLength(unsigned have) { return have == 0; }
// "invalid bit length repeat": a repeat that runs past the last length.
constexpr bool RepeatPastLastLength(unsigned have, unsigned copies, unsigned total) { return have + copies > total; }
// "invalid code -- missing end-of-block": symbol 256 has no code.
constexpr bool NoEndOfBlockCode(const uint8_t* litlenLengths) { return litlenLengths[256] == 0; }
// "invalid literal/lengths set", "invalid distances set": over-subscribed,
// or incomplete unless the longest code has one bit (a single one-bit
// code, or for distances no code at all).
constexpr bool HuffmanCodeIsBad(int kraftLeft, unsigned maxLength) {
  return kraftLeft < 0 || (kraftLeft > 0 && maxLength > 1);
}
// "invalid literal/length code": a code zlib's table marks invalid (286
// and 287 in fixed-code blocks, the unused half of a one-bit code).
inline bool InvalidLiteralLengthSymbol(TEntry e) {
  return (e & (kExceptional | kSubtable | kEndOfBlock)) == kExceptional;
}
// "invalid distance code": 30 and 31 in fixed-code blocks, any distance
// with an empty distance code, the unused half of a one-bit code.
inline bool InvalidDistanceSymbol(TEntry e) { return (e & kExceptional) != 0; }
// "invalid distance too far back": further back than the output so far
// (zlib's window starts empty). `outputInBuffer` is the whole output
// until the buffer first slides, and at least 32 KiB from then on.
inline bool DistanceBeyondOutput(unsigned distance, std::size_t outputInBuffer) {
  return distance > outputInBuffer;
}
// Z_BUF_ERROR: a consumed bit lies past the last input byte. The last
// `overreadBytes` bytes loaded into the bit buffer were zeros standing in
// for missing input; while they are all still in the buffer, nothing past
// the end has been used.
inline bool InputRanOut(unsigned overreadBytes, unsigned bitsLeft) { return 8 * overreadBytes > bitsLeft; }
// Our own: a table that would not fit its room (see kLitlenCapacity).
constexpr bool TableOverflow(unsigned used, unsigned capacity) { return used > capacity; }

// ---------------------------------------------------------------------------
// Huffman decoding tables
// ---------------------------------------------------------------------------

enum class TCodeKind { CodeLengths, LiteralLength, Distance };

// Builds the decode table of the canonical code given by `lengths`
// (`count` symbols) into `table`: a main table indexed by the next
// `tableBits` input bits, then subtables for longer codes. False where
// zlib's inflate_table fails for this kind of code, or where the tables
// would not fit.
bool BuildTable(TEntry* table, unsigned capacity, unsigned tableBits, const uint8_t* lengths,
                unsigned count, const TEntry* templates, TCodeKind kind) {
  unsigned counts[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < count; ++s) ++counts[lengths[s]];
  counts[0] = 0;
  int kraftLeft = 1;  // code space left, in units of 2^-length
  unsigned maxLength = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    kraftLeft = kraftLeft * 2 - static_cast<int>(counts[length]);
    if (kraftLeft < 0) return false;  // over-subscribed: bad for every kind
    if (counts[length] != 0) maxLength = length;
  }
  if (kind == TCodeKind::CodeLengths ? CodeLengthCodeIsBad(kraftLeft, maxLength)
                                     : HuffmanCodeIsBad(kraftLeft, maxLength)) {
    return false;
  }
  const unsigned tableSize = 1u << tableBits;
  if (kraftLeft > 0) std::fill(table, table + tableSize, kInvalid);  // a one-bit code or none
  if (maxLength == 0) return true;

  // Symbols in canonical order: by code length, then by symbol.
  uint16_t sorted[kMaxLitlenSymbols];
  unsigned offsets[kMaxCodeBits + 2] = {};
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) offsets[length + 1] = offsets[length] + counts[length];
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] != 0) sorted[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  }

  // Codes are walked in canonical order with `code` held bit-reversed, as
  // deflate sends them; each entry is repeated over every index whose low
  // bits are the code. Codes longer than `tableBits` go to a subtable per
  // distinct low `tableBits` bits, sized to hold the codes that share them.
  unsigned remaining[kMaxCodeBits + 1];
  std::copy(counts, counts + kMaxCodeBits + 1, remaining);
  unsigned length = 1;
  while (remaining[length] == 0) ++length;
  unsigned code = 0;           // reversed
  unsigned indexBits = tableBits;  // of the table being filled
  unsigned drop = 0;           // bits the main table took before it
  unsigned used = tableSize;
  TEntry* next = table;
  unsigned subtablePrefix = ~0u;
  const unsigned mainMask = tableSize - 1;
  for (unsigned k = 0;; ++k) {
    const TEntry here = WithCodeBits(templates[sorted[k]], length - drop);
    const unsigned step = 1u << (length - drop);
    for (unsigned fill = 1u << indexBits; fill != 0;) {
      fill -= step;
      next[(code >> drop) + fill] = here;
    }
    unsigned bit = 1u << (length - 1);
    while ((code & bit) != 0) bit >>= 1;
    code = bit != 0 ? (code & (bit - 1)) + bit : 0;
    if (--remaining[length] == 0) {
      if (length == maxLength) break;
      length = lengths[sorted[k + 1]];
    }
    if (length > tableBits && (code & mainMask) != subtablePrefix) {
      drop = tableBits;
      next += 1u << indexBits;
      indexBits = length - drop;
      int room = 1 << indexBits;
      while (indexBits + drop < maxLength) {
        room -= static_cast<int>(remaining[indexBits + drop]);
        if (room <= 0) break;
        ++indexBits;
        room <<= 1;
      }
      used += 1u << indexBits;
      if (TableOverflow(used, capacity)) return false;
      subtablePrefix = code & mainMask;
      table[subtablePrefix] = (static_cast<TEntry>(next - table) << 16) | kExceptional | kSubtable |
                              (indexBits << 8) | tableBits;
    }
  }
  return true;
}

inline uint64_t LoadWord(const uint8_t* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Margins of the hot loop. One iteration refills at most twice (each load
// reads 8 bytes and advances at most 7), and writes at most two literals
// and a match of 258 bytes rounded up to whole words.
constexpr std::ptrdiff_t kInputMargin = 32;
constexpr std::size_t kOutputMargin = 512;
constexpr std::size_t kBufferBytes = kFastInflateBufferBytes;

}  // namespace

struct TFastInflater::TState {
  TEntry litlen[kLitlenCapacity];
  TEntry dist[kDistCapacity];
  TEntry codeLength[1u << kCodeLengthTableBits];
  TEntry fixedLitlen[1u << kLitlenTableBits];
  TEntry fixedDist[1u << kDistTableBits];
  uint8_t lengths[286 + 30];
  alignas(64) uint8_t buffer[kBufferBytes];

  // The decoding position, kept here between the steps of one stream.
  const uint8_t* inStart = nullptr;
  const uint8_t* inNext = nullptr;
  const uint8_t* inEnd = nullptr;
  uint64_t bits = 0;       // next input bits, least significant first
  unsigned bitsLeft = 0;   // how many of `bits` are valid (or zeros past the end)
  unsigned overread = 0;   // zero bytes loaded past the end of the input
  uint8_t* out = nullptr;  // next output byte in `buffer`
  uint64_t outSlid = 0;    // output bytes that slid out of the buffer
  TInflateWatch* watch = nullptr;
  TChecksum checksum = TChecksum::None;
  TOutputTaker* taker = nullptr;
  uint32_t sum = 0;             // of the output before `summed`
  const uint8_t* summed = nullptr;  // in `buffer`; the output from here to `out` is not summed (nor taken) yet
  bool keepBlockStarts = false;              // armed for the next decode only
  std::vector<uint64_t> alignedBlockStarts;  // capacity kept from decode to decode

  TState() {
    uint8_t fixed[kMaxLitlenSymbols];
    std::fill(fixed, fixed + 144, 8);
    std::fill(fixed + 144, fixed + 256, 9);
    std::fill(fixed + 256, fixed + 280, 7);
    std::fill(fixed + 280, fixed + 288, 8);
    BuildTable(fixedLitlen, 1u << kLitlenTableBits, kLitlenTableBits, fixed, kMaxLitlenSymbols,
               kTemplates.litlen, TCodeKind::LiteralLength);
    std::fill(fixed, fixed + kMaxDistSymbols, 5);
    BuildTable(fixedDist, 1u << kDistTableBits, kDistTableBits, fixed, kMaxDistSymbols, kTemplates.dist,
               TCodeKind::Distance);
  }

  // --- Input bitstream ---

  // Tops the bit buffer up to 56..63 bits; needs 8 readable bytes.
  [[gnu::always_inline]] void RefillFast() {
    bits |= LoadWord(inNext) << bitsLeft;
    inNext += (63 - bitsLeft) >> 3;
    bitsLeft |= 56;
  }
  // The same near the end of the input: zero bytes stand in for what is
  // missing. False once a consumed bit lay past the end.
  bool RefillChecked() {
    if (inEnd - inNext >= 8) {
      RefillFast();
      return true;
    }
    if (InputRanOut(overread, bitsLeft)) return false;
    while (bitsLeft <= 56) {
      if (inNext < inEnd) {
        bits |= uint64_t{*inNext++} << bitsLeft;
      } else {
        ++overread;
      }
      bitsLeft += 8;
    }
    return true;
  }
  unsigned Take(unsigned count) {
    const unsigned value = static_cast<unsigned>(bits & ((uint64_t{1} << count) - 1));
    bits >>= count;
    bitsLeft -= count;
    return value;
  }
  uint64_t ConsumedBytes() const {  // rounded up, as zlib counts its input
    return static_cast<uint64_t>(inNext - inStart) + overread - bitsLeft / 8;
  }

  // --- Output ---

  // Keeps the last 32 KiB (the window) and makes room behind them.
  // Sums the output up to `out` and hands it to the taker; called before
  // output leaves the buffer.
  void SumOutput() {
    const auto count = static_cast<std::size_t>(out - summed);
    if (checksum != TChecksum::None) sum = ChecksumUpdate(checksum, sum, summed, count);
    if (taker != nullptr) taker->Take(summed, count);
    summed = out;
  }
  void Slide() {
    if (watch != nullptr) watch->Progress(static_cast<uint64_t>(inNext - inStart));
    SumOutput();
    const std::size_t used = static_cast<std::size_t>(out - buffer);
    std::memmove(buffer, out - kWindowBytes, kWindowBytes);
    outSlid += used - kWindowBytes;
    out = buffer + kWindowBytes;
    summed = out;
  }
  void CopyStored(const uint8_t* from, std::size_t count) {
    if (count >= kWindowBytes) {  // only the last 32 KiB can ever be referred to
      if (watch != nullptr) watch->Progress(static_cast<uint64_t>(inNext - inStart));
      SumOutput();
      if (checksum != TChecksum::None) sum = ChecksumUpdate(checksum, sum, from, count);
      if (taker != nullptr) taker->Take(from, count);
      outSlid += static_cast<std::size_t>(out - buffer) + count - kWindowBytes;
      std::memcpy(buffer, from + count - kWindowBytes, kWindowBytes);
      out = buffer + kWindowBytes;
      summed = out;
      return;
    }
    if (static_cast<std::size_t>(buffer + kBufferBytes - out) < count + kOutputMargin) Slide();
    std::memcpy(out, from, count);
    out += count;
  }

  // --- Blocks ---

  bool StoredBlock();
  bool DynamicHeader();
  template <bool kNearEnd>
  int DecodeCodes(const TEntry* litlenTable, const TEntry* distTable);
  bool HuffmanBlock(const TEntry* litlenTable, const TEntry* distTable);
};

// A stored block: to a byte boundary, LEN and NLEN, LEN bytes as they are.
bool TFastInflater::TState::StoredBlock() {
  if (InputRanOut(overread, bitsLeft)) return false;
  Take(bitsLeft & 7u);
  // Whole bytes still in the bit buffer go back to the input.
  inNext = inStart + ConsumedBytes();
  overread = 0;
  bits = 0;
  bitsLeft = 0;
  if (inEnd - inNext < 4) return false;  // the input ran out
  const unsigned len = unsigned{inNext[0]} | unsigned{inNext[1]} << 8;
  const unsigned nlen = unsigned{inNext[2]} | unsigned{inNext[3]} << 8;
  if (StoredLengthsMismatch(len, nlen)) return false;
  inNext += 4;
  if (inEnd - inNext < static_cast<std::ptrdiff_t>(len)) return false;  // the input ran out
  CopyStored(inNext, len);
  inNext += len;
  return true;
}

// The header of a dynamic block, after BFINAL and BTYPE: the code lengths
// of both codes, coded with the code-length code, into `litlen` and `dist`.
bool TFastInflater::TState::DynamicHeader() {
  if (!RefillChecked()) return false;
  const unsigned nlen = Take(5) + 257;
  const unsigned ndist = Take(5) + 1;
  const unsigned ncode = Take(4) + 4;
  if (TooManyLengthOrDistanceSymbols(nlen, ndist)) return false;

  uint8_t clcLengths[19] = {};
  for (unsigned k = 0; k < ncode; ++k) {
    if (bitsLeft < 3 && !RefillChecked()) return false;
    clcLengths[kCodeLengthOrder[k]] = static_cast<uint8_t>(Take(3));
  }
  if (!BuildTable(codeLength, 1u << kCodeLengthTableBits, kCodeLengthTableBits, clcLengths, 19,
                  kTemplates.codeLength, TCodeKind::CodeLengths)) {
    return false;
  }

  const unsigned total = nlen + ndist;
  unsigned have = 0;
  while (have < total) {
    if (bitsLeft < 14 && !RefillChecked()) return false;  // a 7-bit code and 7 repeat bits
    const TEntry here = codeLength[bits & ((1u << kCodeLengthTableBits) - 1)];
    Take(CodeBits(here));
    const unsigned symbol = Value(here);
    if (symbol < 16) {
      lengths[have++] = static_cast<uint8_t>(symbol);
      continue;
    }
    unsigned copies;
    uint8_t length = 0;
    if (symbol == 16) {
      if (RepeatWithoutPreviousLength(have)) return false;
      length = lengths[have - 1];
      copies = 3 + Take(2);
    } else if (symbol == 17) {
      copies = 3 + Take(3);
    } else {
      copies = 11 + Take(7);
    }
    if (RepeatPastLastLength(have, copies, total)) return false;
    std::memset(lengths + have, length, copies);
    have += copies;
  }
  if (NoEndOfBlockCode(lengths)) return false;
  return BuildTable(litlen, kLitlenCapacity, kLitlenTableBits, lengths, nlen, kTemplates.litlen,
                    TCodeKind::LiteralLength) &&
         BuildTable(dist, kDistCapacity, kDistTableBits, lengths + nlen, ndist, kTemplates.dist,
                    TCodeKind::Distance);
}

// Decodes literals and matches until the end of the block (returns 1),
// bad data or missing input (returns 0), or, in the hot loop, until the
// margins run out (returns 2: go on with checked refills). The hot loop
// (kNearEnd false) refills without looking at the input's end; the other
// one refills with checks and runs only for the last kInputMargin bytes.
template <bool kNearEnd>
[[gnu::always_inline]] inline int TFastInflater::TState::DecodeCodes(const TEntry* litlenTable,
                                                                     const TEntry* distTable) {
  constexpr uint64_t kLitlenMask = (1u << kLitlenTableBits) - 1;
  constexpr uint64_t kDistMask = (1u << kDistTableBits) - 1;
  uint8_t* const outLimit = buffer + kBufferBytes - kOutputMargin;
  // Local copies, so that the compiler keeps them in registers.
  uint64_t bitbuf = bits;
  unsigned left = bitsLeft;
  const uint8_t* next = inNext;
  uint8_t* dst = out;
  int result;

  const auto consume = [&](unsigned count) {
    bitbuf >>= count;
    left -= count;
  };
  const auto extraBits = [&](TEntry e) {  // the bits after the code, before dropping it
    return static_cast<unsigned>((bitbuf & ((uint64_t{1} << DropBits(e)) - 1)) >> CodeBits(e));
  };
  const auto refill = [&]() -> bool {
    if constexpr (kNearEnd) {
      bits = bitbuf, bitsLeft = left, inNext = next;
      const bool ok = RefillChecked();
      bitbuf = bits, left = bitsLeft, next = inNext;
      return ok;
    } else {
      bitbuf |= LoadWord(next) << left;
      next += (63 - left) >> 3;
      left |= 56;
      return true;
    }
  };

  for (;;) {
    if constexpr (!kNearEnd) {
      if (inEnd - next < kInputMargin) {
        result = 2;
        break;
      }
    }
    if (dst > outLimit) {
      out = dst;
      inNext = next;
      Slide();
      dst = out;
    }
    if (!refill()) {
      result = 0;
      break;
    }
    TEntry entry = litlenTable[bitbuf & kLitlenMask];
    if ((entry & kLiteral) != 0) {
      // 56 bits cover three literals of at most 15 bits; after two the
      // next entry is still whole, but a match needs a refill.
      consume(DropBits(entry));
      *dst++ = static_cast<uint8_t>(Value(entry));
      entry = litlenTable[bitbuf & kLitlenMask];
      if ((entry & kLiteral) != 0) {
        consume(DropBits(entry));
        *dst++ = static_cast<uint8_t>(Value(entry));
        entry = litlenTable[bitbuf & kLitlenMask];
        if ((entry & kLiteral) != 0) {
          consume(DropBits(entry));
          *dst++ = static_cast<uint8_t>(Value(entry));
          continue;
        }
      }
      if (!refill()) {
        result = 0;
        break;
      }
    }
    if ((entry & kExceptional) != 0) {
      if ((entry & kSubtable) != 0) {
        consume(DropBits(entry));
        entry = litlenTable[Value(entry) + (bitbuf & ((1u << CodeBits(entry)) - 1))];
        if ((entry & kLiteral) != 0) {
          consume(DropBits(entry));
          *dst++ = static_cast<uint8_t>(Value(entry));
          continue;
        }
      }
      if ((entry & kEndOfBlock) != 0) {
        consume(DropBits(entry));
        result = 1;
        break;
      }
      if (InvalidLiteralLengthSymbol(entry)) {
        result = 0;
        break;
      }
    }
    // A match: at most 20 bits of length, then 28 of distance, out of 56.
    const unsigned length = Value(entry) + extraBits(entry);
    consume(DropBits(entry));
    entry = distTable[bitbuf & kDistMask];
    if ((entry & kSubtable) != 0) {
      consume(DropBits(entry));
      entry = distTable[Value(entry) + (bitbuf & ((1u << CodeBits(entry)) - 1))];
    }
    if (InvalidDistanceSymbol(entry)) {
      result = 0;
      break;
    }
    const unsigned distance = Value(entry) + extraBits(entry);
    consume(DropBits(entry));
    if (DistanceBeyondOutput(distance, static_cast<std::size_t>(dst - buffer))) {
      result = 0;
      break;
    }
    // The copy may write up to 7 bytes past the match; the output margin
    // has room for them, and later output overwrites them.
    const uint8_t* from = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 8) {
      do {
        std::memcpy(dst, from, 8);
        dst += 8;
        from += 8;
      } while (dst < end);
    } else if (distance == 1) {
      const uint64_t pattern = uint64_t{*from} * 0x0101010101010101u;
      do {
        std::memcpy(dst, &pattern, 8);
        dst += 8;
      } while (dst < end);
    } else {
      do *dst++ = *from++;
      while (dst < end);
    }
    dst = end;
  }
  bits = bitbuf;
  bitsLeft = left;
  inNext = next;
  out = dst;
  return result;
}

bool TFastInflater::TState::HuffmanBlock(const TEntry* litlenTable, const TEntry* distTable) {
  int result = DecodeCodes<false>(litlenTable, distTable);
  if (result == 2) result = DecodeCodes<true>(litlenTable, distTable);
  return result == 1;
}

TFastInflater::TFastInflater() : state_(std::make_unique<TState>()) {}
TFastInflater::~TFastInflater() = default;

TFastInflateResult TFastInflater::Inflate(const uint8_t* in, uint64_t inBytes, TInflateWatch* watch,
                                          TChecksum checksum, TOutputTaker* taker) {
  TState& s = *state_;
  s.watch = watch;
  s.checksum = checksum;
  s.taker = taker;
  s.sum = ChecksumStart(checksum);
  const bool keepBlockStarts = s.keepBlockStarts;
  s.keepBlockStarts = false;
  s.alignedBlockStarts.clear();
  s.inStart = s.inNext = in;
  s.inEnd = in + inBytes;
  s.bits = 0;
  s.bitsLeft = 0;
  s.overread = 0;
  s.out = s.buffer;
  s.summed = s.buffer;
  s.outSlid = 0;

  bool final = false;
  bool first = true;
  while (!final) {
    if (!s.RefillChecked()) return {};
    // A whole number of bytes consumed: this block starts on a byte.
    if (keepBlockStarts && !first && (s.bitsLeft & 7u) == 0 &&
        s.alignedBlockStarts.size() < kMaxKeptBlockStarts) {
      const uint64_t at = s.ConsumedBytes();
      if (at < inBytes) s.alignedBlockStarts.push_back(at);
    }
    first = false;
    final = s.Take(1) != 0;
    const unsigned btype = s.Take(2);
    bool ok = false;
    switch (btype) {
      case 0:
        ok = s.StoredBlock();
        break;
      case 1:
        ok = s.HuffmanBlock(s.fixedLitlen, s.fixedDist);
        break;
      case 2:
        ok = s.DynamicHeader() && s.HuffmanBlock(s.litlen, s.dist);
        break;
      default:
        ok = !BlockTypeIsReserved(btype);
        break;
    }
    if (!ok) return {};
  }
  if (InputRanOut(s.overread, s.bitsLeft)) return {};
  TFastInflateResult result;
  result.InBytes = s.ConsumedBytes();
  result.OutBytes = s.outSlid + static_cast<uint64_t>(s.out - s.buffer);
  s.SumOutput();
  result.Sum = s.sum;
  result.Complete = true;
  return result;
}

void TFastInflater::KeepBlockStartsOfNextDecode() {
  state_->alignedBlockStarts.clear();
  state_->keepBlockStarts = true;
}

std::span<const uint64_t> TFastInflater::AlignedBlockStarts() const { return state_->alignedBlockStarts; }

TFastInflater& ThreadFastInflater() {
  // The thread-local part is a plain pointer: a thread_local object with a
  // destructor is used after it is freed at thread end on Windows.
  thread_local TFastInflater* inflater = nullptr;
  if (inflater == nullptr) {
    inflater = new TFastInflater;
    platform::AtThreadExit([](void* decoder) { delete static_cast<TFastInflater*>(decoder); }, inflater);
  }
  return *inflater;
}

}  // namespace quarn
