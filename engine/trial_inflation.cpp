// The trial inflation. The scan runs it once per candidate that passes the
// filters, so it allocates nothing and takes no lock: the record and the
// buffer are the caller's, reused from trial to trial.
//
// A trial's totals are counted here, in 64 bits, from how far each call
// moved the record's input and output pointers; zlib's own total_in and
// total_out are never read. They are unsigned long, which is 32 bits on
// Windows: there a stream past 4 GiB of input or output would wrap them,
// and the scan, the extractor and the Python module would all see the
// size less a multiple of 4 GiB.
//
// The fast inflate path goes in front of the zlib calls after the probe:
// it either decides the whole trial exactly as these calls would, or hands
// the trial back to them untouched. It only counts, so a trial whose bytes
// are wanted (the extractor's) is always zlib's; a keeper of the bytes
// (TTrialHooks::Keep) takes them from either path, and starts over when
// the fast path hands the trial back.
#include "engine/trial_inflation.h"

#include <algorithm>

#include "inflate/engine_binding.h"
#include "inflate/fast_inflate.h"

namespace quarn {
namespace {

// Hands what the last call wrote into `buffer` to `output`; false when the
// trial must end here.
bool PassOn(TInflatedBytes* output, const uint8_t* buffer, const z_stream* record) {
  if (output == nullptr) return true;
  return output->Take(buffer, static_cast<std::size_t>(record->next_out - buffer));
}

// One inflate call after the probe, its input and output added to the
// trial's totals: zlib leaves next_in just past the input it consumed and
// next_out just past the output it produced.
int CountedInflate(z_stream* record, TTrialOutcome& outcome, TChecksum checksum, TOutputKeeper* keep) {
  const Bytef* const inBefore = record->next_in;
  const Bytef* const outBefore = record->next_out;
  const int code = Inflate(record, kTrialFlush);
  const auto produced = static_cast<std::size_t>(record->next_out - outBefore);
  outcome.InBytes += static_cast<uint64_t>(record->next_in - inBefore);
  outcome.OutBytes += produced;
  outcome.Sum = ChecksumUpdate(checksum, outcome.Sum, outBefore, produced);
  if (keep != nullptr) keep->Take(outBefore, produced);
  return code;
}

}  // namespace

int InflateProbe(const uint8_t* probe, int64_t availableBytes, z_stream* record, uint8_t* buffer) {
  InflateReset(record);  // its result is not examined: a record without state fails the probe
  record->next_in = const_cast<Bytef*>(probe);
  record->avail_in = static_cast<uInt>(std::clamp<int64_t>(availableBytes, 0, kProbeInputBytes));
  record->next_out = buffer;
  record->avail_out = kProbeOutputBytes;
  return Inflate(record, kTrialFlush);
}

TTrialOutcome InflateTrial(TBlock block, int64_t pos, z_stream* record, uint8_t* buffer, const TTrialHooks& hooks) {
  const uint8_t* const memory = block.Memory;
  const int64_t size = block.Size;
  TInflatedBytes* const output = hooks.Output;
  TInflateWatch* const watch = hooks.Watch;
  TFastInflater* const fast = hooks.Fast;
  TOutputKeeper* const keep = hooks.Keep;
  const uint64_t maxOfferBytes = std::clamp<uint64_t>(hooks.MaxOfferBytes, 1, kMaxOfferBytes);
  TTrialOutcome outcome;

  int code = InflateProbe(memory + pos, size - pos, record, buffer);
  outcome.InBytes = static_cast<uint64_t>(record->next_in - (memory + pos));
  outcome.OutBytes = static_cast<uint64_t>(record->next_out - buffer);
  outcome.Sum = ChecksumUpdate(hooks.Checksum, ChecksumStart(hooks.Checksum), buffer, outcome.OutBytes);
  outcome.ProbePassed = code == Z_OK || code == Z_STREAM_END;
  bool goOn = outcome.ProbePassed && PassOn(output, buffer, record);
  if (keep != nullptr) keep->Clear();

  if (goOn && code == Z_OK && fast != nullptr && output == nullptr) {
    const TFastInflateResult quick =
        fast->Inflate(memory + pos, static_cast<uint64_t>(size - pos), watch, hooks.Checksum, keep);
    if (keep != nullptr && !quick.Complete) keep->Clear();  // zlib goes on from the probe
    if (quick.Complete) {
      outcome.LastCode = Z_STREAM_END;
      outcome.InBytes = quick.InBytes;
      outcome.OutBytes = quick.OutBytes;
      outcome.Sum = quick.Sum;
      return outcome;
    }
  }

  if (keep != nullptr && outcome.ProbePassed) keep->Take(buffer, static_cast<std::size_t>(outcome.OutBytes));
  if (goOn && code == Z_OK) {
    const int64_t restStart = pos + static_cast<int64_t>(outcome.InBytes);
    uint64_t notOffered = static_cast<uint64_t>(size - restStart);
    record->next_in = const_cast<Bytef*>(memory + restStart);
    record->avail_in = 0;
    while (goOn && code == Z_OK) {
      if (watch != nullptr) watch->Progress(outcome.InBytes);
      if (record->avail_in == 0 && notOffered > 0) {
        const uint64_t piece = std::min(notOffered, maxOfferBytes);
        record->avail_in = static_cast<uInt>(piece);
        notOffered -= piece;
      }
      record->next_out = buffer;
      record->avail_out = kInflateBufferBytes;
      code = CountedInflate(record, outcome, hooks.Checksum, keep);
      goOn = PassOn(output, buffer, record);
    }
  }

  outcome.LastCode = code;
  return outcome;
}

}  // namespace quarn
