// The one comparison of a scan with the plain reference scan: every counter
// that a block's scan adds to the totals, and every field of every stream,
// in order. Free of any test framework, so that the unit tests, the fuzz
// target and the benchmarks' checks all hold the detector to the same
// account. A difference is described in words, one line each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "engine/stream_detector.h"

namespace quarn::test {

// What the scan of one block gave, as plain values.
struct TScanResult {
  int64_t zin = 0, zout = 0, hless = 0, Z = 0;
  int64_t l[4] = {0, 0, 0, 0};
  int64_t w[16] = {};  // indices 9..15 used
  std::vector<TFoundStream> streams;
};

// The counters of `state` (all but `i` and `j`) and `streams`.
TScanResult ResultOf(const TScanState& state, std::vector<TFoundStream> streams);

// Where `got` and `want` differ in a stream's field, or in their number:
// one line each ("stream 2 at 4711: Complete is 0, the reference says 1");
// empty when they agree in every field of every stream.
std::string StreamDifferences(const std::vector<TFoundStream>& got, const std::vector<TFoundStream>& want);

// Where `got` and `want` differ in any counter or any stream; empty when
// they agree in everything.
std::string Differences(const TScanResult& got, const TScanResult& want);

}  // namespace quarn::test
