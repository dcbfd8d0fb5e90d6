// Reading zip local headers and gzip member headers, and checking what
// they promise against a trial. Every read is bounds-checked against the
// block: these run on any bytes that happen to carry a signature.
#include "engine/container_headers.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace quarn {
namespace {

// `count` bytes at `at` lie inside the block.
bool Inside(TBlock block, int64_t at, int64_t count) { return at >= 0 && count >= 0 && at <= block.Size - count; }

uint64_t Little(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int k = count - 1; k >= 0; --k) value = value << 8 | bytes[k];
  return value;
}

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr int64_t kLocalHeaderBytes = 30;

// The zip64 extra field's sizes, when the extra field holds one: the
// local header's copy has both sizes, the inflated size first.
bool ReadZip64Sizes(const uint8_t* extra, uint64_t extraBytes, TZipEntry& entry) {
  uint64_t at = 0;
  for (int record = 0; record < kMaxZipExtraRecords && at + 4 <= extraBytes; ++record) {
    const auto id = static_cast<uint16_t>(Little(extra + at, 2));
    const uint64_t length = Little(extra + at + 2, 2);
    if (at + 4 + length > extraBytes) return false;
    if (id == kZip64ExtraId) {
      if (length < 16) return false;
      entry.InflatedBytes = Little(extra + at + 4, 8);
      entry.CompressedBytes = Little(extra + at + 12, 8);
      return true;
    }
    at += 4 + length;
  }
  return false;
}

}  // namespace

std::optional<TZipEntry> ReadZipLocalHeader(TBlock block, int64_t at) {
  if (!Inside(block, at, kLocalHeaderBytes)) return std::nullopt;
  const uint8_t* const header = block.Memory + at;
  if (Little(header, 4) != kLocalHeaderSignature) return std::nullopt;
  TZipEntry entry;
  entry.HeaderOffset = at;
  entry.Flags = static_cast<uint16_t>(Little(header + 6, 2));
  if (Little(header + 8, 2) != 8 || (entry.Flags & 1u) != 0) return std::nullopt;  // deflate, not encrypted
  entry.Descriptor = (entry.Flags & 8u) != 0;
  entry.Crc = static_cast<uint32_t>(Little(header + 14, 4));
  entry.CompressedBytes = Little(header + 18, 4);
  entry.InflatedBytes = Little(header + 22, 4);
  const int64_t nameBytes = static_cast<int64_t>(Little(header + 26, 2));
  const int64_t extraBytes = static_cast<int64_t>(Little(header + 28, 2));
  entry.DataOffset = at + kLocalHeaderBytes + nameBytes + extraBytes;
  if (!Inside(block, at, kLocalHeaderBytes + nameBytes + extraBytes + 1)) return std::nullopt;
  entry.Name = {reinterpret_cast<const char*>(header + kLocalHeaderBytes), static_cast<std::size_t>(nameBytes)};
  const bool sizesInExtra = entry.CompressedBytes == 0xFFFFFFFFu || entry.InflatedBytes == 0xFFFFFFFFu;
  entry.Zip64 = ReadZip64Sizes(header + kLocalHeaderBytes + nameBytes, static_cast<uint64_t>(extraBytes), entry);
  if (sizesInExtra && !entry.Zip64 && !entry.Descriptor) return std::nullopt;
  return entry;
}

bool ZipEntryMatches(TBlock block, const TZipEntry& entry, uint64_t inBytes, uint64_t outBytes, uint32_t crc) {
  if (!entry.Descriptor) {
    return entry.Crc == crc && entry.CompressedBytes == inBytes && entry.InflatedBytes == outBytes;
  }
  // The descriptor: with or without its signature, sizes of 4 or 8 bytes
  // (writers differ on when they use 8); CRC and both sizes must agree.
  const int64_t after = entry.DataOffset + static_cast<int64_t>(inBytes);
  for (const int64_t signatureBytes : {4, 0}) {
    const int64_t at = after + signatureBytes;
    if (signatureBytes != 0 && (!Inside(block, after, 4) || Little(block.Memory + after, 4) != kDescriptorSignature)) {
      continue;
    }
    for (const int sizeBytes : {8, 4}) {
      if (!Inside(block, at, 4 + 2 * sizeBytes)) continue;
      const uint8_t* const descriptor = block.Memory + at;
      if (Little(descriptor, 4) == crc && Little(descriptor + 4, sizeBytes) == inBytes &&
          Little(descriptor + 4 + sizeBytes, sizeBytes) == outBytes) {
        return true;
      }
    }
  }
  return false;
}

std::optional<TGzipHeaderStart> ReadGzipHeaderStart(TBlock block, int64_t at) {
  constexpr int64_t kFixedBytes = 10;
  if (!Inside(block, at, kFixedBytes)) return std::nullopt;
  const uint8_t* const header = block.Memory + at;
  if (header[0] != 0x1f || header[1] != 0x8b || header[2] != 8) return std::nullopt;
  TGzipHeaderStart start;
  start.Flags = header[3];
  if ((start.Flags & 0xE0u) != 0) return std::nullopt;  // reserved bits
  start.HeaderOffset = at;
  start.Mtime = static_cast<uint32_t>(Little(header + 4, 4));
  start.StringsAt = at + kFixedBytes;
  if ((start.Flags & 4u) != 0) {  // FEXTRA
    if (!Inside(block, start.StringsAt, 2)) return std::nullopt;
    start.StringsAt += 2 + static_cast<int64_t>(Little(block.Memory + start.StringsAt, 2));
  }
  return start;
}

std::optional<TGzipMember> ReadGzipHeader(TBlock block, int64_t at) {
  const std::optional<TGzipHeaderStart> start = ReadGzipHeaderStart(block, at);
  if (!start) return std::nullopt;
  TGzipMember member;
  member.HeaderOffset = at;
  member.Mtime = start->Mtime;
  int64_t next = start->StringsAt;
  // A zero-terminated string at `next`, of at most kMaxGzipStringBytes bytes.
  auto skipString = [&](std::optional<std::string_view>* keep) {
    if (!Inside(block, next, 1)) return false;
    const int64_t reach = std::min(block.Size - next, kMaxGzipStringBytes + 1);
    const void* const zero = std::memchr(block.Memory + next, 0, static_cast<std::size_t>(reach));
    if (zero == nullptr) return false;
    const int64_t length = static_cast<const uint8_t*>(zero) - (block.Memory + next);
    if (keep != nullptr) *keep = std::string_view(reinterpret_cast<const char*>(block.Memory + next), static_cast<std::size_t>(length));
    next += length + 1;
    return true;
  };
  if (start->HasName() && !skipString(&member.Name)) return std::nullopt;
  if (start->HasComment() && !skipString(nullptr)) return std::nullopt;
  if (start->HasHeaderCrc()) {
    if (!Inside(block, next, 2)) return std::nullopt;
    const uLong headerCrc = crc32(0L, block.Memory + at, static_cast<uInt>(next - at));
    if ((headerCrc & 0xFFFFu) != Little(block.Memory + next, 2)) return std::nullopt;
    next += 2;
  }
  if (!Inside(block, next, 1)) return std::nullopt;
  member.DataOffset = next;
  return member;
}

bool GzipMemberMatches(TBlock block, const TGzipMember& member, uint64_t inBytes, uint64_t outBytes, uint32_t crc) {
  const int64_t at = member.DataOffset + static_cast<int64_t>(inBytes);
  if (!Inside(block, at, 8)) return false;
  return Little(block.Memory + at, 4) == crc && Little(block.Memory + at + 4, 4) == (outBytes & 0xFFFFFFFFu);
}


}  // namespace quarn
