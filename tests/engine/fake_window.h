// A window for driving the scan driver in tests: plain fields for the
// controls, and a record of the calls that matter (message boxes, event
// processing) so a test can check what happened and in which order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/scan_driver.h"

namespace quarn::test {

class TFakeWindow : public TScanWindow {
 public:
  std::string edit1;
  bool scanWholeDirectory = false, recursive = false, headerless = false, acceptIncomplete = false;
  std::vector<std::string> log;
  std::string status = "Status: Not initialized";
  std::string edit2 = "old2", edit3 = "old3", edit4 = "old4";
  std::vector<std::string> messageBoxes;  // "text|caption"
  int eventPoints = 0;
  // Runs at each event-processing point, as queued window events would.
  std::function<void(int point)> onEvents;

  // What a drop of `names` does to the selection.
  void Drop(const std::vector<std::string>& names) {
    FileList = names;
    log = names;
    edit1.clear();
  }
  // What typing `name` into Edit1 does: it replaces any dropped items.
  void Type(const std::string& name) {
    edit1 = name;
    FileList.clear();
  }

  std::string Edit1Text() const override { return edit1; }
  bool IsChecked(TScanCheckBox box) const override {
    switch (box) {
      case TScanCheckBox::ScanWholeDirectory: return scanWholeDirectory;
      case TScanCheckBox::Recursive: return recursive;
      case TScanCheckBox::Headerless: return headerless;
      case TScanCheckBox::AcceptIncomplete: return acceptIncomplete;
    }
    return false;
  }
  int64_t LogLineCount() const override { return static_cast<int64_t>(log.size()); }
  void ClearLog() override { log.clear(); }
  void AppendLogLine(const std::string& line) override { log.push_back(line); }
  void SetStatus(const std::string& text) override { status = text; }
  void SetStreamsText(const std::string& text) override { edit2 = text; }
  void SetZlibbedInputText(const std::string& text) override { edit3 = text; }
  void SetZlibbedOutputText(const std::string& text) override { edit4 = text; }
  void ProcessWaitingEvents() override {
    ++eventPoints;
    if (onEvents) onEvents(eventPoints);
  }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    messageBoxes.push_back(text + "|" + caption);
  }

  // The scan's start, wait and end, as event points seen by then (-1: not
  // called), and the control handed over.
  int startedAfterPoints = -1, waitedAfterPoints = -1, endedAfterPoints = -1, ends = 0;
  TScanControl* control = nullptr;
  bool stopAtStart = false;  // request the stop as soon as the scan starts
  // Runs while the scan runs, before the wait for its end.
  std::function<void(TBackgroundScan&)> onWait;
  void ScanStarting(TScanControl& scanControl) override {
    startedAfterPoints = eventPoints;
    control = &scanControl;
    if (stopAtStart) scanControl.RequestCancel();
  }
  void WaitForScan(TBackgroundScan& scan) override {
    waitedAfterPoints = eventPoints;
    if (onWait) onWait(scan);
    scan.Wait();
  }
  void ScanEnded() override {
    endedAfterPoints = eventPoints;
    ++ends;
  }
};

}  // namespace quarn::test
