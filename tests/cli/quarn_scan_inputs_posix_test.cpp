// quarn-scan on inputs that only POSIX has: /proc files (those that never
// end too), devices and sockets, and folders and files that an ordinary
// user may not read. Built only where POSIX is, into the same program as
// quarn_scan_inputs_test.cpp.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

#include "tests/cli/quarn_scan_inputs_fixture.h"

namespace quarn {
namespace {

TEST_F(QuarnScanInputs, ProcFilesAreScannedWithTheirContent) {
  const test::TProgramResult r = test::RunProgram(kScan, {"--json", "/proc/self/maps"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(nlohmann::json::parse(r.out)["input_bytes"].get<int64_t>(), 100);
}

// Named on the command line, a character device or a socket is an error;
// in a listed folder it is left out, with one notice for all of them.
TEST_F(QuarnScanInputs, DevicesAndSocketsAreNotRegularFiles) {
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir_ / "socket";
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);

  for (const std::string& path : {std::string("/dev/null"), socketPath}) {
    // The engine's own text, as --fail-fast passes it on.
    const test::TProgramResult r = test::RunProgram(kScan, {"--fail-fast", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File \"" + path + "\" is not a regular file."), std::string::npos) << r.err;
  }
  const test::TProgramResult listed = test::RunProgram(kScan, {dir_.Path()});
  ::close(sock);
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("Files scanned: 1\n"), std::string::npos) << listed.out;
  EXPECT_EQ(std::count(listed.err.begin(), listed.err.end(), '\n'), 1) << listed.err;
  EXPECT_NE(listed.err.find("left out 2 entries that are not regular files"), std::string::npos) << listed.err;
}

// /proc files that never end, or that wait for events, end in an error:
// neither may take the machine's memory or hold the scan for ever.
TEST_F(QuarnScanInputs, ProcFilesThatNeverEndOrWaitAreRefused) {
  if (::access("/proc/self/pagemap", R_OK) != 0) GTEST_SKIP() << "no /proc/self/pagemap";
  std::string bound;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  bound = "ulimit -v 4000000; ";  // unbounded, the scan would read hundreds of GiB into memory
#endif
  const test::TProgramResult r = Shell(bound + "exec " + Quote(kScan) + " /proc/self/pagemap");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.err, "quarn-scan: /proc/self/pagemap: cannot be read: its size reads 0, and it goes on past 256 MiB\n");

  // /proc/kmsg waits for the kernel's next message (where it may be opened at all).
  const test::TProgramResult k = Shell("timeout -k 5 60 " + Quote(kScan) + " /proc/kmsg");
  EXPECT_EQ(k.status, 1) << k.err;
  EXPECT_EQ(k.err.rfind("quarn-scan: /proc/kmsg: ", 0), 0u) << k.err;
}

// As an ordinary user: a folder that may not be read, at the top or below,
// is an error naming it; a file in a folder that may not be searched says
// that permission was denied, not that it does not exist.
TEST_F(QuarnScanInputs, WhatAnOrdinaryUserMayNotReadIsAnErrorWithTheReason) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ::chmod(dir_.Path().c_str(), 0755);
  std::filesystem::create_directories(dir_ / "tree/locked");
  test::WriteFile(dir_ / "tree/locked/b.bin", bytes_);
  ::chmod((dir_ / "tree/locked").c_str(), 0000);
  auto asNobody = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", kScan});
    return test::RunProgram("/usr/bin/setpriv", args);
  };
  struct TCase {
    std::vector<std::string> args;
    std::string error;
  };
  const TCase cases[] = {
      {{"--fail-fast", dir_ / "tree/locked"}, "Folder \"" + dir_ / "tree/locked" + "\" cannot be listed: Permission denied.\n"},
      {{"--fail-fast", "--recursive", dir_ / "tree"}, "Folder \"" + dir_ / "tree/locked" + "\" cannot be listed: Permission denied.\n"},
      {{"--fail-fast", dir_ / "tree/locked/b.bin"}, "File \"" + dir_ / "tree/locked/b.bin" + "\" cannot be opened: Permission denied.\n"},
  };
  for (const TCase& c : cases) {
    const test::TProgramResult r = asNobody(c.args);
    if (r.status == 127 || r.err.find("setpriv") != std::string::npos) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), c.error.size())), c.error);
    EXPECT_EQ(r.out.find("Files scanned"), std::string::npos) << r.out;
  }
  // Going on past it, the message names the folder once, with the scan's
  // totals still printed and the failure in the status.
  const test::TProgramResult r = asNobody({"--recursive", dir_ / "tree"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.err, "quarn-scan: Folder \"" + dir_ / "tree/locked" + "\" cannot be listed: Permission denied\n");
  EXPECT_NE(r.out.find("Files scanned: 0"), std::string::npos) << r.out;
  ::chmod((dir_ / "tree/locked").c_str(), 0755);
}

}  // namespace
}  // namespace quarn
