// The stream detector: finds zlib and raw deflate streams in a block of
// memory and adds what it finds to a scan's shared totals.
//
// Every byte position `pos` of the block is tried as the first byte of
// deflate data: preceded by a two-byte zlib header at pos-2 (RFC 1950), or,
// with the Headerless option, without one. A position that passes the cheap
// byte tests is confirmed by a trial inflation; an accepted stream is
// counted and the scan resumes after the input it consumed.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "engine/dead_starts.h"
#include "engine/found_stream.h"
#include "engine/position_limit.h"
#include "engine/scan_state.h"
#include "engine/trial_inflation.h"

namespace quarn {

// Receives each accepted stream in file order, one call at a time (a
// chunked scan may make the calls from different threads, one after the
// other). An implementation shared by several runs must lock itself.
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
// (Z or hless, l and w for header streams, zin, zout). `record` must be
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

// Finds the streams whose first deflate byte lies in the positions
// [from, to) (trials still read up to the end of the block) and hands each
// to `sink` in order, counting nothing: the caller decides which of them
// count (a chunked scan keeps only those on the whole block's path).
// Returns the first position at or after `to` where the scan would go on:
// `to` itself, or the end of a stream that runs past it. With `progress`,
// reports the positions it goes past (the whole range by its end) and
// raises TScanCancelled when the stop is requested there. Raises
// TFileChangedError as ScanBlock does.
int64_t FindStreamsInRange(const uint8_t* Memory, int64_t Size, int64_t from, int64_t to,
                           const TScanOptions& options, z_stream* record, uint8_t* buffer, TStreamSink& sink,
                           TBlockProgress* progress = nullptr);

namespace detail {
// Steers a range scan from outside (the chunked scan): hears each accepted
// stream and may stop the scan after it, and is asked between the inflate
// calls of every long trial (as the trial's watch is) whether it may go on.
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

// Where a steered range scan ended: at `to` or past it as
// FindStreamsInRange says,
// or, when the control stopped it, at the first position it did not
// decide (after the stream it stopped at, or at the abandoned trial's
// candidate).
struct TRangeEnd {
  int64_t Position = 0;
  bool Stopped = false;
};

// FindStreamsInRange under a control (and with `progress` as it takes it).
TRangeEnd ScanRangeUnder(const uint8_t* Memory, int64_t Size, int64_t from, int64_t to,
                         const TScanOptions& options, z_stream* record, uint8_t* buffer, TRangeControl& control,
                         TBlockProgress* progress = nullptr);

// ScanBlock with zlib deciding every trial (no fast inflate path) and the
// rest of the file offered in pieces of at most `maxOfferBytes` (ScanBlock
// uses the largest avail_in). Exists so that tests can check piecewise
// offering on small inputs, and compare the fast path with zlib alone.
void ScanBlockWithZlibAlone(TScanState& state, const uint8_t* Memory, int64_t Size, z_stream* record,
                            uint8_t* buffer, TStreamSink* sink, uint64_t maxOfferBytes);
}  // namespace detail

}  // namespace quarn
