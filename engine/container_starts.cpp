// Finding container signatures: "PK\3\4" for a zip local header and
// 1f 8b 08 for a gzip member. Each is found with memchr on its first byte,
// which in most data hits once in 256 bytes or less, and its second byte
// is looked at before anything else.
#include "engine/container_starts.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <zlib.h>

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
  if (block_.Memory[signature] == 'P') {
    const std::optional<TZipEntry> entry = ReadZipLocalHeader(block_, signature);
    if (!entry || entry->DataOffset < from_) return;
    TContainerStart start;
    start.Kind = TContainerKind::Zip;
    start.Zip = *entry;
    start.DataOffset = entry->DataOffset;
    pending_.push(start);
    return;
  }
  const std::optional<TGzipHeaderStart> head = ReadGzipHeaderStart(block_, signature);
  if (!head) return;
  TGzipPartial partial;
  partial.Head = *head;
  partial.At = head->StringsAt;
  partial.Step = head->HasName() ? TGzipPartial::TStep::Name : head->HasComment() ? TGzipPartial::TStep::Comment : TGzipPartial::TStep::Finish;
  if (head->HasHeaderCrc()) {
    if (crcAnchor_ < 0) {
      crcAnchor_ = crcAt_[0] = crcAt_[1] = signature;
    }
    partial.CrcToHeader = RunningCrc(0, signature);
  }
  partial_.push(partial);
}

int64_t TContainerStarts::NextZero(int64_t at, int64_t limit) {
  limit = std::min(limit, block_.Size);
  if (at < zeroFrom_ || at > zeroTo_) zeroFrom_ = zeroTo_ = at, zeroAt_ = -1;
  if (zeroAt_ < 0 && zeroTo_ < limit) {
    const void* const zero = std::memchr(block_.Memory + zeroTo_, 0, static_cast<std::size_t>(limit - zeroTo_));
    const int64_t reached = zero != nullptr ? static_cast<const uint8_t*>(zero) - block_.Memory : limit;
    bytesRead_ += reached - zeroTo_;
    zeroTo_ = reached;
    if (zero != nullptr) zeroAt_ = reached;
  }
  return zeroAt_ >= 0 && zeroAt_ < limit ? zeroAt_ : -1;
}

uint32_t TContainerStarts::RunningCrc(int cursor, int64_t to) {
  int64_t& at = crcAt_[cursor];
  bytesRead_ += to - at;
  crc_[cursor] = static_cast<uint32_t>(crc32_z(crc_[cursor], block_.Memory + at, static_cast<std::size_t>(to - at)));
  at = to;
  return crc_[cursor];
}

void TContainerStarts::ResolveGzipBefore(int64_t below) {
  while (!partial_.empty() && partial_.top().At < below) {
    TGzipPartial partial = partial_.top();
    partial_.pop();
    if (partial.Step != TGzipPartial::TStep::Finish) {
      const int64_t zero = NextZero(partial.At, partial.At + kMaxGzipStringBytes + 1);
      if (zero < 0) continue;
      if (partial.Step == TGzipPartial::TStep::Name) {
        partial.Name = std::string_view(reinterpret_cast<const char*>(block_.Memory + partial.At),
                                        static_cast<std::size_t>(zero - partial.At));
      }
      partial.Step = partial.Step == TGzipPartial::TStep::Name && partial.Head.HasComment() ? TGzipPartial::TStep::Comment
                                                                                     : TGzipPartial::TStep::Finish;
      partial.At = zero + 1;
      partial_.push(partial);
      continue;
    }
    int64_t data = partial.At;
    if (partial.Head.HasHeaderCrc()) {
      if (data > block_.Size - 2) continue;
      // The header's CRC from the two running ones: that up to its end
      // less that up to its start, carried over the header's length.
      const int64_t headerBytes = data - partial.Head.HeaderOffset;
      const uint32_t toEnd = RunningCrc(1, data);
      // A header is at most 30 + 2 x 65,536 bytes: z_off_t holds that on every platform.
      const uint32_t header =
          toEnd ^ static_cast<uint32_t>(crc32_combine(partial.CrcToHeader, 0, static_cast<z_off_t>(headerBytes)));
      const uint32_t stored = block_.Memory[data] | static_cast<uint32_t>(block_.Memory[data + 1]) << 8;
      if ((header & 0xFFFFu) != stored) continue;
      data += 2;
    }
    if (data >= block_.Size || data < from_) continue;
    TContainerStart start;
    start.Kind = TContainerKind::Gzip;
    start.Gzip.HeaderOffset = partial.Head.HeaderOffset;
    start.Gzip.Mtime = partial.Head.Mtime;
    start.Gzip.Name = partial.Name;
    start.Gzip.DataOffset = data;
    start.DataOffset = data;
    pending_.push(start);
  }
}

void TContainerStarts::SearchBefore(int64_t end) {
  if (searched_ >= end) return;
  // The scan asks at every candidate, often a few bytes on: searching a
  // stretch ahead at once keeps memchr's calls few. Headers found ahead
  // wait in the queues as any other.
  end = std::min(block_.Size, std::max(end, searched_ + kSearchAheadBytes));
  const uint8_t* const memory = block_.Memory;
  bytesRead_ += 2 * (end - searched_);
  for (const auto& [first, second] : {std::pair<uint8_t, uint8_t>{'P', 'K'}, std::pair<uint8_t, uint8_t>{0x1f, 0x8b}}) {
    int64_t at = searched_;
    while (at < end) {
      const void* hit = std::memchr(memory + at, first, static_cast<std::size_t>(end - at));
      if (hit == nullptr) break;
      at = static_cast<const uint8_t*>(hit) - memory;
      // The second byte turns away all but one in 256 of the first's hits.
      if (at + 1 < block_.Size && memory[at + 1] == second) Consider(at);
      ++at;
    }
  }
  searched_ = end;
}

std::optional<TContainerStart> TContainerStarts::NextBelow(int64_t below) {
  // A header's data starts after its signature and after each part of the
  // header: the starts below `below` all come from signatures before it.
  SearchBefore(below);
  ResolveGzipBefore(below);
  if (pending_.empty() || pending_.top().DataOffset >= below) return std::nullopt;
  return TakeFirst();
}

std::optional<TContainerStart> TContainerStarts::At(int64_t at) {
  SearchBefore(at);
  ResolveGzipBefore(at + 1);  // a header's last part may start at its data
  if (pending_.empty() || pending_.top().DataOffset != at) return std::nullopt;
  return TakeFirst();
}

TContainerStart TContainerStarts::TakeFirst() {
  TContainerStart start = pending_.top();
  pending_.pop();
  // Two headers cannot share a data start unless they overlap; keep one.
  while (!pending_.empty() && pending_.top().DataOffset == start.DataOffset) pending_.pop();
  return start;
}

}  // namespace quarn
