// Containers laid out byte by byte for the container tests: zip local
// headers and data descriptors, gzip members, PNG chunks, git pack entry
// headers. Each builder writes the fields in the order the format puts
// them; the deflate data inside comes from zlib at test time.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tests/support/zlib_fixtures.h"

namespace quarn::test {

inline void PutLittle(TBytes& out, uint64_t value, int count) {
  for (int k = 0; k < count; ++k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

inline void PutBig32(TBytes& out, uint32_t value) {
  for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

inline void PutText(TBytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

inline TBytes Text(std::string_view text) { return TBytes(text.begin(), text.end()); }

inline uint32_t Crc32Of(const TBytes& bytes) {
  return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

// ------------------------------------------------------------------ zip

enum class TDescriptor { None, WithSignature, WithoutSignature };

struct TZipFixture {
  std::string name = "file.txt";
  TBytes extra;                  // an extra field before any zip64 one
  bool zip64 = false;            // sizes 0xFFFFFFFF and a zip64 extra field with both
  TDescriptor descriptor = TDescriptor::None;
  int descriptorSizeBytes = 4;   // 8 for a zip64 descriptor
  uint16_t method = 8;
  uint16_t flags = 0;            // bit 3 is added for a descriptor

  // Set one field and keep the others, for tables of cases.
  TZipFixture& Name(std::string value) { name = std::move(value); return *this; }
  TZipFixture& Extra(TBytes value) { extra = std::move(value); return *this; }
  TZipFixture& Zip64() { zip64 = true; return *this; }
  TZipFixture& Descriptor(TDescriptor value, int sizeBytes = 4) {
    descriptor = value;
    descriptorSizeBytes = sizeBytes;
    return *this;
  }
  TZipFixture& Method(uint16_t value) { method = value; return *this; }
  TZipFixture& Flags(uint16_t value) { flags = value; return *this; }
};

// A local header, the raw deflate of `data` and the descriptor, if any.
struct TZipEntryBytes {
  TBytes bytes;
  int64_t dataOffset = 0;  // from the header's first byte
  TBytes deflate;
  uint32_t crc = 0;
};

inline TZipEntryBytes ZipEntry(const TBytes& data, const TZipFixture& fixture = {}) {
  TZipEntryBytes entry;
  entry.deflate = Raw(data);
  entry.crc = Crc32Of(data);
  TBytes extra = fixture.extra;
  if (fixture.zip64) {
    PutLittle(extra, 0x0001, 2);
    PutLittle(extra, 16, 2);
    PutLittle(extra, data.size(), 8);            // inflated size first
    PutLittle(extra, entry.deflate.size(), 8);
  }
  const bool descriptor = fixture.descriptor != TDescriptor::None;
  TBytes& out = entry.bytes;
  PutText(out, "PK\x03\x04");
  PutLittle(out, 20, 2);                                                   // version needed
  PutLittle(out, fixture.flags | (descriptor ? 8u : 0u), 2);               // flags
  PutLittle(out, fixture.method, 2);                                       // method
  PutLittle(out, 0, 4);                                                    // time, date
  PutLittle(out, descriptor ? 0 : entry.crc, 4);                           // CRC-32
  PutLittle(out, fixture.zip64 ? 0xFFFFFFFFu : descriptor ? 0 : entry.deflate.size(), 4);
  PutLittle(out, fixture.zip64 ? 0xFFFFFFFFu : descriptor ? 0 : data.size(), 4);
  PutLittle(out, fixture.name.size(), 2);
  PutLittle(out, extra.size(), 2);
  PutText(out, fixture.name);
  out.insert(out.end(), extra.begin(), extra.end());
  entry.dataOffset = static_cast<int64_t>(out.size());
  out.insert(out.end(), entry.deflate.begin(), entry.deflate.end());
  if (descriptor) {
    if (fixture.descriptor == TDescriptor::WithSignature) PutText(out, "PK\x07\x08");
    PutLittle(out, entry.crc, 4);
    PutLittle(out, entry.deflate.size(), fixture.descriptorSizeBytes);
    PutLittle(out, data.size(), fixture.descriptorSizeBytes);
  }
  return entry;
}

// ----------------------------------------------------------------- gzip

struct TGzipFixture {
  std::optional<std::string> name;     // FNAME
  std::optional<std::string> comment;  // FCOMMENT
  std::optional<TBytes> extra;         // FEXTRA
  bool headerCrc = false;              // FHCRC
  uint32_t mtime = 0;

  // Set one field and keep the others, for tables of cases.
  TGzipFixture& Name(std::string value) { name = std::move(value); return *this; }
  TGzipFixture& Comment(std::string value) { comment = std::move(value); return *this; }
  TGzipFixture& Extra(TBytes value) { extra = std::move(value); return *this; }
  TGzipFixture& HeaderCrc() { headerCrc = true; return *this; }
  TGzipFixture& Mtime(uint32_t value) { mtime = value; return *this; }
};

struct TGzipMemberBytes {
  TBytes bytes;
  int64_t dataOffset = 0;
  TBytes deflate;
  uint32_t crc = 0;
};

inline TGzipMemberBytes GzipMember(const TBytes& data, const TGzipFixture& fixture = {}) {
  TGzipMemberBytes member;
  member.deflate = Raw(data);
  member.crc = Crc32Of(data);
  TBytes& out = member.bytes;
  const uint8_t flags = static_cast<uint8_t>((fixture.headerCrc ? 2 : 0) | (fixture.extra ? 4 : 0) |
                                             (fixture.name ? 8 : 0) | (fixture.comment ? 16 : 0));
  out = {0x1f, 0x8b, 8, flags};
  PutLittle(out, fixture.mtime, 4);
  out.push_back(0);    // XFL
  out.push_back(3);    // OS: Unix
  if (fixture.extra) {
    PutLittle(out, fixture.extra->size(), 2);
    out.insert(out.end(), fixture.extra->begin(), fixture.extra->end());
  }
  if (fixture.name) {
    PutText(out, *fixture.name);
    out.push_back(0);
  }
  if (fixture.comment) {
    PutText(out, *fixture.comment);
    out.push_back(0);
  }
  if (fixture.headerCrc) PutLittle(out, Crc32Of(out) & 0xFFFFu, 2);
  member.dataOffset = static_cast<int64_t>(out.size());
  out.insert(out.end(), member.deflate.begin(), member.deflate.end());
  PutLittle(out, member.crc, 4);
  PutLittle(out, data.size(), 4);  // ISIZE
  return member;
}

// ------------------------------------------------------------------ PNG

inline const TBytes kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// A chunk: length, type, data and the CRC of type and data.
inline TBytes PngChunk(std::string_view type, const TBytes& data) {
  TBytes out;
  PutBig32(out, static_cast<uint32_t>(data.size()));
  TBytes typed = Text(type);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBig32(out, Crc32Of(typed));
  return out;
}

inline TBytes PngHeaderChunk() {
  TBytes data;
  PutBig32(data, 4);          // width
  PutBig32(data, 2);          // height
  data.insert(data.end(), {8, 0, 0, 0, 0});  // depth, colour type, compression, filter, interlace
  return PngChunk("IHDR", data);
}

// ------------------------------------------------------------------ git

// A pack entry's type and size: type in bits 4-6 of the first byte with
// the size's low 4 bits, then 7 bits a byte, bit 7 saying more follow.
inline TBytes PackEntryHeader(int type, uint64_t size) {
  TBytes out;
  uint8_t c = static_cast<uint8_t>(static_cast<uint64_t>(type) << 4 | (size & 15));
  size >>= 4;
  while (size != 0) {
    out.push_back(c | 0x80);
    c = size & 0x7F;
    size >>= 7;
  }
  out.push_back(c);
  return out;
}

// An ofs-delta's distance back to its base, as git encodes it: big-endian
// 7 bits a byte, each continuation adding one.
inline TBytes PackDeltaDistance(uint64_t distance) {
  TBytes reversed = {static_cast<uint8_t>(distance & 0x7F)};
  while ((distance >>= 7) != 0) {
    --distance;
    reversed.push_back(static_cast<uint8_t>(0x80 | (distance & 0x7F)));
  }
  return TBytes(reversed.rbegin(), reversed.rend());
}

inline TBytes PackHeader(uint32_t version, uint32_t objects) {
  TBytes out = Text("PACK");
  PutBig32(out, version);
  PutBig32(out, objects);
  return out;
}

}  // namespace quarn::test
