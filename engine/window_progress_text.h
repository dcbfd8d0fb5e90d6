// How the scanner's windows word a running scan's progress: the share of
// bytes done, the files done of all files, and the time left once it can
// be estimated, e.g. "37% - 3 of 10 files - 1:20 left". The Qt window and
// the Win32 window both show it in their title.
#pragma once

#include <cstdint>
#include <string>

#include "engine/scan_control.h"
#include "engine/time_left.h"

namespace quarn {

// The share of the scan done, in thousandths (0..1000): by bytes, or by
// files when the files hold no bytes at all.
int ProgressPermille(const TScanProgress& progress);

// A window's time left: the recent pace of the scan (engine/time_left.h),
// read on every progress tick by the window's clock of whole milliseconds,
// given as -1 while it cannot be told.
class TTimeLeftEstimate {
 public:
  // One sample per progress tick, `elapsedMs` since the scan started,
  // ascending.
  void Add(int64_t elapsedMs, int64_t bytesScanned);
  // Seconds left to scan `bytesTotal`: none (-1) until the scan has run
  // kEstimateAfter and done at least a hundredth of its bytes.
  int64_t SecondsLeft(int64_t bytesTotal) const;

 private:
  TTimeLeft estimate_;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string DurationText(int64_t seconds);

// The whole text, for the title bar, with `secondsLeft` when it is not -1.
// Only the share until the files of the scan have been counted.
std::string ProgressText(const TScanProgress& progress, int64_t secondsLeft);

}  // namespace quarn
