// The scan of a found stream's inflated bytes for the streams inside it,
// and of theirs in turn, down to the scan's depth (TScanOptions::Depth):
// a zip inside a gzip member inside a PDF stream is found at depth 3.
//
// The bytes come from the found stream's own trial, which kept them
// (kept_output.h): in memory when small, else in a scratch file that is
// mapped here, its pages let go as the scan passes them, so no stream is
// inflated twice and memory stays bounded. Each nested level has one
// TNestedScan and one scanner of its own, made on first need; the scanner
// describes what it finds (content type, rules) and its own TNestedScan
// goes a level deeper, so a stream's nested streams form a tree
// (TFoundStream::Nested), each offset within its parent's bytes.
//
// The limits of nest_guard.h hold under every stream of the file; the
// nested bytes count as more work in the scan's progress, and a stop
// requested there stops the nested scans too.
#pragma once

#include <memory>

#include "engine/found_stream.h"
#include "engine/kept_output.h"
#include "engine/nest_guard.h"
#include "engine/scan_control.h"
#include "engine/scan_state.h"

namespace quarn {

class TScanner;  // stream_detector.h

class TNestedScan {
 public:
  // `options`: the scan's, with Depth above 1. `budget`: the budget of the
  // file's stream this level lies under, or null for the scan of a file's
  // own streams, where each stream gets a budget of its own.
  TNestedScan(const TScanOptions& options, TNestBudget* budget);
  ~TNestedScan();
  TNestedScan(const TNestedScan&) = delete;
  TNestedScan& operator=(const TNestedScan&) = delete;

  // Scans the bytes `kept` holds, the output of the trial that found
  // `stream`, and gives `stream` the streams found there (Nested), or the
  // limit that keeps it from being scanned (SkippedBy). With `control`,
  // counts the bytes as more work there and stops when asked (raising
  // TScanCancelled).
  void ScanInside(TKeptOutput& kept, TFoundStream& stream, TScanControl* control);

 private:
  const TScanOptions options_;  // with Depth one less: the level below
  const uint64_t maxInflateBytes_;
  const bool top_;              // scans inside the file's own streams
  TNestBudget ownBudget_;       // of the file's stream being scanned, at the top
  TNestBudget& budget_;
  TNestGuard guard_;
  std::unique_ptr<TScanner> scanner_;
};

}  // namespace quarn
