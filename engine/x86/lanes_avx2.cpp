// The same lanes with AVX2, 32 positions a vector, the code-length code
// included: its HCLEN+4 three-bit lengths are cut out of every position's
// bytes at once (each length lies at the same bit offset from its
// position's byte), weighed with a 16-entry shuffle, and summed with
// saturation, so that a sum that overshoots can never come back to 128.
// The functions carry the avx2 target of their own, so the file builds
// with the project's flags; NextCandidate calls in only where the
// processor has AVX2.
#include <immintrin.h>

#include <array>
#include <utility>

#include "engine/x86/lanes.h"

namespace quarn::detail {
namespace {

[[gnu::target("avx2")]] inline __m256i Load32(const uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}
[[gnu::target("avx2")]] inline __m256i Bytes32(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }
[[gnu::target("avx2")]] inline uint64_t Mask32(__m256i lanes) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(lanes));
}

// Byte `kByte` (2..9) of each position, that is stream bits 8*kByte on,
// with the bits past the HCLEN+4 lengths of the code-length code cleared
// (they end at bit 29 + 3*HCLEN), so that lengths that are not sent weigh
// nothing.
template <unsigned kByte>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ClcBytes(const uint8_t* at, __m256i hclen) {
  const __m256i bytes = Load32(at + kByte);
  if constexpr (kByte == 2) {
    return bytes;  // bits 16..23: all sent
  } else {
    alignas(32) static constexpr std::array<uint8_t, 32> kMaskByHclen = [] {
      std::array<uint8_t, 32> masks{};  // the same 16 in both halves, for the shuffle
      for (unsigned h = 0; h < 32; ++h) {
        const unsigned end = 29 + 3 * (h % 16);  // first bit past the lengths
        for (unsigned b = 0; b < 8; ++b) {
          if (8 * kByte + b < end) masks[h] = static_cast<uint8_t>(masks[h] | (1u << b));
        }
      }
      return masks;
    }();
    const __m256i masks = _mm256_load_si256(reinterpret_cast<const __m256i*>(kMaskByHclen.data()));
    return _mm256_and_si256(bytes, _mm256_shuffle_epi8(masks, hclen));
  }
}

// The Kraft weight, in units of 2^-7, of the k-th length of the
// code-length code (stream bits 17+3k .. 19+3k) of each position, from the
// cleared bytes: 64 for a length of 1 down to 1 for 7, nothing for 0.
template <unsigned k>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ClcWeight(const __m256i* clcBytes, __m256i weights) {
  constexpr unsigned kBit = 17 + 3 * k;
  constexpr unsigned kByte = kBit / 8;
  constexpr unsigned kShift = kBit % 8;
  // Shifting 16-bit words moves bits between the two bytes of a word; the
  // masks keep only the bits of each byte's own field.
  const __m256i low = _mm256_srli_epi16(clcBytes[kByte - 2], kShift);
  __m256i field;
  if constexpr (kShift <= 5) {
    field = _mm256_and_si256(low, Bytes32(7));
  } else {
    const __m256i high = _mm256_slli_epi16(clcBytes[kByte - 1], 8 - kShift);
    field = _mm256_or_si256(_mm256_and_si256(low, Bytes32(0xFF >> kShift)),
                            _mm256_and_si256(high, Bytes32((0xFF << (8 - kShift)) & 7)));
  }
  return _mm256_shuffle_epi8(weights, field);
}

// The Kraft sum of each position's code-length code, saturated at 255.
template <unsigned... k>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ClcKraftSum(const uint8_t* at, __m256i hclen,
                                                                        std::integer_sequence<unsigned, k...>) {
  const __m256i clcBytes[8] = {ClcBytes<2>(at, hclen), ClcBytes<3>(at, hclen), ClcBytes<4>(at, hclen),
                               ClcBytes<5>(at, hclen), ClcBytes<6>(at, hclen), ClcBytes<7>(at, hclen),
                               ClcBytes<8>(at, hclen), ClcBytes<9>(at, hclen)};
  const __m256i weights = _mm256_setr_epi8(0, 64, 32, 16, 8, 4, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                           0, 64, 32, 16, 8, 4, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  __m256i sum = _mm256_setzero_si256();
  ((sum = _mm256_adds_epu8(sum, ClcWeight<k>(clcBytes, weights))), ...);
  return sum;
}

// CMF at p-2 and FLG at p-1 make a zlib header (IsHeaderCandidate), for
// the 32 positions p from `at`, in bytes. The check bits without a
// division: with CM 8, CMF is 16c+8 (c = CINFO), 256 is 8 modulo 31 and
// 32 is 1, so CMF*256 + FLG is a multiple of 31 exactly when
// 4c + 2 + (FLG >> 5) + (FLG & 31), at most 68, is 31 or 62.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i HeaderBytes(const uint8_t* at) {
  const __m256i cmf = Load32(at - 2);
  const __m256i flg = Load32(at - 1);
  const __m256i cm8 = _mm256_cmpeq_epi8(_mm256_and_si256(cmf, Bytes32(0x8F)), Bytes32(0x08));
  const __m256i cinfo0 = _mm256_cmpeq_epi8(cmf, Bytes32(0x08));
  const __m256i noDict = _mm256_cmpeq_epi8(_mm256_and_si256(flg, Bytes32(0x20)), _mm256_setzero_si256());
  // Shifting 16-bit words moves bits between the two bytes of a word; the
  // masks keep each byte's own.
  const __m256i fourC = _mm256_and_si256(_mm256_srli_epi16(cmf, 2), Bytes32(0x3C));
  const __m256i flgHigh = _mm256_and_si256(_mm256_srli_epi16(flg, 5), Bytes32(7));
  const __m256i sum = _mm256_add_epi8(_mm256_add_epi8(fourC, flgHigh),
                                      _mm256_add_epi8(_mm256_and_si256(flg, Bytes32(31)), Bytes32(2)));
  const __m256i multipleOf31 =
      _mm256_or_si256(_mm256_cmpeq_epi8(sum, Bytes32(31)), _mm256_cmpeq_epi8(sum, Bytes32(62)));
  return _mm256_andnot_si256(cinfo0, _mm256_and_si256(multipleOf31, _mm256_and_si256(cm8, noDict)));
}

// The dynamic lanes of 32 positions from `at`; reads `at`[0 .. 40].
[[gnu::target("avx2"), gnu::always_inline]] inline void DynamicLanes32(const uint8_t* at, TBlockLanes& lanes,
                                                                       unsigned shift) {
  const __m256i first = Load32(at);
  const __m256i second = Load32(at + 1);
  const __m256i starts = _mm256_cmpeq_epi8(_mm256_and_si256(first, Bytes32(6)), Bytes32(4));
  const __m256i hlitOk = _mm256_cmpeq_epi8(_mm256_min_epu8(first, Bytes32(0xEF)), first);
  const __m256i hdistOk = _mm256_cmpgt_epi8(Bytes32(30), _mm256_and_si256(second, Bytes32(0x1F)));
  // HCLEN: stream bits 13..16.
  const __m256i hclen = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(second, 5), Bytes32(7)),
                                        _mm256_slli_epi16(_mm256_and_si256(Load32(at + 2), Bytes32(1)), 3));
  const __m256i complete =
      _mm256_cmpeq_epi8(ClcKraftSum(at, hclen, std::make_integer_sequence<unsigned, 19>{}), Bytes32(128));
  lanes.dynamicStarts |= Mask32(starts) << shift;
  lanes.dynamicKept |= Mask32(_mm256_and_si256(_mm256_and_si256(starts, complete), _mm256_and_si256(hlitOk, hdistOk)))
                       << shift;
}

// 32 positions from `at`: the header lanes that pass IsHeaderCandidate,
// and with `headerless` the dynamic lanes; reads `at`[-2 .. 40].
template <bool kHeaderless>
[[gnu::target("avx2"), gnu::always_inline]] inline void Lanes32(const uint8_t* at,
                                                                TBlockLanes& lanes, unsigned shift) {
  lanes.header |= Mask32(HeaderBytes(at)) << shift;
  if constexpr (kHeaderless) DynamicLanes32(at, lanes, shift);
}

// Steps of 64 positions from `pos` on, up to and including `lastStep`:
// the first step with a lane left, its lanes in `lanes` (the header lanes
// already through IsHeaderCandidate); else the first step after
// `lastStep`, with no lanes. Reads `memory`[pos-2 .. lastStep+72].
template <bool kHeaderless>
[[gnu::target("avx2")]] int64_t BusySteps(const uint8_t* memory, int64_t pos, int64_t lastStep,
                                                 TBlockLanes& lanes) {
  for (; pos <= lastStep; pos += 64) {
    lanes = {};
    Lanes32<kHeaderless>(memory + pos, lanes, 0);
    Lanes32<kHeaderless>(memory + pos + 32, lanes, 32);
    if (((lanes.header & ~lanes.dynamicStarts) | lanes.dynamicKept) != 0) return pos;
  }
  lanes = {};
  return pos;
}

}  // namespace

int64_t NextBusyStepAvx2(const uint8_t* memory, int64_t pos, int64_t lastStep, bool headerless,
                         TBlockLanes& lanes) {
  return headerless ? BusySteps<true>(memory, pos, lastStep, lanes) : BusySteps<false>(memory, pos, lastStep, lanes);
}

}  // namespace quarn::detail
