// Extraction of found streams: the files hold exactly the inflated data of
// the file the scan read, names are unique after cleaning and stay inside
// the directory, and nothing is replaced or left half-written, not even by
// a run that is interrupted or killed.
#include "cli/stream_extractor.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>

#include "tests/support/cut_file.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"
#include "util/mapped_file.h"

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

// One zlib stream between zeros.
[[maybe_unused]] TBytes Padded(const TBytes& stream) {
  test::TLayout layout;
  layout.Zeros(20);
  layout.Append(stream);
  layout.Zeros(70);
  return layout.Bytes();
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
    const TBytes raw = test::Raw(textB_);
    rawAt_ = static_cast<int64_t>(layout.Append(raw));
    rawBytes_ = raw.size();
    layout.Zeros(40);
    const TBytes cut = test::Zlib(textA_);
    cutAt_ = static_cast<int64_t>(layout.Append(TBytes(cut.begin(), cut.begin() + 3000))) + 2;
    source_ = dir_ / "firmware.bin";
    layout_ = layout.Bytes();
    test::WriteFile(source_, layout_);
    out_ = dir_ / "out";
  }
  test::TProgramResult Run(std::vector<std::string> args) {
    args.push_back(source_);
    return test::RunProgram(QUARN_SCAN_PATH, args);
  }

  test::TTempDir dir_;
  TBytes textA_, textB_, layout_;
  int64_t zlibAt_ = 0, rawAt_ = 0, cutAt_ = 0;
  uint64_t rawBytes_ = 0;
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

// --min-size N writes the streams of N inflated bytes or more: one of
// exactly N is written, and N + 1 leaves it out.
TEST_F(Extraction, MinSizeWritesOnlyLargeStreamsButCountsAll) {
  const std::string zlibName = "firmware.bin@0x" + Hex(zlibAt_) + ".zlib";
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
  const std::string zlibFile = out_ + "/firmware.bin@0x" + Hex(zlibAt_) + ".zlib";
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

#ifndef _WIN32
// A small tmpfs mounted over a directory for one scope: a file system that
// fills up. Mounting needs root (or CAP_SYS_ADMIN); `Error()` says why not.
class TSmallFileSystem {
 public:
  TSmallFileSystem(const std::string& directory, const std::string& size) : directory_(directory) {
    fs::create_directories(directory_);
    if (::mount("tmpfs", directory_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) error_ = errno;
  }
  ~TSmallFileSystem() {
    if (error_ == 0) ::umount2(directory_.c_str(), MNT_DETACH);
  }
  int Error() const { return error_; }

 private:
  std::string directory_;
  int error_ = 0;
};

// A limit on the size of any file the process writes, for one scope. A
// program started meanwhile inherits it, and SIGXFSZ ignored, so that a
// write past the limit fails with EFBIG instead of ending the program.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
  }

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = SIG_DFL;
};
#endif

// A write that fails part way through a stream (the file system is full,
// or the file may not grow any further) stops only that stream: the file
// is left out, the scan's counts stay as if nothing had been written, the
// streams that fit are written whole, and the one that did not is the
// run's error, with its reason.
TEST_F(Extraction, WriteFailuresKeepTheScansCounts) {
#ifdef _WIN32
  GTEST_SKIP() << "a small tmpfs and a file-size limit are POSIX";
#else
  const test::TProgramResult plain = Run({"--headerless"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string rawFile = out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw";
  const std::string zlibName = "firmware.bin@0x" + Hex(zlibAt_) + ".zlib";
  // Room for the first stream (70,000 bytes), not for the second (300,000).
  for (const bool fullFileSystem : {true, false}) {
    SCOPED_TRACE(fullFileSystem ? "full file system" : "file-size limit");
    fs::remove_all(out_);
    test::TProgramResult r;
    std::string reason;
    if (fullFileSystem) {
      const TSmallFileSystem small(out_, "128k");
      if (small.Error() != 0) {
        std::cout << "[  SKIPPED ] the full file system: cannot mount a small tmpfs here: "
                  << std::strerror(small.Error()) << "\n";
        continue;
      }
      r = Run({"--headerless", "--extract", out_});
      EXPECT_EQ(Names(out_), std::vector<std::string>{zlibName});
      EXPECT_EQ(ReadAll(out_ + "/" + zlibName), textA_);
      reason = "No space left on device";
    } else {
      const TFileSizeLimit limit(100000);
      r = Run({"--headerless", "--extract", out_});
      reason = "File too large";
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quarn-scan: " + source_ + ": Cannot write \"" + rawFile + "\": " + reason + "\nWrote 1 streams, " +
                         std::to_string(textA_.size()) + " bytes, to " + out_ + "; 1 not written\n");
    EXPECT_EQ(r.out, plain.out) << "the scan's counts stay";
    if (!fullFileSystem) {
      EXPECT_EQ(Names(out_), std::vector<std::string>{zlibName});
      EXPECT_EQ(ReadAll(out_ + "/" + zlibName), textA_);
    }
  }
#endif
}

// With --fail-fast a stream not written ends the run, as a file that
// cannot be scanned does.
TEST_F(Extraction, FailFastStopsAtAStreamNotWritten) {
  ASSERT_EQ(Run({"--extract", out_}).status, 0);
  const test::TProgramResult r = Run({"--headerless", "--extract", out_, "--fail-fast"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("File \"" + out_ + "/firmware.bin@0x" + Hex(zlibAt_) + ".zlib\" already exists"), std::string::npos)
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
    extractor.Extract(0, unchanged, TFoundStream{rawAt_, false, 0, 0, rawBytes_, textB_.size(), true});
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
      extractor.Extract(0, file, TFoundStream{rawAt_, false, 0, 0, rawBytes_, textB_.size(), true});
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
#ifdef _WIN32
  // The scan holds the file open without delete sharing, and Windows
  // replaces no name whose file is open so.
  std::error_code refused;
  fs::rename(fs::u8path(source_ + ".new"), fs::u8path(source_), refused);
  if (refused) GTEST_SKIP() << "Windows replaces no file that the scan holds open: " << refused.message();
#else
  ASSERT_EQ(::rename((source_ + ".new").c_str(), source_.c_str()), 0);
#endif

  cli::TStreamExtractor extractor({source_}, {out_, 0, false});
  extractor.Extract(0, file, TFoundStream{zlibAt_, true, 5, 3, zlibA.size() - 6, textA_.size(), true});
  EXPECT_EQ(ReadAll(out_ + "/firmware.bin@0x" + Hex(zlibAt_) + ".zlib"), textA_);
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
    extractor.Extract(0, file, TFoundStream{zlibAt_, true, 5, 3, zlibA.size() - 6, textA_.size(), true});
    ADD_FAILURE() << "no error";
  } catch (const TQuarnError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + source_ + "\" changed while it was being scanned: the stream at offset " +
                                         std::to_string(zlibAt_)),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(Names(out_).empty());
}

// A run stopped by SIGINT or SIGTERM, or killed outright, leaves only
// whole files: every file in the directory holds a whole stream, and no
// temporary is left.
TEST(ExtractionInterrupted, LeavesOnlyWholeFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "signals sent to a child process are POSIX";
#else
  test::TTempDir dir;
  const TBytes big(48u << 20, 'q');  // inflates slowly enough to be caught mid-write
  const TBytes stream = test::Zlib(big, 1);
  std::vector<std::string> args = {"-q", "-j", "2", "-x", dir / "out"};
  for (int k = 0; k < 4; ++k) {
    const std::string name = dir / ("big" + std::to_string(k) + ".bin");
    test::WriteFile(name, Padded(stream));
    args.push_back(name);
  }
  for (const int signalNumber : {SIGINT, SIGTERM, SIGKILL}) {
    for (const int delayMs : {30, 150, 400}) {
      SCOPED_TRACE(testing::Message() << "signal " << signalNumber << " after " << delayMs << " ms");
      fs::remove_all(dir / "out");
      const pid_t child = ::fork();
      if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<char*> argv = {const_cast<char*>(QUARN_SCAN_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(QUARN_SCAN_PATH, argv.data());
        ::_exit(127);
      }
      ::usleep(static_cast<useconds_t>(delayMs) * 1000);
      ::kill(child, signalNumber);
      int status = 0;
      ::waitpid(child, &status, 0);
      if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), signalNumber);
      } else {
        EXPECT_EQ(WEXITSTATUS(status), 0) << "finished before the signal";
      }
      if (!fs::exists(dir / "out")) continue;
      for (const std::string& name : Names(dir / "out")) {
        EXPECT_EQ(name.rfind(".quarn", 0), std::string::npos) << name;
        EXPECT_EQ(fs::file_size(dir / "out/" + name), big.size()) << name;
      }
    }
  }
#endif
}

TEST_F(Extraction, UnwritableDirectoryNamesThePathAndLeavesNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and an ordinary user to drop to are POSIX";
#else
  fs::create_directory(out_);
  ::chmod(out_.c_str(), 0555);
  ::chmod(dir_.Path().c_str(), 0755);
  ::chmod(source_.c_str(), 0644);
  const auto seen = test::RunAsOrdinaryUser([&] {
    try {
      const TMappedFile file(source_);
      cli::TStreamExtractor extractor({source_}, {out_, 0, false});
      extractor.Extract(0, file, TFoundStream{zlibAt_, true, 5, 3, 10, 10, true});
    } catch (const TQuarnError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  });
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Cannot write into \"" + out_ + "\": Permission denied");
  EXPECT_TRUE(Names(out_).empty());
#endif
}

TEST_F(Extraction, FailedWriteLeavesNoHalfWrittenFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the file-size limit that makes writes fail part way is POSIX";
#else
  // A file-size limit makes writes fail part way, as a full disk would.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      const TMappedFile file(source_);
      cli::TStreamExtractor extractor({source_}, {out_, 0, false});
      extractor.Extract(0, file, TFoundStream{rawAt_, false, 0, 0, test::Raw(textB_).size(), textB_.size(), true});
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
#endif
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
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"a.bin@0xc.zlib", "a.bin~2@0xc.zlib"}));
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
  sources.push_back(sources.front());  // one file named twice
  for (const bool force : {false, true}) {
    SCOPED_TRACE(force ? "--force" : "no --force");
    std::vector<std::string> args = {"-j", "3", "--extract", dir / "out"};
    if (force) args.push_back("--force");
    fs::remove_all(dir / "out");
    args.insert(args.end(), sources.begin(), sources.end());
    const test::TProgramResult r = test::RunProgram(QUARN_SCAN_PATH, args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> written = Names(dir / "out");
    EXPECT_EQ(written.size(), sources.size());
    for (const std::string& name : written) EXPECT_EQ(ReadAll(dir / "out/" + name), text) << name;
    EXPECT_EQ(r.err, "Wrote " + std::to_string(sources.size()) + " streams, " +
                         std::to_string(sources.size() * text.size()) + " bytes, to " + dir / "out" + "\n");
  }
}

}  // namespace
}  // namespace quarn
