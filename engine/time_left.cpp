// The time-left estimate. Readings are kept only as far back as the recent
// window reaches (a third of the time so far), and older ones a fifth of a
// second apart, so a scan holds at most 6,000 of them for each hour it has
// run, however often it is read; the average since the start needs the
// newest alone.
#include "engine/time_left.h"

#include <algorithm>
#include <cmath>

namespace quarn {

void TTimeLeft::Add(std::chrono::nanoseconds elapsed, int64_t bytesScanned) {
  const std::size_t count = readings_.size();
  if (count >= 2 && elapsed - readings_[count - 2].Elapsed < kReadingSpacing) {
    readings_.back() = {elapsed, bytesScanned};
  } else {
    readings_.push_back({elapsed, bytesScanned});
  }
  // The window's start, in whole milliseconds, only moves forward, so the
  // readings before it are never needed again; the last one before it
  // stays, as the window's first.
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed);
  const std::chrono::nanoseconds windowStart = elapsedMs - std::max(kPaceWindow, elapsedMs / 3);
  while (readings_.size() > 2 && readings_[1].Elapsed <= windowStart) readings_.pop_front();
}

double TTimeLeft::BytesPerSecond() const {
  if (readings_.empty()) return 0.0;
  const double seconds = std::chrono::duration<double>(readings_.back().Elapsed).count();
  return seconds > 0 ? static_cast<double>(readings_.back().BytesScanned) / seconds : 0.0;
}

std::optional<double> TTimeLeft::SecondsLeftByAverage(int64_t bytesTotal) const {
  const double rate = BytesPerSecond();
  if (rate <= 0 || readings_.back().BytesScanned > bytesTotal) return std::nullopt;
  return static_cast<double>(bytesTotal - readings_.back().BytesScanned) / rate;
}

std::optional<int64_t> TTimeLeft::SecondsLeftByRecentPace(int64_t bytesTotal) const {
  if (readings_.size() < 2 || bytesTotal <= 0) return std::nullopt;
  const TReading& first = readings_.front();
  const TReading& last = readings_.back();
  const int64_t hundredth = bytesTotal / 100 + (bytesTotal % 100 != 0 ? 1 : 0);  // rounded up
  if (last.Elapsed < kEstimateAfter || last.BytesScanned < hundredth) return std::nullopt;
  if (last.BytesScanned >= bytesTotal) return 0;
  if (last.Elapsed <= first.Elapsed || last.BytesScanned <= first.BytesScanned) return std::nullopt;
  // Divided in milliseconds, the unit of the window's clock, whose spans
  // convert to double exactly: a time left of a whole number of seconds
  // stays whole and is not rounded up to the next.
  const double spanMs = std::chrono::duration<double, std::milli>(last.Elapsed - first.Elapsed).count();
  const double bytesPerMs = static_cast<double>(last.BytesScanned - first.BytesScanned) / spanMs;
  const double leftMs = static_cast<double>(bytesTotal - last.BytesScanned) / bytesPerMs;
  return static_cast<int64_t>(std::ceil(leftMs / 1000.0));
}

}  // namespace quarn
