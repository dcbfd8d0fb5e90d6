// The position loop and the trial inflation.
//
// How a block is scanned:
//   * Positions 0 .. Size-64 are tried in order (none in a block shorter
//     than 64 bytes). A position is a header candidate when the two bytes
//     before it form a zlib header: CM 8, no preset dictionary, the 16-bit
//     big-endian value a multiple of 31, CINFO 1..7. Failing that, and with
//     Headerless on, it is a headerless candidate when its low three bits
//     start a dynamic-Huffman block (4 or 5).
//   * A candidate gets one trial (trial_inflation.h): a probe of at most 64
//     input bytes and 4,096 output bytes, which rejects most false
//     candidates cheaply; only a probe that returns Z_OK or Z_STREAM_END is
//     offered the rest of the block, 64 KiB of output at a time, until the
//     stream ends or fails.
//   * A trial counts when it reaches Z_STREAM_END, or, with
//     AcceptIncomplete, when it ran out of input (Z_BUF_ERROR) or met bad
//     data (Z_DATA_ERROR) after a good probe. A header stream that inflates
//     to less than 256 KiB must also start with a dynamic block: stored and
//     fixed-code first blocks are too easy to hit by chance.
//   * After an accepted stream the scan jumps over the input it consumed,
//     so positions inside a stream are never tried.
//   * Without AcceptIncomplete, a trial that ends no stream tells of the
//     block starts on a byte that it passed: none of them can start a
//     stream that ends either (dead_starts.h), so they get no trial.
//   * With Verified, streams the rule turns down count apart when their
//     checksum proves them (see ScanPositions): the trials keep a checksum
//     of their output, zip entries and gzip members are tried where their
//     data starts, and the last 63 bytes are tried for such streams.
//     These streams do not move the path.
//
// Why it is fast: the loop below never looks at a position itself. It asks
// NextCandidate (candidate_filter.cpp) for the next candidate that could
// be accepted; that search tests 64 positions at a time with vector
// compares and drops, without calling zlib, every candidate whose probe
// bytes prove a failure, and without AcceptIncomplete every candidate
// whose first block header (or first fixed-code symbols) the input proves
// bad (most block headers in random data are invalid within a few bytes). Between two trials the loop keeps no
// state but `pos`, so skipping positions that would have been rejected
// leaves every result as the plain loop gives it.
//
// Why confirming is fast: once zlib's probe has returned Z_OK, the trial
// asks our own fast inflate path (inflate/fast_inflate.h) for the rest of
// the stream; it answers "complete" only where zlib would end the stream
// with the same totals. Anything else it hands back, and zlib goes on from
// where its probe stopped, exactly as without it.
//
// Facts of a stream beyond its sizes (its content type, the rules that
// match it), when the options ask for them, come from bytes its trial kept
// (stream_facts.h), once the stream is accepted and before it is handed
// out.
//
// The loop takes no lock; the output buffer and the inflate record are
// the caller's and are reused by every trial. It allocates nothing but the
// list of dead block starts (dead_starts.h), after trials that fail past
// a block boundary; it keeps the scan of a stream that never ends from
// inflating the rest of it once per block.
//
// Input that changes under the scan: a mapped file may be rewritten by
// another process while a trial runs. The bytes that decide a candidate
// (its header and first byte) are read once and kept, so a counter is
// only ever indexed by a value that passed the header test; they are read
// again after the trial, and a difference raises TFileChangedError. The
// filters and the fast path read the input with no such care, but every
// index they take from it is masked to its table, so changed bytes can
// only change their verdicts, never what they touch.
//
// Stopping and progress: the loop looks at the scan's stop request (one
// relaxed load) before every trial, every kProgressStepBytes positions
// without a candidate, and between the inflate calls of a long trial, and
// reports the positions it has gone past at the same points. A long trial
// reports the input it has read, as far as the range goes; if the trial
// fails, the loop goes on behind what it reported and reports nothing again.
#include "engine/stream_detector.h"

#include <algorithm>
#include <optional>
#include <string>

#include "engine/candidate_filter.h"
#include "engine/container_starts.h"
#include "engine/nest_guard.h"
#include "engine/stream_facts.h"
#include "engine/trial_inflation.h"
#include "inflate/engine_binding.h"
#include "inflate/fast_inflate.h"
#include "util/errors.h"
#include "util/read_once.h"

namespace quarn {

namespace detail {
// What the position loop's trials run with: a scanner's own record and
// buffer, or those ScanBlock's caller lends.
struct TTrialKit {
  const TScanOptions& Options;
  z_stream* Record;
  uint8_t* Buffer;
  TTrialSettings Settings;
  TStreamFacts* Facts = nullptr;  // what is learnt of each stream found; none without
};
}  // namespace detail

namespace {

using detail::TTrialKit;

using detail::IsDynamicBlockStart;
using detail::IsHeaderCandidate;

constexpr uint64_t kSmallStreamBytes = 262144;  // below this a header stream needs a dynamic first block

// Where one range scan stands with its progress: positions before
// `reportedTo_` have been reported to the block's progress. As the watch
// of a trial it reports the input the trial has read, from `trialPos`.
class TRangeMeter final : public TInflateWatch {
 public:
  TRangeMeter(TBlockProgress* progress, int64_t from, int64_t to) : progress_(progress), reportedTo_(from), to_(to) {}

  bool Active() const { return progress_ != nullptr; }
  // The scan has gone past every position before `position`.
  void Reached(int64_t position) {
    if (progress_ == nullptr) return;
    position = std::min(position, to_);
    if (position > reportedTo_) {
      progress_->Advance(position - reportedTo_);
      reportedTo_ = position;
    }
  }
  void ThrowIfCancelled() const {
    if (progress_ != nullptr) progress_->ThrowIfCancelled();
  }
  void StartTrial(int64_t pos) { trialPos_ = pos; }
  // Reports only in steps of kTrialReportBytes, so that a trial of many
  // short inflate calls stays cheap; looks at the stop request every call.
  void Progress(uint64_t inBytes) override {
    const int64_t position = trialPos_ + static_cast<int64_t>(inBytes);
    if (position - reportedTo_ >= kTrialReportBytes) Reached(position);
    progress_->ThrowIfCancelled();
  }
  // The watch to hand a trial: none without progress to report.
  TInflateWatch* Watch() { return progress_ != nullptr ? this : nullptr; }

 private:
  static constexpr int64_t kTrialReportBytes = 65536;
  TBlockProgress* const progress_;
  int64_t reportedTo_;
  const int64_t to_;
  int64_t trialPos_ = 0;
};

// The next candidate by the byte tests alone, position by position. Used
// when an external zlib serves the run: the filters repeat the built-in
// zlib's own checks, and another build of zlib must decide every
// candidate itself.
int64_t NextPlainCandidate(const uint8_t* memory, int64_t pos, int64_t end, bool headerless) {
  for (; pos < end; ++pos) {
    if (pos >= 2 && IsHeaderCandidate(memory + pos - 2)) return pos;
    if (headerless && IsDynamicBlockStart(memory[pos])) return pos;
  }
  return pos;  // `end`, or `pos` itself when it was already past `end`
}

// The bytes that decide what a candidate is and how it is counted: the
// zlib header before it (zero where the position has no room for one) and
// its first deflate byte. Each is read once and then kept, so that what is
// counted is what was tried, whatever the input does meanwhile; reading
// them again after the trial shows whether it changed.
struct TCandidateBytes {
  uint8_t cmf = 0;
  uint8_t flg = 0;
  uint8_t first = 0;

  static TCandidateBytes Read(const uint8_t* memory, int64_t pos) {
    TCandidateBytes bytes;
    if (pos >= 2) {
      bytes.cmf = ReadOnce(memory + pos - 2);
      bytes.flg = ReadOnce(memory + pos - 1);
    }
    bytes.first = ReadOnce(memory + pos);
    return bytes;
  }
  bool operator==(const TCandidateBytes&) const = default;
};

// The control of a scan that nothing steers: every stream goes to
// `onStream`, every trial runs to its end.
template <typename TOnStream>
struct TPlainControl {
  static constexpr bool kSteered = false;
  TOnStream& onStream;
  bool StreamFound(const TFoundStream& stream) {
    onStream(stream);
    return true;
  }
};

struct TSteeredControl {
  static constexpr bool kSteered = true;
  detail::TRangeControl& control;
  bool StreamFound(const TFoundStream& stream) { return control.StreamFound(stream); }
};

// Raised inside a trial that its steering control put off; the position
// loop catches it and stops at the trial's candidate.
struct TTrialPutOff {};

// Two watches of one trial, called in turn.
class TWatchPair final : public TInflateWatch {
 public:
  TWatchPair(TInflateWatch* first, TInflateWatch* second) : first_(first), second_(second) {}
  void Progress(uint64_t inBytes) override {
    if (first_ != nullptr) first_->Progress(inBytes);
    second_->Progress(inBytes);
  }

 private:
  TInflateWatch* first_;
  TInflateWatch* second_;
};

// The watch of a steered trial: reports progress as the meter does, then
// asks the control whether the trial may go on.
class TSteeringWatch final : public TInflateWatch {
 public:
  TSteeringWatch(TInflateWatch* meter, detail::TRangeControl& control, int64_t start)
      : meter_(meter), control_(control), start_(start) {}
  void Progress(uint64_t inBytes) override {
    if (meter_ != nullptr) meter_->Progress(inBytes);
    if (!control_.TrialMayGoOn(start_, start_ + static_cast<int64_t>(inBytes))) throw TTrialPutOff{};
  }

 private:
  TInflateWatch* meter_;
  detail::TRangeControl& control_;
  int64_t start_;
};

// Whether the four bytes after a zlib stream's deflate data, its Adler-32
// trailer, hold the checksum its trial kept.
bool AdlerTrailerMatches(TBlock block, int64_t pos, const TTrialOutcome& trial) {
  const int64_t at = pos + static_cast<int64_t>(trial.InBytes);
  if (at > block.Size - 4) return false;
  const uint8_t* const trailer = block.Memory + at;
  const uint32_t stored = static_cast<uint32_t>(ReadOnce(trailer)) << 24 | static_cast<uint32_t>(ReadOnce(trailer + 1)) << 16 |
                          static_cast<uint32_t>(ReadOnce(trailer + 2)) << 8 | ReadOnce(trailer + 3);
  return stored == trial.Sum;
}

TFoundStream StreamOf(int64_t pos, bool header, const TCandidateBytes& tried, const TTrialOutcome& trial) {
  TFoundStream stream;
  stream.OffsetBytes = pos;
  stream.HasHeader = header;
  stream.InBytes = trial.InBytes;
  stream.OutBytes = trial.OutBytes;
  stream.Complete = trial.Complete();
  if (header) {
    stream.CINFO = static_cast<uint8_t>(tried.cmf >> 4);
    stream.FLEVEL = static_cast<uint8_t>(tried.flg >> 6);
  }
  return stream;
}

// A stream beyond the rule that its checksum proves.
TFoundStream ProvenStream(TFoundStream stream, TProof proof, TContainerKind provenIn) {
  stream.ProvenBy = proof;
  stream.ProvenIn = provenIn;
  stream.BeyondRule = true;
  return stream;
}

// The position loop over [from, to); every accepted stream goes to
// `control`, which may stop the loop after it; a steering control may also
// stop a trial part way. Returns where the scan would go on, or where it
// was stopped. The filters and the fast path stand in for the built-in
// zlib only: with an external zlib serving the run, that engine decides
// every candidate.
//
// A scan that asks for proof (Verified) goes further, without changing
// which streams the rule admits or where the path goes: a header
// candidate's trial keeps the Adler-32 of its output, and one the rule
// turns down counts beyond it when its trailer holds that checksum; the
// data of every zip entry and gzip member on the path is tried, as the
// candidate it may be or on its own, and counts when it matches its
// record; and a range that reaches the block's last 63 bytes tries their
// header candidates and containers too. Streams beyond the rule do not
// move the path: the scan steps on to the next position.
template <typename TControl>
detail::TRangeEnd ScanPositions(const TTrialKit& kit, TBlock block, TRange range, TBlockProgress* progress,
                                TControl& control) {
  const uint8_t* const Memory = block.Memory;
  const int64_t Size = block.Size;
  const int64_t from = range.From;
  const int64_t limit = PositionLimit(Size);
  const int64_t to = std::min(range.To, limit);
  const bool headerless = kit.Options.Headerless;
  const bool acceptIncomplete = kit.Options.AcceptIncomplete;
  const bool verified = kit.Options.Verified;

  const bool filtersMatchEngine = !EngineBinding.LibraryBound;
  TFastInflater* const fast =
      filtersMatchEngine && kit.Settings.FastPathAllowed ? &ThreadFastInflater() : nullptr;
  TTrialHooks hooks;
  hooks.MaxOfferBytes = kit.Settings.MaxOfferBytes;
  hooks.Fast = fast;
  TStreamFacts* const facts = kit.Facts != nullptr && kit.Facts->Keeper() != nullptr ? kit.Facts : nullptr;
  if (facts != nullptr) hooks.Keep = facts->Keeper();
  TNestGuard* const guard = kit.Settings.Guard;
  if (guard != nullptr) {
    guard->KeepIn(hooks.Keep);
    hooks.Keep = guard;
  }
  // Where the guard stopped the last trial, and how far it had come.
  std::optional<TNestLimitHit> limitHit;

  TRangeMeter meter(progress, from, to);
  detail::TDeadStarts ownDeadStarts;
  detail::TDeadStarts* deadStartsOfControl = nullptr;
  if constexpr (TControl::kSteered) deadStartsOfControl = control.control.DeadStarts();
  detail::TDeadStarts& deadStarts = deadStartsOfControl != nullptr ? *deadStartsOfControl : ownDeadStarts;
  std::optional<TContainerStarts> containers;
  if (verified) containers.emplace(block, from);

  // One trial at `at`; false when the steering control put it off.
  auto tryAt = [&](int64_t at, TChecksum checksum, TTrialOutcome& trial) {
    meter.StartTrial(at);
    TTrialHooks trialHooks = hooks;
    trialHooks.Checksum = checksum;
    if constexpr (TControl::kSteered) {
      TSteeringWatch watch(meter.Watch(), control.control, at);
      trialHooks.Watch = &watch;
      try {
        trial = InflateTrial(block, at, kit.Record, kit.Buffer, trialHooks);
      } catch (const TTrialPutOff&) {
        control.control.TrialEnded();
        return false;
      }
      control.control.TrialEnded();
    } else if (guard != nullptr) {
      TWatchPair watch(meter.Watch(), guard);
      trialHooks.Watch = &watch;
      try {
        trial = InflateTrial(block, at, kit.Record, kit.Buffer, trialHooks);
      } catch (const TNestLimitHit& hit) {
        limitHit = hit;
        trial = TTrialOutcome{};
      }
    } else {
      trialHooks.Watch = meter.Watch();
      trial = InflateTrial(block, at, kit.Record, kit.Buffer, trialHooks);
    }
    return true;
  };
  // Hands `stream`, which the last trial found, to the control with what
  // that trial's kept bytes tell of it.
  auto handOut = [&](TFoundStream& stream) {
    if (facts != nullptr) facts->Describe(stream, progress != nullptr ? progress->Control() : nullptr);
    return control.StreamFound(stream);
  };
  // After a trial that the guard stopped: the stream it stopped at, with
  // the limit and the sizes so far, and nothing learnt of its bytes.
  auto handOutLimited = [&](int64_t at, bool header, const TCandidateBytes& tried) {
    TTrialOutcome partial;
    partial.InBytes = limitHit->InBytes;
    partial.OutBytes = limitHit->OutBytes;
    TFoundStream stream = StreamOf(at, header, tried, partial);
    stream.SkippedBy = limitHit->Limit;
    limitHit.reset();
    return control.StreamFound(stream);
  };
  // A container's data tried on its own; `proven` is set when its record
  // proves it. False when the trial was put off.
  auto tryContainer = [&](const TContainerStart& container, std::optional<TFoundStream>& proven) {
    TTrialOutcome trial;
    if (!tryAt(container.DataOffset, TChecksum::Crc32, trial)) return false;
    if (limitHit) return handOutLimited(container.DataOffset, false, {});
    if (trial.Complete() && container.Matches(block, trial.InBytes, trial.OutBytes, trial.Sum)) {
      proven = ProvenStream(StreamOf(container.DataOffset, false, {}, trial), TProof::Crc32, container.Kind);
    }
    return true;
  };
  // The containers whose data starts in [pathFrom, below), positions the
  // path goes through that are no candidates of their own; those before
  // `pathFrom` lie inside a stream the path jumped over.
  auto containersBelow = [&](int64_t pathFrom, int64_t below) -> std::optional<detail::TRangeEnd> {
    while (std::optional<TContainerStart> container = containers->NextBelow(below)) {
      if (container->DataOffset < pathFrom) continue;
      if (guard != nullptr && guard->Budget().Spent) return detail::TRangeEnd{container->DataOffset, true};
      std::optional<TFoundStream> proven;
      if (!tryContainer(*container, proven)) return detail::TRangeEnd{container->DataOffset, true};
      if (proven && !handOut(*proven)) return detail::TRangeEnd{proven->NextPosition(), true};
    }
    return std::nullopt;
  };

  meter.ThrowIfCancelled();
  int64_t pos = from;
  while (true) {
    // Without progress to report, one search runs to the end of the range.
    const int64_t stepEnd = meter.Active() ? std::min(to, pos + kProgressStepBytes) : to;
    const int64_t searchedFrom = pos;
    pos = filtersMatchEngine ? detail::NextCandidate(block, {pos, stepEnd}, headerless, acceptIncomplete)
                             : NextPlainCandidate(Memory, pos, stepEnd, headerless);
    if (containers) {
      if (auto stopped = containersBelow(searchedFrom, std::min(pos, stepEnd))) return *stopped;
    }
    if (pos >= stepEnd) {
      if (stepEnd >= to) break;
      meter.Reached(pos);
      meter.ThrowIfCancelled();
      continue;
    }
    meter.ThrowIfCancelled();
    if (guard != nullptr && guard->Budget().Spent) return {pos, true};
    if (!acceptIncomplete && deadStarts.Contains(pos)) {
      ++pos;
      continue;
    }
    const TCandidateBytes tried = TCandidateBytes::Read(Memory, pos);
    const bool header = pos >= 2 && IsHeaderCandidate(tried.cmf, tried.flg);
    // The search found a candidate here from reads of its own.
    if (!header && !(headerless && IsDynamicBlockStart(tried.first))) throw TFileChangedError();
    std::optional<TContainerStart> container;
    if (containers) container = containers->At(pos);

    const bool learnDeadStarts = fast != nullptr && !acceptIncomplete;
    if (learnDeadStarts) fast->KeepBlockStartsOfNextDecode();
    TChecksum checksum = TChecksum::None;
    if (verified) checksum = header ? TChecksum::Adler32 : (container ? TChecksum::Crc32 : TChecksum::None);
    TTrialOutcome trial;
    if (!tryAt(pos, checksum, trial)) return {pos, true};
    if (TCandidateBytes::Read(Memory, pos) != tried) throw TFileChangedError();
    if (limitHit) {
      ++pos;
      if (!handOutLimited(pos - 1, header, tried)) return {pos, true};
      continue;
    }
    if (learnDeadStarts && !trial.Complete()) deadStarts.Add(pos, fast->AlignedBlockStarts());

    TProof proof = TProof::None;
    TContainerKind provenIn = TContainerKind::None;
    if (verified && trial.Complete()) {
      if (header) {
        if (AdlerTrailerMatches(block, pos, trial)) proof = TProof::Adler32;
      } else if (container && container->Matches(block, trial.InBytes, trial.OutBytes, trial.Sum)) {
        proof = TProof::Crc32;
        provenIn = container->Kind;
      }
    }
    if (!trial.Accepted(acceptIncomplete) ||
        (header && trial.OutBytes < kSmallStreamBytes && !IsDynamicBlockStart(tried.first))) {
      std::optional<TFoundStream> proven;
      if (proof != TProof::None) {
        proven = ProvenStream(StreamOf(pos, header, tried, trial), proof, provenIn);
      } else if (container && header && !tryContainer(*container, proven)) {
        return {pos, true};  // the zlib header was the container's bytes by chance
      }
      ++pos;
      if (proven && !handOut(*proven)) return {pos, true};
      continue;
    }

    TFoundStream stream = StreamOf(pos, header, tried, trial);
    stream.ProvenBy = proof;
    stream.ProvenIn = provenIn;
    // Found whole, yet past the limit: not looked inside.
    if (guard != nullptr && ExpandsTooMuch(trial.InBytes, trial.OutBytes)) stream.SkippedBy = TNestLimit::Expansion;
    // A trial that consumed nothing cannot be accepted, but never stand still.
    pos += std::max<int64_t>(1, static_cast<int64_t>(trial.InBytes));
    meter.Reached(pos);
    if (!handOut(stream)) return {std::max(pos, from), true};
  }
  meter.Reached(to);
  pos = std::max(pos, from);
  if (!verified || range.To < limit) return {pos, false};

  // The last 63 bytes, which the rule never tries: every header candidate
  // and container there is tried for its proof alone. No filter serves
  // here, as they read a whole probe's bytes.
  while (containers->NextBelow(pos)) {
  }
  for (; pos < Size; ++pos) {
    meter.ThrowIfCancelled();
    if (guard != nullptr && guard->Budget().Spent) return {pos, true};
    std::optional<TContainerStart> container = containers->At(pos);
    std::optional<TFoundStream> proven;
    const TCandidateBytes tried = TCandidateBytes::Read(Memory, pos);
    if (pos >= 2 && IsHeaderCandidate(tried.cmf, tried.flg)) {
      TTrialOutcome trial;
      if (!tryAt(pos, TChecksum::Adler32, trial)) return {pos, true};
      if (TCandidateBytes::Read(Memory, pos) != tried) throw TFileChangedError();
      if (limitHit) {
        if (!handOutLimited(pos, true, tried)) return {pos + 1, true};
        continue;
      }
      if (trial.Complete() && AdlerTrailerMatches(block, pos, trial)) {
        proven = ProvenStream(StreamOf(pos, true, tried, trial), TProof::Adler32, TContainerKind::None);
      }
    }
    if (!proven && container && !tryContainer(*container, proven)) return {pos, true};
    if (proven && !handOut(*proven)) return {pos + 1, true};
  }
  return {Size, false};
}

}  // namespace

void CountFoundStream(TScanState& state, const TFoundStream& stream) {
  TStreamCounts counts;
  counts.Add(stream);
  state.Add(counts);
}

namespace {

void CountAndReport(TScanState& state, const TTrialKit& kit, TBlock block, TStreamSink* sink) {
  TBlockProgress progress(&state.Control, block.Size);
  auto count = [&](const TFoundStream& stream) {
    CountFoundStream(state, stream);
    if (sink != nullptr) sink->StreamFound(stream);
  };
  TPlainControl<decltype(count)> control{count};
  ScanPositions(kit, block, {0, PositionLimit(block.Size)}, &progress, control);
  progress.Finish();
}

}  // namespace

void ScanBlock(TScanState& state, const uint8_t* Memory, int64_t Size, z_stream* record,
               uint8_t* buffer, TStreamSink* sink) {
  CountAndReport(state, {state.Options, record, buffer, {}}, {Memory, Size}, sink);
}

TScanner::TScanner(const TScanOptions& options, const TTrialSettings& settings)
    : options_(options),
      settings_(settings),
      buffer_(new uint8_t[kInflateBufferBytes]),
      facts_(std::make_unique<TStreamFacts>(options, settings.Guard != nullptr ? &settings.Guard->Budget() : nullptr)) {}

TScanner::~TScanner() = default;

void TScanner::ScanBlock(TScanState& state, TBlock block, TStreamSink* sink) {
  CountAndReport(state, Kit(), block, sink);
}

int64_t TScanner::FindStreams(TBlock block, TRange range, TStreamSink& sink, TBlockProgress* progress) {
  auto hand = [&](const TFoundStream& stream) { sink.StreamFound(stream); };
  TPlainControl<decltype(hand)> control{hand};
  return ScanPositions(Kit(), block, range, progress, control)
      .Position;
}

detail::TRangeEnd TScanner::ScanUnder(TBlock block, TRange range, detail::TRangeControl& control,
                                      TBlockProgress* progress) {
  TSteeredControl steered{control};
  return ScanPositions(Kit(), block, range, progress, steered);
}

detail::TTrialKit TScanner::Kit() { return {options_, record_.Get(), buffer_.get(), settings_, facts_.get()}; }

TTrialOutcome TScanner::Trial(TBlock block, int64_t pos, TInflatedBytes* output) {
  TTrialHooks hooks;
  hooks.Output = output;
  hooks.MaxOfferBytes = settings_.MaxOfferBytes;
  return InflateTrial(block, pos, record_.Get(), buffer_.get(), hooks);
}

}  // namespace quarn
