// The progress texts. Bytes decide the share because one large file can be
// most of a scan; the time left assumes the recent pace goes on.
#include "ui/scan_progress_text.h"

#include <algorithm>
#include <chrono>

namespace quarn::ui {

int ProgressPermille(const TScanProgress& progress) {
  if (progress.BytesTotal > 0) {
    const double share = static_cast<double>(progress.BytesScanned) / static_cast<double>(progress.BytesTotal);
    return std::clamp(static_cast<int>(share * 1000.0), 0, 1000);
  }
  if (progress.FilesTotal > 0) return std::clamp(progress.FilesDone * 1000 / progress.FilesTotal, 0, 1000);
  return 0;
}

void TTimeLeftEstimate::Add(int64_t elapsedMs, int64_t bytesScanned) {
  estimate_.Add(std::chrono::milliseconds(elapsedMs), bytesScanned);
}

int64_t TTimeLeftEstimate::SecondsLeft(int64_t bytesTotal) const {
  return estimate_.SecondsLeftByRecentPace(bytesTotal).value_or(-1);
}

QString DurationText(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  const int64_t hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  const QString tail = QStringLiteral("%1").arg(rest, 2, 10, QLatin1Char('0'));
  if (hours == 0) return QStringLiteral("%1:%2").arg(minutes).arg(tail);
  return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(tail);
}

QString ProgressText(const TScanProgress& progress, int64_t secondsLeft) {
  QString text = QStringLiteral("%1%").arg(ProgressPermille(progress) / 10);
  if (progress.FilesTotal == 0) return text;  // the files are still being counted
  text += QStringLiteral(" - %1 of %2 files").arg(progress.FilesDone).arg(progress.FilesTotal);
  if (secondsLeft >= 0) text += QStringLiteral(" - %1 left").arg(DurationText(secondsLeft));
  return text;
}

}  // namespace quarn::ui
