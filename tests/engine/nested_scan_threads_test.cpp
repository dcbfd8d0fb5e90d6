// The nested scan in the scan's workers: several files at once, and a
// large file whose chunks several workers scan, each stream with the
// streams nested in it and the file's counts those of a scan without
// depth. Run in the thread sanitizer's tree too.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/chunked_scan.h"
#include "engine/scan_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::Concat;
using test::TBytes;

// Every file's streams, with the starts of the streams nested in each.
class TNestingSink final : public TScanSink {
 public:
  bool StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    std::vector<int64_t> starts;
    if (stream.Nested) {
      for (const TFoundStream& inside : *stream.Nested) {
        starts.push_back(inside.StartBytes());
        if (inside.Nested) starts.push_back(inside.Nested->at(0).StartBytes());
      }
    }
    const std::lock_guard<std::mutex> hold(lock_);
    Found[fileIndex].push_back({stream.StartBytes(), starts});
    return true;
  }
  std::map<int32_t, std::vector<std::pair<int64_t, std::vector<int64_t>>>> Found;

 private:
  std::mutex lock_;
};

TEST(NestedScanThreads, EveryWorkerFindsTheStreamsInsideItsFilesStreams) {
  const TBytes inner = test::Zlib(test::MakeText(20000, 7));
  const TBytes middle = test::Zlib(Concat({test::MakeText(3000, 8), inner, test::MakeText(400, 9)}));
  const TBytes outer = test::Zlib(Concat({test::MakeText(2000, 10), middle, test::MakeText(400, 11)}));
  test::TTempDir dir;
  std::vector<std::string> files;
  std::vector<int64_t> at;
  for (int k = 0; k < 6; ++k) {
    // The last file is past the chunk size, its stream beyond the first chunk.
    const int64_t before = k == 5 ? kScanChunkBytes + 12345 : 100 * k + 7;
    files.push_back(dir / ("f" + std::to_string(k)));
    at.push_back(before);
    test::WriteFile(files.back(), Concat({TBytes(static_cast<std::size_t>(before), 0), outer, TBytes(3000, 0)}));
  }

  TScanState plain;
  RunScan(files, plain, nullptr, 4);
  TScanState state;
  state.Options.Depth = 3;
  TNestingSink sink;
  RunScan(files, state, &sink, 4);
  EXPECT_EQ(state.Counts(), plain.Counts());
  ASSERT_EQ(sink.Found.size(), files.size());
  for (int32_t k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(sink.Found[k].size(), 1u);
    EXPECT_EQ(sink.Found[k][0].first, at[static_cast<std::size_t>(k)]);
    EXPECT_EQ(sink.Found[k][0].second, (std::vector<int64_t>{2000, 3000}));
  }
}

}  // namespace
}  // namespace quarn
