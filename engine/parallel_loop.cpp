// The parallel loop. Workers take iteration numbers from one atomic
// counter; a failure sets a flag that keeps new iterations from starting.
#include "engine/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "engine/scan_driver.h"
#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {
namespace {

struct TMemberText {
  std::string kind;
  std::string text;
};

TMemberText DescribeError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const TQuarnError& e) {
    return {e.KindName(), e.what()};
  } catch (const std::bad_alloc&) {
    return {"EOutOfMemory", "Out of memory"};
  } catch (const std::exception& e) {
    return {"Exception", e.what()};
  } catch (...) {
    return {"Exception", "Unknown error"};
  }
}

}  // namespace

std::string CombinedErrorText(const std::vector<std::exception_ptr>& errors) {
  std::string text = "One or more errors occurred\n" + std::to_string(errors.size()) + " exception(s):";
  const std::size_t shown = std::min<std::size_t>(errors.size(), 10);
  for (std::size_t n = 0; n < shown; ++n) {
    const TMemberText member = DescribeError(errors[n]);
    text += "\n#" + std::to_string(n) + " " + member.kind + ": " + member.text;
  }
  if (errors.size() > 10) text += "\n...";
  return text;
}

int ScanConcurrency(int32_t count) {
  const int64_t limit = 2 * static_cast<int64_t>(platform::ProcessorCount());
  return static_cast<int>(std::clamp<int64_t>(count, 0, limit));
}

void RunParallelLoop(int32_t count, int maxConcurrent, const std::function<void(int32_t)>& body) {
  if (count <= 0) return;
  std::atomic<int32_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorsLock;
  std::vector<std::exception_ptr> errors;

  auto work = [&] {
    while (!failed.load()) {
      const int32_t iteration = next.fetch_add(1);
      if (iteration >= count) return;
      try {
        body(iteration);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(errorsLock);
        errors.push_back(std::current_exception());
        failed.store(true);
      }
    }
  };

  const int workers = std::clamp(maxConcurrent, 1, static_cast<int>(std::min<int64_t>(count, 1 << 16)));
  {
    std::vector<std::jthread> pool;
    pool.reserve(static_cast<std::size_t>(workers));
    for (int k = 0; k < workers; ++k) pool.emplace_back(work);
  }  // joins every worker
  if (!errors.empty()) {
    std::string text = CombinedErrorText(errors);
    throw TAggregateError(std::move(text), std::move(errors));
  }
}

}  // namespace quarn
