// The progress texts. Bytes decide the share because one large file can be
// most of a scan; the time left assumes the pace so far goes on.
#include "ui/scan_progress_text.h"

#include <algorithm>
#include <cmath>

namespace quarn::ui {

int ProgressPermille(const TScanProgress& progress) {
  if (progress.BytesTotal > 0) {
    const double share = static_cast<double>(progress.BytesScanned) / static_cast<double>(progress.BytesTotal);
    return std::clamp(static_cast<int>(share * 1000.0), 0, 1000);
  }
  if (progress.FilesTotal > 0) return std::clamp(progress.FilesDone * 1000 / progress.FilesTotal, 0, 1000);
  return 0;
}

int64_t SecondsLeft(const TScanProgress& progress, int64_t elapsedMs) {
  if (elapsedMs < kEstimateAfterMs || progress.BytesTotal <= 0) return -1;
  const double share = std::min(1.0, static_cast<double>(progress.BytesScanned) /
                                         static_cast<double>(progress.BytesTotal));
  if (share < 0.01) return -1;
  const double leftMs = static_cast<double>(elapsedMs) * (1.0 - share) / share;
  return static_cast<int64_t>(std::ceil(leftMs / 1000.0));
}

QString DurationText(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  const int64_t hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  const QString tail = QStringLiteral("%1").arg(rest, 2, 10, QLatin1Char('0'));
  if (hours == 0) return QStringLiteral("%1:%2").arg(minutes).arg(tail);
  return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(tail);
}

QString ProgressText(const TScanProgress& progress, int64_t elapsedMs) {
  QString text = QStringLiteral("%1%").arg(ProgressPermille(progress) / 10);
  if (progress.FilesTotal == 0) return text;  // the files are still being counted
  text += QStringLiteral(" - %1 of %2 files").arg(progress.FilesDone).arg(progress.FilesTotal);
  const int64_t left = SecondsLeft(progress, elapsedMs);
  if (left >= 0) text += QStringLiteral(" - %1 left").arg(DurationText(left));
  return text;
}

}  // namespace quarn::ui
