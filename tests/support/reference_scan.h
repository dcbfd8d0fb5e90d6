// The plain reference scan: the position loop written as simply as it can
// be, calling zlib directly, with no filter and no shortcut. Every faster
// path of the detector must give exactly what this gives, on every input.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/scan_state.h"
#include "tests/support/scan_comparison.h"

namespace quarn::test {

// The reference's streams carry every field the detector fills, Complete
// included; `endPosition` is where the scan would go on.
struct TReferenceResult : TScanResult {
  int64_t endPosition = 0;
};

TReferenceResult ReferenceScan(const uint8_t* data, int64_t size, bool headerless,
                               bool acceptIncomplete);

// The same loop over the positions [from, to) only (trials still read to
// the end of the block).
TReferenceResult ReferenceScanRange(const uint8_t* data, int64_t size, int64_t from, int64_t to,
                                    bool headerless, bool acceptIncomplete);

// Adds a reference scan of a file of `sizeBytes` to `state`'s totals, as
// that file's run would.
void AddToState(const TReferenceResult& result, int64_t sizeBytes, TScanState& state);

}  // namespace quarn::test
