// A progress line on stderr while a scan runs: files and bytes done of
// their totals, the rate and the time left, read from the engine's
// progress counters, which move inside a large file and a long trial too.
// Shown only when stderr is a terminal and not switched off, at most five
// updates a second, cleared before any message and before the results are
// printed. When stdout is a terminal too, what is written there during the
// scan (--list rows) goes through the line, which clears itself first, so
// that no row is written onto the end of the progress line.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/report_format.h"
#include "engine/scan_control.h"

namespace quarn::cli {

class TProgressLine {
 public:
  // `shown` false: no line at all (-q); messages still go to stderr.
  // `control` must outlive the line.
  TProgressLine(const TScanControl& control, bool shown);
  ~TProgressLine();  // stops and clears the line
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // Writes `line` and a newline to stderr, clearing the progress line
  // first; safe from any thread.
  void Message(const std::string& line);
  // Runs `write`, which writes whole lines to stdout, and flushes stdout,
  // with the progress line cleared first when both are terminals; safe
  // from any thread.
  void WriteAbove(const std::function<void()>& write);
  void Stop();

 private:
  void Run();

  const TScanControl& control_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool shown_ = false;
  bool sharesTerminal_ = false;  // stdout is a terminal: clear the line before writing there
  std::thread thread_;
};

// `format` with every stream and file it writes during the scan sent
// through `line.WriteAbove`. `line` must outlive it.
std::unique_ptr<TReportFormat> AboveProgressLine(std::unique_ptr<TReportFormat> format, TProgressLine& line);

// "1:05" or "2:03:04" for a number of seconds; "-" when unknown.
std::string FormatTimeLeft(double seconds);

}  // namespace quarn::cli
