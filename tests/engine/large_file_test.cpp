// A stream that lies past 4 GiB in a sparse file. Kept apart from the
// other file tests: it reads 4 GiB of holes, which takes a while.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/scan_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

class ScanFileTest : public testing::Test {
 protected:
  test::TTempDir dir_;
};

// A sparse file with one zlib stream just past 4 GiB: offsets and sizes
// must survive 64-bit positions.
TEST_F(ScanFileTest, StreamPastFourGiBInASparseFile) {
  const std::string path = dir_ / "sparse.bin";
  const test::TBytes text = test::MakeText(50000);
  const test::TBytes stream = test::Zlib(text);
  const int64_t at = (int64_t{1} << 32) + 12345;
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, stream.data(), stream.size(), at), static_cast<ssize_t>(stream.size()));
    ASSERT_EQ(::ftruncate(fd, at + static_cast<int64_t>(stream.size()) + 100), 0);
    ::close(fd);
  }
  struct TOffsets : TScanSink {
    std::vector<int64_t> offsets;
    bool StreamFound(int32_t, const TMappedFile&, const TFoundStream& s) override {
      offsets.push_back(s.OffsetBytes);
      return true;
    }
  } listener;
  TScanState state;
  RunScan({path}, state, &listener);
  EXPECT_EQ(state.Z.load(), 1);
  EXPECT_EQ(state.zin.load(), static_cast<int64_t>(stream.size()) - 6);
  EXPECT_EQ(state.zout.load(), static_cast<int64_t>(text.size()));
  EXPECT_EQ(state.i.load(), at + static_cast<int64_t>(stream.size()) + 100);
  EXPECT_EQ(listener.offsets, std::vector<int64_t>{at + 2});
}

}  // namespace
}  // namespace quarn
