// The plain reference scan: the position loop written as simply as it can
// be, calling zlib directly, with no filter and no shortcut. Every faster
// path of the detector must give exactly what this gives, on every input.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/scan_state.h"

namespace quarn::test {

struct TReferenceStream {
  int64_t offset = 0;  // first deflate byte
  bool header = false;
  int cinfo = 0;
  int flevel = 0;
  uint64_t in = 0;
  uint64_t out = 0;
  bool operator==(const TReferenceStream&) const = default;
};

struct TReferenceResult {
  int64_t zin = 0, zout = 0, hless = 0, Z = 0;
  int64_t l[4] = {0, 0, 0, 0};
  int64_t w[16] = {};  // indices 9..15 used
  std::vector<TReferenceStream> streams;
  int64_t endPosition = 0;  // where the scan would go on
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
