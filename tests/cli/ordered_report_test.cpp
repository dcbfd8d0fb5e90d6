// The command line's reorder buffer: streams and file ends reach the output
// in file-list order whatever order the workers report them in, a worker
// that is ahead waits once the buffer is full, and only the files scanned
// whole are counted: a file that changes during its scan is not.
#include "cli/ordered_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/scan_file.h"
#include "tests/support/found_stream.h"
#include "tests/support/cut_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"

namespace quarn {
namespace {

// Writes each event as one short text.
class TRecordingFormat final : public cli::TReportFormat {
 public:
  void Stream(const std::string& file, const TFoundStream& s, const TChain&) override {
    events.push_back(file + "@" + std::to_string(s.OffsetBytes));
  }
  void FileEnded(const cli::TFileOutcome& outcome) override {
    events.push_back(outcome.Name + (outcome.Failed ? " failed: " + outcome.Error : " done"));
  }
  void Finish(const cli::TScanSummary&) override {}
  std::vector<std::string> events;
};

TFoundStream At(int64_t offset, uint64_t outBytes = 10) {
  return test::FoundStream(offset, true, 7, 2, 5, outBytes, true);
}

// The report reads the mapping only to extract: an empty file will do.
const TMappedFile& NoFile() {
  static const test::TTempDir dir;
  static const bool written = (test::WriteFile(dir / "empty", {}), true);
  static const TMappedFile empty(written ? dir / "empty" : std::string());
  return empty;
}

TEST(OrderedReport, WritesInListOrderWhateverOrderTheWorkersReport) {
  const std::vector<std::string> files = {"a", "b", "c", "d"};
  TRecordingFormat format;
  std::vector<std::string> messages;
  cli::TOrderedReport report(files, format, nullptr, [&](const std::string& m) { messages.push_back(m); },
                             true);
  const TMappedFile& none = NoFile();
  report.StreamFound(2, none, At(1));
  report.StreamFound(1, none, At(5));
  report.FileDone(2, 100);
  report.StreamFound(0, none, At(9));  // the head: written at once
  EXPECT_EQ(format.events, std::vector<std::string>{"a@9"});
  report.StreamFound(1, none, At(6));
  report.FileFailed(3, std::make_exception_ptr(TQuarnError("File \"d\" cannot be opened: Permission denied.")));
  report.FileDone(0, 50);
  report.FileDone(1, 70);
  EXPECT_EQ(format.events, (std::vector<std::string>{"a@9", "a done", "b@5", "b@6", "b done", "c@1", "c done",
                                                     "d failed: cannot be opened: Permission denied"}));
  EXPECT_EQ(messages, std::vector<std::string>{"quarn-scan: d: cannot be opened: Permission denied"});
  EXPECT_EQ(report.FilesScanned(), 3);
  EXPECT_EQ(report.FilesFailed(), 1);
  EXPECT_EQ(report.Totals().i, 220);
  EXPECT_EQ(report.Totals().Z, 4);
  EXPECT_EQ(report.Totals().zout, 40);
  EXPECT_EQ(report.Totals().WindowBits(15), 4);
}

// A failed file's streams are written (they were found) but not counted.
TEST(OrderedReport, FailedFilesAreNotCounted) {
  const std::vector<std::string> files = {"a", "b"};
  TRecordingFormat format;
  cli::TOrderedReport report(files, format, nullptr, [](const std::string&) {}, true);
  report.StreamFound(0, NoFile(), At(1, 1000));
  EXPECT_TRUE(report.FileFailed(0, std::make_exception_ptr(TQuarnError("File \"a\" changed while it was being scanned."))));
  report.StreamFound(1, NoFile(), At(2, 7));
  report.FileDone(1, 300);
  EXPECT_EQ(report.Totals().zout, 7);
  EXPECT_EQ(report.Totals().i, 300);
  EXPECT_EQ(report.FilesScanned(), 1);
}

// Hands every event on to the report, and makes the file grow as soon as
// its first stream is found, while the scan has the rest of it ahead: the
// moment the command line's scan used to miss.
class TGrowOnFirstStream final : public TScanSink {
 public:
  TGrowOnFirstStream(cli::TOrderedReport& report, std::string path) : report_(report), path_(std::move(path)) {}
  bool StreamFound(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) override {
    std::call_once(once_, [&] { grown = test::GrowFile(path_, 100); });
    return report_.StreamFound(fileIndex, file, stream);
  }
  void FileDone(int32_t fileIndex, int64_t sizeBytes) override { report_.FileDone(fileIndex, sizeBytes); }
  bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) override {
    return report_.FileFailed(fileIndex, error);
  }
  bool grown = false;

 private:
  cli::TOrderedReport& report_;
  const std::string path_;
  std::once_flag once_;
};

// A file appended to during its scan was scanned at its old length: it
// fails as changed, as a file cut short does, and is not counted.
TEST(OrderedReport, FileThatGrowsDuringItsScanFailsAsChanged) {
  test::TTempDir dir;
  const std::string path = dir / "grows.bin";
  test::TLayout layout;
  layout.Zeros(100);
  layout.Append(test::Zlib(test::MakeText(20000)));
  layout.Append(test::MakeNoise(1 << 16, 4));
  test::WriteFile(path, layout.Bytes());
  const std::vector<std::string> files = {path};
  TRecordingFormat format;
  std::vector<std::string> messages;
  cli::TOrderedReport report(files, format, nullptr, [&](const std::string& m) { messages.push_back(m); }, true);
  TGrowOnFirstStream listener(report, path);
  TScanState state;
  ScanFile(files, state, 0, &listener);
  ASSERT_TRUE(listener.grown);
  EXPECT_EQ(messages, std::vector<std::string>{"quarn-scan: " + path + ": changed while it was being scanned"});
  EXPECT_EQ(report.FilesScanned(), 0);
  EXPECT_EQ(report.FilesFailed(), 1);
  EXPECT_EQ(report.Totals().i, 0);
  EXPECT_EQ(report.Totals().Z, 0);
}

// With room for two held streams, a worker three streams ahead waits until
// the head file ends, and then goes on.
TEST(OrderedReport, AWorkerAheadWaitsWhenTheBufferIsFull) {
  const std::vector<std::string> files = {"a", "b"};
  TRecordingFormat format;
  cli::TOrderedReport report(files, format, nullptr, [](const std::string&) {}, true, 2);
  std::atomic<int> reported{0};
  std::thread ahead([&] {
    for (int64_t k = 0; k < 5; ++k) {
      report.StreamFound(1, NoFile(), At(k));
      ++reported;
    }
    report.FileDone(1, 1);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (reported.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(reported.load(), 2) << "the third stream of b waits for room";
  report.StreamFound(0, NoFile(), At(100));
  report.FileDone(0, 1);
  ahead.join();
  EXPECT_EQ(format.events, (std::vector<std::string>{"a@100", "a done", "b@0", "b@1", "b@2", "b@3", "b@4", "b done"}));
}

// A stop releases a waiting worker; what it held is dropped.
TEST(OrderedReport, StopReleasesWaitingWorkers) {
  const std::vector<std::string> files = {"a", "b"};
  TRecordingFormat format;
  cli::TOrderedReport report(files, format, nullptr, [](const std::string&) {}, true, 1);
  std::thread ahead([&] {
    for (int64_t k = 0; k < 3; ++k) report.StreamFound(1, NoFile(), At(k));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  report.RequestStop();
  ahead.join();
  EXPECT_TRUE(report.StopRequested());
  EXPECT_TRUE(format.events.empty());
}

}  // namespace
}  // namespace quarn
