// The scan driver: what one press of Scan does. It decides which files make
// up the scan, runs them (RunScan) on the worker pool, waits, and has the
// report shown. It reaches the window only through TScanWindow, so the
// window (Qt) and the tests (a fake) supply the same few operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/aggregate_error.h"
#include "engine/background_scan.h"
#include "engine/scan_run.h"
#include "engine/scan_state.h"
#include "util/errors.h"

namespace quarn {

// The check boxes of the window, by the option each one sets.
enum class TScanCheckBox {
  ScanWholeDirectory,  // CheckBox2 "Scan whole directory"
  Recursive,           // CheckBox1 "Recursive"
  Headerless,          // CheckBox4 "Headerless"
  AcceptIncomplete,    // CheckBox3 "Accept incomplete streams"
};

// What the driver needs of the window. Texts are UTF-8; paths are bytes as
// the file system gives them.
class TScanWindow {
 public:
  virtual ~TScanWindow() = default;
  virtual std::string Edit1Text() const = 0;
  virtual bool IsChecked(TScanCheckBox box) const = 0;
  virtual int64_t LogLineCount() const = 0;  // Memo1
  virtual void ClearLog() = 0;
  virtual void AppendLogLine(const std::string& line) = 0;
  virtual void SetStatus(const std::string& text) = 0;  // Label6
  virtual void SetStreamsText(const std::string& text) = 0;        // Edit2
  virtual void SetZlibbedInputText(const std::string& text) = 0;   // Edit3
  virtual void SetZlibbedOutputText(const std::string& text) = 0;  // Edit4
  // Handles every queued input and paint event, then returns.
  virtual void ProcessWaitingEvents() = 0;
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;

  // The scan is about to start, just before the event processing that
  // paints "Status: Scanning": from here until ScanEnded the window takes
  // no input, and `control` shows the scan's progress and takes a request
  // to stop it.
  virtual void ScanStarting(TScanControl& control) { (void)control; }
  // Returns once `scan` has ended. A window handles its events meanwhile;
  // without one there is nothing to do but wait.
  virtual void WaitForScan(TBackgroundScan& scan) { scan.Wait(); }
  // The scan has ended, on every path, after the last event processing of
  // the handler: the window takes input again as before the scan.
  virtual void ScanEnded() {}
};

// The process-wide list of input names. Written on the window's thread only
// (drop handler, driver); read by the workers while a scan runs.
extern std::vector<std::string> FileList;

// Rebuilds FileList from the window before a scan: the name typed in
// Edit1, or the dropped items, or a directory's listing when "Scan whole
// directory" is ticked (a typed folder's own, else the folder of the typed
// or single dropped file). Each file stays once, under its first name: the
// names left out for naming a file already listed go to `notes`, when
// given (LeaveOutSameFiles). Raises TPathError for a directory it cannot
// list, and for a typed folder without "Scan whole directory", leaving
// FileList as it was.
void BuildFileList(TScanWindow& window, TListingNotes* notes = nullptr);

// One whole scan, as the Scan button runs it. The files are scanned on a
// thread of their own while the window waits in WaitForScan. A bad
// directory, or a folder typed without "Scan whole directory", raises
// TPathError before anything changes. A file reached by several names is
// scanned once: after the report the log names each other name, as
// 'Left out "x": same file as "y"'. Files that fail do not stop the
// others: the log shows the report of the files scanned whole, then the
// failed files, the status says "Status: Finished" (or "Status: Ready"
// when no file was scanned whole), and then one TAggregateError of the
// failures is raised for the error display.
// A scan stopped through the control handed to ScanStarting ends quietly,
// without a report. Once files were scanned, FileList is emptied on every
// path, so that the next Scan never retries a list the user cannot see.
void Button2Click(TScanWindow& window);

}  // namespace quarn
