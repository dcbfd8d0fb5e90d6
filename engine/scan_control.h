// Stopping a running scan, and watching how far it has come.
//
// TScanControl belongs to one scan (it lives in its TScanState). Any thread
// may request the stop or read the progress while workers scan; a signal
// handler may request the stop too, as that is one lock-free atomic store.
// The workers look at the stop request between candidates, between the
// inflate calls of a long trial and before each file, so a scan ends within
// a fraction of a second even inside a stream of several gigabytes; a scan
// stopped that way raises TScanCancelled, never a partial result.
//
// Progress is counted in bytes of input that the scan has gone past: the
// position loop reports every kProgressStepBytes positions and as a long
// trial reads on, so a single large file moves the count as well. Every
// counter is a relaxed atomic; a reader sees a recent value, not a
// consistent snapshot of all of them.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>

#include "util/errors.h"

namespace quarn {

// The outcome of a scan that was asked to stop. Whoever sees it must not
// show the totals gathered so far as the result of the scan.
class TScanCancelled : public TQuarnError {
 public:
  TScanCancelled() : TQuarnError("The scan was cancelled") {}
  const char* KindName() const noexcept override { return "EScanCancelled"; }
};

// True when `error` is that outcome: a listener that takes files' failures
// as handled lets this one go on up.
inline bool IsCancellation(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const TScanCancelled&) {
    return true;
  } catch (...) {
    return false;
  }
}

// How far a scan has come, read at one moment.
struct TScanProgress {
  int64_t BytesScanned = 0;  // input bytes gone past, of every file so far
  int64_t BytesTotal = 0;    // bytes of all files of the scan, as listed at its start
  int32_t FilesDone = 0;     // files whose run ended without an error
  int32_t FilesTotal = 0;    // files of the scan
};

// How often the position loop reports and looks at the stop request when
// no candidate comes along: every this many positions.
inline constexpr int64_t kProgressStepBytes = int64_t{1} << 20;

class TScanControl {
 public:
  // Asks every worker of the scan to stop. Safe from any thread and from a
  // signal handler; cannot be taken back.
  void RequestCancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }
  bool CancelRequested() const noexcept { return cancel_.load(std::memory_order_relaxed); }
  // Raises TScanCancelled when the stop was requested.
  void ThrowIfCancelled() const {
    if (CancelRequested()) throw TScanCancelled();
  }

  // Set by the driver before the workers start.
  void SetTotals(int32_t files, int64_t bytes) noexcept {
    filesTotal_.store(files, std::memory_order_relaxed);
    bytesTotal_.store(bytes, std::memory_order_relaxed);
  }
  // More work than the files' sizes: the inflated bytes of found streams
  // that are scanned in turn.
  void AddBytesTotal(int64_t bytes) noexcept { bytesTotal_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddBytesScanned(int64_t bytes) noexcept { bytesScanned_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddFileDone() noexcept { filesDone_.fetch_add(1, std::memory_order_relaxed); }

  TScanProgress Progress() const noexcept {
    TScanProgress progress;
    progress.BytesScanned = bytesScanned_.load(std::memory_order_relaxed);
    progress.BytesTotal = bytesTotal_.load(std::memory_order_relaxed);
    progress.FilesDone = filesDone_.load(std::memory_order_relaxed);
    progress.FilesTotal = filesTotal_.load(std::memory_order_relaxed);
    return progress;
  }

 private:
  std::atomic<bool> cancel_{false};
  std::atomic<int64_t> bytesScanned_{0};
  std::atomic<int64_t> bytesTotal_{0};
  std::atomic<int32_t> filesDone_{0};
  std::atomic<int32_t> filesTotal_{0};
};

// The progress of one block (one file) as its scans report it: several
// range scans of the block, on several threads, add to it, and the block
// never counts more than its own size, however the ranges overlap. At its
// end Finish counts whatever is left, so a block finished adds exactly its
// size to the scan's BytesScanned. Without a control it counts nothing and
// never asks to stop.
class TBlockProgress {
 public:
  TBlockProgress(TScanControl* control, int64_t blockBytes) noexcept
      : control_(control), blockBytes_(std::max<int64_t>(blockBytes, 0)) {}
  TBlockProgress(const TBlockProgress&) = delete;
  TBlockProgress& operator=(const TBlockProgress&) = delete;

  void Advance(int64_t bytes) noexcept {
    if (control_ == nullptr || bytes <= 0) return;
    const int64_t before = counted_.fetch_add(bytes, std::memory_order_relaxed);
    const int64_t fits = std::clamp<int64_t>(blockBytes_ - before, 0, bytes);
    if (fits > 0) control_->AddBytesScanned(fits);
  }
  void Finish() noexcept {
    if (control_ == nullptr) return;
    const int64_t before = counted_.exchange(blockBytes_, std::memory_order_relaxed);
    if (before < blockBytes_) control_->AddBytesScanned(blockBytes_ - before);
  }
  bool CancelRequested() const noexcept { return control_ != nullptr && control_->CancelRequested(); }
  TScanControl* Control() const noexcept { return control_; }
  void ThrowIfCancelled() const {
    if (CancelRequested()) throw TScanCancelled();
  }

 private:
  TScanControl* const control_;
  const int64_t blockBytes_;
  std::atomic<int64_t> counted_{0};
};

}  // namespace quarn
