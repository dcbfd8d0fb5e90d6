// Counting fingerprints by encoder and level, and their report lines.
#include "engine/fingerprint_counts.h"

namespace quarn {

void TFingerprintCounts::Add(const TStreamFingerprint& fingerprint) {
  Tries += fingerprint.Tries;
  if (!fingerprint.Settings) {
    ++(fingerprint.Skipped == TFingerprintSkip::None ? Unknown : NotTried);
    return;
  }
  const TEncoderSettings& s = *fingerprint.Settings;
  switch (s.Encoder) {
    case TEncoder::Zlib:
      if (s.Strategy == TZlibStrategy::HuffmanOnly) {
        ++ZlibHuffmanOnly;
      } else if (s.Strategy == TZlibStrategy::Rle) {
        ++ZlibRle;
      } else if (s.Level >= 0 && s.Level <= 9) {
        ++ZlibLevels[static_cast<std::size_t>(s.Level)];
      }
      return;
    case TEncoder::Libdeflate:
      if (s.Level >= 1 && s.Level <= 12) ++LibdeflateLevels[static_cast<std::size_t>(s.Level - 1)];
      return;
    case TEncoder::Zopfli:
      ++Zopfli;
      return;
  }
}

TFingerprintCounts& TFingerprintCounts::operator+=(const TFingerprintCounts& other) {
  for (std::size_t k = 0; k < ZlibLevels.size(); ++k) ZlibLevels[k] += other.ZlibLevels[k];
  ZlibHuffmanOnly += other.ZlibHuffmanOnly;
  ZlibRle += other.ZlibRle;
  for (std::size_t k = 0; k < LibdeflateLevels.size(); ++k) LibdeflateLevels[k] += other.LibdeflateLevels[k];
  Zopfli += other.Zopfli;
  Unknown += other.Unknown;
  NotTried += other.NotTried;
  Tries += other.Tries;
  return *this;
}

int64_t TFingerprintCounts::Streams() const {
  int64_t streams = ZlibHuffmanOnly + ZlibRle + Zopfli + Unknown + NotTried;
  for (const int64_t n : ZlibLevels) streams += n;
  for (const int64_t n : LibdeflateLevels) streams += n;
  return streams;
}

std::vector<std::string> FingerprintLines(const TFingerprintCounts& counts) {
  std::vector<std::string> lines;
  auto line = [&lines](const std::string& who, int64_t count) {
    if (count > 0) lines.push_back("Streams reproduced by " + who + ": " + std::to_string(count));
  };
  for (std::size_t level = 0; level < counts.ZlibLevels.size(); ++level) {
    line("zlib level " + std::to_string(level), counts.ZlibLevels[level]);
  }
  line("zlib Huffman-only", counts.ZlibHuffmanOnly);
  line("zlib RLE", counts.ZlibRle);
  for (std::size_t k = 0; k < counts.LibdeflateLevels.size(); ++k) {
    line("libdeflate level " + std::to_string(k + 1), counts.LibdeflateLevels[k]);
  }
  line("zopfli", counts.Zopfli);
  lines.push_back("Streams reproduced by no known encoder: " + std::to_string(counts.Unknown));
  if (counts.NotTried > 0) {
    lines.push_back("Streams not fingerprinted (incomplete, or over " + std::to_string(kMaxFingerprintBytes >> 20) +
                    " MiB inflated): " +
                    std::to_string(counts.NotTried));
  }
  lines.push_back("Fingerprint tries: " + std::to_string(counts.Tries));
  return lines;
}

}  // namespace quarn
