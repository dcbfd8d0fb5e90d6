// Report lines and summary texts of a finished scan, exactly as the window
// and the command line show them.
#include "engine/scan_report.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using TLines = std::vector<std::string>;

TStreamCounts WithFiles(TStreamCounts counts, int64_t files) {
  counts.Files = files;
  return counts;
}

TEST(ScanReport, NothingFound) {
  TStreamCounts state;
  state.i = 5 * 1024 * 1024;
  const TScanReport off = BuildScanReport(WithFiles(state, 3), false);
  EXPECT_EQ(off.Lines, (TLines{"Files scanned: 3", "Total input size: 5.00 MB",
                               "Total output size: 5.00 MB",
                               "Potential zlib streams with headers: 0", "Potential zlib streams: 0"}));
  EXPECT_EQ(off.PotentialStreams, "0");
  EXPECT_EQ(off.ZlibbedInput, "0.00 MB");
  EXPECT_EQ(off.ZlibbedOutput, "0.00 MB");

  const TScanReport on = BuildScanReport(WithFiles(state, 3), true);
  ASSERT_EQ(on.Lines.size(), 6u);
  EXPECT_EQ(on.Lines[3], "Potential headerless zlib streams: 0");
}

TEST(ScanReport, NoFilesAtAll) {
  TStreamCounts state;
  EXPECT_EQ(BuildScanReport(WithFiles(state, 0), false).Lines,
            (TLines{"Files scanned: 0", "Total input size: 0.00 MB", "Total output size: 0.00 MB",
                    "Potential zlib streams with headers: 0", "Potential zlib streams: 0"}));
}

TEST(ScanReport, HeaderlessOnlyLeavesOutputSizeAtInputSize) {
  TStreamCounts state;
  state.i = 2048 * 1024;
  state.hless = 4;
  state.zin = 1024 * 1024;
  state.zout = 10 * 1024 * 1024;
  const TScanReport r = BuildScanReport(WithFiles(state, 1), true);
  EXPECT_EQ(r.Lines[1], "Total input size: 2.00 MB");
  EXPECT_EQ(r.Lines[2], "Total output size: 2.00 MB");
  EXPECT_EQ(r.Lines[3], "Potential headerless zlib streams: 4");
  EXPECT_EQ(r.PotentialStreams, "4");
  EXPECT_EQ(r.ZlibbedInput, "1.00 MB");
  EXPECT_EQ(r.ZlibbedOutput, "10.0 MB");
  // With Headerless off the line is left out, whatever hless holds.
  EXPECT_EQ(BuildScanReport(WithFiles(state, 1), false).Lines.size(), 5u);
}

TEST(ScanReport, EveryLineInOrder) {
  TStreamCounts state;
  state.i = 100 * 1024 * 1024;
  state.Z = 3;
  state.hless = 2;
  state.zin = 10 * 1024 * 1024;
  state.zout = 40 * 1024 * 1024 + 1023;  // a partial kibibyte is dropped
  state.WindowBits(15) = 2;
  state.WindowBits(9) = 1;
  state.l[0] = 1;
  state.l[2] = 2;
  const TScanReport r = BuildScanReport(WithFiles(state, 7), true);
  EXPECT_EQ(r.Lines, (TLines{"Files scanned: 7", "Total input size: 100 MB",
                             "Total output size: 130 MB", "Potential headerless zlib streams: 2",
                             "Potential zlib streams with headers: 3", "Potential zlib streams: 5",
                             "Zlib streams with windowsize 9: 1", "Zlib streams with windowsize 15: 2",
                             "Zlib streams with FLEVEL 0: 1", "Zlib streams with FLEVEL 2: 2"}));
  EXPECT_EQ(r.PotentialStreams, "5");
  EXPECT_EQ(r.ZlibbedInput, "10.0 MB");
  EXPECT_EQ(r.ZlibbedOutput, "40.0 MB");
}

TEST(ScanReport, SmallTotalsAndSizesTooLargeToWrite) {
  TStreamCounts state;
  state.i = 1023;
  state.Z = 1;
  state.zin = 1023;
  state.zout = int64_t{1} << 62;  // beyond what a size text can say
  const TScanReport r = BuildScanReport(WithFiles(state, 1), false);
  EXPECT_EQ(r.Lines[1], "Total input size: 0.00 MB");
  EXPECT_EQ(r.Lines[2], "Total output size: ");
  EXPECT_EQ(r.ZlibbedInput, "0.00 MB");
  EXPECT_EQ(r.ZlibbedOutput, "");
}

}  // namespace
}  // namespace quarn
