// The limits that keep a nested scan bounded whatever the input holds, and
// the guard every nested trial runs under.
//
// Under each stream of a file, the streams found in its inflated bytes,
// and in theirs, share one budget (TNestBudget): the bytes that may still
// be inflated (the scan's MaxInflateBytes less the top stream's own), and
// the nested streams that may still be listed. A nested trial may also
// inflate no more than kMaxExpansion bytes per byte of input once it has
// inflated kFreeExpansionBytes: layered bombs expand a thousandfold per
// layer and are stopped at their first nested layer. A limit that is met
// never drops anything in silence: the stream it stopped at is handed out
// with the limit's name (TFoundStream::SkippedBy).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/found_stream.h"
#include "engine/trial_inflation.h"
#include "inflate/inflate_watch.h"

namespace quarn {

inline constexpr uint64_t kFreeExpansionBytes = uint64_t{1} << 20;
inline constexpr uint64_t kMaxExpansion = 100;
// Nested streams listed under one stream of a file, at most.
inline constexpr int64_t kMaxNestedStreams = 100000;

// Whether a nested trial that read `inBytes` and inflated `outBytes` has
// gone past the expansion limit.
constexpr bool ExpandsTooMuch(uint64_t inBytes, uint64_t outBytes) {
  return outBytes > kFreeExpansionBytes && (outBytes + kMaxExpansion - 1) / kMaxExpansion > inBytes;
}

// What is left for the nested scan under one stream of a file.
struct TNestBudget {
  uint64_t BytesLeft = 0;
  int64_t StreamsLeft = kMaxNestedStreams;
  // A limit ended the nested scan under this stream: every level stops
  // before its next trial.
  bool Spent = false;
};

// Raised inside a guarded trial that a limit stopped, with how far it got.
struct TNestLimitHit {
  TNestLimit Limit = TNestLimit::None;
  uint64_t InBytes = 0;
  uint64_t OutBytes = 0;
};

// Watches one nested scanner's trials: keeps their bytes in the scanner's
// own keeper, counts them against the budget, and raises TNestLimitHit
// when the budget runs out (marking it spent) or the trial expands too
// much. For one thread.
class TNestGuard final : public TOutputKeeper, public TInflateWatch {
 public:
  explicit TNestGuard(TNestBudget& budget) : budget_(budget) {}
  TNestBudget& Budget() const { return budget_; }
  // The keeper the trials' bytes go on to (none: they are only counted).
  void KeepIn(TOutputKeeper* keeper) { inner_ = keeper; }

  void Clear() override;
  void Take(const uint8_t* bytes, std::size_t count) override;
  void Progress(uint64_t inBytes) override;

 private:
  TNestBudget& budget_;
  TOutputKeeper* inner_ = nullptr;
  uint64_t inBytes_ = 0;   // as the trial last reported
  uint64_t outBytes_ = 0;
};

}  // namespace quarn
