// Who made a deflate stream: the known encoder and settings that turn the
// stream's inflated bytes into exactly its deflate bytes, found by trying
// them. The tries are chosen and ordered by what the stream shows of itself
// (its zlib header's FLEVEL and window, the first block's type, symbol
// count and match distances: first_block_shape.h), and each is given up at
// its first differing byte where the encoder allows it (deflate_encoders.h).
//
// Settings that give the same bytes cannot be told apart, and one of them
// is reported: zlib's filtered strategy is its default one below level 4;
// its level does not matter to Huffman-only and RLE (reported as level -1)
// nor do strategy and memLevel at level 0; a raw stream shorter than the
// window less 262 bytes is the same under every window at least that
// large (reported as 15, or as the largest window tried).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/deflate_encoders.h"

namespace quarn {

// What is known of a stream besides its bytes.
struct TFingerprintInput {
  std::span<const uint8_t> Deflate;   // the raw deflate data, exactly the stream's bytes
  std::span<const uint8_t> Inflated;  // what it inflates to
  bool HasHeader = false;             // a zlib header stands before it
  uint8_t CINFO = 7;                  // that header's window: 2^(CINFO+8)
  uint8_t FLEVEL = 0;                 // and its level hint
};

// Why a stream was not tried at all.
enum class TFingerprintSkip : uint8_t {
  None,        // it was tried
  Incomplete,  // the stream does not end: nothing could reproduce it
  TooLarge,    // it inflates to more than kMaxFingerprintBytes
};

// Streams inflating to more than this are not tried: every try needs all
// of the inflated bytes in memory, and libdeflate's a second copy of the
// output.
inline constexpr uint64_t kMaxFingerprintBytes = uint64_t{64} << 20;

struct TStreamFingerprint {
  // The settings that reproduce the stream; nullopt when none of the
  // known ones does, or it was not tried.
  std::optional<TEncoderSettings> Settings;
  uint32_t Tries = 0;  // encodings started (whole or given up early)
  TFingerprintSkip Skipped = TFingerprintSkip::None;

  friend bool operator==(const TStreamFingerprint&, const TStreamFingerprint&) = default;
};

// The label of a fingerprint in rows: SettingsLabel of the settings,
// "unknown" when none reproduces the stream, "not-tried" when it was
// skipped.
std::string FingerprintLabel(const TStreamFingerprint& fingerprint);

// The fields of a fingerprint as quarn-scan's JSON and the Python module
// give them out: `visit(key, value)` for "encoder", "level", "strategy",
// "mem_level", "window_bits" (each null, as std::nullptr_t, where it does
// not apply: no encoder for an unknown stream, no strategy, memLevel and
// window outside zlib), "label", "tries" and "skipped" (null, "incomplete"
// or "too large"); numbers as int64_t, texts as std::string.
template <class TVisit>
void ForEachFingerprintField(const TStreamFingerprint& f, TVisit&& visit) {
  const std::optional<TEncoderSettings>& s = f.Settings;
  const bool zlib = s && s->Encoder == TEncoder::Zlib;
  auto number = [&](const char* key, bool present, int64_t value) {
    if (present) {
      visit(key, value);
    } else {
      visit(key, nullptr);
    }
  };
  auto text = [&](const char* key, const char* value) {
    if (value != nullptr) {
      visit(key, std::string(value));
    } else {
      visit(key, nullptr);
    }
  };
  text("encoder", s ? EncoderName(s->Encoder) : nullptr);
  number("level", s && s->Level >= 0, s ? s->Level : 0);
  text("strategy", zlib ? StrategyName(s->Strategy) : nullptr);
  number("mem_level", zlib, zlib ? s->MemLevel : 0);
  number("window_bits", zlib, zlib ? s->WindowBits : 0);
  visit("label", FingerprintLabel(f));
  visit("tries", int64_t{f.Tries});
  text("skipped", f.Skipped == TFingerprintSkip::Incomplete ? "incomplete"
                  : f.Skipped == TFingerprintSkip::TooLarge ? "too large"
                                                            : nullptr);
}

// Finds the first settings, in the order described above, that reproduce
// `input.Deflate` from `input.Inflated`: zlib's, then libdeflate's, then
// (for streams that inflate to at most kZopfliMaxBytes, when nothing else
// did) zopfli's. Whatever the bytes, raises nothing but std::bad_alloc;
// runs in the caller's thread.
TStreamFingerprint FingerprintStream(const TFingerprintInput& input);
inline constexpr uint64_t kZopfliMaxBytes = 256 * 1024;

}  // namespace quarn
