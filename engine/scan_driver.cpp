// What one press of Scan does, step by step, against the window interface.
// The window's thread runs all of it; only ScanFile runs on the workers,
// which read FileList and the options while nobody writes them.
#include "engine/scan_driver.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

#include "engine/chunk_stitch.h"
#include "engine/directory_listing.h"
#include "engine/parallel_loop.h"
#include "engine/scan_report.h"
#include "util/platform/file_system.h"

namespace quarn {

std::vector<std::string> FileList;

void BuildFileList(TScanWindow& window) {
  const std::string edit1 = window.Edit1Text();
  const bool wholeDirectory = window.IsChecked(TScanCheckBox::ScanWholeDirectory);
  if (wholeDirectory) {
    const bool recursive = window.IsChecked(TScanCheckBox::Recursive);
    // Typing a name or browsing after a drop empties FileList (the window
    // does), so a typed name is never overruled by an earlier drop.
    if (window.LogLineCount() == 1 && !FileList.empty()) {
      // Exactly one item was dropped: list it, or the directory holding it.
      const std::string dropped = FileList[0];
      if (IsExistingDirectory(dropped)) {
        FileList = ListDirectoryFiles(dropped, recursive);
      } else if (FileExistsLong(dropped)) {
        FileList = ListDirectoryFiles(DirectoryPart(dropped), recursive);
      }
    } else if (IsExistingDirectory(edit1)) {
      // A typed folder is listed itself, as a dropped one is, not its parent.
      FileList = ListDirectoryFiles(edit1, recursive);
    } else if (!edit1.empty()) {
      // An empty directory part means the current directory, but only for
      // a name that is there: a bare name that names nothing is an error.
      const std::string directory = DirectoryPart(edit1);
      if (directory.empty()) {
        const platform::TFileStatus status = platform::StatusOf(edit1);
        if (status.Kind == platform::TFileKind::Missing && platform::IsNoSuchName(status.ErrorNumber)) {
          throw TPathError("File \"" + edit1 + "\" does not exists.");
        }
      }
      FileList = ListDirectoryFiles(directory, recursive);
    }
  }
  if (!edit1.empty() && !wholeDirectory) {
    if (IsExistingDirectory(edit1)) {
      throw TPathError("\"" + edit1 + "\" is a folder: tick \"Scan whole directory\" to scan the files in it");
    }
    FileList = {edit1};
  }
}

namespace {

// Keeps the counts of the files scanned whole apart from those of files
// that failed part way, whose streams found before the failure must not
// reach the report, and collects the failures in file-list order. A stop
// on request is no failure: it goes on up as it came.
class TWholeFiles final : public TScanListener {
 public:
  void StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    const std::lock_guard<std::mutex> hold(lock_);
    running_[fileIndex].Add(stream);
  }
  void FileDone(int32_t fileIndex, int64_t sizeBytes) override {
    const std::lock_guard<std::mutex> hold(lock_);
    TStreamCounts& file = running_[fileIndex];
    file.AddFile(sizeBytes);
    Totals += file;
    running_.erase(fileIndex);
  }
  bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) override {
    if (IsCancellation(error)) return false;
    const std::lock_guard<std::mutex> hold(lock_);
    running_.erase(fileIndex);
    failures_.emplace(fileIndex, error);
    return true;
  }
  // The failures in file-list order.
  std::vector<std::exception_ptr> Failures() const {
    std::vector<std::exception_ptr> errors;
    for (const auto& [index, error] : failures_) errors.push_back(error);
    return errors;
  }

  TStreamCounts Totals;  // of the files scanned whole

 private:
  std::mutex lock_;
  std::map<int32_t, TStreamCounts> running_;
  std::map<int32_t, std::exception_ptr> failures_;
};

std::string ErrorText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

int ScanConcurrency(int32_t count) {
  const int64_t limit = 2 * static_cast<int64_t>(platform::ProcessorCount());
  return static_cast<int>(std::clamp<int64_t>(count, 0, limit));
}

int ScanThreads() { return 2 * platform::ProcessorCount(); }

void ScanFileList(const std::vector<std::string>& files, TScanState& state, TScanListener* listener) {
  const std::size_t entries = files.size();
  if (entries > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    throw TQuarnError("Too many files to scan: " + std::to_string(entries));
  }
  const auto count = static_cast<int32_t>(entries);
  int64_t totalBytes = 0;
  for (const std::string& name : files) {
    if (state.Control.CancelRequested()) break;
    totalBytes += std::max<int64_t>(GetFileSize64(name), 0);
  }
  state.Control.SetTotals(count, totalBytes);

  TWorkQueue helpers;
  try {
    RunParallelLoop(
        count, ScanConcurrency(count),
        [&](int32_t iteration) { ScanFile(files, state, iteration, listener, &helpers); }, &helpers,
        ScanThreads());
  } catch (const TAggregateError&) {
    // Files that failed before the stop are no news once the user stopped.
    state.Control.ThrowIfCancelled();
    throw;
  }
  state.Control.ThrowIfCancelled();
}

void Button2Click(TScanWindow& window) {
  const auto state = std::make_unique<TScanState>(&window);

  if (FileList.empty() && window.Edit1Text().empty()) {
    window.ShowMessageBox("No files were selected", "");
    return;
  }

  BuildFileList(window);

  window.ClearLog();
  // No number of an earlier scan stays beside a log that no longer shows it.
  window.SetStreamsText("");
  window.SetZlibbedInputText("");
  window.SetZlibbedOutputText("");
  state->j = -1;
  window.SetStatus("Status: Scanning");

  // From here on every way out empties FileList and gives the window back.
  struct TScanEnd {
    TScanWindow& window;
    ~TScanEnd() {
      FileList.clear();
      window.ScanEnded();
    }
  } scanEnd{window};
  window.ScanStarting(state->Control);
  window.ProcessWaitingEvents();  // paints the status line; may run a drop or a nested scan

  state->Options.ScanWholeDirectory = window.IsChecked(TScanCheckBox::ScanWholeDirectory);
  state->Options.Recursive = window.IsChecked(TScanCheckBox::Recursive);
  state->Options.Headerless = window.IsChecked(TScanCheckBox::Headerless);
  state->Options.AcceptIncomplete = window.IsChecked(TScanCheckBox::AcceptIncomplete);

  // The workers read their own copy: nothing the window does meanwhile can
  // change the list under them.
  const std::vector<std::string> files = FileList;
  TWholeFiles wholeFiles;
  try {
    TBackgroundScan scan([&] { ScanFileList(files, *state, &wholeFiles); });
    try {
      window.WaitForScan(scan);
    } catch (...) {
      state->Control.RequestCancel();  // the scan's thread is joined on the way out
      throw;
    }
    scan.RethrowError();
  } catch (const TScanCancelled&) {
    return;  // stopped on request: no report, no error
  }

  // The report of the files scanned whole; the files that failed follow
  // it in the log, and their combined error goes to the error display.
  const std::vector<std::exception_ptr> failures = wholeFiles.Failures();
  window.SetStatus(failures.empty() || wholeFiles.Totals.Files > 0 ? "Status: Finished" : "Status: Ready");
  const TScanReport report = BuildScanReport(wholeFiles.Totals, state->Options.Headerless);
  window.SetStreamsText(report.PotentialStreams);
  for (const std::string& line : ReportLogLines(report)) window.AppendLogLine(line);
  if (!failures.empty()) {
    window.AppendLogLine("Files not scanned: " + std::to_string(failures.size()));
    for (const std::exception_ptr& failure : failures) window.AppendLogLine(ErrorText(failure));
  }
  window.SetZlibbedInputText(report.ZlibbedInput);
  window.SetZlibbedOutputText(report.ZlibbedOutput);
  window.ProcessWaitingEvents();
  if (!failures.empty()) throw TAggregateError(CombinedErrorText(failures), failures);
}

}  // namespace quarn
