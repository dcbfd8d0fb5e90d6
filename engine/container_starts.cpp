// Finding container signatures: "PK\3\4" for a zip local header and
// 1f 8b 08 for a gzip member. Each is found with memchr on its first byte,
// which in most data hits once in 256 bytes or less.
#include "engine/container_starts.h"

#include <algorithm>
#include <cstring>

namespace quarn {

bool TContainerStart::Matches(TBlock block, uint64_t inBytes, uint64_t outBytes, uint32_t crc) const {
  switch (Kind) {
    case TContainerKind::Zip:
      return ZipEntryMatches(block, Zip, inBytes, outBytes, crc);
    case TContainerKind::Gzip:
      return GzipMemberMatches(block, Gzip, inBytes, outBytes, crc);
    default:
      return false;
  }
}

TContainerStarts::TContainerStarts(TBlock block, int64_t from)
    : block_(block), from_(from), searched_(std::max<int64_t>(0, from - kMaxContainerHeaderBytes)) {}

void TContainerStarts::Consider(int64_t signature) {
  TContainerStart start;
  if (block_.Memory[signature] == 'P') {
    const std::optional<TZipEntry> entry = ReadZipLocalHeader(block_, signature);
    if (!entry) return;
    start.Kind = TContainerKind::Zip;
    start.Zip = *entry;
    start.DataOffset = entry->DataOffset;
  } else {
    const std::optional<TGzipMember> member = ReadGzipHeader(block_, signature);
    if (!member) return;
    start.Kind = TContainerKind::Gzip;
    start.Gzip = *member;
    start.DataOffset = member->DataOffset;
  }
  if (start.DataOffset >= from_) pending_.push(start);
}

void TContainerStarts::SearchBefore(int64_t end) {
  end = std::min(end, block_.Size);
  if (searched_ >= end) return;
  const uint8_t* const memory = block_.Memory;
  for (const uint8_t first : {uint8_t{'P'}, uint8_t{0x1f}}) {
    int64_t at = searched_;
    while (at < end) {
      const void* hit = std::memchr(memory + at, first, static_cast<std::size_t>(end - at));
      if (hit == nullptr) break;
      at = static_cast<const uint8_t*>(hit) - memory;
      Consider(at);
      ++at;
    }
  }
  searched_ = end;
}

std::optional<TContainerStart> TContainerStarts::NextBelow(int64_t below) {
  // A header's data starts after its signature: the starts below `below`
  // all come from signatures before it.
  SearchBefore(below);
  if (pending_.empty() || pending_.top().DataOffset >= below) return std::nullopt;
  TContainerStart start = pending_.top();
  pending_.pop();
  // Two headers cannot share a data start unless they overlap; keep one.
  while (!pending_.empty() && pending_.top().DataOffset == start.DataOffset) pending_.pop();
  return start;
}

std::optional<TContainerStart> TContainerStarts::At(int64_t at) {
  SearchBefore(at);
  if (pending_.empty() || pending_.top().DataOffset != at) return std::nullopt;
  TContainerStart start = pending_.top();
  pending_.pop();
  // Two headers cannot share a data start unless they overlap; keep one.
  while (!pending_.empty() && pending_.top().DataOffset == at) pending_.pop();
  return start;
}

}  // namespace quarn
