// What one press of Scan does, step by step, against the window interface.
// The window's thread runs all of it but the scan itself: RunScan runs on
// a thread of its own and its files on the workers, over a copy of
// FileList and the options, which nobody writes meanwhile.
#include "engine/scan_driver.h"

#include <map>
#include <memory>
#include <mutex>

#include "engine/directory_listing.h"
#include "engine/scan_report.h"
#include "util/platform/file_system.h"

namespace quarn {

std::vector<std::string> FileList;

void BuildFileList(TScanWindow& window, TListingNotes* notes) {
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
  LeaveOutSameFiles(FileList, notes);
}

namespace {

// Keeps the counts of the files scanned whole apart from those of files
// that failed part way, whose streams found before the failure must not
// reach the report, and collects the failures in file-list order. A stop
// on request is no failure: it goes on up as it came.
class TWholeFiles final : public TScanSink {
 public:
  bool StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    const std::lock_guard<std::mutex> hold(lock_);
    running_[fileIndex].Add(stream);
    return true;
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

void Button2Click(TScanWindow& window) {
  const auto state = std::make_unique<TScanState>(&window);

  if (FileList.empty() && window.Edit1Text().empty()) {
    window.ShowMessageBox("No files were selected", "");
    return;
  }

  TListingNotes notes;
  BuildFileList(window, &notes);

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
    TBackgroundScan scan([&] { RunScan(files, *state, &wholeFiles); });
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
  for (const TSameFile& same : notes.SameFiles) {
    window.AppendLogLine("Left out \"" + same.Name + "\": same file as \"" + same.FirstName + "\"");
  }
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
