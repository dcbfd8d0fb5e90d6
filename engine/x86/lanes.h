// The vector lanes of the candidate search: one bit per position, 64
// positions a step, set where the position's bytes pass the tests that can
// be made on many positions at once. SSE2 (every x86-64) in
// lanes_sse2.cpp; AVX2, which also weighs the code-length code, in
// lanes_avx2.cpp. NextCandidate (candidate_filter.cpp) picks between them
// and decides the lanes that are left one by one.
#pragma once

#include <bit>
#include <cstdint>

namespace quarn::detail {

// The lanes of 64 positions from `at` that the byte tests keep, before the
// header's check bits and the decoding of code lengths.
struct TBlockLanes {
  uint64_t header = 0;         // CMF and FLG at p-2 and p-1 pass all but the multiple-of-31 test
  uint64_t dynamicStarts = 0;  // with Headerless: low bits 4 or 5 at p
  uint64_t dynamicKept = 0;    // ... with HLIT and HDIST in range and a complete code-length code
};

// Keeps the lanes that pass `test`; the hot loops, with no branch that
// depends on the data but the loop's own.
template <typename TTest>
inline uint64_t KeepLanes(const uint8_t* at, uint64_t lanes, TTest test) {
  uint64_t kept = 0;
  for (; lanes != 0; lanes &= lanes - 1) {
    const int bit = std::countr_zero(lanes);
    kept |= uint64_t{test(at + bit)} << bit;
  }
  return kept;
}

// The lanes of the 64 positions from `at` in `inBlock` (and maybe others),
// with SSE2. Reads `at`[-2 .. 64] and the 10 bytes from each position in
// `inBlock`.
TBlockLanes BlockLanesSse2(const uint8_t* at, bool headerless, uint64_t inBlock);

// Steps of 64 positions from `pos` on, up to and including `lastStep`,
// with AVX2 (only where ProcessorHasAvx2): the first step with a lane
// left, its lanes in `lanes` (the header lanes already through
// IsHeaderCandidate); else the first step after `lastStep`, with no lanes.
// Reads `memory`[pos-2 .. lastStep+72].
int64_t NextBusyStepAvx2(const uint8_t* memory, int64_t pos, int64_t lastStep, bool headerless,
                         TBlockLanes& lanes);

}  // namespace quarn::detail
