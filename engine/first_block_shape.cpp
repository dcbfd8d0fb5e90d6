// Reading the first block of a deflate stream symbol by symbol. Speed hardly
// matters here (one block a stream, against the recompression that
// follows), so the Huffman codes are decoded one bit at a time from their
// per-length counts, the plainest way that is still exact, and every read
// is checked against the end of the data.
#include "engine/first_block_shape.h"

#include <array>

#include "inflate/deflate_tables.h"

namespace quarn {
namespace {

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kLiteralLengthSymbols = 288;
constexpr unsigned kDistanceSymbols = 32;

class TBitReader {
 public:
  explicit TBitReader(std::span<const uint8_t> data) : data_(data) {}
  // False once a read would pass the end; the bits read then are zero.
  bool Ok() const { return ok_; }
  uint64_t Position() const { return bit_; }
  unsigned Bits(unsigned count) {
    unsigned value = 0;
    for (unsigned k = 0; k < count; ++k) value |= Bit() << k;
    return value;
  }
  unsigned Bit() {
    if (bit_ >= data_.size() * 8) {
      ok_ = false;
      return 0;
    }
    const unsigned value = (static_cast<unsigned>(data_[bit_ / 8]) >> (bit_ % 8)) & 1u;
    ++bit_;
    return value;
  }
  void AlignToByte() { bit_ = (bit_ + 7) / 8 * 8; }

 private:
  std::span<const uint8_t> data_;
  uint64_t bit_ = 0;
  bool ok_ = true;
};

// A canonical Huffman code: how many codes each length has, and the
// symbols in code order.
struct THuffman {
  std::array<uint16_t, kMaxCodeBits + 1> Counts{};
  std::array<uint16_t, kLiteralLengthSymbols> Symbols{};
};

// Builds the code of `lengths`; false when it is over-subscribed, or
// incomplete beyond what the format allows (a single code of one bit).
bool Build(THuffman& code, std::span<const uint8_t> lengths) {
  code.Counts.fill(0);
  for (const uint8_t length : lengths) ++code.Counts[length];
  if (code.Counts[0] == lengths.size()) return true;  // no codes: decoding fails on use
  int left = 1;
  for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
    left = left * 2 - code.Counts[bits];
    if (left < 0) return false;
  }
  std::array<uint16_t, kMaxCodeBits + 2> offsets{};
  for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
    offsets[bits + 1] = static_cast<uint16_t>(offsets[bits] + code.Counts[bits]);
  }
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    if (lengths[symbol] != 0) code.Symbols[offsets[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
  }
  // zlib takes an incomplete code only when it is one code of one bit.
  const unsigned used = static_cast<unsigned>(lengths.size()) - code.Counts[0];
  return left == 0 || (used == 1 && code.Counts[1] == 1);
}

// The next symbol, or -1 for a code that is not in the table or data that
// ends.
int Decode(TBitReader& in, const THuffman& code) {
  int value = 0;   // the bits read so far, as a code
  int first = 0;   // the first code of the current length
  int index = 0;   // where that length's symbols start
  for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
    value |= static_cast<int>(in.Bit());
    if (!in.Ok()) return -1;
    const int count = code.Counts[bits];
    if (value - count < first) return code.Symbols[static_cast<std::size_t>(index + (value - first))];
    index += count;
    first = (first + count) << 1;
    value <<= 1;
  }
  return -1;
}

bool ReadStored(TBitReader& in, std::span<const uint8_t> deflate, TFirstBlockShape& shape) {
  in.AlignToByte();
  const unsigned length = in.Bits(16);
  const unsigned complement = in.Bits(16);
  if (!in.Ok() || (length ^ complement) != 0xffffu) return false;
  const uint64_t end = in.Position() + uint64_t{length} * 8;
  if (end > deflate.size() * 8) return false;
  shape.InflatedBytes = length;
  shape.EndBits = end;
  return true;
}

bool ReadDynamicCodes(TBitReader& in, THuffman& literals, THuffman& distances) {
  const unsigned literalCount = in.Bits(5) + 257;
  const unsigned distanceCount = in.Bits(5) + 1;
  const unsigned codeLengthCount = in.Bits(4) + 4;
  if (literalCount > 286 || distanceCount > 30) return false;
  std::array<uint8_t, 19> codeLengthLengths{};
  for (unsigned k = 0; k < codeLengthCount; ++k) {
    codeLengthLengths[deflate_tables::kCodeLengthOrder[k]] = static_cast<uint8_t>(in.Bits(3));
  }
  THuffman codeLengthCode;
  if (!in.Ok() || !Build(codeLengthCode, codeLengthLengths)) return false;

  std::array<uint8_t, 286 + 30> lengths{};
  unsigned filled = 0;
  while (filled < literalCount + distanceCount) {
    const int symbol = Decode(in, codeLengthCode);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[filled++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t repeated = 0;
    unsigned times = 0;
    if (symbol == 16) {
      if (filled == 0) return false;
      repeated = lengths[filled - 1];
      times = 3 + in.Bits(2);
    } else {
      times = symbol == 17 ? 3 + in.Bits(3) : 11 + in.Bits(7);
    }
    if (!in.Ok() || filled + times > literalCount + distanceCount) return false;
    while (times-- > 0) lengths[filled++] = repeated;
  }
  if (lengths[256] == 0) return false;  // no end-of-block code
  return Build(literals, std::span<const uint8_t>(lengths.data(), literalCount)) &&
         Build(distances, std::span<const uint8_t>(lengths.data() + literalCount, distanceCount));
}

void BuildFixedCodes(THuffman& literals, THuffman& distances) {
  std::array<uint8_t, kLiteralLengthSymbols> lengths{};
  for (unsigned symbol = 0; symbol < kLiteralLengthSymbols; ++symbol) {
    lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
  }
  Build(literals, lengths);
  std::array<uint8_t, kDistanceSymbols> distanceLengths{};
  distanceLengths.fill(5);
  Build(distances, distanceLengths);
}

bool ReadCoded(TBitReader& in, const THuffman& literals, const THuffman& distances, TFirstBlockShape& shape) {
  for (;;) {
    const int symbol = Decode(in, literals);
    if (symbol < 0 || symbol > 285) return false;
    if (symbol == 256) break;
    ++shape.Symbols;
    if (symbol < 256) {
      ++shape.InflatedBytes;
      continue;
    }
    const auto lengthIndex = static_cast<std::size_t>(symbol - 257);
    const unsigned length = deflate_tables::kLengthBase[lengthIndex] + in.Bits(deflate_tables::kLengthExtra[lengthIndex]);
    const int distanceSymbol = Decode(in, distances);
    if (distanceSymbol < 0 || distanceSymbol > 29) return false;
    const auto distanceIndex = static_cast<std::size_t>(distanceSymbol);
    const unsigned distance =
        deflate_tables::kDistBase[distanceIndex] + in.Bits(deflate_tables::kDistExtra[distanceIndex]);
    if (!in.Ok() || distance > shape.InflatedBytes) return false;  // before the stream's first byte
    ++shape.Matches;
    if (distance > shape.MaxDistance) shape.MaxDistance = distance;
    if (distance != 1) shape.AllDistancesOne = false;
    shape.InflatedBytes += length;
  }
  shape.EndBits = in.Position();
  return in.Ok();
}

}  // namespace

TFirstBlockShape ReadFirstBlockShape(std::span<const uint8_t> deflate) {
  TFirstBlockShape shape;
  TBitReader in(deflate);
  shape.Final = in.Bit() != 0;
  shape.Type = static_cast<uint8_t>(in.Bits(2));
  if (!in.Ok() || shape.Type == 3) return TFirstBlockShape{};

  bool read = false;
  if (shape.Type == 0) {
    read = ReadStored(in, deflate, shape);
  } else {
    THuffman literals;
    THuffman distances;
    if (shape.Type == 1) {
      BuildFixedCodes(literals, distances);
      read = true;
    } else {
      read = ReadDynamicCodes(in, literals, distances);
    }
    read = read && ReadCoded(in, literals, distances, shape);
  }
  if (!read) return TFirstBlockShape{};
  shape.Valid = true;
  return shape;
}

}  // namespace quarn
