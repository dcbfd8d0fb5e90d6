// Extraction where POSIX is needed: a file system that fills up and a
// file-size limit that stop a write part way, a directory that an ordinary
// user cannot write into, and runs stopped by SIGINT, SIGTERM or SIGKILL.
// Built only where POSIX is, into the same program as
// stream_extractor_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "cli/stream_extractor.h"
#include "tests/cli/extraction_fixture.h"
#include "tests/support/found_stream.h"
#include "tests/support/ordinary_user.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

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

// A write that fails part way through a stream (the file system is full,
// or the file may not grow any further) stops only that stream: the file
// is left out, the scan's counts stay as if nothing had been written, the
// streams that fit are written whole, and the one that did not is the
// run's error, with its reason.
TEST_F(Extraction, WriteFailuresKeepTheScansCounts) {
  const test::TProgramResult plain = Run({"--headerless"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string rawFile = out_ + "/firmware.bin@0x" + Hex(rawAt_) + ".raw";
  const std::string zlibName = "firmware.bin@0x" + Hex(zlibAt_ - 2) + ".zlib";
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
}

// A run stopped by SIGINT or SIGTERM, or killed outright, leaves only
// whole files: every file in the directory holds a whole stream, and no
// temporary is left.
TEST(ExtractionInterrupted, LeavesOnlyWholeFiles) {
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
}

TEST_F(Extraction, UnwritableDirectoryNamesThePathAndLeavesNothing) {
  fs::create_directory(out_);
  ::chmod(out_.c_str(), 0555);
  ::chmod(dir_.Path().c_str(), 0755);
  ::chmod(source_.c_str(), 0644);
  const auto seen = test::RunAsOrdinaryUser([&] {
    try {
      const TMappedFile file(source_);
      cli::TStreamExtractor extractor({source_}, {out_, 0, false});
      extractor.Extract(0, file, test::FoundStream(zlibAt_, true, 5, 3, 10, 10, true));
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
      const TMappedFile file(source_);
      cli::TStreamExtractor extractor({source_}, {out_, 0, false});
      extractor.Extract(0, file, test::FoundStream(rawAt_, false, 0, 0, test::Raw(textB_).size(), textB_.size(), true));
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

}  // namespace
}  // namespace quarn
