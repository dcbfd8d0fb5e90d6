// quarn-scan end to end where POSIX is needed: names that are not UTF-8
// (Windows names are UTF-16, so every one has a UTF-8 form), files that
// fail beside good ones, Ctrl-C, and a terminal made by script(1) with a
// FIFO among the files. Built only where POSIX is, into the same program
// as quarn_scan_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli/name_text.h"
#include "tests/cli/quarn_scan_fixture.h"

namespace quarn {
namespace {

TEST_F(QuarnScan, NamesThatAreNotUtf8AreScanned) {
  const std::string odd = dir_ / "odd-\xff\xfe.bin";
  test::WriteFile(odd, test::Zlib(text_));
  const test::TProgramResult r = Scan({"--list", "--json", odd});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["header_streams"], 1);
  ASSERT_EQ(j["streams_found"].size(), 1u);
  EXPECT_NE(j["streams_found"][0]["file"].get<std::string>().find("odd-"), std::string::npos);
  EXPECT_EQ(j["streams_found"][0]["file_bytes"], cli::Base64(odd));
}

// The files that fail are named on stderr; every other one is scanned and
// counted, in any number of threads.
TEST_F(QuarnScan, KeepsGoingPastFilesThatFail) {
  const std::string missing = dir_ / "missing.bin";
  for (const char* threads : {"1", "4"}) {
    const test::TProgramResult r =
        Scan({"--json", "-j", threads, missing, dir_ / "mixed.bin", dir_ / "no-dir/", dir_ / "sub/noise.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quarn-scan: " + missing + ": No such file or directory\nquarn-scan: " + dir_ / "no-dir/" +
                         ": No such file or directory\n");
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["files_scanned"], 2);
    EXPECT_EQ(j["files_failed"], 2);
    EXPECT_EQ(j["input_bytes"], std::filesystem::file_size(dir_ / "mixed.bin") + 300000);
    EXPECT_EQ(j["header_streams"], 1);
  }
}

// Ctrl-C stops the scan: no further file is started, the status is that of
// SIGINT (130 in a shell), and the partial totals are not printed as a
// report. The program is held in a write to a full pipe while the signal
// comes, so it cannot have finished before.
TEST_F(QuarnScan, InterruptStopsCleanlyWithoutAReport) {
  test::TLayout many;
  for (uint32_t k = 0; k < 150; ++k) {
    many.Append(test::Zlib(test::MakeText(3000, k), 9));
    many.Zeros(8);
  }
  many.Zeros(64);
  std::vector<std::string> args = {"-l", "-q", "-j", "1"};
  for (int k = 0; k < 20; ++k) {
    const std::string name = dir_ / ("many-" + std::to_string(k) + ".bin");
    test::WriteFile(name, many.Bytes());
    args.push_back(name);
  }
  int outPipe[2], errPipe[2];
  ASSERT_EQ(::pipe(outPipe), 0);
  ASSERT_EQ(::pipe(errPipe), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) ::close(fd);
    std::vector<char*> argv = {const_cast<char*>(QUARN_SCAN_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(QUARN_SCAN_PATH, argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ::usleep(300 * 1000);  // the rows of a few files fill the pipe; then it waits
  ::kill(child, SIGINT);
  std::string out, err;
  for (auto [fd, sink] : {std::pair{outPipe[0], &out}, std::pair{errPipe[0], &err}}) {
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) sink->append(chunk, static_cast<std::size_t>(got));
    ::close(fd);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << err;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(out.find("Files scanned"), std::string::npos) << "no report of a partial scan";
  EXPECT_EQ(out.find("many-19.bin"), std::string::npos) << "the last file was never started";
  ASSERT_EQ(err.rfind("quarn-scan: interrupted; ", 0), 0u) << err;
  EXPECT_NE(err.find(" of 20 files were scanned whole\n"), std::string::npos) << err;
}

// Where stdout and stderr are the same terminal, the rows written during
// the scan start on a line of their own, never at the end of the progress
// line. `script` gives the program a terminal; a pipe among the files holds
// the scan until its stream comes, well after the line's first update.
TEST_F(QuarnScan, RowsOnATerminalNeverLandOnTheProgressLine) {
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "no script(1) to make a terminal";
  test::WriteFile(dir_ / "before.bin", zlib_);
  const std::string pipe = dir_ / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // A reader of our own lets the writing end open now; the scan then finds
  // a writer there and waits for the stream.
  const int held = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const int fd = ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the line is drawn every 200 ms
    [[maybe_unused]] const ssize_t put = ::write(fd, zlib_.data(), zlib_.size());
    ::close(fd);
  });
  const test::TProgramResult r = test::RunProgram(
      "/usr/bin/script",
      {"-qec", std::string(QUARN_SCAN_PATH) + " -j 1 --list " + (dir_ / "before.bin") + " " + pipe, "/dev/null"});
  writer.join();
  ::close(held);
  ASSERT_EQ(r.status, 0) << r.out;
  int rows = 0, progress = 0;
  for (const std::string& line : SplitLines(r.out)) {
    progress += line.find(" left") != std::string::npos ? 1 : 0;
    const std::size_t row = line.find(dir_.Path());
    if (row == std::string::npos) continue;
    ++rows;
    // Whatever was drawn before the row on this line was erased first.
    std::string before = line.substr(0, row);
    const std::size_t erase = before.rfind("\033[K");
    if (erase != std::string::npos) before.erase(0, erase + 3);
    EXPECT_EQ(before, "") << line;
  }
  EXPECT_EQ(rows, 2) << r.out;
  EXPECT_GT(progress, 0) << r.out;
}

}  // namespace
}  // namespace quarn
