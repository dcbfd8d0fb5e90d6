// The Scan button's behaviour through a fake window: which files a scan
// takes, what the window shows afterwards, and what a failed scan leaves.
#include "engine/scan_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "tests/engine/fake_window.h"
#include "tests/support/platform_traits.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/platform/file_system.h"

namespace quarn {
namespace {

using test::TFakeWindow;
using TLines = std::vector<std::string>;

class ScanDriver : public testing::Test {
 protected:
  void SetUp() override {
    FileList.clear();
    // Each file holds one zlib stream, so "Potential zlib streams" counts
    // the files scanned and tells which ones were.
    stream_ = test::Zlib(test::MakeText(20000));
    Write("a.bin");
    Write("b.bin");
    std::filesystem::create_directory(dir_ / "sub");
    Write("sub/c.bin");
    std::filesystem::create_directory(dir_ / "empty");
  }
  void TearDown() override { FileList.clear(); }

  void Write(const std::string& name) {
    test::TLayout layout;
    layout.Zeros(100);
    layout.Append(stream_);
    layout.Zeros(100);
    test::WriteFile(dir_ / name, layout.Bytes());
  }
  static std::string Line(const TFakeWindow& w, std::size_t n) { return n < w.log.size() ? w.log[n] : "<none>"; }

  test::TTempDir dir_;
  test::TBytes stream_;
};

TEST_F(ScanDriver, NothingSelectedShowsTheMessageAndChangesNothing) {
  TFakeWindow w;
  w.log = {"kept"};
  Button2Click(w);
  EXPECT_EQ(w.messageBoxes, TLines{"No files were selected|"});
  EXPECT_EQ(w.status, "Status: Not initialized");
  EXPECT_EQ(w.log, TLines{"kept"});
  EXPECT_EQ(w.edit2, "old2");
  EXPECT_EQ(w.eventPoints, 0);
}

TEST_F(ScanDriver, Edit1FileIsScannedAloneEvenAfterADrop) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "b.bin"});
  w.edit1 = dir_ / "a.bin";
  Button2Click(w);
  EXPECT_EQ(w.status, "Status: Finished");
  EXPECT_EQ(Line(w, 0), "Files scanned: 1");
  EXPECT_EQ(w.edit2, "1");
  EXPECT_TRUE(FileList.empty());
  EXPECT_EQ(w.eventPoints, 2);
}

TEST_F(ScanDriver, DroppedItemsAreScannedAsTheyAre) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "sub/c.bin"});
  w.recursive = true;  // no effect without "Scan whole directory"
  Button2Click(w);
  EXPECT_EQ(Line(w, 0), "Files scanned: 2");
  EXPECT_EQ(w.edit2, "2");
  // A second Scan has nothing left to scan: the drop emptied Edit1.
  Button2Click(w);
  EXPECT_EQ(w.messageBoxes, TLines{"No files were selected|"});
}

TEST_F(ScanDriver, WholeDirectoryListings) {
  struct TCase {
    const char* name;
    std::vector<std::string> dropped;
    std::string edit1;
    bool recursive;
    int64_t files;
  };
  const std::string d = dir_.Path();
  const TCase cases[] = {
      {"one directory dropped", {d}, "", false, 2},
      {"one directory dropped, recursive", {d}, "", true, 3},
      {"one file dropped lists its directory", {d + "/a.bin"}, "", false, 2},
      // What the user did last wins.
      {"a file typed after a drop lists the typed file's directory", {d + "/a.bin"}, d + "/sub/c.bin", true, 1},
      {"a folder typed after a drop is listed", {d + "/a.bin"}, d + "/sub", false, 1},
      // A typed folder is listed itself, with or without a trailing slash.
      {"Edit1 directory is listed itself", {}, d + "/sub", false, 1},
      {"Edit1 directory with a trailing slash", {}, d + "/sub/", false, 1},
      {"Edit1 directory, recursive", {}, d, true, 3},
      {"Edit1 file lists its directory", {}, d + "/sub/c.bin", false, 1},
      {"empty directory", {d + "/empty"}, "", true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeWindow w;
    w.Drop(c.dropped);
    if (!c.edit1.empty()) w.Type(c.edit1);
    w.scanWholeDirectory = true;
    w.recursive = c.recursive;
    Button2Click(w);
    EXPECT_EQ(w.status, "Status: Finished");
    EXPECT_EQ(Line(w, 0), "Files scanned: " + std::to_string(c.files));
    EXPECT_EQ(w.edit2, std::to_string(c.files));
    EXPECT_TRUE(FileList.empty());
  }
}

TEST_F(ScanDriver, SeveralDroppedItemsAreNotListedAndADirectoryAmongThemFails) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "sub"});
  w.scanWholeDirectory = true;
  try {
    Button2Click(w);
    FAIL() << "expected the combined error";
  } catch (const TAggregateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "One or more errors occurred\n1 exception(s):\n#0 Exception: File \"" + dir_ / "sub" +
                  "\" is a folder, not a file.");
  }
  EXPECT_EQ(Line(w, 0), "Files scanned: 1");
}

// One file that fails loses nothing of the others: their report, then the
// failed files, in the log; the combined error for the error display.
TEST_F(ScanDriver, FailedFilesFollowTheReportOfTheFilesScannedWhole) {
  TFakeWindow w;
  w.Drop({dir_ / "gone.bin", dir_ / "a.bin", dir_ / "b.bin", dir_ / "gone too.bin"});
  try {
    Button2Click(w);
    FAIL() << "expected the combined error";
  } catch (const TAggregateError& e) {
    EXPECT_EQ(std::string(e.what()), "One or more errors occurred\n2 exception(s):\n#0 Exception: File \"" +
                                         dir_ / "gone.bin" + "\" does not exists.\n#1 Exception: File \"" +
                                         dir_ / "gone too.bin" + "\" does not exists.");
  }
  EXPECT_EQ(w.status, "Status: Finished");
  ASSERT_GE(w.log.size(), 3u);
  EXPECT_EQ(Line(w, 0), "Files scanned: 2");
  EXPECT_EQ(w.edit2, "2");
  EXPECT_EQ(Line(w, w.log.size() - 4), "Total zlibbed output: " + w.edit4);  // the report ends before them
  const TLines tail(w.log.end() - 3, w.log.end());
  EXPECT_EQ(tail, (TLines{"Files not scanned: 2", "File \"" + dir_ / "gone.bin" + "\" does not exists.",
                          "File \"" + dir_ / "gone too.bin" + "\" does not exists."}));
  // The list is emptied as after a good scan: with Edit1 empty the next
  // Scan has nothing selected, rather than retrying names that the window
  // no longer shows.
  EXPECT_TRUE(FileList.empty());
  Write("gone.bin");
  Button2Click(w);
  EXPECT_EQ(w.messageBoxes, TLines{"No files were selected|"});
}

// The log's notes for the names of `folder`'s files that a listing leaves
// out, worked out with the standard library's walk (which follows the file
// system's order, as the listing does) and its own test of sameness: of
// the names of one file, the first stays.
TLines ExpectedSameFileNotes(const std::string& folder) {
  TLines kept, notes;
  for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(folder)) {
    const std::string name = folder + "/" + e.path().filename().string();
    if (!std::filesystem::is_regular_file(name)) continue;
    const auto first = std::find_if(kept.begin(), kept.end(),
                                     [&](const std::string& k) { return std::filesystem::equivalent(k, name); });
    if (first == kept.end()) {
      kept.push_back(name);
    } else {
      notes.push_back("Left out \"" + name + "\": same file as \"" + *first + "\"");
    }
  }
  return notes;
}

// A file reached by several names (a name dropped twice, a hard link, a
// symbolic link) is scanned and counted once; after the report the log
// names each other name with the name scanned.
TEST_F(ScanDriver, FileReachedBySeveralNamesIsScannedOnceAndTheOthersNamed) {
  std::filesystem::create_hard_link(dir_ / "sub/c.bin", dir_ / "sub/hard");
  if (test::kCanMakeSymbolicLinks) std::filesystem::create_symlink(dir_ / "sub/c.bin", dir_ / "sub/link");
  const TLines inSub = ExpectedSameFileNotes(dir_ / "sub");
  ASSERT_EQ(inSub.size(), test::kCanMakeSymbolicLinks ? 2u : 1u);
  struct TCase {
    const char* name;
    std::function<void(TFakeWindow&)> select;
    int64_t files;
    TLines notes;
  };
  const std::string a = dir_ / "a.bin", c = dir_ / "sub/c.bin", hard = dir_ / "sub/hard";
  const TCase cases[] = {
      {"a file dropped twice", [&](TFakeWindow& w) { w.Drop({a, a}); }, 1,
       {"Left out \"" + a + "\": same file as \"" + a + "\""}},
      {"a hard link dropped before its file", [&](TFakeWindow& w) { w.Drop({hard, a, c}); }, 2,
       {"Left out \"" + c + "\": same file as \"" + hard + "\""}},
      {"a typed file's folder",
       [&](TFakeWindow& w) {
         w.Type(c);
         w.scanWholeDirectory = true;
       },
       1, inSub},
      {"a dropped folder",
       [&](TFakeWindow& w) {
         w.Drop({dir_ / "sub"});
         w.scanWholeDirectory = true;
       },
       1, inSub},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.name);
    FileList.clear();
    TFakeWindow w;
    k.select(w);
    Button2Click(w);
    EXPECT_EQ(w.status, "Status: Finished");
    EXPECT_EQ(Line(w, 0), "Files scanned: " + std::to_string(k.files));
    EXPECT_EQ(w.edit2, std::to_string(k.files));
    // The notes follow the report's last line.
    const auto last = std::find(w.log.begin(), w.log.end(), "Total zlibbed output: " + w.edit4);
    ASSERT_NE(last, w.log.end());
    EXPECT_EQ(TLines(last + 1, w.log.end()), k.notes);
  }
}

// When no file was scanned whole, the status says so and the boxes show
// that scan's zeros, not an earlier scan's numbers.
TEST_F(ScanDriver, NoFileScannedWholeLeavesStatusReadyAndNoOldNumbers) {
  TFakeWindow w;
  w.Drop({dir_ / "gone.bin"});
  EXPECT_THROW(Button2Click(w), TAggregateError);
  EXPECT_EQ(w.status, "Status: Ready");
  EXPECT_EQ(Line(w, 0), "Files scanned: 0");
  EXPECT_EQ(w.edit2, "0");
  EXPECT_NE(w.edit3, "old3");
  EXPECT_NE(w.edit4, "old4");
}

// A folder typed without "Scan whole directory" is named as a folder, with
// the way to scan it, before anything changes.
TEST_F(ScanDriver, TypedFolderWithoutWholeDirectoryNamesTheWay) {
  TFakeWindow w;
  w.Type(dir_.Path());
  try {
    Button2Click(w);
    FAIL() << "expected the path error";
  } catch (const TPathError& e) {
    EXPECT_EQ(std::string(e.what()),
              "\"" + dir_.Path() + "\" is a folder: tick \"Scan whole directory\" to scan the files in it");
  }
  EXPECT_EQ(w.status, "Status: Not initialized");
  EXPECT_EQ(w.edit2, "old2");
}

TEST_F(ScanDriver, DirectoryThatCannotBeListedFailsBeforeTheScanStarts) {
  TFakeWindow w;
  w.edit1 = dir_ / "no-such-dir/file.bin";
  w.scanWholeDirectory = true;
  w.log = {"a", "b"};
  FileList = {"kept"};
  try {
    Button2Click(w);
    FAIL() << "expected a path error";
  } catch (const TPathError& e) {
    EXPECT_EQ(e.what(), "The specified path was not found: \"" + dir_ / "no-such-dir" + "\"");
  }
  EXPECT_EQ(w.status, "Status: Not initialized");
  EXPECT_EQ(w.log, (TLines{"a", "b"}));
  EXPECT_EQ(FileList, TLines{"kept"});
  EXPECT_EQ(w.eventPoints, 0);
}

// With "Scan whole directory", a bare name means the current directory, but
// only when it names something there: a name that names nothing is an
// error, not a scan of wherever the program was started.
TEST_F(ScanDriver, BareNameListsTheCurrentDirectoryOnlyWhenItExists) {
  const std::string saved = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.Path());
  TFakeWindow w;
  w.scanWholeDirectory = true;
  w.edit1 = "doesnotexist.bin";
  std::string error = "no error";
  try {
    Button2Click(w);
  } catch (const TPathError& e) {
    error = e.what();
  }
  EXPECT_EQ(error, "File \"doesnotexist.bin\" does not exists.");
  EXPECT_EQ(w.status, "Status: Not initialized");

  w.edit1 = "a.bin";
  Button2Click(w);
  std::filesystem::current_path(saved);
  EXPECT_EQ(Line(w, 0), "Files scanned: 2");  // a.bin and b.bin, not sub/ nor empty/
  EXPECT_EQ(w.status, "Status: Finished");
}

TEST_F(ScanDriver, EventsHandledAtTheFirstPointShapeTheScan) {
  TFakeWindow w;
  w.edit1 = dir_ / "a.bin";
  w.onEvents = [&](int point) {
    if (point != 1) return;
    w.Drop({dir_ / "a.bin", dir_ / "b.bin", dir_ / "sub/c.bin"});  // a drop queued during the scan
    w.headerless = true;                                              // and a tick
  };
  Button2Click(w);
  // The drop listed its names in the log after it was cleared; the report
  // follows them.
  EXPECT_EQ(Line(w, 2), dir_ / "sub/c.bin");
  EXPECT_EQ(Line(w, 3), "Files scanned: 3");
  EXPECT_EQ(Line(w, 6), "Potential headerless zlib streams: 0");
}

TEST_F(ScanDriver, ReportFillsTheLogAndTheSummaryBoxes) {
  TFakeWindow w;
  w.edit1 = dir_ / "a.bin";
  Button2Click(w);
  EXPECT_EQ(w.log, (TLines{"Files scanned: 1", "Total input size: 0.00 MB", "Total output size: 0.02 MB",
                           "Potential zlib streams with headers: 1", "Potential zlib streams: 1",
                           "Zlib streams with windowsize 15: 1", "Zlib streams with FLEVEL 2: 1",
                           "Total zlibbed input: 0.00 MB", "Total zlibbed output: 0.02 MB"}));
  EXPECT_EQ(w.edit2, "1");
  EXPECT_EQ(w.edit3, "0.00 MB");
  EXPECT_EQ(w.edit4, "0.02 MB");
}

// min(2 × P, N) files at once, out of 2 × P threads, for every front end;
// a number of threads asked for (quarn-scan -j) stands for 2 × P.
TEST(ScanThreads, TwiceTheProcessorsButNoMoreFilesAtOnceThanThereAre) {
  const int twiceP = 2 * platform::ProcessorCount();
  const struct {
    int32_t files;
    int requested;
    int threads;
    int filesAtOnce;
  } cases[] = {
      {0, 0, twiceP, 0},
      {1, 0, twiceP, 1},
      {3, 0, twiceP, std::min(3, twiceP)},
      {std::numeric_limits<int32_t>::max(), 0, twiceP, twiceP},
      {10, 3, 3, 3},
      {2, 3, 3, 2},
  };
  for (const auto& c : cases) {
    const TScanThreads policy = ScanThreadsFor(c.files, c.requested);
    EXPECT_EQ(policy.Threads, c.threads) << c.files << " " << c.requested;
    EXPECT_EQ(policy.FilesAtOnce, c.filesAtOnce) << c.files << " " << c.requested;
  }
}

// The window is told when a scan starts (before the event point that paints
// "Status: Scanning") and when it ends (after the last event point), on
// every path once files were to be scanned, and on none before that.
TEST_F(ScanDriver, WindowIsToldWhenTheScanStartsAndEnds) {
  struct TCase {
    const char* name;
    std::function<void(TFakeWindow&)> select;
    int points;  // event points the handler reaches
    bool started;
  };
  const TCase cases[] = {
      {"good scan", [&](TFakeWindow& w) { w.edit1 = dir_ / "a.bin"; }, 2, true},
      {"failed scan", [&](TFakeWindow& w) { w.Drop({dir_ / "gone.bin"}); }, 2, true},
      {"nothing selected", [](TFakeWindow&) {}, 0, false},
      {"bad directory",
       [&](TFakeWindow& w) {
         w.edit1 = dir_ / "no-such-dir/x";
         w.scanWholeDirectory = true;
       },
       0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    FileList.clear();
    TFakeWindow w;
    c.select(w);
    try {
      Button2Click(w);
    } catch (const TQuarnError&) {
    }
    EXPECT_EQ(w.eventPoints, c.points);
    EXPECT_EQ(w.startedAfterPoints, c.started ? 0 : -1);
    EXPECT_EQ(w.waitedAfterPoints, c.started ? 1 : -1);
    EXPECT_EQ(w.endedAfterPoints, c.started ? c.points : -1);
    EXPECT_EQ(w.ends, c.started ? 1 : 0);
  }
}

// A stop requested through the window's control ends the handler quietly:
// no report, not even the error of a missing file, empty summaries (the
// log no longer shows the numbers of an earlier scan), an empty FileList.
TEST_F(ScanDriver, StoppedScanEndsWithoutReportOrError) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "b.bin", dir_ / "gone.bin"});
  w.stopAtStart = true;
  EXPECT_NO_THROW(Button2Click(w));
  EXPECT_EQ(w.status, "Status: Scanning");
  EXPECT_TRUE(w.log.empty());
  EXPECT_EQ(w.edit2, "");
  EXPECT_TRUE(w.messageBoxes.empty());
  EXPECT_TRUE(FileList.empty());
  EXPECT_EQ(w.ends, 1);
  EXPECT_EQ(w.eventPoints, 1);
}

// The workers scan the list as it was when the scan started, whatever
// happens to FileList while the window waits.
TEST_F(ScanDriver, ListChangedWhileTheScanRunsDoesNotReachTheWorkers) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "b.bin"});
  w.onWait = [&](TBackgroundScan&) { FileList = {dir_ / "gone.bin", "x", "y"}; };
  Button2Click(w);
  EXPECT_EQ(Line(w, 0), "Files scanned: 2");
  EXPECT_EQ(w.edit2, "2");
  EXPECT_TRUE(FileList.empty());
}

// The progress that the window reads through the control ends at the
// totals of the files scanned.
TEST_F(ScanDriver, ControlHandedToTheWindowShowsTheScansProgress) {
  TFakeWindow w;
  w.Drop({dir_ / "a.bin", dir_ / "b.bin"});
  TScanProgress atEnd;
  w.onWait = [&](TBackgroundScan& scan) {
    scan.Wait();
    atEnd = w.control->Progress();
  };
  Button2Click(w);
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(dir_ / "a.bin") * 2);
  EXPECT_EQ(atEnd.FilesTotal, 2);
  EXPECT_EQ(atEnd.FilesDone, 2);
  EXPECT_EQ(atEnd.BytesTotal, bytes);
  EXPECT_EQ(atEnd.BytesScanned, bytes);
}

}  // namespace
}  // namespace quarn
