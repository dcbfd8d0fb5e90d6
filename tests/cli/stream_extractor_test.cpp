// Extraction of found streams: the files hold exactly the inflated data,
// names are unique and stay inside the directory, and nothing is
// overwritten or left half-written.
#include "cli/stream_extractor.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

TBytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Extraction : public testing::Test {
 protected:
  void SetUp() override {
    textA_ = test::MakeText(70000, 1);
    textB_ = test::MakeText(300000, 2);  // more than one 64 KiB piece of output
    test::TLayout layout;
    layout.Append(test::MakeNoise(1000, 3));
    zlibAt_ = static_cast<int64_t>(layout.Append(test::Zlib(textA_, 9, 13))) + 2;
    layout.Zeros(30);
    rawAt_ = static_cast<int64_t>(layout.Append(test::Raw(textB_)));
    layout.Zeros(40);
    const TBytes cut = test::Zlib(textA_);
    cutAt_ = static_cast<int64_t>(layout.Append(TBytes(cut.begin(), cut.begin() + 3000))) + 2;
    source_ = dir_ / "firmware.bin";
    test::WriteFile(source_, layout.Bytes());
    out_ = dir_ / "out";
  }
  test::TProgramResult Run(std::vector<std::string> args) {
    args.push_back(source_);
    return test::RunProgram(QUARN_SCAN_PATH, args);
  }

  test::TTempDir dir_;
  TBytes textA_, textB_;
  int64_t zlibAt_ = 0, rawAt_ = 0, cutAt_ = 0;
  std::string source_, out_;
};

std::string Hex(int64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
  return text;
}

TEST_F(Extraction, ReproducesTheOriginalDataByteForByte) {
  const test::TProgramResult r = Run({"--headerless", "--extract", out_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(zlibAt_) + ".zlib"), textA_);
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw"), textB_);
  EXPECT_EQ(Names(out_).size(), 2u);
  EXPECT_EQ(r.err, "Wrote 2 streams, " + std::to_string(textA_.size() + textB_.size()) + " bytes, to " + out_ + "\n");
}

TEST_F(Extraction, IncompleteStreamGivesWhatItsTrialInflated) {
  const test::TProgramResult r = Run({"--accept-incomplete", "--extract", out_});
  ASSERT_EQ(r.status, 0) << r.err;
  const TBytes part = ReadAll(out_ + "/firmware.bin@0x" + Hex(cutAt_) + ".zlib");
  ASSERT_GT(part.size(), 0u);
  ASSERT_LT(part.size(), textA_.size());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), textA_.begin()));
}

TEST_F(Extraction, MinSizeWritesOnlyLargeStreamsButCountsAll) {
  const test::TProgramResult r = Run({"--headerless", "--extract", out_, "--min-size", "100000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Names(out_), std::vector<std::string>{"firmware.bin@0x" + Hex(rawAt_) + ".raw"});
  EXPECT_NE(r.out.find("Potential zlib streams: 2"), std::string::npos);
}

TEST_F(Extraction, NeverOverwritesWithoutForce) {
  ASSERT_EQ(Run({"--headerless", "--extract", out_}).status, 0);
  const std::string zlibFile = out_ + "/firmware.bin@0x" + Hex(zlibAt_) + ".zlib";
  const std::string rawFile = out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw";
  test::WriteFile(zlibFile, {'k', 'e', 'e', 'p'});
  fs::remove(rawFile);

  const test::TProgramResult clash = Run({"--headerless", "--extract", out_});
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(clash.err, "File \"" + zlibFile + "\" already exists; use --force to replace it.\n");
  EXPECT_EQ(ReadAll(zlibFile), (TBytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(rawFile)) << "nothing is written when a name clashes";

  ASSERT_EQ(Run({"--headerless", "--extract", out_, "--force"}).status, 0);
  EXPECT_EQ(ReadAll(zlibFile), textA_);
}

TEST_F(Extraction, UnwritableDirectoryNamesThePathAndLeavesNothing) {
  fs::create_directory(out_);
  ::chmod(out_.c_str(), 0555);
  ::chmod(dir_.Path().c_str(), 0755);
  const auto seen = test::RunAsOrdinaryUser([&] {
    try {
      cli::ExtractStreams({{source_, TFoundStream{zlibAt_, true, 5, 3, 10, 10, true}}}, {out_, 0, false});
    } catch (const TQuarnError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  });
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Cannot write into \"" + out_ + "\": Permission denied");
  EXPECT_TRUE(Names(out_).empty());
}

TEST_F(Extraction, FailedWriteLeavesNoHalfWrittenFile) {
  // A file-size limit makes writes fail part way, as a full disk would.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      cli::ExtractStreams({{source_, TFoundStream{rawAt_, false, 0, 0, 0, textB_.size(), true}}}, {out_, 0, false});
    } catch (const TQuarnError& e) {
      const std::string expected = "Cannot write \"" + out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw\": File too large";
      ::_exit(std::string(e.what()) == expected ? 0 : 2);
    }
    ::_exit(3);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Names(out_).empty());
}

TEST(ExtractedFileName, StaysInsideTheDirectory) {
  struct TCase {
    std::string source;
    std::string name;
  };
  const TCase cases[] = {
      {"/data/firmware.bin", "firmware.bin@0x1a2b3c.zlib"},
      {"dir/", "dir@0x1a2b3c.zlib"},
      {"..", "_..@0x1a2b3c.zlib"},
      {"/x/.hidden", "_.hidden@0x1a2b3c.zlib"},
      {"/x/odd\xff\n\\name", "odd___name@0x1a2b3c.zlib"},
      {"/", "_@0x1a2b3c.zlib"},
  };
  for (const TCase& c : cases) EXPECT_EQ(cli::ExtractedFileName(c.source, 0x1a2b3c, true), c.name) << c.source;
  EXPECT_EQ(cli::ExtractedFileName("a", 0, false), "a@0x0.raw");
  EXPECT_LE(cli::ExtractedFileName(std::string(1000, 'n'), INT64_MAX, true).size(), 255u);
}

TEST(ExtractedFileName, SourcesOfTheSameNameStayApart) {
  test::TTempDir dir;
  const TBytes text = test::MakeText(5000);
  test::TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(text));
  layout.Zeros(70);
  fs::create_directory(dir / "one");
  fs::create_directory(dir / "two");
  test::WriteFile(dir / "one/a.bin", layout.Bytes());
  test::WriteFile(dir / "two/a.bin", layout.Bytes());
  const test::TProgramResult r =
      test::RunProgram(QUARN_SCAN_PATH, {"--recursive", "--extract", dir / "out", dir / "one", dir / "two"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"a.bin@0xc.zlib", "a.bin~2@0xc.zlib"}));
}

}  // namespace
}  // namespace quarn
