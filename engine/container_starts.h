// The zip entries and gzip members of a block, in the order their deflate
// data starts. A scan that asks for proof tries each of them where its
// data starts, whether or not that position is a candidate of its own:
// the container, not a guess, says where the data is.
#pragma once

#include <cstdint>
#include <optional>
#include <queue>
#include <vector>

#include "engine/block_view.h"
#include "engine/container.h"
#include "engine/container_headers.h"

namespace quarn {

// One container header and what it promises of its data.
struct TContainerStart {
  TContainerKind Kind = TContainerKind::None;  // Zip or Gzip
  int64_t DataOffset = 0;
  TZipEntry Zip;      // with Kind Zip
  TGzipMember Gzip;   // with Kind Gzip

  // Whether a trial of the data that ended its stream, consuming `inBytes`
  // and producing `outBytes` with CRC-32 `crc`, is what the header promises.
  bool Matches(TBlock block, uint64_t inBytes, uint64_t outBytes, uint32_t crc) const;
};

// Hands out the container starts at or after `from`, each once, in order.
// It searches the block for signatures only as far as it is asked to, so
// that a scan of a range reads little more than the range; headers as far
// as kMaxContainerHeaderBytes before `from` are read for data that starts
// in it. What it holds at once is bounded by the headers within that
// reach, whatever the block holds.
class TContainerStarts {
 public:
  TContainerStarts(TBlock block, int64_t from);

  // The next start below `below`, if any; every start below `below` that
  // is not handed out here is never handed out (`below` only grows).
  std::optional<TContainerStart> NextBelow(int64_t below);
  // The start at exactly `at` (after NextBelow(at) has handed out every
  // start before it), if there is one.
  std::optional<TContainerStart> At(int64_t at);

 private:
  void SearchBefore(int64_t end);
  void Consider(int64_t signature);

  struct TLater {
    bool operator()(const TContainerStart& a, const TContainerStart& b) const { return a.DataOffset > b.DataOffset; }
  };
  TBlock block_;
  int64_t from_;
  int64_t searched_;  // signatures before this have been read
  std::priority_queue<TContainerStart, std::vector<TContainerStart>, TLater> pending_;
};

}  // namespace quarn
