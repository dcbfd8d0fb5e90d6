// The deflate encoders whose output Quarn knows how to make again: the
// built-in zlib with every setting that changes its output, Debian's
// libdeflate at each level, and Debian's zopfli with its default options.
// One value names an encoder and its settings; the same value is what the
// fingerprint of a stream reports and what puts new data back in its place.
//
// libdeflate and zopfli are there where the build found them
// (QUARN_HAVE_LIBDEFLATE, QUARN_HAVE_ZOPFLI: not in the Windows build);
// EncoderAvailable says so at run time, and without them only zlib is
// tried.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quarn {

enum class TEncoder : uint8_t { Zlib, Libdeflate, Zopfli };

// zlib's strategies, numbered as zlib numbers them (Z_DEFAULT_STRATEGY ...
// Z_FIXED).
enum class TZlibStrategy : uint8_t { Default = 0, Filtered = 1, HuffmanOnly = 2, Rle = 3, Fixed = 4 };

// Settings that decide an encoder's output bytes, given its input.
struct TEncoderSettings {
  TEncoder Encoder = TEncoder::Zlib;
  // zlib 0..9, libdeflate 1..12; -1 where the output does not depend on it
  // (zlib's Huffman-only and RLE strategies, zopfli).
  int8_t Level = 6;
  TZlibStrategy Strategy = TZlibStrategy::Default;  // zlib only
  int8_t MemLevel = 8;     // zlib only: 1..9
  int8_t WindowBits = 15;  // zlib 9..15; 15 for the others, whose window is 32 KiB

  friend bool operator==(const TEncoderSettings&, const TEncoderSettings&) = default;
};

// The encoder's name as given out: "zlib", "libdeflate", "zopfli".
const char* EncoderName(TEncoder encoder);
// The strategy's name as given out: "default", "filtered", "huffman-only",
// "rle", "fixed".
const char* StrategyName(TZlibStrategy strategy);
// A short name of the settings, as quarn-scan's rows show it: "zlib-6",
// "zlib-9-filtered", "zlib-4-fixed", "zlib-huffman-only", "zlib-rle",
// "libdeflate-12", "zopfli". memLevel and window bits are left out.
std::string SettingsLabel(const TEncoderSettings& settings);

// The FLEVEL that the encoder's own zlib wrapper writes for `settings`:
// zlib 1.2.13 0 for levels 0-1 and for the Huffman-only, RLE and fixed
// strategies, 1 below level 6, 2 at 6, 3 above; libdeflate 1.14 0 below
// level 2, 1 below 6, 2 below 8, 3 above; zopfli 3.
int HeaderFlevel(const TEncoderSettings& settings);

// Whether this build can run `encoder` (zlib always).
bool EncoderAvailable(TEncoder encoder);

// `input` compressed as raw deflate with `settings`: zlib in one call
// (deflateInit2 with the negated window bits, deflate with Z_FINISH),
// libdeflate_deflate_compress, ZopfliDeflate with its default options.
// nullopt when the encoder is not in this build or refuses the settings.
std::optional<std::vector<uint8_t>> Encode(const TEncoderSettings& settings, std::span<const uint8_t> input);

// Whether zlib with `settings` turns `input` into exactly `expected`,
// found out as the output is made: input goes in 64 KiB at a time, and each
// piece of output is compared as it leaves zlib, so that a wrong setting
// costs the input up to its first differing output byte (zlib holds a
// block back until it ends: about one block), not the whole stream.
// Level 0 alone runs in one call: how zlib cuts stored blocks depends on
// the room it is given for output, and one call with room for all of it is
// what a one-call compression (compress2) gives.
bool ZlibReproduces(const TEncoderSettings& settings, std::span<const uint8_t> input,
                    std::span<const uint8_t> expected);

// Whether libdeflate at `level` turns `input` into exactly `expected`.
// libdeflate compresses a whole buffer in one call, so a wrong level is
// first ruled out more cheaply when the stream has more than one block:
// libdeflate's choice of where its first block ends looks at most about
// 310,000 bytes past that block's start (its longest block and the
// shortest one it lets follow), so a prefix of the input running
// kLibdeflatePrefixSlackBytes past `firstBlockInflatedBytes` gives the
// same first block, and that is compared first, up to its last whole
// byte (`firstBlockEndBits`). The whole input is compressed only when the
// first block matches, or when the stream is short enough that the prefix
// would be all of it. False when libdeflate is not in this build.
bool LibdeflateReproduces(int level, std::span<const uint8_t> input, std::span<const uint8_t> expected,
                          uint64_t firstBlockInflatedBytes, uint64_t firstBlockEndBits);
inline constexpr uint64_t kLibdeflatePrefixSlackBytes = 512 * 1024;

}  // namespace quarn
