// Exact filters in front of the trial inflation.
//
// The position loop of the stream detector tries every byte position, but
// zlib is slow to say no: a probe costs far more than looking at a few
// bytes. These filters find the next position that is a candidate at all
// (the zlib header test, or with Headerless the dynamic-block test) and
// whose trial could still be accepted. They never reject a position that
// the scan would accept: a position is skipped only when its 64 probe
// bytes prove that zlib's probe fails, or, where only complete streams
// count (AcceptIncomplete off), when the input from it on proves that
// zlib's trial never ends a stream. Anything they cannot decide goes to
// zlib as before, so the scan finds exactly what the plain loop finds.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/block_view.h"
#include "engine/position_limit.h"
#include "engine/trial_inflation.h"

namespace quarn::detail {

// Low three bits 4 or 5: BTYPE 2 (dynamic Huffman codes), BFINAL 0 or 1.
inline bool IsDynamicBlockStart(uint8_t firstDeflateByte) { return (firstDeflateByte & 6u) == 4u; }

// The zlib header test on CMF (the byte at the position minus 2) and FLG
// (the byte after it): CM 8, CINFO 1..7, no preset dictionary, and the two
// bytes as a big-endian number a multiple of 31.
constexpr bool IsHeaderCandidate(unsigned cmf, unsigned flg) {
  const unsigned cinfo = cmf >> 4;
  return (cmf & 0x0Fu) == 8 && cinfo >= 1 && cinfo <= 7 && (flg & 0x20u) == 0 && (cmf << 8 | flg) % 31u == 0;
}

// The same test on the two bytes at `header`.
inline bool IsHeaderCandidate(const uint8_t* header) {
  uint16_t littleEndian;
  std::memcpy(&littleEndian, header, sizeof littleEndian);
  return IsHeaderCandidate(littleEndian & 0xFFu, littleEndian >> 8);
}

// True only when the probe (InflateProbe on kProbeInputBytes bytes at
// `probe`, built-in zlib) certainly returns an error: a reserved block
// type, stored block lengths that do not match, or a dynamic block header
// that zlib 1.2.13 rejects before it needs a bit past the probe bytes.
// False means "let zlib decide". Reads `probe`[0 .. kProbeInputBytes-1]
// only.
bool ProbeCertainlyFails(const uint8_t* probe);

// True only when the whole trial of the deflate data at `at`, with
// `restBytes` of input (kProbeInputBytes or more) to the end of the file,
// certainly does not end a stream (zlib never returns Z_STREAM_END): the
// probe certainly fails, or a dynamic first block's header turns out bad
// past the probe, or the input ends inside it. A scan that counts only
// complete streams (AcceptIncomplete off) may drop such a position; one
// that counts streams cut short may not. Reads `at`[0 .. restBytes-1]
// only.
bool TrialCertainlyFails(const uint8_t* at, int64_t restBytes);

// The decoding of a dynamic block header's code lengths at `at` (restBytes
// to the end of the input, kProbeInputBytes or more), over the probe's
// bytes or, with `wholeTrial`, as far as the trial reads: true only when
// zlib certainly fails there. NextCandidate calls it for positions whose
// code-length code its lanes found complete; it decides any bytes, so that
// input rewritten since the lanes read it is decided too, in bounds.
bool CodeLengthsOfCompleteCodeCertainlyFail(const uint8_t* at, int64_t restBytes, bool wholeTrial);

// The vector lanes NextCandidate looks at positions with: the widest this
// processor has (AVX2 where present), or SSE2, which every x86-64 has.
// Both find the same positions; the tests hold them to it.
enum class TFilterLanes { Widest, Sse2 };
bool ProcessorHasAvx2();

// The first position p in `range` (From = pos, To = end) that is a
// candidate (the header test at p-2 when p >= 2, or with `headerless` the
// dynamic-block test at p) and that may be accepted:
// ProbeCertainlyFails(memory + p) is false, and without `acceptIncomplete`
// TrialCertainlyFails(memory + p, size - p) is false as well. `end` when
// there is none, and `pos` itself when pos >= end. `end` is first lowered
// to size-63, as no position after size-64 is tried. Reads only the block.
int64_t NextCandidate(TBlock block, TRange range, bool headerless, bool acceptIncomplete,
                      TFilterLanes width = TFilterLanes::Widest);

}  // namespace quarn::detail
