// The plain reference scan: the position loop written as simply as it can
// be, calling zlib directly, with no filter and no shortcut. Every faster
// path of the detector must give exactly what this gives, on every input.
#pragma once

#include <cstdint>
#include <string>
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

// The counters of `result` in the line that quarn-engine-probe prints:
//   zin=.. zout=.. hless=.. Z=.. l=a,b,c,d w=w9,..,w15
inline std::string CountersLine(const TReferenceResult& r) {
  std::string line = "zin=" + std::to_string(r.zin) + " zout=" + std::to_string(r.zout) +
                     " hless=" + std::to_string(r.hless) + " Z=" + std::to_string(r.Z) + " l=" +
                     std::to_string(r.l[0]) + "," + std::to_string(r.l[1]) + "," + std::to_string(r.l[2]) +
                     "," + std::to_string(r.l[3]) + " w=";
  for (int k = 9; k <= 15; ++k) line += (k == 9 ? "" : ",") + std::to_string(r.w[k]);
  return line;
}

// Adds a reference scan of a file of `sizeBytes` to `state`'s totals, as
// that file's run would.
void AddToState(const TReferenceResult& result, int64_t sizeBytes, TScanState& state);

}  // namespace quarn::test
