// The parallel loop of a scan: N iterations on a pool of worker threads,
// at most a given number at once, and one combined error when any failed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace quarn {

// Work that a running iteration hands to the loop's idle workers (the
// chunks of a large file). An iteration that posts work waits for it itself
// and helps with it meanwhile, so the queue is empty once every iteration
// has ended.
class TWorkQueue {
 public:
  void Post(std::function<void()> task);
  // Runs one waiting task on the calling thread; false when none waits.
  bool RunOne();
  // Blocks until a task is posted or Notify is called.
  void Wait(const std::function<bool()>& done);
  void Notify();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  uint64_t version_ = 0;
};

// Runs body(0) .. body(count-1), each once, on at most `maxConcurrent`
// worker threads; the calling thread only waits. When an iteration raises,
// the iterations already running go on to their end and no further one
// starts; then one TAggregateError holding every error is raised. Returns
// only after every started iteration has ended.
// With `helpers`, the loop keeps `helperThreads` threads in all (at least
// as many as run iterations); threads without an iteration to run take the
// work that iterations post there until every iteration has ended.
void RunParallelLoop(int32_t count, int maxConcurrent, const std::function<void(int32_t)>& body,
                     TWorkQueue* helpers = nullptr, int helperThreads = 0);

}  // namespace quarn
