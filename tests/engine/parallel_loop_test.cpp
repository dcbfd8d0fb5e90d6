// The parallel loop: every iteration once, at most the given number at a
// time; after a failure no new iteration starts, the running ones end, and
// one combined error holds every failure; helpers take posted work and end
// with the last iteration.
#include "engine/parallel_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/aggregate_error.h"

namespace quarn {
namespace {

TEST(ParallelLoop, AfterAFailureNoNewIterationStartsAndAllRunningOnesEnd) {
  std::atomic<int> started{0}, running{0}, maxRunning{0};
  try {
    RunParallelLoop(1000, 3, [&](int32_t) {
      ++started;
      const int now = ++running;
      int seen = maxRunning.load();
      while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --running;
      throw TQuarnError("boom");
    });
    FAIL() << "expected the combined error";
  } catch (const TAggregateError& e) {
    EXPECT_EQ(e.Members().size(), static_cast<std::size_t>(started.load()));
  }
  EXPECT_LE(started.load(), 3);
  EXPECT_LE(maxRunning.load(), 3);
  EXPECT_EQ(running.load(), 0);
}

TEST(ParallelLoop, RunsEveryIterationOnce) {
  std::vector<std::atomic<int>> seen(500);
  RunParallelLoop(500, 4, [&](int32_t k) { ++seen[static_cast<std::size_t>(k)]; });
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& n) { return n.load() == 1; }));
}

TEST(ParallelLoop, HelpersRunPostedWorkAndEndWithTheIterations) {
  TWorkQueue helpers;
  std::atomic<int> done{0};
  std::atomic<int> maxIterations{0}, iterations{0};
  RunParallelLoop(
      3, 2,
      [&](int32_t) {
        const int now = ++iterations;
        int seen = maxIterations.load();
        while (now > seen && !maxIterations.compare_exchange_weak(seen, now)) {
        }
        std::atomic<int> mine{50};
        for (int k = 0; k < 50; ++k) {
          helpers.Post([&] {
            ++done;
            if (mine.fetch_sub(1) == 1) helpers.Notify();
          });
        }
        while (mine.load() > 0) {
          if (!helpers.RunOne()) helpers.Wait([&] { return mine.load() == 0; });
        }
        --iterations;
      },
      &helpers, 5);
  EXPECT_EQ(done.load(), 150);
  EXPECT_LE(maxIterations.load(), 2);
}

}  // namespace
}  // namespace quarn
