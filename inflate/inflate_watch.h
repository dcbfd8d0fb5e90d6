// The one way a long inflation is looked at while it runs: the trial's
// zlib calls and the fast decoder both call it between their steps, with
// the deflate bytes read so far. The scan reports its progress there and
// stops the inflation, by raising, when it is asked to stop.
#pragma once

#include <cstdint>

namespace quarn {

class TInflateWatch {
 public:
  virtual ~TInflateWatch() = default;
  // `inBytes`: the input read so far, from the stream's first deflate byte,
  // counted in 64 bits. It may raise to stop the inflation; the record or
  // decoder is then ready for the next stream.
  virtual void Progress(uint64_t inBytes) = 0;
};

}  // namespace quarn
