// Finding a stream's container. Each kind is read at the one place where
// the stream's start puts it and checked there:
//   zip, gzip   raw deflate right after a local header or a member header,
//               found among the signatures of the gap before the stream;
//   PNG         a zlib stream at the place its chunk type puts one, the
//               chunk found by walking the chunks from the last signature;
//   PDF         "stream" and an end of line right before the stream, a
//               dictionary before that and "N G obj" before the dictionary;
//   git pack    an entry header ending right at the stream, whose size is
//               what the stream inflates to;
//   git object  a zlib stream whose first inflated bytes are a loose
//               object's header giving exactly the rest's size.
// Every read is bounds-checked against the block: these run on whatever
// bytes a scan found a stream in.
#include "engine/container_finder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/container_headers.h"
#include "inflate/engine_binding.h"

namespace quarn {
namespace {

// `count` bytes at `at` lie inside the block.
bool Inside(TBlock block, int64_t at, int64_t count) { return at >= 0 && count >= 0 && at <= block.Size - count; }

bool BytesAre(TBlock block, int64_t at, std::string_view bytes) {
  return Inside(block, at, static_cast<int64_t>(bytes.size())) &&
         std::memcmp(block.Memory + at, bytes.data(), bytes.size()) == 0;
}

uint32_t Big32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// Calls `visit` with every position in [from, to) that holds `first`.
template <typename TVisit>
void ForEachByte(TBlock block, int64_t from, int64_t to, uint8_t first, TVisit visit) {
  from = std::max<int64_t>(from, 0);
  to = std::min(to, block.Size);
  while (from < to) {
    const void* const hit = std::memchr(block.Memory + from, first, static_cast<std::size_t>(to - from));
    if (hit == nullptr) return;
    const int64_t at = static_cast<const uint8_t*>(hit) - block.Memory;
    visit(at);
    from = at + 1;
  }
}

// A stream's extent, its input clamped to the block so that hostile
// totals cannot overflow what is added to them.
int64_t DeflateEnd(TBlock block, const TFoundStream& stream) {
  const uint64_t room = static_cast<uint64_t>(std::max<int64_t>(0, block.Size - stream.OffsetBytes));
  return stream.OffsetBytes + static_cast<int64_t>(std::min(stream.InBytes, room));
}

// The block up to the stream's first byte: a header whose data starts
// there reads nothing after it, so each signature costs no more than the
// bytes between it and the stream, however long a name it claims.
TBlock ThroughStart(TBlock block, int64_t start) { return {block.Memory, std::min(block.Size, start + 1)}; }

// The signatures nearest before a stream, nearest first. Only the last
// few of a gap are read as headers: reading one costs up to the bytes
// between it and the stream (its name, its extra field), so reading every
// one of a gap filled with signatures would cost the gap's square. A
// header is missed only when its own name or extra field holds that many
// signatures, which no writer's does.
class TNearest {
 public:
  static constexpr std::size_t kMaxTries = 16;

  void Collect(TBlock block, int64_t from, int64_t to, std::string_view signature) {
    ForEachByte(block, from, to, static_cast<uint8_t>(signature[0]), [&](int64_t at) {
      if (BytesAre(block, at, signature)) found_[count_++ % kMaxTries] = at;
    });
  }
  std::size_t Count() const { return std::min(count_, kMaxTries); }
  int64_t At(std::size_t k) const { return found_[(count_ - 1 - k) % kMaxTries]; }

 private:
  std::array<int64_t, kMaxTries> found_{};
  std::size_t count_ = 0;
};

// ---------------------------------------------------------------- PNG

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);
constexpr int64_t kPngChunkHeaderBytes = 8;  // length and type; the CRC follows the data
constexpr int64_t kMaxPngKeywordBytes = 79;

bool IsChunkType(const uint8_t* type) {
  return std::all_of(type, type + 4, [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// The zero after a text chunk's keyword (1 to 79 Latin-1 printable bytes)
// at `at`, or -1.
int64_t KeywordEnd(TBlock block, int64_t at, int64_t dataEnd) {
  const int64_t reach = std::min({dataEnd, block.Size, at + kMaxPngKeywordBytes + 1});
  for (int64_t k = at; k < reach; ++k) {
    const uint8_t c = block.Memory[k];
    if (c == 0) return k == at ? -1 : k;
    if (c < 32 || (c > 126 && c < 161)) return -1;
  }
  return -1;
}

// The end of a zero-terminated field of an iTXt chunk at `at`, or -1.
int64_t FieldEnd(TBlock block, int64_t at, int64_t dataEnd) {
  const int64_t reach = std::min(dataEnd, block.Size);
  if (at >= reach) return -1;
  const void* const zero = std::memchr(block.Memory + at, 0, static_cast<std::size_t>(reach - at));
  return zero == nullptr ? -1 : static_cast<const uint8_t*>(zero) - block.Memory;
}

// Where the zlib stream of the chunk whose data is [data, dataEnd) starts,
// as its type lays the data out, or -1 for a chunk that holds none.
int64_t PngStreamStart(TBlock block, std::string_view type, int64_t data, int64_t dataEnd, bool afterIdat) {
  // Image data split over several IDAT chunks is one stream: only the
  // first chunk's data starts it.
  if (type == "IDAT") return afterIdat ? -1 : data;
  if (type != "iCCP" && type != "zTXt" && type != "iTXt") return -1;
  const int64_t keywordEnd = KeywordEnd(block, data, dataEnd);
  if (keywordEnd < 0) return -1;
  if (type != "iTXt") {
    // keyword, 0, compression method 0, zlib stream
    if (!Inside(block, keywordEnd + 1, 1) || keywordEnd + 1 >= dataEnd || block.Memory[keywordEnd + 1] != 0) return -1;
    return keywordEnd + 2;
  }
  // keyword, 0, compression flag 1, method 0, language tag, 0,
  // translated keyword, 0, zlib stream
  if (!Inside(block, keywordEnd + 1, 2) || keywordEnd + 2 >= dataEnd) return -1;
  if (block.Memory[keywordEnd + 1] != 1 || block.Memory[keywordEnd + 2] != 0) return -1;
  const int64_t languageEnd = FieldEnd(block, keywordEnd + 3, dataEnd);
  if (languageEnd < 0) return -1;
  const int64_t translatedEnd = FieldEnd(block, languageEnd + 1, dataEnd);
  if (translatedEnd < 0) return -1;
  return translatedEnd + 1;
}

// ---------------------------------------------------------------- PDF

constexpr int64_t kMaxPdfDictionaryBytes = 64 * 1024;
constexpr int kMaxPdfNumberDigits = 10;

bool IsPdfSpace(uint8_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool IsPdfDelimiter(uint8_t c) { return std::strchr("()<>[]{}/%", c) != nullptr && c != 0; }
bool IsPdfRegular(uint8_t c) { return !IsPdfSpace(c) && !IsPdfDelimiter(c); }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// The name the dictionary [from, to) gives after its own /Filter (the
// first of an array), or "" where it gives none or refers to an object.
std::string PdfFilter(TBlock block, int64_t from, int64_t to) {
  const uint8_t* const bytes = block.Memory;
  constexpr std::string_view kKey = "/Filter";
  int depth = 0;  // dictionaries nested inside this one
  for (int64_t k = from; k < to; ++k) {
    if (k + 1 < to && bytes[k] == '<' && bytes[k + 1] == '<') {
      ++depth;
      ++k;
    } else if (k + 1 < to && bytes[k] == '>' && bytes[k + 1] == '>') {
      --depth;
      ++k;
    } else if (depth == 0 && k + static_cast<int64_t>(kKey.size()) < to &&
               std::memcmp(bytes + k, kKey.data(), kKey.size()) == 0 &&
               !IsPdfRegular(bytes[k + static_cast<int64_t>(kKey.size())])) {
      int64_t at = k + static_cast<int64_t>(kKey.size());
      while (at < to && IsPdfSpace(bytes[at])) ++at;
      if (at < to && bytes[at] == '[') {
        ++at;
        while (at < to && IsPdfSpace(bytes[at])) ++at;
      }
      if (at >= to || bytes[at] != '/') return "";
      const int64_t nameFrom = ++at;
      while (at < to && IsPdfRegular(bytes[at])) ++at;
      return std::string(reinterpret_cast<const char*>(bytes + nameFrom), static_cast<std::size_t>(at - nameFrom));
    }
  }
  return "";
}

// The decimal number whose last digit is at `last`, reading no further
// back than `from`: its value and first position, or nullopt.
struct TPdfNumber {
  int64_t Value = 0;
  int64_t At = 0;
};
std::optional<TPdfNumber> NumberEndingAt(TBlock block, int64_t from, int64_t last) {
  int64_t first = last;
  while (first > from && last - first + 1 < kMaxPdfNumberDigits && IsDigit(block.Memory[first - 1])) --first;
  if (first < from || !IsDigit(block.Memory[last])) return std::nullopt;
  // A number cut by the search's bound, or run on from a name, is not one.
  if (first > 0 && IsPdfRegular(block.Memory[first - 1])) return std::nullopt;
  TPdfNumber number;
  number.At = first;
  for (int64_t k = first; k <= last; ++k) number.Value = number.Value * 10 + (block.Memory[k] - '0');
  return number;
}

// ---------------------------------------------------------------- git

constexpr int64_t kPackHeaderBytes = 12;  // "PACK", version, object count
// A size of up to 60 bits in 9 bytes, and a 20-byte base id.
constexpr int kMaxVarintBytes = 9;
constexpr int64_t kMaxPackEntryHeaderBytes = kMaxVarintBytes + 20;
constexpr std::array<const char*, 8> kPackTypes = {nullptr, "commit", "tree", "blob", "tag", nullptr, "ofs-delta",
                                                   "ref-delta"};

struct TPackEntryHeader {
  const char* Type = nullptr;
  uint64_t Size = 0;
  int64_t End = 0;  // the first byte after the header
};

// The pack entry header at `at` (in the pack starting at `pack`), if it
// is one and ends no later than `limit`. Only the shortest encoding of a
// size is taken, as git writes it, so that one set of bytes reads one way.
std::optional<TPackEntryHeader> ReadPackEntryHeader(TBlock block, int64_t pack, int64_t at, int64_t limit) {
  limit = std::min(limit, block.Size);
  if (at < 0 || at >= limit) return std::nullopt;
  const uint8_t* const bytes = block.Memory;
  int64_t next = at;
  uint8_t c = bytes[next++];
  TPackEntryHeader header;
  header.Type = kPackTypes[(c >> 4) & 7];
  if (header.Type == nullptr) return std::nullopt;
  header.Size = c & 15u;
  for (int shift = 4, count = 1; (c & 0x80u) != 0; shift += 7, ++count) {
    if (count == kMaxVarintBytes || next >= limit) return std::nullopt;
    c = bytes[next++];
    if (c == 0) return std::nullopt;  // a last byte of 0: a longer encoding than needed
    header.Size |= static_cast<uint64_t>(c & 0x7Fu) << shift;
  }
  const int type = (bytes[at] >> 4) & 7;
  if (type == 6) {
    // The base's distance back, big-endian 7 bits a byte, each
    // continuation adding one (so that every distance has one encoding).
    if (next >= limit) return std::nullopt;
    c = bytes[next++];
    uint64_t distance = c & 0x7Fu;
    for (int count = 1; (c & 0x80u) != 0; ++count) {
      if (count == kMaxVarintBytes || next >= limit) return std::nullopt;
      c = bytes[next++];
      distance = ((distance + 1) << 7) | (c & 0x7Fu);
    }
    // The base is an earlier entry of the same pack.
    if (distance == 0 || distance > static_cast<uint64_t>(at - (pack + kPackHeaderBytes))) return std::nullopt;
  } else if (type == 7) {
    next += 20;
    if (next > limit) return std::nullopt;
  }
  header.End = next;
  return header;
}

// The type word of a loose object's header ("blob 12\0"), and the size it
// gives, when `bytes` starts with one; `headerBytes` counts the zero.
struct TLooseHeader {
  const char* Type = nullptr;
  uint64_t Size = 0;
  uint64_t HeaderBytes = 0;
};
std::optional<TLooseHeader> ReadLooseHeader(const uint8_t* bytes, std::size_t count) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), count);
  for (const char* type : {"blob", "tree", "commit", "tag"}) {
    const std::string_view word(type);
    if (text.size() <= word.size() || text.substr(0, word.size()) != word || text[word.size()] != ' ') continue;
    std::size_t at = word.size() + 1;
    const std::size_t digitsFrom = at;
    TLooseHeader header;
    header.Type = type;
    while (at < text.size() && IsDigit(static_cast<uint8_t>(text[at])) && at - digitsFrom < 19) {
      header.Size = header.Size * 10 + static_cast<uint64_t>(text[at] - '0');
      ++at;
    }
    const std::size_t digits = at - digitsFrom;
    if (digits == 0 || (digits > 1 && text[digitsFrom] == '0')) return std::nullopt;
    if (at >= text.size() || text[at] != '\0') return std::nullopt;
    header.HeaderBytes = at + 1;
    return header;
  }
  return std::nullopt;
}

// A loose object's header is short: a type word, a space, at most 19
// digits and a zero.
constexpr std::size_t kLooseHeaderBytes = 64;
// Deflate input enough for those bytes from any writer (a dynamic block's
// header is a few hundred bytes); a stream of empty blocks that needs
// more is not read further.
constexpr int64_t kLooseHeaderInputBytes = 64 * 1024;

}  // namespace

TContainerFinder::TContainerFinder(TBlock block) : block_(block) {}

int64_t TContainerFinder::GapFrom(int64_t start, int64_t reachBytes) const {
  int64_t from = 0;
  if (seenStream_) from = previousEnd_ <= start ? previousEnd_ : previousStart_ + 1;
  return std::max({from, start - reachBytes, int64_t{0}});
}

void TContainerFinder::NoteSignatures(int64_t from, int64_t to) {
  // The last of each in the gap wins: it is the one the stream follows.
  ForEachByte(block_, from, to, 0x89, [&](int64_t at) {
    if (at + static_cast<int64_t>(kPngSignature.size()) <= to && BytesAre(block_, at, kPngSignature)) {
      pngChunkAt_ = at + static_cast<int64_t>(kPngSignature.size());
      pngChunkIndex_ = 0;
      pngWalking_ = true;
      pngAfterIdat_ = false;
      pngStreamFor_ = -1;
    }
  });
  ForEachByte(block_, from, to, 'P', [&](int64_t at) {
    if (at + kPackHeaderBytes <= to && BytesAre(block_, at, "PACK")) {
      const uint32_t version = Big32(block_.Memory + at + 4);
      if (version == 2 || version == 3) pack_ = at;
    }
  });
}

std::optional<TContainer> TContainerFinder::Find(const TFoundStream& stream) {
  const int64_t start = stream.StartBytes();
  if (start < 0 || stream.OffsetBytes >= block_.Size) return std::nullopt;
  NoteSignatures(GapFrom(start, kMaxContainerHeaderBytes), start);

  std::optional<TContainer> found;
  if (stream.HasHeader) {
    found = FindPng(stream);
    if (!found) found = FindPdf(stream);
    if (!found) found = FindPackEntry(stream);
    if (!found) found = FindLooseObject(stream);
  } else {
    found = FindZip(stream);
    if (!found) found = FindGzip(stream);
    if (!found) found = FindPdf(stream);
  }

  seenStream_ = true;
  previousStart_ = start;
  previousEnd_ = DeflateEnd(block_, stream) + (stream.HasHeader ? 4 : 0);
  previousWasZlib_ = stream.HasHeader;
  return found;
}

void TContainerFinder::Place(TFoundStream& stream) {
  if (std::optional<TContainer> container = Find(stream)) {
    stream.Container = std::make_shared<const TContainer>(std::move(*container));
  }
}

// ---------------------------------------------------------------- zip, gzip

std::optional<TContainer> TContainerFinder::FindZip(const TFoundStream& stream) {
  const int64_t start = stream.StartBytes();
  const TBlock headers = ThroughStart(block_, start);
  std::optional<TZipEntry> found;
  TNearest nearest;
  nearest.Collect(block_, GapFrom(start, kMaxContainerHeaderBytes), start, "PK\x03\x04");
  for (std::size_t k = 0; k < nearest.Count() && !found; ++k) {
    const std::optional<TZipEntry> entry = ReadZipLocalHeader(headers, nearest.At(k));
    if (entry && entry->DataOffset == start) found = entry;
  }
  if (!found) return std::nullopt;
  TContainer container;
  container.Kind = TContainerKind::Zip;
  container.Offset = found->HeaderOffset;
  container.Name = std::string(found->Name);
  return container;
}

std::optional<TContainer> TContainerFinder::FindGzip(const TFoundStream& stream) {
  const int64_t start = stream.StartBytes();
  const TBlock headers = ThroughStart(block_, start);
  std::optional<TGzipMember> found;
  TNearest nearest;
  nearest.Collect(block_, GapFrom(start, kMaxContainerHeaderBytes), start, "\x1f\x8b\x08");
  for (std::size_t k = 0; k < nearest.Count() && !found; ++k) {
    const std::optional<TGzipMember> member = ReadGzipHeader(headers, nearest.At(k));
    if (member && member->DataOffset == start) found = member;
  }
  if (!found) return std::nullopt;
  TContainer container;
  container.Kind = TContainerKind::Gzip;
  container.Offset = found->HeaderOffset;
  if (found->Name) container.Name = std::string(*found->Name);
  if (found->Mtime != 0) container.Mtime = found->Mtime;
  // A member that starts where the last one ended continues its run.
  container.Index = found->HeaderOffset == gzipMemberEnd_ ? gzipIndex_ + 1 : 0;
  gzipIndex_ = container.Index;
  gzipMemberEnd_ = DeflateEnd(block_, stream) + 8;
  return container;
}

// ---------------------------------------------------------------- PNG

std::optional<TContainer> TContainerFinder::FindPng(const TFoundStream& stream) {
  const int64_t start = stream.StartBytes();
  while (pngWalking_) {
    const int64_t at = pngChunkAt_;
    if (at + kPngChunkHeaderBytes > start) return std::nullopt;  // no chunk's data holds the start
    if (!Inside(block_, at, kPngChunkHeaderBytes)) break;
    const uint8_t* const header = block_.Memory + at;
    const uint32_t length = Big32(header);
    const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
    if (length > 0x7FFFFFFFu || !IsChunkType(header + 4)) break;
    if (pngChunkIndex_ == 0 && (type != "IHDR" || length != 13)) break;
    const int64_t dataEnd = at + kPngChunkHeaderBytes + length;
    if (start < dataEnd) {
      // The chunk holds the start; where its stream starts is worked out
      // once however many streams start inside it.
      if (pngStreamFor_ != at) {
        pngStreamFor_ = at;
        pngStreamAt_ = PngStreamStart(block_, type, at + kPngChunkHeaderBytes, dataEnd, pngAfterIdat_);
      }
      if (pngStreamAt_ != start) return std::nullopt;
      TContainer container;
      container.Kind = TContainerKind::Png;
      container.Offset = at;
      container.Index = pngChunkIndex_;
      container.Type = std::string(type);
      return container;
    }
    pngAfterIdat_ = type == "IDAT";
    pngChunkAt_ = dataEnd + 4;  // past the CRC
    ++pngChunkIndex_;
    if (type == "IEND") break;
  }
  pngWalking_ = false;
  return std::nullopt;
}

// ---------------------------------------------------------------- PDF

std::optional<TContainer> TContainerFinder::FindPdf(const TFoundStream& stream) {
  const int64_t start = stream.StartBytes();
  const int64_t from = GapFrom(start, kMaxPdfDictionaryBytes);
  const uint8_t* const bytes = block_.Memory;
  // "stream" and CRLF or LF: the data starts on the next line.
  if (start < 1 || start > block_.Size || bytes[start - 1] != '\n') return std::nullopt;
  int64_t keywordEnd = start - 1;
  if (keywordEnd >= 1 && bytes[keywordEnd - 1] == '\r') --keywordEnd;
  const int64_t keyword = keywordEnd - 6;
  if (keyword - 1 < from || !BytesAre(block_, keyword, "stream") || IsPdfRegular(bytes[keyword - 1])) {
    return std::nullopt;  // also "endstream", whose end looks the same
  }
  // The dictionary right before it, matched back to its "<<".
  int64_t at = keyword;
  while (at > from && IsPdfSpace(bytes[at - 1])) --at;
  if (at - 2 < from || bytes[at - 1] != '>' || bytes[at - 2] != '>') return std::nullopt;
  const int64_t dictionaryEnd = at;
  int depth = 1;
  at -= 2;
  while (depth > 0) {
    if (at - 2 < from) return std::nullopt;
    if (bytes[at - 1] == '>' && bytes[at - 2] == '>') {
      ++depth;
      at -= 2;
    } else if (bytes[at - 1] == '<' && bytes[at - 2] == '<') {
      --depth;
      at -= 2;
    } else {
      --at;
    }
  }
  const int64_t dictionaryStart = at;
  // "N G obj" before it.
  while (at > from && IsPdfSpace(bytes[at - 1])) --at;
  if (at - 4 < from || !BytesAre(block_, at - 3, "obj") || !IsPdfSpace(bytes[at - 4])) return std::nullopt;
  at -= 4;
  while (at > from && IsPdfSpace(bytes[at - 1])) --at;
  if (at - 1 < from) return std::nullopt;
  const std::optional<TPdfNumber> generation = NumberEndingAt(block_, from, at - 1);
  if (!generation) return std::nullopt;
  at = generation->At;
  if (at - 1 < from || !IsPdfSpace(bytes[at - 1])) return std::nullopt;
  while (at > from && IsPdfSpace(bytes[at - 1])) --at;
  if (at - 1 < from) return std::nullopt;
  const std::optional<TPdfNumber> object = NumberEndingAt(block_, from, at - 1);
  if (!object) return std::nullopt;

  TContainer container;
  container.Kind = TContainerKind::Pdf;
  container.Offset = object->At;
  container.Object = object->Value;
  container.Generation = generation->Value;
  container.Filter = PdfFilter(block_, dictionaryStart + 2, dictionaryEnd - 2);
  return container;
}

// ---------------------------------------------------------------- git

std::optional<TContainer> TContainerFinder::FindPackEntry(const TFoundStream& stream) {
  if (pack_ < 0) return std::nullopt;
  const int64_t start = stream.StartBytes();
  const int64_t firstEntry = pack_ + kPackHeaderBytes;
  if (firstEntry >= start) return std::nullopt;
  auto fits = [&](int64_t at) -> std::optional<TPackEntryHeader> {
    std::optional<TPackEntryHeader> header = ReadPackEntryHeader(block_, pack_, at, start);
    if (header && header->End == start && header->Size == stream.OutBytes) return header;
    return std::nullopt;
  };
  auto entry = [&](int64_t at, const TPackEntryHeader& header) {
    TContainer container;
    container.Kind = TContainerKind::GitPack;
    container.Offset = at;
    container.Type = header.Type;
    container.Size = static_cast<int64_t>(header.Size);
    return container;
  };
  // Where an entry certainly starts: the pack's first, or right after the
  // entry before (its zlib stream and Adler-32 trailer).
  for (const int64_t at : {firstEntry, previousWasZlib_ ? previousEnd_ : int64_t{-1}}) {
    if (at < firstEntry) continue;
    if (const std::optional<TPackEntryHeader> header = fits(at)) return entry(at, *header);
  }
  // Otherwise the header forms that end right at the stream; only one
  // that fits is taken, as two would leave the entry unknown.
  std::optional<TPackEntryHeader> found;
  int64_t foundAt = -1;
  const int64_t from = std::max(GapFrom(start, kMaxPackEntryHeaderBytes), firstEntry);
  for (int64_t at = from; at < start; ++at) {
    if (const std::optional<TPackEntryHeader> header = fits(at)) {
      if (found) return std::nullopt;
      found = header;
      foundAt = at;
    }
  }
  if (!found) return std::nullopt;
  return entry(foundAt, *found);
}

std::optional<TContainer> TContainerFinder::FindLooseObject(const TFoundStream& stream) {
  // The first inflated bytes only: output stops the inflation long before
  // the stream's end, and the input offered is the stream's own, cut to
  // what any writer's first bytes take.
  std::array<uint8_t, kLooseHeaderBytes> head{};
  z_stream* const record = record_.Get();
  if (InflateReset(record) != Z_OK) return std::nullopt;
  const int64_t inBytes = DeflateEnd(block_, stream) - stream.OffsetBytes;
  record->next_in = const_cast<Bytef*>(block_.Memory + stream.OffsetBytes);
  record->avail_in = static_cast<uInt>(std::min(inBytes, kLooseHeaderInputBytes));
  record->next_out = head.data();
  record->avail_out = static_cast<uInt>(head.size());
  const int code = Inflate(record, Z_SYNC_FLUSH);
  if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) return std::nullopt;
  const std::size_t produced = head.size() - record->avail_out;
  const std::optional<TLooseHeader> header = ReadLooseHeader(head.data(), produced);
  if (!header || stream.OutBytes < header->HeaderBytes || header->Size != stream.OutBytes - header->HeaderBytes) {
    return std::nullopt;
  }
  TContainer container;
  container.Kind = TContainerKind::GitObject;
  container.Type = header->Type;
  container.Size = static_cast<int64_t>(header->Size);
  return container;
}

}  // namespace quarn
