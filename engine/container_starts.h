// The zip entries and gzip members of a block, in the order their deflate
// data starts. A scan that asks for proof tries each of them where its
// data starts, whether or not that position is a candidate of its own:
// the container, not a guess, says where the data is.
#pragma once

#include <cstdint>
#include <optional>
#include <queue>
#include <string_view>
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
//
// Its time stays linear in what it reads, whatever the block holds: a
// signature every few bytes, each a gzip header whose name runs on for
// 64 KiB, must not make each header read its name anew. A gzip header's
// strings are therefore found by one cursor that only moves forward (the
// headers are taken in the order their strings start, which only grows),
// and the header CRC of FHCRC comes from two running CRCs of the block,
// one at the signatures and one at the headers' ends, also taken in
// order, combined with crc32_combine.
class TContainerStarts {
 public:
  TContainerStarts(TBlock block, int64_t from);

  // The next start below `below`, if any; every start below `below` that
  // is not handed out here is never handed out (`below` only grows).
  std::optional<TContainerStart> NextBelow(int64_t below);
  // The start at exactly `at` (after NextBelow(at) has handed out every
  // start before it), if there is one.
  std::optional<TContainerStart> At(int64_t at);

  // The bytes searched or summed so far: what the tests hold to a small
  // multiple of the bytes handed out over.
  int64_t BytesRead() const { return bytesRead_; }

 private:
  static constexpr int64_t kSearchAheadBytes = 65536;
  void SearchBefore(int64_t end);
  // The first pending start, dropping any other with the same data start.
  TContainerStart TakeFirst();
  void Consider(int64_t signature);
  // Takes the gzip headers whose next part starts before `below` one
  // step further, in the order those parts start.
  void ResolveGzipBefore(int64_t below);
  // The first zero byte in [at, limit), or -1; `at` must not fall below
  // what an earlier call asked for.
  int64_t NextZero(int64_t at, int64_t limit);
  // The CRC-32 of the block from the first FHCRC signature up to `to`,
  // by the cursor `cursor` (0 for signatures, 1 for header ends).
  uint32_t RunningCrc(int cursor, int64_t to);

  struct TLater {
    bool operator()(const TContainerStart& a, const TContainerStart& b) const { return a.DataOffset > b.DataOffset; }
  };
  // A gzip header read up to `At`, the start of what is still to read.
  struct TGzipPartial {
    enum class TStep : uint8_t { Name, Comment, Finish };
    TGzipHeaderStart Head;
    TStep Step = TStep::Finish;
    int64_t At = 0;
    std::optional<std::string_view> Name;
    uint32_t CrcToHeader = 0;  // running CRC up to the signature, with FHCRC
  };
  struct TPartLater {
    bool operator()(const TGzipPartial& a, const TGzipPartial& b) const { return a.At > b.At; }
  };
  TBlock block_;
  int64_t from_;
  int64_t searched_;  // signatures before this have been read
  std::priority_queue<TContainerStart, std::vector<TContainerStart>, TLater> pending_;
  std::priority_queue<TGzipPartial, std::vector<TGzipPartial>, TPartLater> partial_;
  // NextZero's cursor: no zero in [zeroFrom_, zeroTo_); zeroAt_ is the
  // zero at zeroTo_, or -1 when the search stopped at its limit there.
  int64_t zeroFrom_ = 0;
  int64_t zeroTo_ = 0;
  int64_t zeroAt_ = -1;
  // The running CRCs, from crcAnchor_ (-1 before the first FHCRC header).
  int64_t crcAnchor_ = -1;
  int64_t crcAt_[2] = {0, 0};
  uint32_t crc_[2] = {0, 0};
  int64_t bytesRead_ = 0;
};

}  // namespace quarn
