// A piece of work (a scan) run on a thread of its own, so that the thread
// that started it stays free until the work has ended: the window's thread
// keeps handling its events and showing the scan's progress, and the
// Python module's thread waits without the GIL, taking it back between
// waits to let Python handle Ctrl-C.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace quarn {

class TBackgroundScan {
 public:
  // Starts `work` on a new thread at once.
  explicit TBackgroundScan(std::function<void()> work);
  // Waits for the work to end; never abandons a running thread.
  ~TBackgroundScan();
  TBackgroundScan(const TBackgroundScan&) = delete;
  TBackgroundScan& operator=(const TBackgroundScan&) = delete;

  bool Ended() const;
  // Blocks until the work has ended, or at most `timeout`; true once it has.
  // A waiter with something to do now and then loops on it.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Wait();
  // After the end: raises what the work raised, if anything.
  void RethrowError();

 private:
  mutable std::mutex lock_;
  std::condition_variable ended_;
  bool done_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace quarn
