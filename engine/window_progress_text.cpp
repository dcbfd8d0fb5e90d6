// The progress texts. Bytes decide the share because one large file can be
// most of a scan; the time left assumes the recent pace goes on.
#include "engine/window_progress_text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace quarn {

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

std::string DurationText(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  const long long hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  char text[48];
  if (hours == 0) {
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, rest);
  }
  return text;
}

std::string ProgressText(const TScanProgress& progress, int64_t secondsLeft) {
  std::string text = std::to_string(ProgressPermille(progress) / 10) + "%";
  if (progress.FilesTotal == 0) return text;  // the files are still being counted
  text += " - " + std::to_string(progress.FilesDone) + " of " + std::to_string(progress.FilesTotal) + " files";
  if (secondsLeft >= 0) text += " - " + DurationText(secondsLeft) + " left";
  return text;
}

}  // namespace quarn
