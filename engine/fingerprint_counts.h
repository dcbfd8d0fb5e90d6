// How many streams of a scan each known encoder reproduces, and the report
// lines that say so. Added up like TStreamCounts: per file, then for the
// files scanned whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/stream_fingerprint.h"

namespace quarn {

struct TFingerprintCounts {
  std::array<int64_t, 10> ZlibLevels{};  // zlib levels 0..9, every strategy that has a level
  int64_t ZlibHuffmanOnly = 0;
  int64_t ZlibRle = 0;
  std::array<int64_t, 12> LibdeflateLevels{};  // levels 1..12
  int64_t Zopfli = 0;
  int64_t Unknown = 0;   // tried, and no known encoder reproduces them
  int64_t NotTried = 0;  // incomplete, or inflating to more than kMaxFingerprintBytes
  int64_t Tries = 0;     // encodings started for all of them

  void Add(const TStreamFingerprint& fingerprint);
  TFingerprintCounts& operator+=(const TFingerprintCounts& other);
  int64_t Streams() const;

  friend bool operator==(const TFingerprintCounts&, const TFingerprintCounts&) = default;
};

// The lines that follow the report: "Streams reproduced by zlib level N:
// count" for each level and encoder that reproduced any, then "Streams
// reproduced by no known encoder: count", the streams not tried when there
// are any, and the tries.
std::vector<std::string> FingerprintLines(const TFingerprintCounts& counts);

}  // namespace quarn
