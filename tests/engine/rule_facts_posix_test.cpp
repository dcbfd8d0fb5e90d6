// What a scan learns of a stream from all of its inflated bytes: the
// keeper that holds them (in memory, then in a scratch file, emptied from
// trial to trial) and the YARA rules matched against them, at the offsets
// where the plain bytes hold the strings while the compressed ones do not,
// for a stream small enough for memory and one that is not, by the fast
// path and by zlib alone; and rules that do not compile, named by file and
// line. POSIX only: the scratch file is read back with pread, and Windows
// builds have no libyara.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/content_type.h"
#include "engine/kept_output.h"
#include "engine/rule_set.h"
#include "engine/stream_detector.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

TBytes ScratchContent(const TKeptOutput& kept) {
  TBytes bytes(kept.Size());
  const ssize_t read = ::pread(kept.ScratchDescriptor(), bytes.data(), bytes.size(), 0);
  EXPECT_EQ(read, static_cast<ssize_t>(bytes.size()));
  return bytes;
}

TEST(KeptOutput, HoldsEveryByteInMemoryOrInItsScratchFile) {
  const TBytes source = test::MakeNoise(100, 3);
  const struct {
    const char* name;
    std::vector<std::size_t> takes;
    bool inFile;
  } cases[] = {
      {"fits", {5, 5}, false},          {"fills memory exactly", {16}, false}, {"one byte over", {16, 1}, true},
      {"crosses within a take", {10, 10}, true}, {"past memory at once", {40}, true}, {"nothing", {0}, false},
  };
  TKeptOutput kept(16);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kept.Clear();
    std::size_t at = 0;
    for (const std::size_t count : c.takes) {
      kept.Take(source.data() + at, count);
      at += count;
    }
    const TBytes expected(source.begin(), source.begin() + static_cast<long>(at));
    ASSERT_EQ(kept.Size(), at);
    EXPECT_EQ(kept.InScratchFile(), c.inFile);
    ASSERT_EQ(kept.HeadSize(), std::min<std::size_t>(at, 16));
    EXPECT_TRUE(std::equal(kept.Head(), kept.Head() + kept.HeadSize(), expected.begin()));
    if (c.inFile) {
      EXPECT_TRUE(ScratchContent(kept) == expected) << "the file holds the trial's bytes alone";
    }
  }
}

// Writes `text` to `path`.
void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

const char kMarker[] = "SECRET-PAYLOAD-42";

TBytes WithMarkers(std::size_t sizeBytes, const std::vector<std::size_t>& at) {
  TBytes text = test::MakeText(sizeBytes, 5);
  for (const std::size_t offset : at) std::copy(kMarker, kMarker + sizeof kMarker - 1, text.begin() + static_cast<long>(offset));
  return text;
}

TEST(RuleSet, RulesMatchTheInflatedBytesOfEveryStreamWhereverTheyAreKept) {
  test::TTempDir dir;
  const std::string rules = dir.Path() + "/rules.yar";
  Write(rules, std::string("rule secret : hidden demo {\n  strings:\n    $a = \"") + kMarker +
                   "\"\n  condition:\n    $a\n}\nrule never {\n  condition:\n    false\n}\n");
  const std::vector<std::size_t> smallAt = {100, 3000};
  const std::size_t large = kKeptInMemoryBytes + (std::size_t{2} << 20);
  const std::vector<std::size_t> largeAt = {50, large - 1000};
  const TBytes small = WithMarkers(20000, smallAt);
  const TBytes big = WithMarkers(large, largeAt);
  const TBytes plain = test::MakeText(20000, 6);
  TBytes block = test::MakeNoise(200, 1);
  for (const TBytes* payload : {&small, &big, &plain}) {
    const TBytes stream = test::Zlib(*payload, 6);
    ASSERT_EQ(std::search(stream.begin(), stream.end(), kMarker, kMarker + sizeof kMarker - 1), stream.end())
        << "the compressed bytes must not hold the marker";
    block.insert(block.end(), stream.begin(), stream.end());
    const TBytes gap = test::MakeNoise(200, 2);
    block.insert(block.end(), gap.begin(), gap.end());
  }

  TScanOptions options;
  options.Rules = TRuleSet::Load(rules);
  options.ContentTypes = ContentTypesAvailable();
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast path" : "zlib alone");
    TCollectSink sink;
    TScanner(options, {.FastPathAllowed = fast})
        .FindStreams({block.data(), static_cast<int64_t>(block.size())}, {0, static_cast<int64_t>(block.size())}, sink);
    ASSERT_EQ(sink.Streams.size(), 3u);
    const std::vector<std::size_t>* wanted[] = {&smallAt, &largeAt};
    for (std::size_t k = 0; k < 2; ++k) {
      const TFoundStream& stream = sink.Streams[k];
      ASSERT_TRUE(stream.RuleHits) << "stream " << k;
      ASSERT_EQ(stream.RuleHits->size(), 1u);
      const TRuleHit& hit = stream.RuleHits->front();
      EXPECT_EQ(hit.Rule, "secret");
      EXPECT_EQ(hit.Tags, (std::vector<std::string>{"hidden", "demo"}));
      std::vector<std::size_t> offsets;
      for (const TStringHit& string : hit.Strings) {
        EXPECT_EQ(string.Identifier, "$a");
        EXPECT_EQ(string.LengthBytes, sizeof kMarker - 1);
        offsets.push_back(string.OffsetBytes);
      }
      EXPECT_EQ(offsets, *wanted[k]) << "stream " << k;
    }
    EXPECT_FALSE(sink.Streams[2].RuleHits);
    if (options.ContentTypes) {
      const auto type = ContentTypeOf(big.data(), kContentPrefixBytes);
      ASSERT_TRUE(sink.Streams[1].Content);
      EXPECT_EQ(sink.Streams[1].Content->Description, type->Description);
    }
  }
}

TEST(RuleSet, RulesThatCannotBeUsedAreNamedByFileAndLine) {
  test::TTempDir dir;
  const std::string good = "rule ok {\n  condition:\n    true\n}\n";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // in dir
    std::string load;                                        // relative to dir
    std::string message;
  } cases[] = {
      // libyara names the line where it saw the error: the token after a
      // syntax error, the end of a rule whose condition names no string.
      {"syntax", {{"a.yar", good + "rule bad {\n  condition: true true\n}\n"}}, "a.yar",
       "a.yar\", line 6: syntax error"},
      {"undefined string", {{"b.yar", "rule x {\n  strings: $a = \"x\"\n  condition: $b }\n"}}, "b.yar",
       "b.yar\", line 3: undefined string"},
      {"second file of a folder", {{"r/1.yar", good}, {"r/2.yara", "rule y { condition: nothere }\n"}}, "r",
       "r/2.yara\", line 1: undefined identifier"},
      {"missing", {}, "none.yar", "none.yar\" cannot be read: No such file or directory"},
      {"folder without rules", {{"s/readme.txt", good}}, "s", "holds no rules file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [name, text] : c.files) {
      const std::string path = dir.Path() + "/" + name;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      Write(path, text);
    }
    try {
      TRuleSet::Load(dir.Path() + "/" + c.load);
      ADD_FAILURE() << "loaded";
    } catch (const TRuleError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace quarn
