// Per-file runs: the claim order through j, the size total, missing files,
// and a file cut short during its scan.
#include "engine/scan_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>

#include "engine/aggregate_error.h"
#include "engine/scan_run.h"
#include "tests/support/cut_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

class ScanFileTest : public testing::Test {
 protected:
  test::TTempDir dir_;
};

TEST_F(ScanFileTest, EveryEntryOnceAndSizesAdded) {
  std::vector<std::string> files;
  int64_t total = 0;
  for (int n = 0; n < 7; ++n) {
    const std::string name = dir_ / ("f" + std::to_string(n));
    test::WriteFile(name, test::TBytes(static_cast<std::size_t>(n * 50), 0));  // 0 .. 300 bytes
    files.push_back(name);
    total += n * 50;
  }
  TScanState state;
  RunScan(files, state);
  EXPECT_EQ(state.j.load(), 6);
  EXPECT_EQ(state.i.load(), total);
}

TEST_F(ScanFileTest, MissingFileAddsNothing) {
  test::WriteFile(dir_ / "there", test::TBytes(1000, 0));
  const std::vector<std::string> files = {dir_ / "missing"};
  TScanState state;
  EXPECT_THROW(ScanFile(files, state, 0), TQuarnError);
  EXPECT_EQ(state.i.load(), 0);
  EXPECT_EQ(state.j.load(), 0);
}

// Truncates the file as soon as its first stream is found, while the scan
// still has most of the file ahead of it.
class TTruncateOnFirstStream : public TScanSink {
 public:
  explicit TTruncateOnFirstStream(std::string path) : path_(std::move(path)) {}
  bool StreamFound(int32_t, const TMappedFile&, const TFoundStream&) override {
    std::call_once(once_, [&] { ASSERT_TRUE(test::CutFileShort(path_, 0)); });
    return true;
  }

 private:
  std::string path_;
  std::once_flag once_;
};

// The run fails once the scan is over, and the file's size is not added.
TEST_F(ScanFileTest, FileCutShortDuringItsScanAddsNothingToI) {
  const std::string path = dir_ / "shrinks.bin";
  test::TLayout layout;
  layout.Zeros(100);
  layout.Append(test::Zlib(test::MakeText(20000)));
  layout.Append(test::MakeNoise(1 << 20, 4));
  test::WriteFile(path, layout.Bytes());
  TScanState state;
  TTruncateOnFirstStream listener(path);
  EXPECT_THROW(ScanFile({path}, state, 0, &listener), TQuarnError);
  EXPECT_EQ(state.i.load(), 0);
  EXPECT_EQ(state.j.load(), 0);
}

TEST_F(ScanFileTest, FileCutShortDuringItsScanFailsWithItsName) {
  if (!test::CanCutMappedFiles()) GTEST_SKIP() << "this system keeps mapped files from being cut short";
  const std::string path = dir_ / "shrinks.bin";
  test::TLayout layout;
  layout.Zeros(100);
  layout.Append(test::Zlib(test::MakeText(20000)));
  layout.Append(test::MakeNoise(4 << 20, 3));
  test::WriteFile(path, layout.Bytes());
  test::WriteFile(dir_ / "fine.bin", test::TBytes(5000, 0));
  const std::vector<std::string> files = {path, dir_ / "fine.bin"};
  TScanState state;
  state.Options.Headerless = true;
  TTruncateOnFirstStream listener(path);
  try {
    RunScan(files, state, &listener);
    FAIL() << "expected the combined error";
  } catch (const TAggregateError& e) {
    EXPECT_EQ(std::string(e.what()), "One or more errors occurred\n1 exception(s):\n#0 Exception: File \"" +
                                         path + "\" changed while it was being scanned.");
  }
}

}  // namespace
}  // namespace quarn
