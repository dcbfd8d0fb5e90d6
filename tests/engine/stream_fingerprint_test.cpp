// The fingerprint of a stream names the exact settings that made it. Streams
// are made here with zlib (every level, strategy and memLevel, with a
// header and raw under every window) and with libdeflate (every level),
// from an input built so that no two of those settings give the same bytes
// unless zlib's own rules make them equal (stream_fingerprint.h lists
// those); each must come back as the settings that made it. A stream that
// an encoder made up to a block boundary and that differs after it must
// come back unknown.
#include "engine/stream_fingerprint.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <mutex>
#include <random>
#include <string>

#include "engine/first_block_shape.h"
#include "engine/scan_run.h"
#include "engine/scan_sink.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

#if QUARN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#if QUARN_HAVE_ZOPFLI
#include <zopfli/zopfli.h>
#endif

namespace quarn {
namespace {

using test::TBytes;

// Words, runs, random letters, records that share a key (long hash chains)
// and long copies from up to 30,000 bytes back (long matches, for the lazy
// limits): enough symbols at every level that the first block of each
// memLevel ends at its own place, and enough choice that the levels differ.
TBytes MakeMixedInput(std::size_t sizeBytes, uint32_t seed) {
  static const char* const kWords[] = {"zlib ",  "stream ", "deflate ", "window ",  "block ",
                                       "huffman ", "header ", "quarn ", "scan ",    "byte ",
                                       "offset\n", "inflate ", "level ", "tree ",    "code "};
  std::mt19937 engine(seed);
  auto rng = [&engine] { return static_cast<unsigned>(engine()); };
  TBytes out;
  auto put = [&](uint8_t b) {
    if (out.size() < sizeBytes) out.push_back(b);
  };
  while (out.size() < sizeBytes) {
    const unsigned kind = rng() % 24;
    if (kind == 0 && out.size() > 1000) {
      const std::size_t distance = 1 + rng() % std::min<std::size_t>(out.size(), 30000);
      for (unsigned length = 100 + rng() % 250; length > 0 && out.size() < sizeBytes; --length) {
        put(out[out.size() - distance]);
      }
      put('#');
    } else if (kind == 2) {
      const auto letter = static_cast<uint8_t>('A' + rng() % 4);
      for (unsigned length = 3 + rng() % 12; length > 0; --length) put(letter);
    } else if (kind >= 3 && kind < 9) {
      for (const char c : std::string("KEY")) put(static_cast<uint8_t>(c));
      for (int k = 0; k < 10; ++k) put(static_cast<uint8_t>("ACGT"[rng() % 4]));
    } else if (kind >= 12) {
      for (unsigned length = 1 + rng() % 6; length > 0; --length) put(static_cast<uint8_t>('a' + rng() % 26));
    } else {
      for (const char* c = kWords[rng() % std::size(kWords)]; *c != 0; ++c) put(static_cast<uint8_t>(*c));
      if (rng() % 3 == 0) put(static_cast<uint8_t>('0' + rng() % 10));
    }
  }
  return out;
}

const TBytes& MixedInput() {
  static const TBytes input = MakeMixedInput(140000, 7);
  return input;
}

// One call of zlib's deflate with room for all its output, as compress2.
TBytes ZlibDeflate(const TBytes& data, int level, int windowBits, int memLevel, int strategy) {
  return test::Deflate(data, {level, windowBits, strategy, nullptr, memLevel});
}

// A zlib stream (header, deflate data, Adler-32) as the fingerprint sees it.
TFingerprintInput HeaderInput(const TBytes& stream, const TBytes& inflated) {
  TFingerprintInput input;
  input.Deflate = std::span<const uint8_t>(stream).subspan(2, stream.size() - 6);
  input.Inflated = inflated;
  input.HasHeader = true;
  input.CINFO = static_cast<uint8_t>(stream[0] >> 4);
  input.FLEVEL = static_cast<uint8_t>(stream[1] >> 6);
  return input;
}

TFingerprintInput RawInput(const TBytes& deflate, const TBytes& inflated) {
  TFingerprintInput input;
  input.Deflate = deflate;
  input.Inflated = inflated;
  return input;
}

// What the fingerprint must say of zlib's stream made with these settings:
// the settings themselves, or the one it reports of those that zlib makes
// equal (stream_fingerprint.h).
TEncoderSettings ExpectedZlib(int level, int strategy, int memLevel, int windowBits) {
  TEncoderSettings settings{TEncoder::Zlib, static_cast<int8_t>(level), static_cast<TZlibStrategy>(strategy),
                            static_cast<int8_t>(memLevel), static_cast<int8_t>(windowBits)};
  if (level == 0) {
    settings.Strategy = TZlibStrategy::Default;
    settings.MemLevel = 8;
  } else if (settings.Strategy == TZlibStrategy::HuffmanOnly || settings.Strategy == TZlibStrategy::Rle) {
    settings.Level = -1;
  } else if (settings.Strategy == TZlibStrategy::Filtered && level < 4) {
    settings.Strategy = TZlibStrategy::Default;
  }
  return settings;
}

std::string Describe(const std::optional<TEncoderSettings>& settings) {
  if (!settings) return "none";
  return SettingsLabel(*settings) + " mem " + std::to_string(settings->MemLevel) + " window " +
         std::to_string(settings->WindowBits);
}

// Every strategy and memLevel of one level, with a zlib header.
class ZlibLevelTest : public testing::TestWithParam<int> {};

TEST_P(ZlibLevelTest, EveryStrategyAndMemLevelIsIdentified) {
  const int level = GetParam();
  const TBytes& data = MixedInput();
  for (int strategy = Z_DEFAULT_STRATEGY; strategy <= Z_FIXED; ++strategy) {
    for (int memLevel = 1; memLevel <= 9; ++memLevel) {
      SCOPED_TRACE("strategy " + std::to_string(strategy) + " memLevel " + std::to_string(memLevel));
      const TBytes stream = ZlibDeflate(data, level, 15, memLevel, strategy);
      const TStreamFingerprint found = FingerprintStream(HeaderInput(stream, data));
      const TEncoderSettings expected = ExpectedZlib(level, strategy, memLevel, 15);
      EXPECT_EQ(Describe(found.Settings), Describe(expected));
      EXPECT_GE(found.Tries, 1u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, ZlibLevelTest, testing::Range(0, 10));

// Raw streams say nothing of their window: it is found from the bytes.
TEST(StreamFingerprintTest, RawStreamsGiveTheirWindow) {
  const TBytes& data = MixedInput();
  const TBytes small(MixedInput().begin(), MixedInput().begin() + 600);
  struct TCase {
    const TBytes* Data;
    int Level;
    int WindowBits;
    int ExpectedWindowBits;
  } const cases[] = {
      {&data, 6, 15, 15}, {&data, 6, 14, 14}, {&data, 6, 12, 12}, {&data, 6, 9, 9},
      {&data, 9, 10, 10}, {&data, 1, 11, 11}, {&data, 4, 13, 13},
      // 600 bytes fit every window from 10 bits on: those give the same bytes.
      {&small, 6, 10, 15}, {&small, 6, 9, 9},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.Level) + " window " + std::to_string(c.WindowBits));
    const TBytes deflate = ZlibDeflate(*c.Data, c.Level, -c.WindowBits, 8, Z_DEFAULT_STRATEGY);
    const TStreamFingerprint found = FingerprintStream(RawInput(deflate, *c.Data));
    EXPECT_EQ(Describe(found.Settings), Describe(ExpectedZlib(c.Level, 0, 8, c.ExpectedWindowBits)));
  }
}

// A header stream's window comes from CINFO.
TEST(StreamFingerprintTest, HeaderStreamsUseTheirWindow) {
  const TBytes& data = MixedInput();
  for (int windowBits = 9; windowBits <= 15; ++windowBits) {
    SCOPED_TRACE("window " + std::to_string(windowBits));
    const TBytes stream = ZlibDeflate(data, 9, windowBits, 8, Z_FILTERED);
    const TStreamFingerprint found = FingerprintStream(HeaderInput(stream, data));
    EXPECT_EQ(Describe(found.Settings), Describe(ExpectedZlib(9, Z_FILTERED, 8, windowBits)));
  }
}

// The first block is zlib's own, and one bit changed anywhere after it
// (the next block's header, its data, the stream's last byte) makes the
// bytes no encoder's output for the same inflated bytes: every try must
// be compared to the end, not only as far as the first block.
TEST(StreamFingerprintTest, OneBitAfterABlockBoundaryGivesUnknown) {
  const TBytes& data = MixedInput();
  const TBytes stream = ZlibDeflate(data, 6, 15, 8, Z_DEFAULT_STRATEGY);
  const TBytes deflate(stream.begin() + 2, stream.end() - 4);
  const TFirstBlockShape first = ReadFirstBlockShape(deflate);
  ASSERT_TRUE(first.Valid);
  ASSERT_FALSE(first.Final);
  ASSERT_EQ(Describe(FingerprintStream(HeaderInput(stream, data)).Settings), "zlib-6 mem 8 window 15");

  const uint64_t lastBit = deflate.size() * 8 - 1;
  for (const uint64_t bit : {first.EndBits, first.EndBits + 20, first.EndBits + 3000, lastBit - 20, lastBit}) {
    SCOPED_TRACE("bit " + std::to_string(bit) + " of " + std::to_string(lastBit + 1));
    TBytes changed = stream;
    changed[2 + bit / 8] = static_cast<uint8_t>(changed[2 + bit / 8] ^ (1u << (bit % 8)));
    const TStreamFingerprint found = FingerprintStream(HeaderInput(changed, data));
    EXPECT_EQ(Describe(found.Settings), "none");
    EXPECT_EQ(FingerprintLabel(found), "unknown");
    EXPECT_GE(found.Tries, 1u);
  }
}

TEST(StreamFingerprintTest, StreamsThatCannotBeTriedAreSaidSo) {
  const TBytes broken = {0xff, 0xff, 0xff};  // BTYPE 3
  const TBytes nothing;
  const TStreamFingerprint found = FingerprintStream(RawInput(broken, nothing));
  EXPECT_FALSE(found.Settings.has_value());
  EXPECT_EQ(found.Tries, 0u);
  EXPECT_EQ(FingerprintLabel(TStreamFingerprint{std::nullopt, 0, TFingerprintSkip::TooLarge}), "not-tried");
}

// Every prefix of a real stream, and noise, reads as a block or as none,
// never past the data.
TEST(StreamFingerprintTest, FirstBlockShapeReadsAnyBytes) {
  const TBytes stream = ZlibDeflate(TBytes(MixedInput().begin(), MixedInput().begin() + 3000), 6, -15, 8, 0);
  const TFirstBlockShape whole = ReadFirstBlockShape(stream);
  ASSERT_TRUE(whole.Valid);
  EXPECT_TRUE(whole.Final);
  EXPECT_EQ(whole.Type, 2);
  EXPECT_EQ(whole.InflatedBytes, 3000u);
  EXPECT_EQ((whole.EndBits + 7) / 8, stream.size());
  for (std::size_t cut = 0; cut < stream.size(); ++cut) {
    TBytes head(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    head.shrink_to_fit();
    EXPECT_FALSE(ReadFirstBlockShape(head).Valid) << cut;
  }
  std::mt19937 rng(3);
  for (int k = 0; k < 2000; ++k) {
    TBytes noise(1 + rng() % 64);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    const TFirstBlockShape shape = ReadFirstBlockShape(noise);
    if (shape.Valid) {
      EXPECT_LE(shape.EndBits, noise.size() * 8);
    }
  }
}

// Keeps what a file scan hands out; asks for fingerprints or not.
class TFingerprintSink final : public TScanSink {
 public:
  explicit TFingerprintSink(bool wanted) : wanted_(wanted) {}
  bool StreamFound(int32_t, const TMappedFile&, const TFoundStream& stream) override {
    const std::lock_guard<std::mutex> hold(lock_);
    streams.push_back(stream);
    return true;
  }
  bool WantsFingerprints() const override { return wanted_; }
  std::vector<TFoundStream> streams;

 private:
  const bool wanted_;
  std::mutex lock_;
};

// A file scan fingerprints each stream on the worker that found it, only
// when its sink asks; a stream cut short is said to be not tried.
TEST(StreamFingerprintTest, FileScansFingerprintWhenAsked) {
  const TBytes& data = MixedInput();
  TBytes file = ZlibDeflate(data, 3, 15, 8, Z_DEFAULT_STRATEGY);
  const std::size_t second = file.size() + 1;
  file.push_back(0);
  const TBytes raw = ZlibDeflate(data, 5, -11, 4, Z_FILTERED);
  file.insert(file.end(), raw.begin(), raw.end());
  const std::size_t third = file.size() + 1;
  file.push_back(0);
  const TBytes cut = ZlibDeflate(data, 6, 15, 8, Z_DEFAULT_STRATEGY);
  file.insert(file.end(), cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(cut.size() / 2));
  const test::TTempDir dir;
  test::WriteFile(dir / "streams.bin", file);

  for (const bool wanted : {true, false}) {
    SCOPED_TRACE(wanted ? "asked" : "not asked");
    TScanState state;
    state.Options.Headerless = true;
    state.Options.AcceptIncomplete = true;
    TFingerprintSink sink(wanted);
    RunScan({dir / "streams.bin"}, state, &sink);
    std::vector<std::string> labels;
    for (const TFoundStream& s : sink.streams) {
      if (s.StartBytes() != 0 && s.StartBytes() != static_cast<int64_t>(second) &&
          s.StartBytes() != static_cast<int64_t>(third)) {
        continue;  // raw deflate inside the header streams, found with --headerless
      }
      EXPECT_EQ(s.Fingerprint.has_value(), wanted);
      if (s.Fingerprint) labels.push_back(FingerprintLabel(*s.Fingerprint) + " " + Describe(s.Fingerprint->Settings));
    }
    if (wanted) {
      EXPECT_EQ(labels, (std::vector<std::string>{"zlib-3 zlib-3 mem 8 window 15",
                                                  "zlib-5-filtered zlib-5-filtered mem 4 window 11",
                                                  "not-tried none"}));
    }
  }
}

#if QUARN_HAVE_LIBDEFLATE
TBytes LibdeflateCompress(const TBytes& data, int level, bool zlibWrapper) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  if (compressor == nullptr) throw std::runtime_error("libdeflate_alloc_compressor failed");
  TBytes out(libdeflate_zlib_compress_bound(compressor, data.size()));
  const std::size_t size =
      zlibWrapper ? libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size())
                  : libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(compressor);
  out.resize(size);
  return out;
}

TEST(StreamFingerprintTest, EveryLibdeflateLevelIsIdentified) {
  const TBytes& data = MixedInput();
  for (int level = 1; level <= 12; ++level) {
    for (const bool header : {true, false}) {
      SCOPED_TRACE("level " + std::to_string(level) + (header ? " zlib" : " raw"));
      const TBytes stream = LibdeflateCompress(data, level, header);
      const TStreamFingerprint found = FingerprintStream(header ? HeaderInput(stream, data) : RawInput(stream, data));
      EXPECT_EQ(Describe(found.Settings), "libdeflate-" + std::to_string(level) + " mem 8 window 15");
    }
  }
}

// A stream long enough that a wrong level is ruled out on a prefix of its
// input: the prefix must give the right level's first block exactly.
TEST(StreamFingerprintTest, LongLibdeflateStreamsAreIdentified) {
  const TBytes data = MakeMixedInput(kLibdeflatePrefixSlackBytes * 3, 11);
  for (const int level : {1, 9, 12}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const TBytes stream = LibdeflateCompress(data, level, false);
    const TFirstBlockShape first = ReadFirstBlockShape(stream);
    ASSERT_TRUE(first.Valid);
    ASSERT_LT(first.InflatedBytes + kLibdeflatePrefixSlackBytes, data.size());
    const TStreamFingerprint found = FingerprintStream(RawInput(stream, data));
    EXPECT_EQ(Describe(found.Settings), "libdeflate-" + std::to_string(level) + " mem 8 window 15");
  }
}
#endif

#if QUARN_HAVE_ZOPFLI
// zopfli with its default options, raw and in its zlib wrapper (FLEVEL 3);
// with another FLEVEL the same deflate data is not zopfli's output.
TEST(StreamFingerprintTest, ZopfliStreamsAreIdentified) {
  const TBytes data(MixedInput().begin(), MixedInput().begin() + 20000);
  for (const ZopfliFormat format : {ZOPFLI_FORMAT_DEFLATE, ZOPFLI_FORMAT_ZLIB}) {
    SCOPED_TRACE(format == ZOPFLI_FORMAT_ZLIB ? "zlib" : "raw");
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    unsigned char* out = nullptr;
    std::size_t size = 0;
    ZopfliCompress(&options, format, data.data(), data.size(), &out, &size);
    const TBytes stream(out, out + size);
    free(out);
    const bool header = format == ZOPFLI_FORMAT_ZLIB;
    const TStreamFingerprint found = FingerprintStream(header ? HeaderInput(stream, data) : RawInput(stream, data));
    EXPECT_EQ(Describe(found.Settings), "zopfli mem 8 window 15");
    if (header) {
      TBytes relabelled = stream;
      relabelled[1] = 0x9c;  // FLEVEL 2, FCHECK still right for 0x78
      EXPECT_EQ(Describe(FingerprintStream(HeaderInput(relabelled, data)).Settings), "none");
    }
  }
}
#endif

}  // namespace
}  // namespace quarn
