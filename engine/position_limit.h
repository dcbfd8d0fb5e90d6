// Where the positions tried in a block end: the candidate search, the
// detector's loop and the chunked scan all stop there.
#pragma once

#include <cstdint>

#include "engine/trial_inflation.h"

namespace quarn {

// The first position never tried in a block of `size` bytes (size-63):
// every position tried has the probe's kProbeInputBytes bytes in the block.
constexpr int64_t PositionLimit(int64_t size) { return size - (kProbeInputBytes - 1); }

}  // namespace quarn
