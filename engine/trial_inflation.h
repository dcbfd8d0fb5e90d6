// The trial inflation: how a candidate position is inflated to see whether
// a stream starts there. The stream detector runs it to confirm each
// candidate and counts only what it consumed and produced; the stream
// extractor runs the very same calls again to get the inflated bytes, so
// that what it writes is exactly what the scan counted.
//
// A trial is a sequence of raw inflate calls on one record, each with
// flush mode Z_SYNC_FLUSH:
//   1. the probe: at most kProbeInputBytes of input and kProbeOutputBytes
//      of output space. Only Z_OK or Z_STREAM_END lets the trial go on, so
//      most false candidates cost one short call;
//   2. the rest of the input from where the probe stopped, with
//      kInflateBufferBytes of output space per call, until a call returns
//      anything but Z_OK.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/block_view.h"
#include "inflate/checksum.h"
#include "inflate/inflate_watch.h"
#include "inflate/output_taker.h"

namespace quarn {

class TFastInflater;

// The probe sees at most this many bytes from the candidate position on;
// the position loop never tries a position with fewer left.
inline constexpr int64_t kProbeInputBytes = 64;
// Output space of the probe.
inline constexpr uint32_t kProbeOutputBytes = 4096;
// Output space of every call after the probe; a trial's buffer holds this
// many bytes.
inline constexpr uint32_t kInflateBufferBytes = 65536;
// The flush mode of every call of a trial (zlib's Z_SYNC_FLUSH, 2).
inline constexpr int kTrialFlush = Z_SYNC_FLUSH;
// The most input one call can be offered: avail_in is 32 bits.
inline constexpr uint64_t kMaxOfferBytes = std::numeric_limits<uInt>::max();

// Takes the bytes of a trial as they are inflated, in order: once after
// every inflate call, with what that call produced (possibly nothing).
class TInflatedBytes {
 public:
  virtual ~TInflatedBytes() = default;
  // `bytes` stays valid only during the call. False ends the trial after
  // this call: the taker has all it wants.
  virtual bool Take(const uint8_t* bytes, std::size_t count) = 0;
};

// Keeps the inflated bytes of every trial, beside the counting, for what
// is learnt of a stream once it is found (its content type): unlike
// Output it never ends a trial, and the fast path serves it too. After a
// trial it holds that trial's output from its first byte, as much of it as
// it chooses to keep.
class TOutputKeeper : public TOutputTaker {
 public:
  // Forgets what it kept: a trial starts, or starts over.
  virtual void Clear() = 0;
};

// What one trial gave. The totals are what zlib's total_in and total_out
// would say if they were 64 bits wide everywhere: the trial counts them
// itself, call by call, as zlib's own are 32 bits on Windows.
struct TTrialOutcome {
  bool ProbePassed = false;       // the probe returned Z_OK or Z_STREAM_END
  int LastCode = Z_STREAM_ERROR;  // zlib's code of the last call made
  uint64_t InBytes = 0;           // deflate bytes consumed
  uint64_t OutBytes = 0;          // bytes inflated
  uint32_t Sum = 0;               // the checksum the hooks asked for, of those bytes

  // Decoded to the end of a deflate stream.
  bool Complete() const { return ProbePassed && LastCode == Z_STREAM_END; }
  // Complete, or, with `acceptIncomplete`, stopped after a good probe by
  // the end of the input (Z_BUF_ERROR) or by invalid data (Z_DATA_ERROR).
  bool Accepted(bool acceptIncomplete) const {
    return Complete() ||
           (acceptIncomplete && ProbePassed && (LastCode == Z_BUF_ERROR || LastCode == Z_DATA_ERROR));
  }
};

// The probe alone, the first call of every trial: resets `record`, then
// one inflate call on the first min(kProbeInputBytes, `availableBytes`)
// bytes at `probe` with kProbeOutputBytes of space at `buffer`. Returns
// zlib's code; the record holds what zlib left there: next_in and next_out
// just past what the call consumed and produced, and msg.
int InflateProbe(const uint8_t* probe, int64_t availableBytes, z_stream* record, uint8_t* buffer);

// What a trial may take besides its input, each optional.
struct TTrialHooks {
  // Takes the inflated bytes and may end the trial early; without it the
  // bytes are only counted.
  TInflatedBytes* Output = nullptr;
  // The rest of the input is offered in pieces of at most this many bytes
  // (clamped to 1 .. kMaxOfferBytes), each refilled only once zlib has used
  // it all, so the calls see what one offer of the whole rest would give.
  uint64_t MaxOfferBytes = kMaxOfferBytes;
  // Called before every inflate call after the probe, with the deflate
  // bytes the trial has consumed so far; a faster decoder in front of the
  // zlib calls calls it as often.
  TInflateWatch* Watch = nullptr;
  // Without Output: after a probe that returns Z_OK, the fast inflate path
  // on the whole rest. Where it says complete, that is the outcome (the
  // totals zlib would give; the record is left mid-stream), else the zlib
  // calls go on from the probe as without it. It calls Watch each time its
  // output buffer fills (every 224 KiB of output or so).
  TFastInflater* Fast = nullptr;
  // The checksum to keep of the inflated bytes (TTrialOutcome::Sum).
  TChecksum Checksum = TChecksum::None;
  // Keeps the inflated bytes, whichever path inflates them.
  TOutputKeeper* Keep = nullptr;
};

// Runs one trial of the deflate data at `block`.Memory[`pos`], reading no
// byte past the block's end (0 <= pos < Size). `record` must be started
// for raw inflate; it is reset first and stays started. `buffer` holds
// kInflateBufferBytes bytes and receives every call's output. Raises
// nothing but what the hooks' Output, Watch and Keep raise.
TTrialOutcome InflateTrial(TBlock block, int64_t pos, z_stream* record, uint8_t* buffer,
                           const TTrialHooks& hooks = {});

}  // namespace quarn
