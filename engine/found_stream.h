// One stream that a scan accepted: where its deflate data starts, what its
// zlib header said, and what its trial consumed and produced. Everything
// the scan gives out about a stream travels in this one value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/container.h"
#include "engine/stream_fingerprint.h"
#include "engine/content_type.h"
#include "engine/rule_set.h"

namespace quarn {

// What proved a stream beyond the scan's rule: the Adler-32 trailer of a
// zlib stream, or the CRC-32 (and sizes) its container records.
enum class TProof : uint8_t { None, Adler32, Crc32 };

// The name a proof is given out as ("adler32", "crc32"; null for None).
constexpr const char* ProofName(TProof proof) {
  return proof == TProof::Adler32 ? "adler32" : proof == TProof::Crc32 ? "crc32" : nullptr;
}

// The limit of a nested scan that a stream met (nested_scan.h): it was not
// looked inside, and where its trial was stopped, not confirmed either.
enum class TNestLimit : uint8_t {
  None,
  MaxInflate,  // the bytes inflated under its top-level stream ran out
  Expansion,   // it inflated more than 100 times its input, beyond its first MiB
  MaxNested,   // its top-level stream holds too many nested streams to list
};

// The name a limit is given out as ("max-inflate", "expansion",
// "max-nested"; null for None).
constexpr const char* NestLimitName(TNestLimit limit) {
  switch (limit) {
    case TNestLimit::MaxInflate:
      return "max-inflate";
    case TNestLimit::Expansion:
      return "expansion";
    case TNestLimit::MaxNested:
      return "max-nested";
    case TNestLimit::None:
      break;
  }
  return nullptr;
}

struct TFoundStream {
  int64_t OffsetBytes = 0;  // first deflate byte, from the start of the block
  bool HasHeader = false;   // zlib header at OffsetBytes-2, else raw deflate
  uint8_t CINFO = 0;        // header streams: window size is 2^(CINFO+8)
  uint8_t FLEVEL = 0;       // header streams: compression level hint 0..3
  uint64_t InBytes = 0;     // deflate bytes consumed, as the trial counted them
  uint64_t OutBytes = 0;    // bytes inflated
  bool Complete = false;    // reached the end of the deflate stream
  // Checked only by a scan that asks for proof (TScanOptions::Verified).
  TProof ProvenBy = TProof::None;
  // With Crc32: the container whose record matched (Zip or Gzip).
  TContainerKind ProvenIn = TContainerKind::None;
  // Not admitted by the scan's rule (first block, size, or the last 63
  // bytes), counted only because its checksum proves it. The scan steps
  // on past such a stream's first byte rather than over its input.
  bool BeyondRule = false;
  // Where the stream sits, when the bytes around it show a container;
  // found only for streams that are handed out one by one.
  std::shared_ptr<const TContainer> Container;
  // The encoder and settings that reproduce the stream; found only for
  // streams handed out one by one to a sink that asks for it.
  std::optional<TStreamFingerprint> Fingerprint;
  // What its inflated bytes are, with TScanOptions::ContentTypes; null
  // without, or where libmagic has no answer.
  std::shared_ptr<const TContentType> Content;
  // The rules that match its inflated bytes, with TScanOptions::Rules;
  // null without, or where none matched.
  std::shared_ptr<const TRuleHits> RuleHits;
  // With TScanOptions::Depth above 1: the streams found in its inflated
  // bytes, in order, their offsets within those bytes, each with its own
  // nested streams; null where none were found.
  std::shared_ptr<const std::vector<TFoundStream>> Nested;
  // Set where a limit of the nested scan stopped at this stream.
  TNestLimit SkippedBy = TNestLimit::None;

  // Where the stream starts: its zlib header's first byte, two before the
  // first deflate byte, or for raw deflate the first deflate byte itself.
  // Other tools, and zlib's own one-call inflation, start there.
  int64_t StartBytes() const { return HasHeader ? OffsetBytes - 2 : OffsetBytes; }
  // Where the scan goes on after this stream: past its input, or for a
  // stream beyond the rule to the next position.
  int64_t NextPosition() const { return BeyondRule ? OffsetBytes + 1 : OffsetBytes + static_cast<int64_t>(InBytes); }
};

}  // namespace quarn
