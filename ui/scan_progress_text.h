// How the Qt window words a running scan's progress: the shared texts of
// engine/window_progress_text.h, as the QStrings the window shows.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/window_progress_text.h"

namespace quarn::ui {

using quarn::ProgressPermille;
using quarn::TTimeLeftEstimate;

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(int64_t seconds);

// The whole text, for the title bar, with `secondsLeft` when it is not -1.
// Only the share until the files of the scan have been counted.
QString ProgressText(const TScanProgress& progress, int64_t secondsLeft);

}  // namespace quarn::ui
