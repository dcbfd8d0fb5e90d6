// The checksum a trial may keep of the bytes it inflates: Adler-32, which
// a zlib stream's trailer holds, or CRC-32, which gzip members and zip
// entries record. zlib's own functions compute both.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace quarn {

enum class TChecksum : uint8_t { None, Adler32, Crc32 };

// The checksum of no bytes.
inline uint32_t ChecksumStart(TChecksum kind) { return kind == TChecksum::Adler32 ? 1u : 0u; }

// `sum` carried on over `count` bytes at `bytes`.
inline uint32_t ChecksumUpdate(TChecksum kind, uint32_t sum, const uint8_t* bytes, std::size_t count) {
  if (count == 0) return sum;
  switch (kind) {
    case TChecksum::Adler32:
      return static_cast<uint32_t>(adler32_z(sum, bytes, count));
    case TChecksum::Crc32:
      return static_cast<uint32_t>(crc32_z(sum, bytes, count));
    case TChecksum::None:
      break;
  }
  return sum;
}

}  // namespace quarn
