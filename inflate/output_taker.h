// What a decoder hands its output to when the caller wants the inflated
// bytes and not only their count: the fast inflate path hands each piece
// of output as it leaves its buffer, the trial each zlib call's output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

class TOutputTaker {
 public:
  virtual ~TOutputTaker() = default;
  // The next `count` bytes of output, in order; `bytes` stays valid only
  // during the call. May raise, which ends the decode.
  virtual void Take(const uint8_t* bytes, std::size_t count) = 0;
};

}  // namespace quarn
