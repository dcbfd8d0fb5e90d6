// The stream detector: finds zlib and raw deflate streams in a block of
// memory and adds what it finds to a scan's shared totals.
//
// Every byte position `pos` of the block is tried as the first byte of
// deflate data: preceded by a two-byte zlib header at pos-2 (RFC 1950), or,
// with the Headerless option, without one. A position that passes the cheap
// byte tests is confirmed by a trial inflation; an accepted stream is
// counted and the scan resumes after the input it consumed.
//
// A TScanner is what one thread scans with: the options, and the inflate
// record and output buffer that its trials reuse. Every scan of a range,
// every trial of the extraction and of the Python module, runs through
// one; ScanBlock, the whole-block scan, lends the caller's record and
// buffer to the same loop.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/block_view.h"
#include "engine/dead_starts.h"
#include "engine/found_stream.h"
#include "engine/position_limit.h"
#include "engine/scan_state.h"
#include "engine/trial_inflation.h"
#include "inflate/inflate_record.h"

namespace quarn {

// Receives each accepted stream of one block in block order, one call at a
// time (a chunked scan may make the calls from different threads, one after
// the other). This is the detector's side of the scan's sink (scan_sink.h):
// it knows no file, as a block may be a caller's buffer. An implementation
// shared by several runs must lock itself.
class TStreamSink {
 public:
  virtual ~TStreamSink() = default;
  virtual void StreamFound(const TFoundStream& stream) = 0;
};

// Keeps every stream it hears of, in order. For one thread.
class TCollectSink final : public TStreamSink {
 public:
  void StreamFound(const TFoundStream& stream) override { Streams.push_back(stream); }
  std::vector<TFoundStream> Streams;
};

// Scans `Memory`[0 .. `Size`-1] and adds every accepted stream to `state`
// (Z or hless, l and w for header streams, zin, zout; with Verified, the
// streams proven beyond the rule to `proven`). `record` must be
// started for raw inflate (InflateInit2 with -15); it is reset before every
// trial and stays started. `buffer` holds kInflateBufferBytes bytes; what is
// written there is discarded. `sink`, when given, hears of every stream.
// Reads `state.Options`; reports its progress to `state.Control`, all of
// `Size` once it has ended. Raises TScanCancelled, leaving partial totals in
// `state`, when the stop is requested there, and TFileChangedError when a
// candidate's header or first byte reads differently after its trial than
// before it (the memory changed under the scan); nothing else.
void ScanBlock(TScanState& state, const uint8_t* Memory, int64_t Size, z_stream* record,
               uint8_t* buffer, TStreamSink* sink = nullptr);

// Adds one accepted stream to the totals, as ScanBlock counts it: Z, one
// `w` and one `l` entry for a header stream, else hless; then zin and zout.
// Raises as TStreamCounts::Add does, counting nothing.
void CountFoundStream(TScanState& state, const TFoundStream& stream);

namespace detail {
// Steers a range scan from outside (the chunked scan): hears each accepted
// stream and may stop the scan after it, and is asked between the inflate
// calls of every long trial (as the trial's watch is) whether it may go on.
// It differs from a sink in what it decides: where a trial and the scan
// stop, and which block starts are known dead.
class TRangeControl {
 public:
  virtual ~TRangeControl() = default;
  // False stops the scan right after `stream`.
  virtual bool StreamFound(const TFoundStream& stream) = 0;
  // The trial of the candidate at `start` has consumed the input up to
  // `reach` (a block position). False abandons it undecided and stops the
  // scan at `start`.
  virtual bool TrialMayGoOn(int64_t start, int64_t reach) = 0;
  // Called after every trial, whatever its outcome.
  virtual void TrialEnded() {}
  // The dead block starts of the block, kept across the calls that scan
  // one path through it (none: each call keeps its own).
  virtual TDeadStarts* DeadStarts() { return nullptr; }
};

// Where a steered range scan ended: at the range's end or past it as
// TScanner::FindStreams says, or, when the control stopped it, at the first
// position it did not decide (after the stream it stopped at, or at the
// abandoned trial's candidate).
struct TRangeEnd {
  int64_t Position = 0;
  bool Stopped = false;
};

struct TTrialKit;  // stream_detector.cpp
}  // namespace detail

class TStreamFacts;  // stream_facts.h
class TNestGuard;    // nest_guard.h

// How a scanner's trials run. The scan's own are the defaults; tests check
// piecewise offering on small inputs, and the fast path against zlib
// alone, by changing them.
struct TTrialSettings {
  uint64_t MaxOfferBytes = kMaxOfferBytes;  // the most input one inflate call is offered
  bool FastPathAllowed = true;              // the fast inflate path may decide trials
  // For a scanner of a stream's inflated bytes: every trial runs under
  // this guard, and the scan ends once its budget is spent. A trial that
  // a limit stops is handed out as a stream with SkippedBy set and its
  // sizes so far; the scan goes on at the next position.
  TNestGuard* Guard = nullptr;
};

// One thread's scanner. Not for several threads at once.
class TScanner {
 public:
  explicit TScanner(const TScanOptions& options = {}, const TTrialSettings& settings = {});
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  const TScanOptions& Options() const { return options_; }

  // ScanBlock over `block` with this scanner's options, record and buffer.
  void ScanBlock(TScanState& state, TBlock block, TStreamSink* sink = nullptr);

  // Finds the streams whose first deflate byte lies in `range` (trials
  // still read up to the end of the block) and hands each to `sink` in
  // order, counting nothing: the caller decides which of them count (a
  // chunked scan keeps only those on the whole block's path). Returns the
  // first position at or after range.To where the scan would go on: To
  // itself, or the end of a stream that runs past it. With `progress`,
  // reports the positions it goes past (the whole range by its end) and
  // raises TScanCancelled when the stop is requested there. Raises
  // TFileChangedError as ScanBlock does.
  int64_t FindStreams(TBlock block, TRange range, TStreamSink& sink, TBlockProgress* progress = nullptr);

  // FindStreams under a control (and with `progress` as it takes it).
  detail::TRangeEnd ScanUnder(TBlock block, TRange range, detail::TRangeControl& control,
                              TBlockProgress* progress = nullptr);

  // The trial of the candidate at `pos`, its bytes to `output` (which may
  // end it early): the very calls the scan made, for the extraction and
  // the Python module's inflation.
  TTrialOutcome Trial(TBlock block, int64_t pos, TInflatedBytes* output);

 private:
  // The record, buffer, options and settings the position loop runs with.
  detail::TTrialKit Kit();

  const TScanOptions options_;
  const TTrialSettings settings_;
  TInflateRecord record_;
  const std::unique_ptr<uint8_t[]> buffer_;
  // What is learnt of each stream the scans find (with ContentTypes).
  const std::unique_ptr<TStreamFacts> facts_;
};

}  // namespace quarn
