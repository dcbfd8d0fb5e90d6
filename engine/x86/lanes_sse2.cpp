// The lanes with SSE2, on every x86-64: four 16-byte compares build a
// 64-bit mask of the positions whose bytes could make a candidate; with
// Headerless, the positions that start a dynamic block with HLIT and HDIST
// in range then have their code-length code weighed one by one.
#include <immintrin.h>

#include "engine/code_length_code.h"
#include "engine/x86/lanes.h"

namespace quarn::detail {
namespace {

inline __m128i Load16(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
inline __m128i Bytes16(int value) { return _mm_set1_epi8(static_cast<char>(value)); }
inline uint64_t Mask16(__m128i lanes) { return static_cast<uint32_t>(_mm_movemask_epi8(lanes)); }

// CMF at p-2 is 0x18, 0x28, ..., 0x78 and FDICT at p-1 is clear.
inline uint64_t HeaderLanes(const uint8_t* at) {
  uint64_t lanes = 0;
  for (unsigned k = 0; k < 4; ++k) {
    const __m128i cmf = Load16(at + 16 * k - 2);
    const __m128i flg = Load16(at + 16 * k - 1);
    const __m128i cm8 = _mm_cmpeq_epi8(_mm_and_si128(cmf, Bytes16(0x8F)), Bytes16(0x08));
    const __m128i cinfo0 = _mm_cmpeq_epi8(cmf, Bytes16(0x08));
    const __m128i noDict = _mm_cmpeq_epi8(_mm_and_si128(flg, Bytes16(0x20)), _mm_setzero_si128());
    lanes |= Mask16(_mm_andnot_si128(cinfo0, _mm_and_si128(cm8, noDict))) << (16 * k);
  }
  return lanes;
}

struct TDynamicLanes {
  uint64_t starts = 0;   // low bits 4 or 5 at p
  uint64_t inRange = 0;  // ... and HLIT (p >> 3) and HDIST (p+1 & 31) at most 29
};

inline TDynamicLanes DynamicLanes(const uint8_t* at) {
  TDynamicLanes lanes;
  for (unsigned k = 0; k < 4; ++k) {
    const __m128i first = Load16(at + 16 * k);
    const __m128i second = Load16(at + 16 * k + 1);
    const __m128i starts = _mm_cmpeq_epi8(_mm_and_si128(first, Bytes16(6)), Bytes16(4));
    const __m128i hlitOk = _mm_cmpeq_epi8(_mm_min_epu8(first, Bytes16(0xEF)), first);
    const __m128i hdistOk = _mm_cmplt_epi8(_mm_and_si128(second, Bytes16(0x1F)), Bytes16(30));
    lanes.starts |= Mask16(starts) << (16 * k);
    lanes.inRange |= Mask16(_mm_and_si128(starts, _mm_and_si128(hlitOk, hdistOk))) << (16 * k);
  }
  return lanes;
}

}  // namespace

TBlockLanes BlockLanesSse2(const uint8_t* at, bool headerless, uint64_t inBlock) {
  TBlockLanes lanes;
  lanes.header = HeaderLanes(at);
  if (headerless) {
    const TDynamicLanes dynamic = DynamicLanes(at);
    lanes.dynamicStarts = dynamic.starts;
    lanes.dynamicKept = KeepLanes(at, dynamic.inRange & inBlock, HasCompleteCodeLengthCode);
  }
  return lanes;
}

}  // namespace quarn::detail
