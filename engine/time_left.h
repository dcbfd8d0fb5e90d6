// How long a running scan has left: TTimeLeft takes the scan's bytes done,
// read again and again with the time since the scan started, and gives the
// rate and the time left, or none while it cannot tell. The window and
// quarn-scan both feed it from TScanControl::Progress() on every redraw.
//
// It offers two paces, because the two front ends show two:
// - the average since the start, bytes done over all the time so far, which
//   quarn-scan prints as its rate and divides the bytes still to go by;
// - the recent pace, the bytes done over the last third of the time so far
//   (at least the last kPaceWindow), so that a pace that changes, as the
//   machine gets busier or a part of the input is harder, is followed
//   rather than averaged away; the window words its time left by it, once
//   the scan has run kEstimateAfter and done a hundredth of its bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace quarn {

inline constexpr std::chrono::milliseconds kEstimateAfter{1000};
inline constexpr std::chrono::milliseconds kPaceWindow{5000};

class TTimeLeft {
 public:
  // One reading: `bytesScanned` done after `elapsed` since the scan started
  // (with nothing done at its start). Readings come in ascending time.
  void Add(std::chrono::nanoseconds elapsed, int64_t bytesScanned);

  // Bytes a second since the start, by the newest reading; 0 before any
  // reading or while no time has passed.
  double BytesPerSecond() const;
  // Seconds left to reach `bytesTotal` at that average: none while it is 0,
  // or once more than `bytesTotal` is done (the files grew while scanned).
  // Not rounded, and 0 exactly when `bytesTotal` is done.
  std::optional<double> SecondsLeftByAverage(int64_t bytesTotal) const;
  // Whole seconds left to reach `bytesTotal` at the recent pace, rounded up.
  // None until the newest reading is kEstimateAfter old and has a
  // hundredth of `bytesTotal` done, nor while nothing was done over the
  // recent window (a stall), nor for a `bytesTotal` of 0 or less; 0 once
  // `bytesTotal` is done or passed.
  std::optional<int64_t> SecondsLeftByRecentPace(int64_t bytesTotal) const;

 private:
  // Older readings at least this far apart; the newest one moves with
  // every reading, so that readings many times a second cost no memory.
  static constexpr std::chrono::milliseconds kReadingSpacing{200};

  struct TReading {
    std::chrono::nanoseconds Elapsed;
    int64_t BytesScanned;
  };
  // From the start of the recent window (or the one just before it) to the
  // newest reading.
  std::deque<TReading> readings_;
};

}  // namespace quarn
