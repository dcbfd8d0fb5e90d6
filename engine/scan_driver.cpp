// What one press of Scan does, step by step, against the window interface.
// The window's thread runs all of it; only ScanFile runs on the workers,
// which read FileList and the options while nobody writes them.
#include "engine/scan_driver.h"

#include <algorithm>
#include <limits>
#include <memory>

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
    if (window.LogLineCount() == 1) {
      // Exactly one item was dropped: list it, or the directory holding it.
      if (!FileList.empty()) {
        const std::string dropped = FileList[0];
        if (IsExistingDirectory(dropped)) {
          FileList = ListDirectoryFiles(dropped, recursive);
        } else if (FileExistsLong(dropped)) {
          FileList = ListDirectoryFiles(DirectoryPart(dropped), recursive);
        }
      }
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
  if (!edit1.empty() && !wholeDirectory) FileList = {edit1};
}

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
  try {
    TBackgroundScan scan([&] { ScanFileList(files, *state); });
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

  window.SetStatus("Status: Finished");
  const TScanReport report =
      BuildScanReport(*state, state->Options.Headerless, static_cast<int64_t>(files.size()));
  window.SetStreamsText(report.PotentialStreams);
  for (const std::string& line : report.Lines) window.AppendLogLine(line);
  window.SetZlibbedInputText(report.ZlibbedInput);
  window.SetZlibbedOutputText(report.ZlibbedOutput);
  window.ProcessWaitingEvents();
}

}  // namespace quarn
