// quarn-scan on inputs that are not plain files in a plain folder: pipes
// and standard input, /proc files (those that never end too), devices,
// sockets, linked folders and their loops, trees deeper than the path
// limit, and folders and files that an ordinary user may not read. Each must tell the truth: every byte
// counted, or an error that names the path and the reason.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "tests/support/deep_tree.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

const std::string kScan = QUARN_SCAN_PATH;

#ifdef _WIN32
// quarn-scan with `args`, its standard input the content of `file`: through
// a pipe that a thread fills (`throughPipe`), or the file itself.
test::TProgramResult RunWithStandardInput(const std::vector<std::string>& args, const std::string& file,
                                          bool throughPipe) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = INVALID_HANDLE_VALUE, feed = nullptr;
  if (throughPipe) {
    if (!CreatePipe(&input, &feed, &inherit, 0)) return {};
    SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
  } else {
    input = CreateFileW(test::detail::Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) return {};
  }
  std::thread writer;
  if (feed != nullptr) {
    writer = std::thread([&] {
      std::ifstream in(std::filesystem::u8path(file), std::ios::binary);
      const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      for (std::size_t at = 0; at < content.size(); at += 7000) {
        DWORD written = 0;
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(7000, content.size() - at));
        if (!WriteFile(feed, content.data() + at, n, &written, nullptr)) break;
      }
      CloseHandle(feed);
    });
  }
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, input);  // RunProgram hands its own standard input on
  const test::TProgramResult r = test::RunProgram(kScan, args);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(input);
  if (writer.joinable()) writer.join();
  return r;
}
#else
test::TProgramResult Shell(const std::string& script) { return test::RunProgram("/bin/bash", {"-c", script}); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }
#endif

class QuarnScanInputs : public testing::Test {
 protected:
  void SetUp() override {
    text_ = test::MakeText(30000, 3);
    test::TLayout layout;
    layout.Zeros(40);
    layout.Append(test::Zlib(text_));
    layout.Zeros(40);
    bytes_ = layout.Bytes();
    test::WriteFile(dir_ / "one.bin", bytes_);
  }
  test::TTempDir dir_;
  test::TBytes text_, bytes_;
};

// The same stream through a pipe, standard input, process substitution and
// /dev/stdin: one stream and every byte, as for the file itself.
TEST_F(QuarnScanInputs, PipesAndStandardInputAreScannedWhole) {
#ifdef _WIN32
  // Standard input as a pipe that another thread fills, and as a file.
  const std::string file = dir_ / "one.bin";
  const test::TProgramResult results[] = {
      test::RunProgram(kScan, {"--json", file}),
      RunWithStandardInput({"--json", "-"}, file, true),
      RunWithStandardInput({"--json", "-"}, file, false),
  };
  for (const test::TProgramResult& r : results) {
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["input_bytes"], bytes_.size());
    EXPECT_EQ(j["header_streams"], 1);
    EXPECT_EQ(j["inflated_bytes"], text_.size());
  }
#else
  const std::string file = Quote(dir_ / "one.bin");
  const std::string scan = Quote(kScan);
  const std::string scripts[] = {
      scan + " --json " + file,
      "cat " + file + " | " + scan + " --json -",
      "cat " + file + " | " + scan + " --json /dev/stdin",
      scan + " --json <(cat " + file + ")",
      scan + " --json - < " + file,
  };
  for (const std::string& script : scripts) {
    const test::TProgramResult r = Shell(script);
    ASSERT_EQ(r.status, 0) << script << "\n" << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["input_bytes"], bytes_.size()) << script;
    EXPECT_EQ(j["header_streams"], 1) << script;
    EXPECT_EQ(j["inflated_bytes"], text_.size()) << script;
  }
#endif
}

TEST_F(QuarnScanInputs, ProcFilesAreScannedWithTheirContent) {
#ifdef _WIN32
  GTEST_SKIP() << "/proc is Linux";
#else
  const test::TProgramResult r = test::RunProgram(kScan, {"--json", "/proc/self/maps"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(nlohmann::json::parse(r.out)["input_bytes"].get<int64_t>(), 100);
#endif
}

// Named on the command line, a character device or a socket is an error;
// in a listed folder it is left out, with one notice for all of them.
TEST_F(QuarnScanInputs, DevicesAndSocketsAreNotRegularFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs, sockets and device nodes in the file system are POSIX";
#else
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
#endif
}

// A linked folder is scanned; a link that leads back up is skipped with a
// notice, and everything else is still counted.
TEST_F(QuarnScanInputs, LinkedFoldersAreEnteredAndLoopsSkippedWithANotice) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows; wine makes none";
#else
  std::filesystem::create_directories(dir_ / "top/real");
  test::WriteFile(dir_ / "top/real/in.bin", bytes_);
  std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "top/linked");
  std::filesystem::create_directory(dir_ / "elsewhere");
  test::WriteFile(dir_ / "elsewhere/there.bin", bytes_);
  std::filesystem::create_symlink(dir_ / "top", dir_ / "top/real/up");
  const test::TProgramResult r = test::RunProgram(kScan, {"--recursive", "--json", dir_ / "top"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], 2);
  EXPECT_EQ(j["header_streams"], 2);
  EXPECT_EQ(r.err, "quarn-scan: not entering \"" + dir_ / "top/real/up" + "\": it leads back to a folder above it\n");
#endif
}

// /proc files that never end, or that wait for events, end in an error:
// neither may take the machine's memory or hold the scan for ever.
TEST_F(QuarnScanInputs, ProcFilesThatNeverEndOrWaitAreRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "/proc is Linux";
#else
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
#endif
}

// Every file of a tree deeper than the path limit is scanned.
TEST_F(QuarnScanInputs, TreesDeeperThanThePathLimitAreScannedWhole) {
  test::TTempDir memory(test::MemoryBackedTempBase());
  std::set<int> levels;
  const int depth = test::kLevelsPastThePathLimit;
  for (int level = depth / 20; level <= depth; level += depth / 20) levels.insert(level);
  levels.insert(1);
  const test::TDeepTree tree(memory.Path(), depth, levels, bytes_);
  const test::TProgramResult r = test::RunProgram(kScan, {"--recursive", "--json", memory.Path()});
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 500);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], levels.size());
  EXPECT_EQ(j["header_streams"], levels.size());
}

// As an ordinary user: a folder that may not be read, at the top or below,
// is an error naming it; a file in a folder that may not be searched says
// that permission was denied, not that it does not exist.
TEST_F(QuarnScanInputs, WhatAnOrdinaryUserMayNotReadIsAnErrorWithTheReason) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and an ordinary user to drop to are POSIX";
#else
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
#endif
}

}  // namespace
}  // namespace quarn
