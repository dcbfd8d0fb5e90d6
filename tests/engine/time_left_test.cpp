// The time-left estimate that the window and quarn-scan share: for readings
// of a scan's bytes over time, the rate and the time left by the average
// since the start (quarn-scan's), and the time left by the recent pace
// (the window's): when each cannot tell yet, how the recent window forgets
// a slower start and sees a stall, and where each rounds. Every expected
// figure is worked out by hand in the row's comment.
#include "engine/time_left.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using namespace std::chrono_literals;

struct TTimeLeftCase {
  const char* name;
  std::vector<std::pair<std::chrono::nanoseconds, int64_t>> readings;  // elapsed, bytes scanned
  int64_t total;
  double bytesPerSecond;
  std::optional<double> byAverage;
  std::optional<int64_t> byRecentPace;
};

TEST(TimeLeft, RateAndTimeLeftForEachCase) {
  const TTimeLeftCase cases[] = {
      {"no reading yet", {}, 1000, 0.0, std::nullopt, std::nullopt},
      {"only the start", {{0ms, 0}}, 1000, 0.0, std::nullopt, std::nullopt},
      // 250 B in 0.5 s: 500 B/s, 750 B left in 1.5 s; the window waits a second.
      {"before a second", {{0ms, 0}, {500ms, 250}}, 1000, 500.0, 1.5, std::nullopt},
      // 9 B of 1000 is under the hundredth (10 B) the window waits for: 4.5 B/s, 991 / 4.5 s.
      {"under a hundredth", {{0ms, 0}, {2s, 9}}, 1000, 4.5, 991.0 / 4.5, std::nullopt},
      // 10 B of 1001 too: the hundredth is rounded up to 11 B.
      {"hundredth rounded up", {{0ms, 0}, {2s, 10}}, 1001, 5.0, 991.0 / 5.0, std::nullopt},
      // 10 B in 2 s: 990 B left at 5 B/s is 198 s either way.
      {"a hundredth", {{0ms, 0}, {2s, 10}}, 1000, 5.0, 198.0, 198},
      // 300 B/s: 700 B left in 2.33 s, 3 s rounded up.
      {"rounded up", {{0ms, 0}, {1s, 300}}, 1000, 300.0, 700.0 / 300.0, 3},
      // 750 B left at 250 B a minute: exactly 180 s, not 181.
      {"whole seconds stay whole", {{0ms, 0}, {60s, 250}}, 1000, 250.0 / 60.0, 180.0, 180},
      {"all done", {{0ms, 0}, {5s, 1000}}, 1000, 200.0, 0.0, 0},
      // The files grew while scanned: the average cannot tell, the recent pace says 0.
      {"past the total", {{0ms, 0}, {5s, 1500}}, 1000, 300.0, std::nullopt, 0},
      {"no bytes at all", {{0ms, 0}, {5s, 0}}, 0, 0.0, std::nullopt, std::nullopt},
      // 20 MB in 20 s, then 20 MB in 10 s: the window is the last third
      // (10 s) at 2 MB/s, so 60 MB left take 30 s; the average since the
      // start (1.33 MB/s) says 45 s.
      {"recent pace forgets a slower start",
       {{0ms, 0}, {20s, 20'000'000}, {30s, 40'000'000}},
       100'000'000,
       40'000'000 / 30.0,
       45.0,
       30},
      // 12 MB in 9 s, 6 MB of it in the last 3 s: the window reaches back
      // at least 5 s, to the start here, so 18 MB left at 1.33 MB/s take
      // 13.5 s, 14 rounded up (by the last 3 s alone it would be 9).
      {"window at least five seconds",
       {{0ms, 0}, {6s, 6'000'000}, {9s, 12'000'000}},
       30'000'000,
       12'000'000 / 9.0,
       13.5,
       14},
      // Nothing since 10 s: the last third holds no progress, so the
      // window cannot tell; the average (0.5 MB/s) says 180 s.
      {"stalled", {{0ms, 0}, {10s, 10'000'000}, {20s, 10'000'000}}, 100'000'000, 500'000.0, 180.0, std::nullopt},
      // A clock finer than milliseconds: 1 MB in 1.25 s is 800 kB/s, 3 MB left in 3.75 s, 4 rounded up.
      {"finer clock", {{0ms, 0}, {1'250'000us, 1'000'000}}, 4'000'000, 800'000.0, 3.75, 4},
  };
  for (const TTimeLeftCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTimeLeft timeLeft;
    for (const auto& [elapsed, bytes] : c.readings) timeLeft.Add(elapsed, bytes);
    EXPECT_DOUBLE_EQ(timeLeft.BytesPerSecond(), c.bytesPerSecond);
    const std::optional<double> byAverage = timeLeft.SecondsLeftByAverage(c.total);
    ASSERT_EQ(byAverage.has_value(), c.byAverage.has_value());
    if (byAverage) {
      EXPECT_DOUBLE_EQ(*byAverage, *c.byAverage);
    }
    EXPECT_EQ(timeLeft.SecondsLeftByRecentPace(c.total), c.byRecentPace);
  }
}

}  // namespace
}  // namespace quarn
