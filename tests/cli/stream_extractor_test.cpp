// Extraction of found streams: the files hold exactly the inflated data of
// the file the scan read, names are unique after cleaning and stay inside
// the directory, and nothing is replaced or left half-written. The runs
// that are interrupted or killed, and the writes that fail, are in
// stream_extractor_posix_test.cpp.
#include "cli/stream_extractor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

#include "tests/cli/extraction_fixture.h"
#include "tests/support/found_stream.h"
#include "tests/support/cut_file.h"
#include "tests/support/platform_traits.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

TEST_F(Extraction, ReproducesTheOriginalDataByteForByte) {
  const test::TProgramResult r = Run({"--headerless", "--extract", out_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib"), textA_);
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw"), textB_);
  EXPECT_EQ(Names(out_).size(), 2u);
  EXPECT_EQ(r.err, "Wrote 2 streams, " + std::to_string(textA_.size() + textB_.size()) + " bytes, to " + out_ + "\n");
}

TEST_F(Extraction, IncompleteStreamGivesWhatItsTrialInflated) {
  const test::TProgramResult r = Run({"--accept-incomplete", "--extract", out_});
  ASSERT_EQ(r.status, 0) << r.err;
  const TBytes part = ReadAll(out_ + "/firmware.bin@0x" + Hex(cutAt_ - 2) + ".zlib");
  ASSERT_GT(part.size(), 0u);
  ASSERT_LT(part.size(), textA_.size());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), textA_.begin()));
}

// --min-size N writes the streams of N inflated bytes or more: one of
// exactly N is written, and N + 1 leaves it out.
TEST_F(Extraction, MinSizeWritesOnlyLargeStreamsButCountsAll) {
  const std::string zlibName = "firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib";
  const std::string rawName = "firmware.bin@0x" + Hex(rawAt_) + ".raw";
  struct TCase {
    uint64_t minBytes;
    std::vector<std::string> written;
  };
  const TCase cases[] = {
      {100000, {rawName}},
      {textA_.size(), {zlibName, rawName}},
      {textA_.size() + 1, {rawName}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "--min-size " << c.minBytes);
    fs::remove_all(out_);
    const test::TProgramResult r =
        Run({"--headerless", "--extract", out_, "--min-size", std::to_string(c.minBytes)});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = c.written;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(out_), expected);
    EXPECT_NE(r.out.find("Potential zlib streams: 2"), std::string::npos);
  }
}

// A name that exists stops only its own stream: the scan goes on, its
// counts stay, the other streams are written, and the stream not written
// is the run's error.
TEST_F(Extraction, NeverOverwritesWithoutForce) {
  const test::TProgramResult plain = Run({"--headerless"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(Run({"--headerless", "--extract", out_}).status, 0);
  const std::string zlibFile = out_ + "/firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib";
  const std::string rawFile = out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw";
  test::WriteFile(zlibFile, {'k', 'e', 'e', 'p'});
  fs::remove(rawFile);

  const test::TProgramResult clash = Run({"--headerless", "--extract", out_});
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(clash.err, "quarn-scan: " + source_ + ": File \"" + zlibFile +
                           "\" already exists; use --force to replace it\nWrote 1 streams, " +
                           std::to_string(textB_.size()) + " bytes, to " + out_ + "; 1 not written\n");
  EXPECT_EQ(clash.out, plain.out) << "the scan's counts stay";
  EXPECT_EQ(ReadAll(zlibFile), (TBytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(ReadAll(rawFile), textB_) << "the scan went on past the clash";
  const test::TProgramResult lines = Run({"--headerless", "--json-lines", "--extract", out_});
  EXPECT_EQ(lines.status, 1);
  EXPECT_NE(lines.out.find("\"streams\":2,\"streams_not_written\":2,\"write_error\":\"File \\\"" + zlibFile +
                           "\\\" already exists; use --force to replace it\"}"),
            std::string::npos)
      << lines.out;

  ASSERT_EQ(Run({"--headerless", "--extract", out_, "--force"}).status, 0);
  EXPECT_EQ(ReadAll(zlibFile), textA_);
  EXPECT_EQ(ReadAll(rawFile), textB_);
}

// With --fail-fast a stream not written ends the run, as a file that
// cannot be scanned does.
TEST_F(Extraction, FailFastStopsAtAStreamNotWritten) {
  ASSERT_EQ(Run({"--extract", out_}).status, 0);
  const test::TProgramResult r = Run({"--headerless", "--extract", out_, "--fail-fast"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("File \"" + out_ + "/firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib\" already exists"), std::string::npos)
      << r.err;
}

// The source changes after the scan found a stream and before it is
// written: cut short, grown, written in place, replaced by another file
// under the same name, or changed in place where neither its size nor its
// time shows it. The stream is taken from the scan's own mapping, and
// anything that no longer matches what the scan counted, or a file whose
// size or time moved, is an error that names the file, with nothing written.
TEST_F(Extraction, SourceThatShrinksGrowsOrIsWrittenGivesAnErrorAndNoFile) {
  struct TCase {
    const char* name;
    std::function<bool(const std::string&)> change;
  };
  const int64_t cutAt = rawAt_ + 100;
  const TCase cases[] = {
      {"cut short", [cutAt](const std::string& path) { return test::CutFileShort(path, cutAt); }},
      {"grown", [](const std::string& path) { return test::GrowFile(path, 10); }},
      {"written in place", [](const std::string& path) { return test::TouchFile(path); }},
  };
  {
    const TMappedFile unchanged(source_);
    cli::TStreamExtractor extractor({source_}, {out_ + "-unchanged", 0, false});
    extractor.Extract(0, unchanged, test::FoundStream(rawAt_, false, 0, 0, rawBytes_, textB_.size(), true));
    ASSERT_EQ(extractor.StreamsWritten(), 1) << "these are the stream's own counts";
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "cut short" && !test::CanCutMappedFiles()) continue;  // a system that refuses it
    test::WriteFile(source_, layout_);
    const TMappedFile file(source_);
    ASSERT_TRUE(c.change(source_));
    cli::TStreamExtractor extractor({source_}, {out_, 0, false});
    try {
      extractor.Extract(0, file, test::FoundStream(rawAt_, false, 0, 0, rawBytes_, textB_.size(), true));
      ADD_FAILURE() << "no error";
    } catch (const TQuarnError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("File \"" + source_ + "\" changed while it was being scanned", 0), 0u)
          << e.what();
    }
    EXPECT_TRUE(Names(out_).empty()) << "no file, and no temporary left";
    EXPECT_EQ(extractor.StreamsWritten(), 0);
  }
}

TEST_F(Extraction, SourceReplacedUnderItsNameStillGivesTheScannedData) {
  const TMappedFile file(source_);
  const TBytes zlibA = test::Zlib(textA_, 9, 13);
  TBytes evil = ReadAll(source_);
  const TBytes evilText = test::MakeText(textA_.size(), 99);
  const TBytes evilStream = test::Zlib(evilText, 9, 13);
  std::copy(evilStream.begin(), evilStream.end(), evil.begin() + zlibAt_ - 2);
  test::WriteFile(source_ + ".new", evil);
  // The scan holds the file open without delete sharing, and Windows
  // replaces no name whose file is open so.
  const std::error_code refused = test::ReplaceFile(source_ + ".new", source_);
  if (refused && !test::kReplacesNamesOfOpenFiles) {
    GTEST_SKIP() << "Windows replaces no file that the scan holds open: " << refused.message();
  }
  ASSERT_FALSE(refused) << refused.message();

  cli::TStreamExtractor extractor({source_}, {out_, 0, false});
  extractor.Extract(0, file, test::FoundStream(zlibAt_, true, 5, 3, zlibA.size() - 6, textA_.size(), true));
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib"), textA_);
}

TEST_F(Extraction, SourceChangedInPlaceGivesAnErrorAndNoFile) {
  // The file keeps its time, as when the write falls within the file
  // system's clock step: only the replay of the stream can see the change.
  // A whole second, which every platform can set back exactly (mingw-w64's
  // C library sets times to the second).
  const auto time = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(source_));
  fs::last_write_time(source_, time);
  const TMappedFile file(source_);
  const TBytes zlibA = test::Zlib(textA_, 9, 13);
  {
    std::fstream patch(source_, std::ios::binary | std::ios::in | std::ios::out);
    patch.seekp(zlibAt_ + 2000);
    patch.write("\xff\xff\xff\xff\xff\xff\xff\xff", 8);
  }
  fs::last_write_time(source_, time);
  cli::TStreamExtractor extractor({source_}, {out_, 0, false});
  try {
    extractor.Extract(0, file, test::FoundStream(zlibAt_, true, 5, 3, zlibA.size() - 6, textA_.size(), true));
    ADD_FAILURE() << "no error";
  } catch (const TQuarnError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + source_ + "\" changed while it was being scanned: the stream at offset " +
                                         std::to_string(zlibAt_ - 2)),
              std::string::npos)
        << e.what();
  }
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
  for (const TCase& c : cases) {
    EXPECT_EQ(cli::ExtractedFileName(cli::CleanedBaseName(c.source), 0x1a2b3c, true), c.name) << c.source;
  }
  EXPECT_EQ(cli::ExtractedFileName("a", 0, false), "a@0x0.raw");
  const std::vector<std::string> longNames(3, std::string(1000, 'n'));
  for (const std::string& stem : cli::PlanStems(longNames)) {
    EXPECT_LE(cli::ExtractedFileName(stem, INT64_MAX, true).size(), 255u);
  }
}

// Stems are unique after cleaning and cutting, across the whole list, and
// a "~N" never lands on a stem that a later source has of itself.
TEST(ExtractedFileName, StemsAreUniqueAfterCleaning) {
  const std::string longA = std::string(230, 'n') + "A";
  const std::string longB = std::string(230, 'n') + "B";
  const std::vector<std::string> files = {
      "s/\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb.bin", "s/\xd0\xb4\xd0\xb0\xd1\x82\xd0\xb0.bin",
      "x_y.bin", "x\\y.bin", "a~2", "a", "one/a", "two/a", longA, longB, "same", "same"};
  const std::vector<std::string> stems = cli::PlanStems(files);
  const std::vector<std::string> expected = {"________.bin", "________.bin~2", "x_y.bin", "x_y.bin~2", "a~2", "a",
                                             "a~3", "a~4", std::string(200, 'n'), std::string(200, 'n') + "~2",
                                             "same", "same~2"};
  EXPECT_EQ(stems, expected);
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
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"a.bin@0xa.zlib", "a.bin~2@0xa.zlib"}));
}

// Sources whose names clean to one name, with and without --force: every
// stream is on disk under its own name, whole, and the summary counts
// exactly what is there.
TEST(ExtractedFileName, NoStreamIsLostToANameClash) {
  test::TTempDir dir;
  const TBytes text = test::MakeText(5000);
  test::TLayout layout;
  layout.Zeros(10);
  layout.Append(test::Zlib(text));
  layout.Zeros(70);
  std::vector<std::string> sources;
  for (const std::string& name : std::vector<std::string>{"s/\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb.bin", "s/\xd0\xb4\xd0\xb0\xd1\x82\xd0\xb0.bin",
                                 "x_y.bin", "x\\y.bin", "one/a.bin", "two/a.bin",
                                 std::string(230, 'n') + "A", std::string(230, 'n') + "B"}) {
    fs::create_directories(fs::path(dir / name).parent_path());
    test::WriteFile(dir / name, layout.Bytes());
    sources.push_back(dir / name);
  }
  for (const bool force : {false, true}) {
    SCOPED_TRACE(force ? "--force" : "no --force");
    std::vector<std::string> args = {"-j", "3", "--extract", dir / "out"};
    if (force) args.push_back("--force");
    fs::remove_all(dir / "out");
    args.insert(args.end(), sources.begin(), sources.end());
    args.push_back(sources.front());  // one file named twice: scanned, and its stream written, once
    const test::TProgramResult r = test::RunProgram(QUARN_SCAN_PATH, args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> written = Names(dir / "out");
    EXPECT_EQ(written.size(), sources.size());
    for (const std::string& name : written) EXPECT_EQ(ReadAll(dir / "out/" + name), text) << name;
    EXPECT_EQ(r.err, "quarn-scan: left out \"" + sources.front() + "\": same file as \"" + sources.front() +
                         "\"\nWrote " + std::to_string(sources.size()) + " streams, " +
                         std::to_string(sources.size() * text.size()) + " bytes, to " + dir / "out" + "\n");
  }
}

}  // namespace
}  // namespace quarn
