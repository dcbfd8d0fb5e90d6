// The encoders behind TEncoderSettings. zlib is the built-in one, Debian's
// static zlib that the program links (called here directly: unlike
// inflation, compression never goes to an external zlib, since the output
// of this exact release is what is being matched). libdeflate and zopfli
// are Debian's shared libraries, where the build has them.
#include "engine/deflate_encoders.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#if QUARN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#if QUARN_HAVE_ZOPFLI
#include <zopfli/deflate.h>
#include <zopfli/zopfli.h>
#endif

namespace quarn {
namespace {

constexpr std::size_t kZlibFeedBytes = 64 * 1024;
constexpr std::size_t kZlibOutputPieceBytes = 4 * 1024;

// A zlib deflate record that is always ended.
class TDeflateRecord {
 public:
  explicit TDeflateRecord(const TEncoderSettings& settings) {
    ok_ = deflateInit2(&stream_, settings.Level, Z_DEFLATED, -settings.WindowBits, settings.MemLevel,
                       static_cast<int>(settings.Strategy)) == Z_OK;
  }
  ~TDeflateRecord() {
    if (ok_) deflateEnd(&stream_);
  }
  TDeflateRecord(const TDeflateRecord&) = delete;
  TDeflateRecord& operator=(const TDeflateRecord&) = delete;
  bool Ok() const { return ok_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

bool ZlibSettingsValid(const TEncoderSettings& s) {
  return s.Level >= 0 && s.Level <= 9 && s.MemLevel >= 1 && s.MemLevel <= 9 && s.WindowBits >= 9 &&
         s.WindowBits <= 15 && static_cast<int>(s.Strategy) <= static_cast<int>(TZlibStrategy::Fixed);
}

// Feeds `input` to `z` in pieces of kZlibFeedBytes (avail_in is 32 bits on
// every platform) and hands each piece of output, at most PieceBytes, to
// `take`, which says whether to go on. True when the stream ended with
// every piece taken; false at a zlib error or when `take` stops.
template <std::size_t PieceBytes, typename Take>
bool DeflateInPieces(z_stream& z, std::span<const uint8_t> input, Take&& take) {
  std::array<uint8_t, PieceBytes> piece{};
  std::size_t inAt = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    const std::size_t feed = std::min(kZlibFeedBytes, input.size() - inAt);
    z.next_in = const_cast<Bytef*>(input.data() + inAt);
    z.avail_in = static_cast<uInt>(feed);
    inAt += feed;
    const int flush = inAt == input.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = piece.data();
      z.avail_out = static_cast<uInt>(piece.size());
      rc = deflate(&z, flush);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
      if (!take(piece.data(), piece.size() - z.avail_out)) return false;
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  }
  return true;
}

// Levels for the strategies whose output ignores the level: any level
// above 0 gives the same bytes.
TEncoderSettings ZlibCallSettings(TEncoderSettings settings) {
  if (settings.Level < 0) settings.Level = 6;
  return settings;
}

std::optional<std::vector<uint8_t>> ZlibEncode(const TEncoderSettings& given, std::span<const uint8_t> input) {
  const TEncoderSettings settings = ZlibCallSettings(given);
  if (!ZlibSettingsValid(settings)) return std::nullopt;
  TDeflateRecord record(settings);
  if (!record.Ok()) return std::nullopt;
  z_stream& z = record.Stream();
  std::vector<uint8_t> out;
  // In pieces, because avail_in is 32 bits on every platform; the output
  // does not depend on how the input is cut, except at level 0 (see
  // ZlibReproduces), which gets one call with room for all its output.
  if (settings.Level == 0) {
    out.resize(deflateBound(&z, static_cast<uLong>(std::min<std::size_t>(input.size(), UINT32_MAX))));
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (input.size() > UINT32_MAX || deflate(&z, Z_FINISH) != Z_STREAM_END) return std::nullopt;
    out.resize(z.total_out);
    return out;
  }
  const bool ended = DeflateInPieces<kZlibOutputPieceBytes * 16>(z, input, [&](const uint8_t* made, std::size_t size) {
    out.insert(out.end(), made, made + size);
    return true;
  });
  if (!ended) return std::nullopt;
  return out;
}

}  // namespace

const char* EncoderName(TEncoder encoder) {
  switch (encoder) {
    case TEncoder::Zlib:
      return "zlib";
    case TEncoder::Libdeflate:
      return "libdeflate";
    case TEncoder::Zopfli:
      return "zopfli";
  }
  return "?";
}

const char* StrategyName(TZlibStrategy strategy) {
  switch (strategy) {
    case TZlibStrategy::Default:
      return "default";
    case TZlibStrategy::Filtered:
      return "filtered";
    case TZlibStrategy::HuffmanOnly:
      return "huffman-only";
    case TZlibStrategy::Rle:
      return "rle";
    case TZlibStrategy::Fixed:
      return "fixed";
  }
  return "?";
}

std::string SettingsLabel(const TEncoderSettings& settings) {
  std::string label = EncoderName(settings.Encoder);
  if (settings.Level >= 0) label += "-" + std::to_string(settings.Level);
  if (settings.Encoder == TEncoder::Zlib && settings.Strategy != TZlibStrategy::Default) {
    label += "-";
    label += StrategyName(settings.Strategy);
  }
  return label;
}

int HeaderFlevel(const TEncoderSettings& s) {
  switch (s.Encoder) {
    case TEncoder::Zlib:
      if (static_cast<int>(s.Strategy) >= static_cast<int>(TZlibStrategy::HuffmanOnly) || s.Level < 2) return 0;
      if (s.Level < 6) return 1;
      return s.Level == 6 ? 2 : 3;
    case TEncoder::Libdeflate:
      if (s.Level < 2) return 0;
      if (s.Level < 6) return 1;
      return s.Level < 8 ? 2 : 3;
    case TEncoder::Zopfli:
      return 3;
  }
  return 0;
}

bool EncoderAvailable(TEncoder encoder) {
  switch (encoder) {
    case TEncoder::Zlib:
      return true;
    case TEncoder::Libdeflate:
      return QUARN_HAVE_LIBDEFLATE != 0;
    case TEncoder::Zopfli:
      return QUARN_HAVE_ZOPFLI != 0;
  }
  return false;
}

std::optional<std::vector<uint8_t>> Encode(const TEncoderSettings& settings, std::span<const uint8_t> input) {
  switch (settings.Encoder) {
    case TEncoder::Zlib:
      return ZlibEncode(settings, input);
    case TEncoder::Libdeflate: {
#if QUARN_HAVE_LIBDEFLATE
      if (settings.Level < 1 || settings.Level > 12) return std::nullopt;
      const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
          libdeflate_alloc_compressor(settings.Level), &libdeflate_free_compressor);
      if (!compressor) return std::nullopt;
      std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor.get(), input.size()));
      const std::size_t size =
          libdeflate_deflate_compress(compressor.get(), input.data(), input.size(), out.data(), out.size());
      if (size == 0) return std::nullopt;
      out.resize(size);
      return out;
#else
      return std::nullopt;
#endif
    }
    case TEncoder::Zopfli: {
#if QUARN_HAVE_ZOPFLI
      ZopfliOptions options;
      ZopfliInitOptions(&options);
      unsigned char* out = nullptr;
      std::size_t size = 0;
      unsigned char bitPointer = 0;
      ZopfliDeflate(&options, 2, 1, input.data(), input.size(), &bitPointer, &out, &size);
      std::vector<uint8_t> result(out, out + size);
      free(out);  // zopfli's own buffer, from malloc
      return result;
#else
      return std::nullopt;
#endif
    }
  }
  return std::nullopt;
}

bool ZlibReproduces(const TEncoderSettings& given, std::span<const uint8_t> input, std::span<const uint8_t> expected) {
  const TEncoderSettings settings = ZlibCallSettings(given);
  if (!ZlibSettingsValid(settings)) return false;
  if (settings.Level == 0) {
    const std::optional<std::vector<uint8_t>> out = ZlibEncode(settings, input);
    return out && out->size() == expected.size() && std::equal(out->begin(), out->end(), expected.begin());
  }
  TDeflateRecord record(settings);
  if (!record.Ok()) return false;
  z_stream& z = record.Stream();
  std::size_t outAt = 0;
  const bool ended = DeflateInPieces<kZlibOutputPieceBytes>(z, input, [&](const uint8_t* made, std::size_t size) {
    if (size > expected.size() - outAt || std::memcmp(made, expected.data() + outAt, size) != 0) return false;
    outAt += size;
    return true;
  });
  return ended && outAt == expected.size();
}

bool LibdeflateReproduces(int level, std::span<const uint8_t> input, std::span<const uint8_t> expected,
                          uint64_t firstBlockInflatedBytes, uint64_t firstBlockEndBits) {
  if (!EncoderAvailable(TEncoder::Libdeflate)) return false;
  TEncoderSettings settings;
  settings.Encoder = TEncoder::Libdeflate;
  settings.Level = static_cast<int8_t>(level);
  const uint64_t prefixBytes = firstBlockInflatedBytes + kLibdeflatePrefixSlackBytes;
  const uint64_t firstBlockBytes = firstBlockEndBits / 8;
  if (prefixBytes < input.size() && firstBlockBytes > 0 && firstBlockBytes <= expected.size()) {
    const std::optional<std::vector<uint8_t>> head = Encode(settings, input.first(static_cast<std::size_t>(prefixBytes)));
    if (!head || head->size() < firstBlockBytes ||
        std::memcmp(head->data(), expected.data(), static_cast<std::size_t>(firstBlockBytes)) != 0) {
      return false;
    }
  }
  const std::optional<std::vector<uint8_t>> out = Encode(settings, input);
  return out && out->size() == expected.size() && std::equal(out->begin(), out->end(), expected.begin());
}

}  // namespace quarn
