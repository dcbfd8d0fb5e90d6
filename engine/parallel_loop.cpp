// The parallel loop. Workers take iteration numbers from one atomic
// counter; a failure sets a flag that keeps new iterations from starting.
#include "engine/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/aggregate_error.h"

namespace quarn {

void TWorkQueue::Post(std::function<void()> task) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    tasks_.push_back(std::move(task));
    ++version_;
  }
  changed_.notify_all();
}

bool TWorkQueue::RunOne() {
  std::function<void()> task;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (tasks_.empty()) return false;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
  return true;
}

void TWorkQueue::Wait(const std::function<bool()>& done) {
  std::unique_lock<std::mutex> hold(lock_);
  const uint64_t seen = version_;
  changed_.wait(hold, [&] { return version_ != seen || !tasks_.empty() || done(); });
}

void TWorkQueue::Notify() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ++version_;
  }
  changed_.notify_all();
}

void RunParallelLoop(int32_t count, int maxConcurrent, const std::function<void(int32_t)>& body,
                     TWorkQueue* helpers, int helperThreads) {
  if (count <= 0) return;
  std::atomic<int32_t> next{0};
  std::atomic<int32_t> running{0};  // iterations started and not yet ended
  std::atomic<bool> failed{false};
  std::mutex errorsLock;
  std::vector<std::exception_ptr> errors;
  const int iterationSlots = std::clamp(maxConcurrent, 1, static_cast<int>(std::min<int64_t>(count, 1 << 16)));

  // Claims the next iteration unless the loop failed or all have started.
  auto claim = [&]() -> int32_t {
    if (failed.load()) return -1;
    const int32_t iteration = next.fetch_add(1);
    return iteration < count ? iteration : -1;
  };
  auto runIteration = [&](int32_t iteration) {
    try {
      body(iteration);
    } catch (...) {
      const std::lock_guard<std::mutex> hold(errorsLock);
      errors.push_back(std::current_exception());
      failed.store(true);
    }
  };
  auto iterationWorker = [&] {
    for (int32_t iteration = claim(); iteration >= 0; iteration = claim()) runIteration(iteration);
  };
  // True once no further iteration will start.
  auto allStarted = [&] { return failed.load() || next.load() >= count; };
  // Takes one of the iteration slots; false when all are in use.
  auto takeSlot = [&] {
    int32_t inUse = running.load();
    while (inUse < iterationSlots) {
      if (running.compare_exchange_weak(inUse, inUse + 1)) return true;
    }
    return false;
  };
  // A worker runs iterations while a slot and an iteration are free, and
  // otherwise helps with posted work, until no iteration can post more.
  auto helpingWorker = [&] {
    for (;;) {
      if (!allStarted() && takeSlot()) {
        const int32_t iteration = claim();
        if (iteration >= 0) runIteration(iteration);
        --running;
        helpers->Notify();
        continue;
      }
      if (helpers->RunOne()) continue;
      if (running.load() == 0 && allStarted()) return;
      helpers->Wait([&] {
        const int32_t inUse = running.load();
        return inUse == 0 || (inUse < iterationSlots && !allStarted());
      });
    }
  };

  {
    std::vector<std::jthread> pool;
    if (helpers == nullptr) {
      for (int k = 0; k < iterationSlots; ++k) pool.emplace_back(iterationWorker);
    } else {
      // Iterations take one of `iterationSlots` slots; the other threads help.
      const int threads = std::max(std::min(helperThreads, 1 << 16), iterationSlots);
      for (int k = 0; k < threads; ++k) pool.emplace_back(helpingWorker);
    }
  }  // joins every worker
  if (!errors.empty()) {
    std::string text = CombinedErrorText(errors);
    throw TAggregateError(std::move(text), std::move(errors));
  }
}

}  // namespace quarn
