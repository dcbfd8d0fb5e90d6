// How the window words a running scan's progress: the share of bytes done,
// the files done of all files, and the time left once it can be estimated,
// e.g. "37% - 3 of 10 files - 1:20 left".
#pragma once

#include <QString>
#include <cstdint>

#include "engine/scan_control.h"

namespace quarn::ui {

// The share of the scan done, in thousandths (0..1000): by bytes, or by
// files when the files hold no bytes at all.
int ProgressPermille(const TScanProgress& progress);

// The time left, by the pace so far: none (-1) until the scan has run
// kEstimateAfterMs and done at least a hundredth of its bytes.
inline constexpr int64_t kEstimateAfterMs = 1000;
int64_t SecondsLeft(const TScanProgress& progress, int64_t elapsedMs);

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(int64_t seconds);

// The whole text, for the title bar; `elapsedMs` since the scan started.
// Only the share until the files of the scan have been counted.
QString ProgressText(const TScanProgress& progress, int64_t elapsedMs);

}  // namespace quarn::ui
