// The shape of the first block of a deflate stream, read without inflating
// anything else: its type, whether it is the last one, how many symbols it
// codes, and which match distances it uses. An encoder leaves its marks
// there (zlib ends a block that is not the last after exactly 2^(memLevel+6)-1
// symbols; its Huffman-only strategy sends no match, its RLE strategy only
// matches at distance 1; no match reaches further back than the window),
// so the fingerprint reads them to choose and order its tries.
#pragma once

#include <cstdint>
#include <span>

namespace quarn {

struct TFirstBlockShape {
  bool Valid = false;        // the first block decodes whole; nothing below holds otherwise
  uint8_t Type = 0;          // BTYPE: 0 stored, 1 fixed Huffman codes, 2 dynamic ones
  bool Final = false;        // BFINAL: the stream's only block
  uint64_t Symbols = 0;      // literals and matches, the end-of-block code not counted (0 when stored)
  uint64_t Matches = 0;      // length/distance pairs
  uint32_t MaxDistance = 0;  // the farthest match, in bytes back (0 without matches)
  bool AllDistancesOne = true;  // every match (if any) copies the byte before it
  uint64_t InflatedBytes = 0;   // bytes the block produces
  uint64_t EndBits = 0;         // stream bits up to and including the block's last one
};

// Reads the first block of the raw deflate data `deflate`. Any bytes are
// safe: a block that is cut short or breaks a rule of the format gives
// Valid false. Works in time linear in the block's bits.
TFirstBlockShape ReadFirstBlockShape(std::span<const uint8_t> deflate);

}  // namespace quarn
