// A progress line on stderr while a scan runs: files and bytes done of
// their totals, and the rate. Shown only when stderr is a terminal, at most
// five updates a second, and cleared before anything else is printed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace quarn::cli {

class TProgressLine {
 public:
  TProgressLine(int64_t totalFiles, int64_t totalBytes);
  ~TProgressLine();  // stops and clears the line
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // Called by the workers as each file ends.
  void FileDone(int64_t sizeBytes) {
    filesDone_.fetch_add(1, std::memory_order_relaxed);
    bytesDone_.fetch_add(sizeBytes, std::memory_order_relaxed);
  }
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

}  // namespace quarn::cli
