// What a scan reads: a block of memory (a mapped file's content or a
// caller's buffer) and a range of its positions. Two small views, passed
// by value, in place of the pointer, size and bounds that every scan call
// would otherwise take one by one.
#pragma once

#include <cstdint>

namespace quarn {

// Memory[0 .. Size-1].
struct TBlock {
  const uint8_t* Memory = nullptr;
  int64_t Size = 0;
};

// The positions [From, To) of a block.
struct TRange {
  int64_t From = 0;
  int64_t To = 0;
};

}  // namespace quarn
