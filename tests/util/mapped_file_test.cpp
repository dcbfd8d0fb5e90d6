// Mapped input files: what a missing, empty, special, unreadable or
// truncated file gives, that a file which grows or is written while mapped
// is reported changed, and that a mapped file shows its exact bytes; what
// cannot be mapped (pipes, /proc, /sys) is read whole, a pipe into a
// scratch file; block devices are mapped with their own size; names longer
// than the path limit work.
#include "util/mapped_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "tests/support/cut_file.h"
#include "tests/support/deep_tree.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"
#include "util/platform/memory_map.h"

namespace quarn {
namespace {

std::string ErrorOf(const std::string& path) {
  try {
    TMappedFile file(path);
  } catch (const TQuarnError& e) {
    return std::string(e.KindName()) + ": " + e.what();
  }
  return "no error";
}

TEST(MappedFile, MapsTheWholeFile) {
  test::TTempDir dir;
  const test::TBytes bytes = test::MakeNoise(100000, 1);
  test::WriteFile(dir / "a.bin", bytes);
  const TMappedFile file(dir / "a.bin");
  ASSERT_EQ(file.Size(), static_cast<int64_t>(bytes.size()));
  ASSERT_NE(file.Memory(), nullptr);
  EXPECT_EQ(std::memcmp(file.Memory(), bytes.data(), bytes.size()), 0);
  EXPECT_FALSE(file.ChangedWhileMapped());
  EXPECT_TRUE(FileExistsLong(dir / "a.bin"));
  EXPECT_EQ(GetFileSize64(dir / "a.bin"), 100000);
}

TEST(MappedFile, EmptyFileHasNoMemory) {
  test::TTempDir dir;
  test::WriteFile(dir / "empty", {});
  const TMappedFile file(dir / "empty");
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Memory(), nullptr);
}

TEST(MappedFile, MissingNamesRaiseTheMissingFileError) {
  test::TTempDir dir;
  const std::string cases[] = {dir / "nothing-here", ""};
  for (const std::string& name : cases) {
    EXPECT_EQ(ErrorOf(name), "Exception: File \"" + name + "\" does not exists.");
    EXPECT_FALSE(FileExistsLong(name));
    EXPECT_EQ(GetFileSize64(name), 0);
  }
}

// A folder is there: the error says what it is, not that it is missing.
TEST(MappedFile, AFolderIsNamedAsAFolder) {
  test::TTempDir dir;
  EXPECT_EQ(ErrorOf(dir.Path()), "Exception: File \"" + dir.Path() + "\" is a folder, not a file.");
  EXPECT_FALSE(FileExistsLong(dir.Path()));
}

TEST(MappedFile, RelativeAndOneCharacterNamesWork) {
  test::TTempDir dir;
  test::WriteFile(dir / "x", test::TBytes(10, 7));
  const std::string saved = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.Path());
  {
    const TMappedFile file("x");
    EXPECT_EQ(file.Size(), 10);
  }
  std::filesystem::current_path(saved);
}

TEST(MappedFile, FifoReadsAsEmptyWithoutBlocking) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs in the file system are POSIX";
#else
  test::TTempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const TMappedFile file(dir / "pipe");  // would block forever if opened for reading
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Memory(), nullptr);
  EXPECT_TRUE(FileExistsLong(dir / "pipe"));
#endif
}

test::TBytes ContentOf(const TMappedFile& file) {
  return file.Size() == 0 ? test::TBytes{} : test::TBytes(file.Memory(), file.Memory() + file.Size());
}

// A pipe has no size: it is read to its end, whoever writes into it and
// however slowly.
TEST(MappedFile, PipesAreReadToTheirEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs in the file system and /proc/self/fd are POSIX";
#else
  const test::TBytes bytes = test::MakeNoise(300000, 4);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t at = 0; at < bytes.size(); at += 7000) {
      const std::size_t n = std::min<std::size_t>(7000, bytes.size() - at);
      if (::write(fds[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
    }
    ::close(fds[1]);
  });
  {
    const TMappedFile file("/proc/self/fd/" + std::to_string(fds[0]));
    EXPECT_EQ(ContentOf(file), bytes);
  }
  writer.join();
  ::close(fds[0]);

  // A named FIFO whose writer has come and gone: a reader of our own keeps
  // what it wrote in the FIFO until the mapped file has read it. (Waiting
  // for a writer to turn up instead lost the data whenever the writer came
  // between a read that found the FIFO empty and its close.)
  test::TTempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int held = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const int out = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(out, 0);
  ASSERT_EQ(::write(out, bytes.data(), 1000), 1000);
  ::close(out);
  EXPECT_EQ(ContentOf(TMappedFile(fifo)), test::TBytes(bytes.begin(), bytes.begin() + 1000));
  ::close(held);
#endif
}

#ifndef _WIN32
// Sets an environment variable for one scope, and puts the old value back.
class TEnvironmentOverride {
 public:
  TEnvironmentOverride(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) old_ = old;
    had_ = old != nullptr;
    ::setenv(name, value.c_str(), 1);
  }
  ~TEnvironmentOverride() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};
#endif

// A pipe may bring more than memory holds: it is copied into an unnamed
// file in $TMPDIR and mapped from there, leaving no name behind. Where no
// such file can be made, the error says so and names the pipe.
TEST(MappedFile, PipesAreCopiedIntoAnUnnamedScratchFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a pipe has no name to open on Windows: standard input brings it (QuarnScanInputs)";
#else
  test::TTempDir scratch;
  const test::TBytes bytes = test::MakeNoise(300000, 5);
  // `count` bytes written into a pipe, which `use` reads by name.
  auto throughPipe = [&](std::size_t count, const std::function<void(const std::string&)>& use) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
      [[maybe_unused]] const ssize_t put = ::write(fds[1], bytes.data(), count);
      ::close(fds[1]);
    });
    use("/proc/self/fd/" + std::to_string(fds[0]));
    writer.join();  // before the read end goes: a write with no reader left raises SIGPIPE
    ::close(fds[0]);
  };
  {
    const TEnvironmentOverride tmpdir("TMPDIR", scratch.Path());
    throughPipe(bytes.size(), [&](const std::string& name) {
      platform::TMapResult result = platform::MapWholeFile(name);
      ASSERT_EQ(result.Failure, platform::TMapFailure::None) << result.ErrorNumber;
      EXPECT_FALSE(result.Mapping.ReadIntoMemory);
      ASSERT_EQ(result.Mapping.SizeBytes, static_cast<int64_t>(bytes.size()));
      EXPECT_EQ(test::TBytes(result.Mapping.Content, result.Mapping.Content + bytes.size()), bytes);
      EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));
      platform::ReleaseMapping(result.Mapping);
    });
  }
  const TEnvironmentOverride tmpdir("TMPDIR", scratch / "missing");
  throughPipe(1000, [&](const std::string& name) {  // less than the pipe holds: nothing reads it
    EXPECT_EQ(ErrorOf(name), "Exception: File \"" + name + "\" cannot be copied to a temporary file: No such file or directory.");
  });
#endif
}

// Files whose size reads 0 (/proc) or that do not map (/sys) are read.
TEST(MappedFile, FilesThatReportNoSizeOrDoNotMapAreRead) {
#ifdef _WIN32
  GTEST_SKIP() << "/proc and /sys are Linux";
#else
  for (const std::string path : {"/proc/self/maps", "/proc/self/status", "/sys/devices/system/cpu/online"}) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    const TMappedFile file(path);
    std::ifstream in(path, std::ios::binary);
    const test::TBytes expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(file.Size(), 0) << path;
    if (path == "/proc/self/maps") {
      // The mappings change between the two reads: compare the first line.
      const test::TBytes content = ContentOf(file);
      EXPECT_EQ(test::TBytes(content.begin(), std::find(content.begin(), content.end(), '\n')),
                test::TBytes(expected.begin(), std::find(expected.begin(), expected.end(), '\n')));
    } else if (path != "/proc/self/status") {
      EXPECT_EQ(ContentOf(file), expected) << path;
    }
  }
#endif
}

// Character devices and sockets have no content to scan.
TEST(MappedFile, CharacterDevicesAndSocketsAreNotRegularFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "device and socket nodes in the file system are POSIX";
#else
  test::TTempDir dir;
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir / "socket";
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const std::string& path : {std::string("/dev/null"), std::string("/dev/zero"), socketPath}) {
    EXPECT_EQ(ErrorOf(path), "Exception: File \"" + path + "\" is not a regular file.");
  }
  ::close(sock);
#endif
}

// A block device (a loop device over a file here) is mapped whole, with the
// size from the device: stat gives it 0.
TEST(MappedFile, BlockDevicesAreMappedWithTheDevicesSize) {
#ifdef _WIN32
  GTEST_SKIP() << "loop devices are Linux";
#else
  test::TTempDir dir;
  const test::TBytes bytes = test::MakeNoise(1 << 20, 9);
  test::WriteFile(dir / "disk.img", bytes);
  const test::TProgramResult attached =
      test::RunProgram("/sbin/losetup", {"--find", "--show", "--read-only", dir / "disk.img"});
  if (attached.status != 0) GTEST_SKIP() << "no loop device here: " << attached.err;
  const std::string device = attached.out.substr(0, attached.out.find('\n'));
  test::TBytes seen;
  {
    const TMappedFile file(device);
    seen = ContentOf(file);
  }
  test::RunProgram("/sbin/losetup", {"--detach", device});
  EXPECT_EQ(seen, bytes);
#endif
}

// Names past the path limit open through their directories; one part
// longer than a name may be says so.
TEST(MappedFile, NamesLongerThanThePathLimit) {
  test::TTempDir dir(test::MemoryBackedTempBase());
  const test::TBytes bytes = test::MakeNoise(5000, 3);
  const int levels = test::kLevelsPastThePathLimit;
  const test::TDeepTree tree(dir.Path(), levels, {levels}, bytes);
  ASSERT_GT(tree.Files().back().size(), test::kPathLimitBytes);
  {
    const TMappedFile file(tree.Files().back());
    EXPECT_EQ(ContentOf(file), bytes);
  }
  EXPECT_TRUE(FileExistsLong(tree.Files().back()));
  EXPECT_EQ(GetFileSize64(tree.Files().back()), 5000);

  const std::string overLong = dir / std::string(300, 'n');
  EXPECT_EQ(ErrorOf(overLong), "Exception: File \"" + overLong + "\" cannot be opened: File name too long.");
}

// A file that is there but out of reach says why; only a name that truly
// does not exist gets the missing-file text.
TEST(MappedFile, PermissionDeniedIsNotAbsence) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and an ordinary user to drop to are POSIX";
#else
  test::TTempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
  test::WriteFile(dir / "locked/b.bin", test::TBytes(100, 1));
  ::chmod((dir / "locked").c_str(), 0000);
  const auto seen = test::RunAsOrdinaryUser([&] {
    return ErrorOf(dir / "locked/b.bin") + "\n" + ErrorOf(dir / "missing.bin");
  });
  ::chmod((dir / "locked").c_str(), 0755);
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Exception: File \"" + dir / "locked/b.bin" + "\" cannot be opened: Permission denied.\n" +
                       "Exception: File \"" + dir / "missing.bin" + "\" does not exists.");
#endif
}

TEST(MappedFile, UnreadableFileNamesTheReason) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and an ordinary user to drop to are POSIX";
#else
  test::TTempDir dir;
  const std::string path = dir / "secret";
  test::WriteFile(path, test::TBytes(100, 1));
  ::chmod(path.c_str(), 0000);
  ::chmod(dir.Path().c_str(), 0755);
  const auto seen = test::RunAsOrdinaryUser([&] { return ErrorOf(path); });
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Exception: File \"" + path + "\" cannot be opened: Permission denied.");
#endif
}

TEST(MappedFile, FileCutShortWhileMappedIsReportedNotFatal) {
  if (!test::CanCutMappedFiles()) GTEST_SKIP() << "this system keeps mapped files from being cut short";
  test::TTempDir dir;
  const std::string path = dir / "shrinks";
  test::WriteFile(path, test::TBytes(1 << 20, 0xAB));
  const TMappedFile file(path);
  platform::TMapResult second = platform::MapWholeFile(path);
  ASSERT_EQ(second.Failure, platform::TMapFailure::None);
  ASSERT_TRUE(test::CutFileShort(path, 4096));
  // The new size says so before any page is touched.
  EXPECT_TRUE(file.ChangedWhileMapped());
  EXPECT_EQ(file.Memory()[100], 0xAB);
  // Past the new end the pages are gone: without the guard this read
  // would end the process with SIGBUS (EXCEPTION_IN_PAGE_ERROR on Windows).
  EXPECT_EQ(file.Memory()[file.Size() - 1], 0);
  // The guard marks only the mapping whose page was lost, once it is.
  EXPECT_FALSE(platform::MappingLostPages(second.Mapping));
  EXPECT_EQ(second.Mapping.Content[second.Mapping.SizeBytes - 1], 0);
  EXPECT_TRUE(platform::MappingLostPages(second.Mapping));
  platform::ReleaseMapping(second.Mapping);
}

// A file that grows or is written in place while mapped loses no page: the
// view still shows the old bytes and length, and only the file's size or
// modification time, read again from the open file, tell the change. A file
// renamed over the name meanwhile is another file: the mapped one did not
// change.
TEST(MappedFile, FileThatGrowsOrIsWrittenWhileMappedIsReportedChanged) {
  struct TCase {
    const char* name;
    std::function<bool(const std::string&)> change;
    bool changed;
  };
  const TCase cases[] = {
      {"left alone", [](const std::string&) { return true; }, false},
      {"grows by a byte", [](const std::string& path) { return test::GrowFile(path, 1); }, true},
      {"grows by a page", [](const std::string& path) { return test::GrowFile(path, 4096); }, true},
      {"written in place", [](const std::string& path) { return test::TouchFile(path); }, true},
      {"replaced under its name",
       [](const std::string& path) {
         test::WriteFile(path + ".new", test::TBytes(5000, 1));
         std::error_code error;
         std::filesystem::rename(path + ".new", path, error);
         return !error;
       },
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    const std::string path = dir / "data";
    const test::TBytes bytes = test::MakeNoise(100000, 2);
    test::WriteFile(path, bytes);
    const TMappedFile file(path);
    if (!c.change(path)) {
#ifdef _WIN32
      if (std::string(c.name) == "replaced under its name") continue;  // Windows keeps an open file's name
#endif
      FAIL() << "the change could not be made";
    }
    EXPECT_EQ(file.ChangedWhileMapped(), c.changed);
    ASSERT_EQ(file.Size(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(std::memcmp(file.Memory(), bytes.data(), bytes.size()), 0);
  }
}

// What was copied has no file behind it to change: a pipe's scratch file,
// a /proc file read into memory.
TEST(MappedFile, CopiesNeverReportAChange) {
#ifdef _WIN32
  GTEST_SKIP() << "pipes by name and /proc are Linux";
#else
  const test::TBytes bytes = test::MakeNoise(5000, 6);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  {
    const TMappedFile piped("/proc/self/fd/" + std::to_string(fds[0]));
    EXPECT_EQ(ContentOf(piped), bytes);
    EXPECT_FALSE(piped.ChangedWhileMapped());
  }
  ::close(fds[0]);
  const TMappedFile proc("/proc/self/stat");
  ASSERT_GT(proc.Size(), 0);
  EXPECT_FALSE(proc.ChangedWhileMapped());
#endif
}

}  // namespace
}  // namespace quarn
