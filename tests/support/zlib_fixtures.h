// Fixtures made at test time with the system's zlib: compressible text,
// noise, zlib and raw deflate streams with chosen window, level and
// strategy, and a way to lay them out in a block at known offsets.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn::test {

using TBytes = std::vector<uint8_t>;

// Text-like data that deflate codes with dynamic Huffman blocks.
inline TBytes MakeText(std::size_t sizeBytes, uint32_t seed = 1) {
  static const char* const kWords[] = {"zlib ", "stream ", "deflate ", "window ", "block ",
                                       "huffman ", "header ", "quarn ", "scan ", "byte ",
                                       "offset\n", "inflate ", "level ", "tree ", "code "};
  std::mt19937 rng(seed);
  TBytes out;
  out.reserve(sizeBytes + 16);
  while (out.size() < sizeBytes) {
    const char* word = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    for (const char* c = word; *c != 0; ++c) out.push_back(static_cast<uint8_t>(*c));
    if (rng() % 7 == 0) out.push_back(static_cast<uint8_t>('0' + rng() % 10));
  }
  out.resize(sizeBytes);
  return out;
}

// The parts one after the other.
inline TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline TBytes MakeNoise(std::size_t sizeBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes out(sizeBytes);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

struct TDeflateParams {
  int level = Z_DEFAULT_COMPRESSION;
  int windowBits = 15;  // 9..15; negative for raw deflate
  int strategy = Z_DEFAULT_STRATEGY;
  const TBytes* dictionary = nullptr;
  int memLevel = 8;  // 1..9
};

inline TBytes Deflate(const TBytes& data, const TDeflateParams& params) {
  z_stream s{};
  if (deflateInit2(&s, params.level, Z_DEFLATED, params.windowBits, params.memLevel, params.strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  if (params.dictionary != nullptr) {
    deflateSetDictionary(&s, params.dictionary->data(), static_cast<uInt>(params.dictionary->size()));
  }
  TBytes out(deflateBound(&s, static_cast<uLong>(data.size())) + 64);
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int code = deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  if (code != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

inline TBytes Zlib(const TBytes& data, int level = Z_DEFAULT_COMPRESSION, int windowBits = 15,
                   int strategy = Z_DEFAULT_STRATEGY) {
  return Deflate(data, {level, windowBits, strategy, nullptr});
}

inline TBytes Raw(const TBytes& data, int level = Z_DEFAULT_COMPRESSION,
                  int strategy = Z_DEFAULT_STRATEGY) {
  return Deflate(data, {level, -15, strategy, nullptr});
}

// Deflate data (zlib with a header, or raw with a negative `windowBits`)
// of `pieces`, flushed with `flush` (Z_SYNC_FLUSH, Z_FULL_FLUSH) after
// each and never finished: a stream that a trial inflates to the end of
// its input, where a new block starts on a byte after every piece.
inline TBytes Unfinished(const std::vector<TBytes>& pieces, int flush, int level = 6, int windowBits = 15) {
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  TBytes out;
  for (const TBytes& piece : pieces) {
    TBytes room(deflateBound(&s, static_cast<uLong>(piece.size())) + 64);
    s.next_in = const_cast<Bytef*>(piece.data());
    s.avail_in = static_cast<uInt>(piece.size());
    s.next_out = room.data();
    s.avail_out = static_cast<uInt>(room.size());
    if (deflate(&s, flush) != Z_OK || s.avail_in != 0) throw std::runtime_error("deflate did not flush");
    out.insert(out.end(), room.data(), s.next_out);
  }
  deflateEnd(&s);
  return out;
}

// `count` pieces of `pieceBytes` random lowercase letters.
inline std::vector<TBytes> RandomLetterPieces(std::size_t count, std::size_t pieceBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<TBytes> pieces(count, TBytes(pieceBytes));
  for (TBytes& piece : pieces) {
    for (uint8_t& b : piece) b = static_cast<uint8_t>('a' + rng() % 26);
  }
  return pieces;
}

// A block built piece by piece, remembering where each piece starts.
class TLayout {
 public:
  std::size_t Append(const TBytes& piece) {
    const std::size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), piece.begin(), piece.end());
    return at;
  }
  std::size_t Zeros(std::size_t count) { return Append(TBytes(count, 0)); }
  const TBytes& Bytes() const { return bytes_; }
  TBytes& Bytes() { return bytes_; }

 private:
  TBytes bytes_;
};

}  // namespace quarn::test
