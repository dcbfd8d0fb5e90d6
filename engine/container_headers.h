// The headers of the two containers that say where their deflate data
// starts and what it must inflate to: a zip entry's local file header and
// a gzip member's header. Both are read forward from their signature and
// checked field by field; what they promise (CRC-32 and sizes) is checked
// against a trial's totals once the deflate data has been inflated.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/block_view.h"

namespace quarn {

// The farthest a local header or a gzip header reaches, signature to the
// first deflate byte: 30 bytes, a name and an extra field of up to 65,535
// bytes each. A gzip header's name and comment are held to the same bound.
inline constexpr int64_t kMaxContainerHeaderBytes = 30 + 65535 + 65535;

// A zip local file header ("PK\3\4") whose method is 8 (deflate).
struct TZipEntry {
  int64_t HeaderOffset = 0;
  int64_t DataOffset = 0;       // the first deflate byte
  uint16_t Flags = 0;
  bool Descriptor = false;      // flag bit 3: CRC and sizes follow the data
  bool Zip64 = false;           // sizes in the zip64 extra field (and 8-byte descriptor sizes)
  uint32_t Crc = 0;             // from the header; 0 with a descriptor
  uint64_t CompressedBytes = 0;
  uint64_t InflatedBytes = 0;
  std::string_view Name;        // points into the block
};

// The local header at `at`, if one starts there: the signature, method 8,
// no encryption (flag bit 0), and name and extra field inside the block,
// the data starting inside it too. Reads only the block.
std::optional<TZipEntry> ReadZipLocalHeader(TBlock block, int64_t at);

// Whether the entry's deflate data, inflated to its end by a trial that
// consumed `inBytes` and produced `outBytes` with CRC-32 `crc`, is what the
// entry promises: the header's sizes and CRC, or those of the data
// descriptor right after the data (with or without its signature; sizes
// of 8 bytes for zip64).
bool ZipEntryMatches(TBlock block, const TZipEntry& entry, uint64_t inBytes, uint64_t outBytes, uint32_t crc);

// A gzip member header (1f 8b 08), RFC 1952: flags with no reserved bit,
// FEXTRA, FNAME, FCOMMENT and FHCRC as they say (the header CRC checked
// when present), the data starting inside the block.
struct TGzipMember {
  int64_t HeaderOffset = 0;
  int64_t DataOffset = 0;
  uint32_t Mtime = 0;
  std::optional<std::string_view> Name;  // FNAME, without its terminating zero
};

std::optional<TGzipMember> ReadGzipHeader(TBlock block, int64_t at);

// The part of a gzip member header before its strings, read in constant
// time: the fixed ten bytes, checked as ReadGzipHeader checks them, and
// FEXTRA. FNAME and FCOMMENT, when the flags give them, start at
// StringsAt; what follows them is the header CRC (FHCRC) and the data.
struct TGzipHeaderStart {
  int64_t HeaderOffset = 0;
  uint8_t Flags = 0;
  uint32_t Mtime = 0;
  int64_t StringsAt = 0;
  bool HasName() const { return (Flags & 8u) != 0; }
  bool HasComment() const { return (Flags & 16u) != 0; }
  bool HasHeaderCrc() const { return (Flags & 2u) != 0; }
};
std::optional<TGzipHeaderStart> ReadGzipHeaderStart(TBlock block, int64_t at);

// The longest FNAME or FCOMMENT read, without its terminating zero.
inline constexpr int64_t kMaxGzipStringBytes = 65535;

// The most records of a zip extra field looked through for the zip64 one.
inline constexpr int kMaxZipExtraRecords = 64;

// Whether the member's trailer (CRC-32 and ISIZE, right after the deflate
// data) matches a trial's totals.
bool GzipMemberMatches(TBlock block, const TGzipMember& member, uint64_t inBytes, uint64_t outBytes, uint32_t crc);

}  // namespace quarn
