// The code-length code of a dynamic block header (RFC 1951 3.2.7): the
// HCLEN+4 three-bit lengths from stream bit 17 on, and whether they make a
// complete code, the first test that zlib's inflate makes of them (an
// over-subscribed or incomplete code-length code is an error there). Used
// by the scalar filters and by the vector lanes alike.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace quarn::detail {

// Kraft weight of four code-length-code lengths packed in 12 bits, in
// units of 2^-7: a length n > 0 weighs 2^(7-n), a length 0 nothing. A
// complete code-length code weighs exactly 128. Sums above 255 are kept
// as 255: any of them already rules out a total of 128.
inline constexpr std::array<uint8_t, 4096> kClcQuadWeights = [] {
  std::array<uint8_t, 4096> weights{};
  for (unsigned quad = 0; quad < 4096; ++quad) {
    unsigned sum = 0;
    for (unsigned shift = 0; shift < 12; shift += 3) {
      const unsigned length = (quad >> shift) & 7u;
      if (length != 0) sum += 128u >> length;
    }
    weights[quad] = static_cast<uint8_t>(std::min(sum, 255u));
  }
  return weights;
}();

// The bits of the HCLEN+4 code-length-code lengths, by HCLEN.
inline constexpr std::array<uint64_t, 16> kClcFieldMasks = [] {
  std::array<uint64_t, 16> masks{};
  for (unsigned hclen = 0; hclen < 16; ++hclen) masks[hclen] = (uint64_t{1} << (3 * (hclen + 4))) - 1;
  return masks;
}();

// The code-length code whose lengths `clc` holds (three bits each, the
// first lowest, those past HCLEN+4 cleared) is complete: its Kraft sum is
// exactly 1.
inline bool IsCompleteCodeLengthCode(uint64_t clc) {
  unsigned kraft = 0;
  for (unsigned shift = 0; shift < 60; shift += 12) kraft += kClcQuadWeights[(clc >> shift) & 4095u];
  return kraft == 128;
}

// The code-length code of a dynamic block header is complete: the Kraft
// sum of its HCLEN+4 lengths is exactly 1.
inline bool HasCompleteCodeLengthCode(const uint8_t* probe) {
  uint64_t head;
  uint64_t tail;
  std::memcpy(&head, probe, sizeof head);
  std::memcpy(&tail, probe + 2, sizeof tail);  // stream bits 16..79
  const unsigned hclen = static_cast<unsigned>(head >> 13) & 15u;
  return IsCompleteCodeLengthCode((tail >> 1) & kClcFieldMasks[hclen]);  // stream bits 17 on
}

}  // namespace quarn::detail
