// One stream that a scan accepted: where its deflate data starts, what its
// zlib header said, and what its trial consumed and produced. Everything
// the scan gives out about a stream travels in this one value.
#pragma once

#include <cstdint>

namespace quarn {

struct TFoundStream {
  int64_t OffsetBytes = 0;  // first deflate byte, from the start of the block
  bool HasHeader = false;   // zlib header at OffsetBytes-2, else raw deflate
  uint8_t CINFO = 0;        // header streams: window size is 2^(CINFO+8)
  uint8_t FLEVEL = 0;       // header streams: compression level hint 0..3
  uint64_t InBytes = 0;     // deflate bytes consumed, as the trial counted them
  uint64_t OutBytes = 0;    // bytes inflated
  bool Complete = false;    // reached the end of the deflate stream

  // Where the stream starts: its zlib header's first byte, two before the
  // first deflate byte, or for raw deflate the first deflate byte itself.
  // Other tools, and zlib's own one-call inflation, start there.
  int64_t StartBytes() const { return HasHeader ? OffsetBytes - 2 : OffsetBytes; }
};

}  // namespace quarn
