// The plan of tries for one stream, and the loop that runs them.
//
// What the stream shows rules settings out (a rule below is marked so when
// it is certain for the encoder's one-call output) or moves them forward:
// - zlib writes FLEVEL from its level and strategy (certain), and CINFO
//   from its window bits (certain); libdeflate writes CINFO 7 and FLEVEL
//   from its level (certain); zopfli writes CINFO 7, FLEVEL 3 (certain);
// - zlib ends a block that is not the stream's last after exactly
//   2^(memLevel+6)-1 symbols (certain, levels 1..9), so the first block's
//   symbol count gives memLevel, or rules zlib out; a last block holds
//   fewer than that (certain);
// - zlib's level 0 writes stored blocks only, its fixed strategy no
//   dynamic block, its Huffman-only strategy no match, its RLE strategy
//   matches at distance 1 only (all certain); no zlib match reaches past
//   the window less 262 bytes (certain);
// - a fixed first block that is not the last suggests the fixed strategy,
//   a block of literals alone Huffman-only, matches at distance 1 alone
//   RLE;
// - level 6 and window 15 are the defaults nearly everyone keeps, then the
//   ends of the range.
#include "engine/stream_fingerprint.h"

#include <algorithm>
#include <vector>

#include "engine/first_block_shape.h"

namespace quarn {
namespace {

constexpr int kZlibLookaheadBytes = 262;  // zlib's MIN_LOOKAHEAD

uint64_t ZlibBlockSymbols(int memLevel) { return (uint64_t{1} << (memLevel + 6)) - 1; }

uint64_t ZlibMaxDistance(int windowBits) { return (uint64_t{1} << windowBits) - kZlibLookaheadBytes; }

class TPlan {
 public:
  TPlan(const TFingerprintInput& input, const TFirstBlockShape& shape) : input_(input), shape_(shape) {}

  std::vector<TEncoderSettings> Tries() {
    AddZlib();
    AddLibdeflate();
    return std::move(tries_);
  }

 private:
  bool FlevelAllows(int flevel) const { return !input_.HasHeader || input_.FLEVEL == flevel; }

  std::vector<int> ZlibWindows() const {
    std::vector<int> windows;
    if (input_.HasHeader) {
      const int bits = std::max(9, input_.CINFO + 8);  // zlib makes a window of 256 one of 512
      if (bits <= 15 && shape_.MaxDistance <= ZlibMaxDistance(bits)) windows.push_back(bits);
      return windows;
    }
    if (shape_.MaxDistance > ZlibMaxDistance(15)) return windows;
    windows.push_back(15);
    for (int bits = 14; bits >= 9; --bits) {
      if (input_.Inflated.size() <= ZlibMaxDistance(bits)) continue;  // same bytes as under 15
      if (shape_.MaxDistance > ZlibMaxDistance(bits)) break;
      windows.push_back(bits);
    }
    return windows;
  }

  std::vector<int> ZlibMemLevels() const {
    static constexpr int kOrder[] = {8, 9, 7, 6, 5, 4, 3, 2, 1};
    std::vector<int> memLevels;
    if (shape_.Type != 0) {
      for (const int m : kOrder) {
        if (shape_.Final ? ZlibBlockSymbols(m) > shape_.Symbols : ZlibBlockSymbols(m) == shape_.Symbols) {
          memLevels.push_back(m);
        }
      }
      return memLevels;
    }
    // A stored first block holds the bytes of a block whose symbols are not
    // known: with few matches the byte count is near the symbol count.
    for (const int m : kOrder) {
      if (!shape_.Final && ZlibBlockSymbols(m) == shape_.InflatedBytes) memLevels.push_back(m);
    }
    for (const int m : kOrder) {
      if (std::find(memLevels.begin(), memLevels.end(), m) == memLevels.end()) memLevels.push_back(m);
    }
    return memLevels;
  }

  // Levels 1..9 and strategies, in the order to try, without windows and
  // memLevels; the level-free strategies carry level -1.
  std::vector<std::pair<int, TZlibStrategy>> ZlibLevels() const {
    static constexpr int kLevelOrder[] = {6, 9, 1, 5, 4, 3, 2, 7, 8};
    const bool fixedAllowed = shape_.Type != 2;
    const bool huffmanAllowed = shape_.Matches == 0;
    const bool rleAllowed = shape_.AllDistancesOne;
    const bool fixedFirst = shape_.Type == 1 && !shape_.Final;
    std::vector<std::pair<int, TZlibStrategy>> levels;
    auto add = [&](int level, TZlibStrategy strategy) {
      const TEncoderSettings settings{TEncoder::Zlib, static_cast<int8_t>(level), strategy, 8, 15};
      if (FlevelAllows(HeaderFlevel(settings))) levels.emplace_back(level, strategy);
    };
    if (huffmanAllowed && shape_.Type != 0) add(-1, TZlibStrategy::HuffmanOnly);
    if (rleAllowed && shape_.Matches > 0) add(-1, TZlibStrategy::Rle);
    if (fixedFirst) {
      for (const int level : kLevelOrder) add(level, TZlibStrategy::Fixed);
    }
    for (const int level : kLevelOrder) {
      add(level, TZlibStrategy::Default);
      if (level >= 4) add(level, TZlibStrategy::Filtered);  // the same as Default below 4
      if (fixedAllowed && !fixedFirst) add(level, TZlibStrategy::Fixed);
    }
    if (huffmanAllowed && shape_.Type == 0) add(-1, TZlibStrategy::HuffmanOnly);
    if (rleAllowed && shape_.Matches == 0) add(-1, TZlibStrategy::Rle);
    return levels;
  }

  void AddZlib() {
    const std::vector<int> windows = ZlibWindows();
    if (windows.empty()) return;
    if (shape_.Type == 0 && FlevelAllows(0)) {
      // Level 0: strategy, memLevel and window change nothing.
      tries_.push_back(TEncoderSettings{TEncoder::Zlib, 0, TZlibStrategy::Default, 8, static_cast<int8_t>(windows[0])});
    }
    const std::vector<int> memLevels = ZlibMemLevels();
    const std::vector<std::pair<int, TZlibStrategy>> levels = ZlibLevels();
    for (std::size_t w = 0; w < windows.size(); ++w) {
      for (const int memLevel : memLevels) {
        for (const auto& [level, strategy] : levels) {
          // Huffman-only and RLE never look back further than one byte.
          if (level < 0 && w > 0) continue;
          tries_.push_back(TEncoderSettings{TEncoder::Zlib, static_cast<int8_t>(level), strategy,
                                            static_cast<int8_t>(memLevel), static_cast<int8_t>(windows[w])});
        }
      }
    }
  }

  void AddLibdeflate() {
    if (!EncoderAvailable(TEncoder::Libdeflate)) return;
    if (input_.HasHeader && input_.CINFO != 7) return;
    static constexpr int kLevelOrder[] = {6, 12, 9, 1, 5, 4, 3, 2, 7, 8, 10, 11};
    for (const int level : kLevelOrder) {
      const TEncoderSettings settings{TEncoder::Libdeflate, static_cast<int8_t>(level), TZlibStrategy::Default, 8, 15};
      if (FlevelAllows(HeaderFlevel(settings))) tries_.push_back(settings);
    }
  }

  const TFingerprintInput& input_;
  const TFirstBlockShape& shape_;
  std::vector<TEncoderSettings> tries_;
};

bool Reproduces(const TEncoderSettings& settings, const TFingerprintInput& input, const TFirstBlockShape& shape) {
  switch (settings.Encoder) {
    case TEncoder::Zlib:
      return ZlibReproduces(settings, input.Inflated, input.Deflate);
    case TEncoder::Libdeflate:
      return LibdeflateReproduces(settings.Level, input.Inflated, input.Deflate, shape.InflatedBytes, shape.EndBits);
    case TEncoder::Zopfli: {
      const std::optional<std::vector<uint8_t>> out = Encode(settings, input.Inflated);
      return out && std::equal(out->begin(), out->end(), input.Deflate.begin(), input.Deflate.end());
    }
  }
  return false;
}

}  // namespace

std::string FingerprintLabel(const TStreamFingerprint& fingerprint) {
  if (fingerprint.Settings) return SettingsLabel(*fingerprint.Settings);
  return fingerprint.Skipped == TFingerprintSkip::None ? "unknown" : "not-tried";
}

TStreamFingerprint FingerprintStream(const TFingerprintInput& input) {
  TStreamFingerprint result;
  if (input.Inflated.size() > kMaxFingerprintBytes) {
    result.Skipped = TFingerprintSkip::TooLarge;
    return result;
  }
  const TFirstBlockShape shape = ReadFirstBlockShape(input.Deflate);
  if (!shape.Valid) return result;  // no encoder writes a broken block

  for (const TEncoderSettings& settings : TPlan(input, shape).Tries()) {
    ++result.Tries;
    if (Reproduces(settings, input, shape)) {
      result.Settings = settings;
      return result;
    }
  }
  const TEncoderSettings zopfli{TEncoder::Zopfli, -1, TZlibStrategy::Default, 8, 15};
  const bool zopfliHeader = !input.HasHeader || (input.CINFO == 7 && input.FLEVEL == HeaderFlevel(zopfli));
  if (EncoderAvailable(TEncoder::Zopfli) && zopfliHeader && input.Inflated.size() <= kZopfliMaxBytes) {
    ++result.Tries;
    if (Reproduces(zopfli, input, shape)) result.Settings = zopfli;
  }
  return result;
}

}  // namespace quarn
