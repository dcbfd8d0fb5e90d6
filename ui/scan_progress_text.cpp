// The progress texts as QStrings.
#include "ui/scan_progress_text.h"

namespace quarn::ui {

QString DurationText(int64_t seconds) { return QString::fromStdString(quarn::DurationText(seconds)); }

QString ProgressText(const TScanProgress& progress, int64_t secondsLeft) {
  return QString::fromStdString(quarn::ProgressText(progress, secondsLeft));
}

}  // namespace quarn::ui
