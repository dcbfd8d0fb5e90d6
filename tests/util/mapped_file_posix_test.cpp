// Mapped input files that only POSIX has: FIFOs and pipes (read to their
// end, copied into an unnamed scratch file, never reported changed), /proc
// and /sys files, character and block devices, sockets, and files that an
// ordinary user may not open. Built only where POSIX is, into the same
// program as mapped_file_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "tests/support/ordinary_user.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/util/mapped_file_checks.h"
#include "util/platform/memory_map.h"

namespace quarn {
namespace {

using test::ContentOf;
using test::ErrorOf;

TEST(MappedFile, FifoReadsAsEmptyWithoutBlocking) {
  test::TTempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const TMappedFile file(dir / "pipe");  // would block forever if opened for reading
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Memory(), nullptr);
  EXPECT_TRUE(FileExistsLong(dir / "pipe"));
}

// A pipe has no size: it is read to its end, whoever writes into it and
// however slowly.
TEST(MappedFile, PipesAreReadToTheirEnd) {
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
}

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

// A pipe may bring more than memory holds: it is copied into an unnamed
// file in $TMPDIR and mapped from there, leaving no name behind. Where no
// such file can be made, the error says so and names the pipe.
TEST(MappedFile, PipesAreCopiedIntoAnUnnamedScratchFile) {
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
}

// Files whose size reads 0 (/proc) or that do not map (/sys) are read.
TEST(MappedFile, FilesThatReportNoSizeOrDoNotMapAreRead) {
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
}

// Character devices and sockets have no content to scan.
TEST(MappedFile, CharacterDevicesAndSocketsAreNotRegularFiles) {
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
}

// A block device (a loop device over a file here) is mapped whole, with the
// size from the device: stat gives it 0.
TEST(MappedFile, BlockDevicesAreMappedWithTheDevicesSize) {
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
}

// A file that is there but out of reach says why; only a name that truly
// does not exist gets the missing-file text.
TEST(MappedFile, PermissionDeniedIsNotAbsence) {
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
}

TEST(MappedFile, UnreadableFileNamesTheReason) {
  test::TTempDir dir;
  const std::string path = dir / "secret";
  test::WriteFile(path, test::TBytes(100, 1));
  ::chmod(path.c_str(), 0000);
  ::chmod(dir.Path().c_str(), 0755);
  const auto seen = test::RunAsOrdinaryUser([&] { return ErrorOf(path); });
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Exception: File \"" + path + "\" cannot be opened: Permission denied.");
}

// What was copied has no file behind it to change: a pipe's scratch file,
// a /proc file read into memory.
TEST(MappedFile, CopiesNeverReportAChange) {
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
}

}  // namespace
}  // namespace quarn
