// The facts a scan learns of each stream from the bytes its trial kept:
// the content type of its first kContentPrefixBytes inflated, the same as
// libmagic gives for those bytes themselves, by the fast path and by zlib
// alone, and nothing at all unless the options ask for it. The types
// themselves are checked against file(1) in tests/cli.
#include "engine/stream_facts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/content_type.h"
#include "engine/stream_detector.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::Concat;
using test::TBytes;

TBytes Text(const std::string& text) { return TBytes(text.begin(), text.end()); }

// Payloads varied enough that zlib codes them with a dynamic first block,
// as the scan's rule wants of a small stream.
std::string Xml() {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list>\n";
  for (int k = 0; k < 500; ++k) xml += "  <item n=\"" + std::to_string(k * 7919 % 1000) + "\"/>\n";
  return xml + "</list>\n";
}
TBytes ControlBytes() {
  TBytes bytes = test::MakeNoise(20000, 9);
  for (uint8_t& b : bytes) b &= 7;
  return bytes;
}

TEST(KeptPrefix, KeepsTheFirstBytesOfEachTrialOnly) {
  TKeptPrefix prefix(10);
  const TBytes bytes = Text("0123456789abcdef");
  prefix.Take(bytes.data(), 4);
  prefix.Take(bytes.data() + 4, 12);
  ASSERT_EQ(prefix.Size(), 10u);
  EXPECT_EQ(std::string(prefix.Data(), prefix.Data() + 10), "0123456789");
  prefix.Clear();
  prefix.Take(bytes.data() + 6, 3);
  ASSERT_EQ(prefix.Size(), 3u);
  EXPECT_EQ(std::string(prefix.Data(), prefix.Data() + 3), "678");
}

TEST(StreamFacts, EachStreamCarriesTheTypeOfItsFirstInflatedBytes) {
  std::string why;
  if (!ContentTypesAvailable(&why)) GTEST_SKIP() << why;
  const std::vector<std::pair<const char*, TBytes>> payloads = {
      {"xml", Text(Xml())},
      // Text for its first 64 KiB, noise after: the type is the prefix's.
      {"long text", Concat({test::MakeText(kContentPrefixBytes, 3), test::MakeNoise(400000, 4)})},
      {"control bytes", ControlBytes()},
  };
  TBytes block = test::MakeNoise(300, 1);
  for (const auto& [name, payload] : payloads) {
    block = Concat({block, test::Zlib(payload, 6), test::MakeNoise(300, 2)});
  }
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast path" : "zlib alone");
    TScanOptions options;
    options.ContentTypes = true;
    TCollectSink sink;
    TScanner scanner(options, {.FastPathAllowed = fast});
    scanner.FindStreams({block.data(), static_cast<int64_t>(block.size())}, {0, static_cast<int64_t>(block.size())}, sink);
    ASSERT_EQ(sink.Streams.size(), payloads.size());
    for (std::size_t k = 0; k < payloads.size(); ++k) {
      const TBytes& payload = payloads[k].second;
      SCOPED_TRACE(payloads[k].first);
      const auto want = ContentTypeOf(payload.data(), std::min(payload.size(), kContentPrefixBytes));
      const auto& got = sink.Streams[k].Content;
      ASSERT_TRUE(want && got);
      EXPECT_EQ(got->Description, want->Description);
      EXPECT_EQ(got->Mime, want->Mime);
    }
    EXPECT_EQ(sink.Streams[0].Content->Mime, "text/xml");
    EXPECT_EQ(sink.Streams[2].Content->Mime, "application/octet-stream");
  }

  TCollectSink plain;
  TScanner().FindStreams({block.data(), static_cast<int64_t>(block.size())}, {0, static_cast<int64_t>(block.size())}, plain);
  ASSERT_EQ(plain.Streams.size(), payloads.size());
  for (const TFoundStream& stream : plain.Streams) EXPECT_FALSE(stream.Content) << "looked up unasked";
}

}  // namespace
}  // namespace quarn
