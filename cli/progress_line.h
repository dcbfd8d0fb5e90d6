// A progress line on stderr while a scan runs: files and bytes done of
// their totals, the rate and the time left. Shown only when stderr is a
// terminal and not switched off, at most five updates a second, cleared
// before any message and before the results are printed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace quarn::cli {

class TProgressLine {
 public:
  // `shown` false: no line at all (-q); messages still go to stderr.
  TProgressLine(int64_t totalFiles, int64_t totalBytes, bool shown);
  ~TProgressLine();  // stops and clears the line
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // Called by the workers as each file ends.
  void FileDone(int64_t sizeBytes) {
    filesDone_.fetch_add(1, std::memory_order_relaxed);
    bytesDone_.fetch_add(sizeBytes, std::memory_order_relaxed);
  }
  // Writes `line` and a newline to stderr, clearing the progress line
  // first; safe from any thread.
  void Message(const std::string& line);
  void Stop();

 private:
  void Run();

  const int64_t totalFiles_;
  const int64_t totalBytes_;
  std::atomic<int64_t> filesDone_{0};
  std::atomic<int64_t> bytesDone_{0};
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool shown_ = false;
  std::thread thread_;
};

// "1:05" or "2:03:04" for a number of seconds; "-" when unknown.
std::string FormatTimeLeft(double seconds);

}  // namespace quarn::cli
