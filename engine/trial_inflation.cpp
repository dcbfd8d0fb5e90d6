// The trial inflation. The scan runs it once per candidate that passes the
// filters, so it allocates nothing and takes no lock: the record and the
// buffer are the caller's, reused from trial to trial.
//
// The fast inflate path goes in front of the zlib calls after the probe:
// it either decides the whole trial exactly as these calls would, or hands
// the trial back to them untouched. It only counts, so a trial whose bytes
// are wanted (the extractor's) is always zlib's.
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

// The trial's watch, as the fast path calls it.
class TFastPathWatch final : public TFastInflateWatch {
 public:
  explicit TFastPathWatch(TTrialWatch* watch) : watch_(watch) {}
  void Progress(uint64_t inBytes) override { watch_->BeforeInflate(inBytes); }

 private:
  TTrialWatch* watch_;
};

}  // namespace

int InflateProbe(const uint8_t* probe, int64_t availableBytes, z_stream* record, uint8_t* buffer) {
  InflateReset(record);  // its result is not examined: a record without state fails the probe
  record->next_in = const_cast<Bytef*>(probe);
  record->avail_in = static_cast<uInt>(std::clamp<int64_t>(availableBytes, 0, kProbeInputBytes));
  record->next_out = buffer;
  record->avail_out = kProbeOutputBytes;
  return Inflate(record, kTrialFlush);
}

TTrialOutcome InflateTrial(const uint8_t* memory, int64_t size, int64_t pos, z_stream* record, uint8_t* buffer,
                           TInflatedBytes* output, uint64_t maxOfferBytes, TTrialWatch* watch,
                           TFastInflater* fast) {
  maxOfferBytes = std::clamp<uint64_t>(maxOfferBytes, 1, kMaxOfferBytes);
  TTrialOutcome outcome;

  int code = InflateProbe(memory + pos, size - pos, record, buffer);
  outcome.ProbePassed = code == Z_OK || code == Z_STREAM_END;
  bool goOn = outcome.ProbePassed && PassOn(output, buffer, record);

  if (goOn && code == Z_OK && fast != nullptr && output == nullptr) {
    TFastPathWatch fastWatch(watch);
    const TFastInflateResult quick =
        fast->Inflate(memory + pos, static_cast<uint64_t>(size - pos), watch != nullptr ? &fastWatch : nullptr);
    if (quick.Complete) {
      outcome.LastCode = Z_STREAM_END;
      outcome.InBytes = quick.InBytes;
      outcome.OutBytes = quick.OutBytes;
      return outcome;
    }
  }

  if (goOn && code == Z_OK) {
    const int64_t restStart = pos + static_cast<int64_t>(record->total_in);
    uint64_t notOffered = static_cast<uint64_t>(size - restStart);
    record->next_in = const_cast<Bytef*>(memory + restStart);
    record->avail_in = 0;
    while (goOn && code == Z_OK) {
      if (watch != nullptr) watch->BeforeInflate(record->total_in);
      if (record->avail_in == 0 && notOffered > 0) {
        const uint64_t piece = std::min(notOffered, maxOfferBytes);
        record->avail_in = static_cast<uInt>(piece);
        notOffered -= piece;
      }
      record->next_out = buffer;
      record->avail_out = kInflateBufferBytes;
      code = Inflate(record, kTrialFlush);
      goOn = PassOn(output, buffer, record);
    }
  }

  outcome.LastCode = code;
  outcome.InBytes = record->total_in;
  outcome.OutBytes = record->total_out;
  return outcome;
}

}  // namespace quarn
