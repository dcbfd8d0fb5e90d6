// The counters of a scan's report as one plain value: streams by kind, the
// header streams' window sizes and FLEVEL hints, their compressed and
// inflated bytes, and the files and input bytes they came from. Every part
// of the program that counts streams counts them here: a file's streams, a
// chunk's, the totals of a scan, and what the Python module hands over.
// The short names are the ones the whole program uses for these totals.
#pragma once

#include <array>
#include <cstdint>

#include "engine/found_stream.h"

namespace quarn {

struct TStreamCounts {
  static constexpr int kFirstWindowBits = 9;
  static constexpr int kLastWindowBits = 15;

  int64_t i = 0;      // input bytes of the files counted
  int64_t zout = 0;   // bytes inflated from the streams
  int64_t zin = 0;    // compressed bytes of the streams (no header or trailer)
  int64_t hless = 0;  // streams without a zlib header
  int64_t Z = 0;      // streams with a zlib header
  std::array<int64_t, 4> l{};  // header streams per FLEVEL 0..3
  std::array<int64_t, kLastWindowBits - kFirstWindowBits + 1> w{};  // header streams per window bits 9..15
  int64_t Files = 0;  // files scanned whole
  // Streams beyond the scan's rule that their checksum proves, by kind;
  // none of the counters above counts them.
  enum TProvenKind { kProvenZlib, kProvenGzip, kProvenZip, kProvenKinds };
  std::array<int64_t, kProvenKinds> proven{};
  int64_t provenOut = 0;  // bytes inflated from them

  // Counts one stream: a stream beyond the rule in `proven` alone, any
  // other in the counters of the report. Raises TQuarnError, counting nothing, for a header
  // stream whose CINFO is outside 1..7 or FLEVEL above 3: the histograms
  // are indexed by them, and a stream from a caller's list may hold anything.
  void Add(const TFoundStream& stream);
  // Counts one file scanned whole, of `sizeBytes` bytes.
  void AddFile(int64_t sizeBytes) {
    i += sizeBytes;
    ++Files;
  }
  TStreamCounts& operator+=(const TStreamCounts& other);

  int64_t Streams() const { return Z + hless; }
  int64_t ProvenStreams() const { return proven[kProvenZlib] + proven[kProvenGzip] + proven[kProvenZip]; }
  // Header streams whose window is 2^`bits` (9..15).
  int64_t& WindowBits(int bits) { return w[static_cast<std::size_t>(bits - kFirstWindowBits)]; }
  int64_t WindowBits(int bits) const { return w[static_cast<std::size_t>(bits - kFirstWindowBits)]; }
  // What the files would weigh with every stream inflated: i - zin + zout,
  // but only when a header stream was found; else i, as the report has
  // always shown it.
  int64_t OutputBytes() const { return Z > 0 ? i - zin + zout : i; }

  friend bool operator==(const TStreamCounts&, const TStreamCounts&) = default;
};

}  // namespace quarn
