// The shared record of one scan, and the options it runs under.
//
// One TScanState is made per press of Scan. It holds the scan's
// TStreamCounts in atomic form: while files are scanned in parallel, its
// counters and the next-file index `j` change only through atomic
// read-modify-write operations (sequentially consistent, no lock); they
// are read, as one TStreamCounts, only after every run has ended.
// `Control` is the one part that other threads read, and may ask to stop,
// while the scan runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/scan_control.h"
#include "engine/stream_counts.h"

namespace quarn {

class TRuleSet;  // rule_set.h

// The deepest nested scan a front end takes: each level keeps a scanner
// of its own.
inline constexpr int kMaxScanDepth = 64;

struct TScanOptions {
  bool ScanWholeDirectory = false;
  bool Recursive = false;
  bool Headerless = false;
  bool AcceptIncomplete = false;
  // Also count the streams the rule leaves out that their own checksum
  // proves: zlib streams by their Adler-32 trailer, zip entries and gzip
  // members by the CRC-32 and sizes they record.
  bool Verified = false;
  // Give each stream handed out one by one its content type
  // (TFoundStream::Content). The file run sets it when its sink wants it.
  bool ContentTypes = false;
  // Match these rules against each stream handed out one by one
  // (TFoundStream::RuleHits); the file run keeps them only for a sink
  // that wants streams.
  std::shared_ptr<const TRuleSet> Rules;
  // Scan each stream's inflated bytes for streams in turn, those streams'
  // bytes too, down to this depth: 1, the default, scans the files alone
  // (TFoundStream::Nested).
  int Depth = 1;
  // The most bytes inflated for one stream of a file and every stream
  // nested in it; what lies beyond is skipped (TNestLimit::MaxInflate).
  uint64_t MaxInflateBytes = uint64_t{1} << 30;
  // Give nested streams their container too. The file run sets it when its
  // sink wants containers.
  bool NestedContainers = false;
};

// Header streams per window size 2^k, indexed by k in 9..15.
class TWindowCounters {
 public:
  static constexpr int kFirst = TStreamCounts::kFirstWindowBits;
  static constexpr int kLast = TStreamCounts::kLastWindowBits;
  std::atomic<int64_t>& operator[](int k) { return counts_[static_cast<std::size_t>(k - kFirst)]; }
  const std::atomic<int64_t>& operator[](int k) const {
    return counts_[static_cast<std::size_t>(k - kFirst)];
  }

 private:
  std::array<std::atomic<int64_t>, kLast - kFirst + 1> counts_{};
};

class TScanWindow;  // the window that started the scan (scan driver)

struct TScanState {
  std::atomic<int64_t> i{0};      // bytes of every file whose scan has ended
  std::atomic<int64_t> zout{0};   // bytes inflated from accepted streams
  std::atomic<int64_t> zin{0};    // compressed bytes of accepted streams (no header/trailer)
  std::atomic<int64_t> hless{0};  // accepted streams without a zlib header
  std::atomic<int64_t> Z{0};      // accepted streams with a zlib header
  std::array<std::atomic<int64_t>, 4> l{};  // header streams per FLEVEL 0..3
  TWindowCounters w;                        // header streams per window size 2^9..2^15
  std::atomic<int64_t> Files{0};            // files scanned whole
  std::array<std::atomic<int64_t>, TStreamCounts::kProvenKinds> proven{};  // beyond the rule, by kind
  std::atomic<int64_t> provenOut{0};
  // The window whose Scan started the scan. Nothing reads it: the driver and
  // the report get the window as an argument. Kept so that the record holds
  // what every part of the program knows it by.
  TScanWindow* Self = nullptr;
  std::atomic<int32_t> j{-1};  // index into FileList of the file taken most recently
  TScanOptions Options;
  TScanControl Control;  // stop request and progress, read while the scan runs

  explicit TScanState(TScanWindow* self = nullptr) : Self(self) {}
  TScanState(const TScanState&) = delete;
  TScanState& operator=(const TScanState&) = delete;

  // Adds `counts`, counter by counter (atomically, each on its own).
  void Add(const TStreamCounts& counts);
  // The counters as one value; plain reads, meant for after the runs.
  TStreamCounts Counts() const;
};

}  // namespace quarn
