// Deflate data written bit by bit, for fixtures that must hit one rule of
// the format exactly: a bit writer in deflate's bit order, canonical
// Huffman codes from code lengths, dynamic block headers field by field,
// and the length and distance symbols with their extra bits. Also zlib's
// own verdict on a block of bytes, decided the way the detector's trial
// asks zlib.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "inflate/deflate_tables.h"

namespace quarn::test {

// Deflate's bit order: fields least significant bit first, Huffman codes
// most significant bit first.
class TBitWriter {
 public:
  void Bits(uint64_t value, unsigned count) {
    for (unsigned b = 0; b < count; ++b) Push(static_cast<unsigned>((value >> b) & 1u));
  }
  void Code(unsigned code, unsigned length) {
    for (unsigned b = length; b-- > 0;) Push((code >> b) & 1u);
  }
  void AlignToByte() {
    while (bitCount_ % 8 != 0) Push(0);
  }
  std::size_t BitCount() const { return bitCount_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  void Push(unsigned bit) {
    if (bitCount_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<uint8_t>(bytes_.back() | (bit << (bitCount_ % 8)));
    ++bitCount_;
  }
  std::vector<uint8_t> bytes_;
  std::size_t bitCount_ = 0;
};

// A canonical Huffman code (RFC 1951 3.2.2) given by its code lengths; a
// length of 0 means the symbol has no code. Lengths need not make a
// complete code: the fixtures of bad codes use it too.
class TCode {
 public:
  explicit TCode(std::vector<unsigned> lengths) : lengths_(std::move(lengths)), codes_(lengths_.size()) {
    unsigned perLength[16] = {};
    for (const unsigned length : lengths_) ++perLength[length];
    perLength[0] = 0;
    unsigned nextCode[16] = {};
    for (unsigned length = 1, code = 0; length <= 15; ++length) {
      code = (code + perLength[length - 1]) << 1;
      nextCode[length] = code;
    }
    for (std::size_t s = 0; s < lengths_.size(); ++s) {
      if (lengths_[s] != 0) codes_[s] = nextCode[lengths_[s]]++;
    }
  }
  void Put(TBitWriter& w, unsigned symbol) const {
    if (symbol >= lengths_.size() || lengths_[symbol] == 0) throw std::logic_error("symbol has no code");
    w.Code(codes_[symbol], lengths_[symbol]);
  }
  const std::vector<unsigned>& Lengths() const { return lengths_; }

 private:
  std::vector<unsigned> lengths_;
  std::vector<unsigned> codes_;
};

// The order in which the code-length code's lengths are sent.
inline constexpr const unsigned (&kClcOrder)[19] = deflate_tables::kCodeLengthOrder;

// One code-length symbol: 0..15 a length, 16 repeat the previous (extra 0..3
// for 3..6 times), 17 zeros (0..7 for 3..10), 18 zeros (0..127 for 11..138).
struct TSym {
  unsigned symbol;
  unsigned extra = 0;
};

// A code-length code in which every symbol 0..18 has a code: 0..12 four
// bits, 13..18 five (complete: 13/16 + 6/32).
inline std::vector<unsigned> EveryClcSymbol() {
  std::vector<unsigned> lengths(19, 4);
  for (unsigned s = 13; s < 19; ++s) lengths[s] = 5;
  return lengths;
}

// A dynamic block header, field by field.
struct TDynamicHeader {
  bool final = true;
  unsigned hlit = 0;   // literal/length codes - 257
  unsigned hdist = 0;  // distance codes - 1
  std::vector<unsigned> clcLengths = EveryClcSymbol();
  unsigned hclenAtLeast = 0;  // HCLEN is at least this, and covers every nonzero length
  std::vector<TSym> symbols;  // the code lengths, coded with the code-length code
};

inline void Write(TBitWriter& w, const TDynamicHeader& h) {
  w.Bits(h.final ? 1 : 0, 1);
  w.Bits(2, 2);  // BTYPE 2: dynamic Huffman codes
  w.Bits(h.hlit, 5);
  w.Bits(h.hdist, 5);
  unsigned ncode = std::max(4u, h.hclenAtLeast + 4);
  for (unsigned k = 0; k < 19; ++k) {
    if (h.clcLengths[kClcOrder[k]] != 0) ncode = std::max(ncode, k + 1);
  }
  w.Bits(ncode - 4, 4);
  for (unsigned k = 0; k < ncode; ++k) w.Bits(h.clcLengths[kClcOrder[k]], 3);
  const TCode clc(h.clcLengths);
  for (const TSym& s : h.symbols) {
    clc.Put(w, s.symbol);
    if (s.symbol == 16) w.Bits(s.extra, 2);
    if (s.symbol == 17) w.Bits(s.extra, 3);
    if (s.symbol == 18) w.Bits(s.extra, 7);
  }
}

// Each length as a symbol of its own.
inline std::vector<TSym> PlainSymbols(const std::vector<unsigned>& lengths) {
  std::vector<TSym> symbols;
  for (const unsigned length : lengths) symbols.push_back({length});
  return symbols;
}

// A dynamic block header for these two codes, lengths sent one by one.
inline TDynamicHeader HeaderFor(const std::vector<unsigned>& litlenLengths,
                                const std::vector<unsigned>& distLengths, bool final = true) {
  TDynamicHeader h;
  h.final = final;
  h.hlit = static_cast<unsigned>(litlenLengths.size()) - 257;
  h.hdist = static_cast<unsigned>(distLengths.size()) - 1;
  std::vector<unsigned> all = litlenLengths;
  all.insert(all.end(), distLengths.begin(), distLengths.end());
  h.symbols = PlainSymbols(all);
  return h;
}

// A complete literal/length code of 286 symbols: literals nine bits,
// end-of-block and length 3 five bits, the other lengths six.
inline std::vector<unsigned> UsualLitlenLengths() {
  std::vector<unsigned> lengths(286, 6);
  std::fill(lengths.begin(), lengths.begin() + 256, 9);
  lengths[256] = 5;
  lengths[257] = 5;
  return lengths;
}
// A complete distance code of 30 symbols: 0 and 1 four bits, the rest five.
inline std::vector<unsigned> UsualDistLengths() {
  std::vector<unsigned> lengths(30, 5);
  lengths[0] = lengths[1] = 4;
  return lengths;
}

// The fixed codes of BTYPE 1.
inline TCode FixedLitlenCode() {
  std::vector<unsigned> lengths(288, 8);
  std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
  std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
  return TCode(lengths);
}
inline TCode FixedDistCode() { return TCode(std::vector<unsigned>(32, 5)); }

using deflate_tables::kDistBase, deflate_tables::kDistExtra, deflate_tables::kLengthBase, deflate_tables::kLengthExtra;

// A match of `length` (3..258) at `distance` (1..32768) with these codes.
inline void PutMatch(TBitWriter& w, const TCode& litlen, const TCode& dist, unsigned length, unsigned distance) {
  unsigned l = 28;
  while (kLengthBase[l] > length) --l;
  litlen.Put(w, 257 + l);
  w.Bits(length - kLengthBase[l], kLengthExtra[l]);
  unsigned d = 29;
  while (kDistBase[d] > distance) --d;
  dist.Put(w, d);
  w.Bits(distance - kDistBase[d], kDistExtra[d]);
}

// `count` bytes of output: one literal, then matches at distance 1.
inline void PutRun(TBitWriter& w, const TCode& litlen, const TCode& dist, uint64_t count, unsigned byte = 'a') {
  if (count == 0) return;
  litlen.Put(w, byte);
  uint64_t left = count - 1;
  while (left > 0) {
    if (left < 3) {
      litlen.Put(w, byte);
      --left;
      continue;
    }
    // Never leave 1 or 2 bytes that a match cannot take.
    const unsigned length = left >= 261 || left == 258 ? 258
                            : left > 258              ? static_cast<unsigned>(left) - 3
                                                      : static_cast<unsigned>(left);
    PutMatch(w, litlen, dist, length, 1);
    left -= length;
  }
}

// What zlib's raw inflate (32 KiB window) says of `data`, asked as the
// detector's trial asks: a probe of at most 64 bytes and 4,096 bytes of
// output, then the rest, 64 KiB of output a call, Z_SYNC_FLUSH throughout,
// until a call returns anything but Z_OK. The totals are counted in 64
// bits from how far the calls moved next_in and next_out, as the trial
// counts them: zlib's own total_in and total_out are 32 bits on Windows.
struct TZlibVerdict {
  int code = Z_OK;
  uint64_t totalIn = 0;
  uint64_t totalOut = 0;
};

inline TZlibVerdict ZlibVerdict(const uint8_t* data, uint64_t size) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  std::vector<uint8_t> out(65536);
  TZlibVerdict v;
  s.next_in = const_cast<Bytef*>(data);
  s.avail_in = static_cast<uInt>(std::min<uint64_t>(size, 64));
  uint64_t notOffered = size - s.avail_in;
  s.next_out = out.data();
  s.avail_out = 4096;
  int code = inflate(&s, Z_SYNC_FLUSH);
  v.totalOut = static_cast<uint64_t>(s.next_out - out.data());
  while (code == Z_OK) {
    if (s.avail_in == 0 && notOffered > 0) {
      const uint64_t piece = std::min<uint64_t>(notOffered, uInt{0xFFFFFFFFu});
      s.avail_in = static_cast<uInt>(piece);
      notOffered -= piece;
    }
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    code = inflate(&s, Z_SYNC_FLUSH);
    v.totalOut += static_cast<uint64_t>(s.next_out - out.data());
  }
  v.code = code;
  v.totalIn = static_cast<uint64_t>(s.next_in - data);
  inflateEnd(&s);
  return v;
}

inline TZlibVerdict ZlibVerdict(const std::vector<uint8_t>& data) { return ZlibVerdict(data.data(), data.size()); }

}  // namespace quarn::test
