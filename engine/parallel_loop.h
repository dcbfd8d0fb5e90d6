// The parallel loop of a scan: N iterations on a pool of worker threads,
// at most a given number at once, and one combined error when any failed.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace quarn {

// Runs body(0) .. body(count-1), each once, on at most `maxConcurrent`
// worker threads; the calling thread only waits. When an iteration raises,
// the iterations already running go on to their end and no further one
// starts; then one TAggregateError holding every error is raised. Returns
// only after every started iteration has ended.
void RunParallelLoop(int32_t count, int maxConcurrent, const std::function<void(int32_t)>& body);

// How many iterations a scan of `count` files runs at once: min(2 × P, N).
int ScanConcurrency(int32_t count);

// The text of the combined error:
//   One or more errors occurred
//   2 exception(s):
//   #0 Exception: File "a" does not exists.
//   #1 Exception: File "b" does not exists.
// listing at most ten members, then "..." when there were more.
std::string CombinedErrorText(const std::vector<std::exception_ptr>& errors);

}  // namespace quarn
