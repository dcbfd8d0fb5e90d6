// How the window words a running scan's progress: the share of bytes done,
// the files done of all files, and the time left once it can be estimated,
// e.g. "37% - 3 of 10 files - 1:20 left".
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <utility>

#include "engine/scan_control.h"

namespace quarn::ui {

// The share of the scan done, in thousandths (0..1000): by bytes, or by
// files when the files hold no bytes at all.
int ProgressPermille(const TScanProgress& progress);

// The time left, by the recent pace: the bytes scanned over the last third
// of the time so far (at least the last kPaceWindowMs), so that a pace that
// changes, as the machine gets busier or a part of the input is harder, is
// followed rather than averaged away.
inline constexpr int64_t kEstimateAfterMs = 1000;
inline constexpr int64_t kPaceWindowMs = 5000;

class TTimeLeftEstimate {
 public:
  // One sample per progress tick, `elapsedMs` since the scan started,
  // ascending.
  void Add(int64_t elapsedMs, int64_t bytesScanned);
  // Seconds left to scan `bytesTotal`: none (-1) until the scan has run
  // kEstimateAfterMs and done at least a hundredth of its bytes.
  int64_t SecondsLeft(int64_t bytesTotal) const;

 private:
  static constexpr int64_t kSampleSpacingMs = 200;
  std::deque<std::pair<int64_t, int64_t>> samples_;  // elapsed ms, bytes scanned
};

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(int64_t seconds);

// The whole text, for the title bar, with `secondsLeft` when it is not -1.
// Only the share until the files of the scan have been counted.
QString ProgressText(const TScanProgress& progress, int64_t secondsLeft);

}  // namespace quarn::ui
