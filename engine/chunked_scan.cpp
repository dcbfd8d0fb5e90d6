// Chunked scanning with a baton.
//
// The true path of the scan is carried by one thread at a time, the holder
// of the baton: it counts and hands on every stream it meets, chunk after
// chunk. The caller's thread holds it first, at position 0. Chunks ahead of
// the holder are posted to the work queue, at most `window` at once; a
// worker that takes one scans it speculatively from its first position,
// keeping what the stitch will need (TChunkPath). When the holder reaches
// chunk k:
//   * not taken yet: the holder claims it and scans it on the true path;
//   * stopped (its speculative scan is over): the holder stitches it;
//   * running: the holder leaves the entry position with it and lets go of
//     the baton; the chunk's own thread stops speculating at its next
//     check, stitches itself and carries the path on.
// Every chunk is settled exactly once, by whoever holds the baton, so the
// streams reach the sink in order and the counters get each stream once.
//
// A speculative scan stops early (and the stitch scans on from its
// frontier) when its trial would read past the chunk's end, when its kept
// streams reach the limit while a sink waits for them, when the baton has
// arrived, and while the holder is in a trial that has run past its own
// chunk (a long stream that will likely jump over the chunks ahead).
#include "engine/chunked_scan.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/chunk_stitch.h"
#include "engine/dead_starts.h"
#include "engine/scan_control.h"
#include "engine/trial_inflation.h"
#include "util/platform/file_system.h"

namespace quarn {
namespace {

enum class TChunkStage { Unposted, Queued, Running, Stopped, Claimed, Settled };

struct TChunk {
  int64_t Start = 0;
  int64_t End = 0;
  TChunkStage Stage = TChunkStage::Unposted;  // under the job's lock
  TChunkPath Path;                            // written by the speculative scan, then read by the stitch
  std::atomic<bool> EntryKnown{false};        // the baton has arrived at this running chunk
  int64_t Entry = 0;                          // where the true path enters; under the job's lock
};

// One block's chunks; lives on the caller's stack until every posted
// chunk has ended.
struct TChunkJob {
  TChunkJob(TScanState& state, const TScanOptions& options, TBlock block, TStreamSink* sink, TWorkQueue& helpers,
            std::size_t chunkCount, std::size_t keptStreams)
      : State(state),
        Block(block),
        Options(options),
        Sink(sink),
        Helpers(helpers),
        KeptStreams(std::max<std::size_t>(1, keptStreams)),
        Chunks(chunkCount) {}

  TScanState& State;
  TBytesDone BytesDone;
  TBlockProgress* Progress = nullptr;
  TBlock Block;
  TScanOptions Options;
  TStreamSink* Sink;
  TWorkQueue& Helpers;
  std::size_t KeptStreams;
  std::size_t Window = 2;

  std::vector<TChunk> Chunks;
  std::mutex Lock;
  std::exception_ptr Error;  // under Lock

  // Read by the caller's wait without the lock.
  std::atomic<int64_t> Outstanding{0};  // posted chunks whose task has not ended
  std::atomic<bool> Finished{false};    // the path has left the last chunk, or the scan failed
  std::atomic<bool> Failed{false};
  // The start of the holder's trial while that trial runs past the
  // holder's chunk; -1 otherwise.
  std::atomic<int64_t> LongTrialFrom{-1};
  // The true path's dead block starts, used by the holder alone: the baton
  // passes under Lock.
  detail::TDeadStarts TrueDeadStarts;
};

// How far a scanning thread goes before it tells BytesDone.
constexpr int64_t kStretchBytes = int64_t{4} << 20;

// Tells BytesDone about the input a long trial has consumed, a stretch at
// a time: zlib never reads it again.
class TTrialBytesDone {
 public:
  explicit TTrialBytesDone(const TBytesDone& bytesDone) : bytesDone_(bytesDone) {}
  void Consumed(int64_t start, int64_t reach) {
    if (!bytesDone_) return;
    if (start != start_) start_ = told_ = start;
    if (reach - told_ >= kStretchBytes) {
      bytesDone_(told_, reach);
      told_ = reach;
    }
  }

 private:
  const TBytesDone& bytesDone_;
  int64_t start_ = -1;
  int64_t told_ = 0;
};

void Fail(TChunkJob& job, std::exception_ptr error) {
  {
    const std::lock_guard<std::mutex> hold(job.Lock);
    if (!job.Error) job.Error = std::move(error);
  }
  job.Failed = true;
  job.Finished = true;
  job.Helpers.Notify();
}

// The holder's control: counts and hands on every stream, tells the chunks
// ahead when its trial runs past the chunk it is in.
class TTrueControl final : public detail::TRangeControl {
 public:
  TTrueControl(TChunkJob& job, int64_t chunkEnd) : job_(job), chunkEnd_(chunkEnd), consumed_(job.BytesDone) {}
  bool StreamFound(const TFoundStream& stream) override {
    CountFoundStream(job_.State, stream);
    if (job_.Sink != nullptr) job_.Sink->StreamFound(stream);
    return !job_.Failed.load(std::memory_order_relaxed);
  }
  bool TrialMayGoOn(int64_t start, int64_t reach) override {
    consumed_.Consumed(start, reach);
    if (reach > chunkEnd_ && !long_) {
      long_ = true;
      job_.LongTrialFrom.store(start);
    }
    return !job_.Failed.load(std::memory_order_relaxed);
  }
  void TrialEnded() override {
    if (long_) {
      long_ = false;
      job_.LongTrialFrom.store(-1);
    }
  }
  detail::TDeadStarts* DeadStarts() override { return &job_.TrueDeadStarts; }

 private:
  TChunkJob& job_;
  int64_t chunkEnd_;
  bool long_ = false;
  TTrialBytesDone consumed_;
};

// A chunk's speculative control: keeps the chunk's path for the stitch.
class TAheadControl final : public detail::TRangeControl {
 public:
  TAheadControl(TChunkJob& job, TChunk& chunk) : job_(job), chunk_(chunk), consumed_(job.BytesDone) {}
  bool StreamFound(const TFoundStream& stream) override {
    TChunkPath& path = chunk_.Path;
    if (path.KeptAll && path.Kept.size() < job_.KeptStreams) {
      path.Kept.push_back(stream);
      // With a sink every stream must be handed on one by one: stop here.
      if (job_.Sink != nullptr && path.Kept.size() == job_.KeptStreams) return false;
    } else {
      if (path.KeptAll) {
        path.KeptAll = false;
        path.KeptUntil = stream.OffsetBytes;
      }
      path.Rest.Add(stream);
    }
    return !MustStop();
  }
  bool TrialMayGoOn(int64_t start, int64_t reach) override {
    consumed_.Consumed(start, reach);
    return reach <= chunk_.End && !MustStop();
  }
  detail::TDeadStarts* DeadStarts() override { return &deadStarts_; }

 private:
  bool MustStop() const {
    return chunk_.EntryKnown.load(std::memory_order_relaxed) || job_.LongTrialFrom.load(std::memory_order_relaxed) >= 0 ||
           job_.Failed.load(std::memory_order_relaxed);
  }
  TChunkJob& job_;
  TChunk& chunk_;
  TTrialBytesDone consumed_;
  detail::TDeadStarts deadStarts_;  // of this chunk's speculative path, across its stretches
};

// Scans [from, to) under `control` a stretch at a time, telling BytesDone
// after each stretch. The path is the same as in one go: each stretch goes
// on from where the one before would have.

detail::TRangeEnd ScanInStretches(TChunkJob& job, TRange range, TScanner& scanner, detail::TRangeControl& control) {
  if (!job.BytesDone) return scanner.ScanUnder(job.Block, range, control, job.Progress);
  const int64_t to = range.To;
  detail::TRangeEnd end{range.From, false};
  while (true) {
    const int64_t stretchFrom = end.Position;
    end = scanner.ScanUnder(job.Block, {stretchFrom, std::min(to, stretchFrom + kStretchBytes)}, control,
                            job.Progress);
    job.BytesDone(stretchFrom, end.Position);
    if (end.Stopped || end.Position >= to) return end;
  }
}

// Scans [from, to) of chunk `k` on the true path.
int64_t ScanTrue(TChunkJob& job, std::size_t k, TRange range, TScanner& scanner) {
  TTrueControl control(job, job.Chunks[k].End);
  return ScanInStretches(job, range, scanner, control).Position;
}

void PostChunk(TChunkJob& job, std::size_t k);

// Carries the true path from `entry` in chunk `k` on, chunk by chunk, until
// the block ends or a running chunk takes the baton over.
void CarryPath(TChunkJob& job, std::size_t k, int64_t entry, TScanner& scanner) {
  for (; k < job.Chunks.size(); ++k) {
    if (job.Failed.load()) return;
    TChunk& chunk = job.Chunks[k];
    bool stitch = false;
    {
      const std::lock_guard<std::mutex> hold(job.Lock);
      switch (chunk.Stage) {
        case TChunkStage::Running:
          chunk.Entry = entry;
          chunk.EntryKnown = true;
          return;  // its own thread carries on from here
        case TChunkStage::Stopped:
          stitch = true;
          break;
        default:  // not posted, or still in the queue: scanned here
          break;
      }
      chunk.Stage = TChunkStage::Claimed;
    }
    if (stitch) {
      TStitchSteps steps;
      steps.ScanTrue = [&](int64_t from, int64_t to) { return ScanTrue(job, k, {from, to}, scanner); };
      steps.Deliver = [&](const TFoundStream& stream) {
        CountFoundStream(job.State, stream);
        if (job.Sink != nullptr) job.Sink->StreamFound(stream);
      };
      steps.DeliverTotals = [&](const TStreamCounts& totals) { job.State.Add(totals); };
      entry = StitchChunk(chunk.Path, entry, chunk.End, steps);
    } else {
      entry = ScanTrue(job, k, {entry, chunk.End}, scanner);
    }
    TChunkPath().Kept.swap(chunk.Path.Kept);  // give the memory back now
    {
      const std::lock_guard<std::mutex> hold(job.Lock);
      chunk.Stage = TChunkStage::Settled;
    }
    if (k + job.Window < job.Chunks.size()) PostChunk(job, k + job.Window);
  }
  // A scan that asks for proof tries the block's last bytes as well; the
  // last chunk's path may have left them, or jumped past its end into them.
  if (job.Options.Verified && entry < job.Block.Size && !job.Chunks.empty() && !job.Failed.load()) {
    ScanTrue(job, job.Chunks.size() - 1, {entry, job.Chunks.back().End}, scanner);
  }
  job.Finished = true;
  job.Helpers.Notify();
}

// The speculative scan of chunk `k`, run by a worker; when the baton
// arrives it carries the path on itself.
void ScanAhead(TChunkJob& job, std::size_t k) {
  TChunk& chunk = job.Chunks[k];
  {
    const std::lock_guard<std::mutex> hold(job.Lock);
    if (chunk.Stage != TChunkStage::Queued || job.Failed.load()) return;  // claimed by the holder meanwhile
    chunk.Stage = TChunkStage::Running;
  }
  TScanner scanner(job.Options);
  TAheadControl control(job, chunk);
  chunk.Path.Frontier = ScanInStretches(job, {chunk.Start, chunk.End}, scanner, control).Position;
  int64_t entry = 0;
  {
    const std::lock_guard<std::mutex> hold(job.Lock);
    if (!chunk.EntryKnown.load()) {
      chunk.Stage = TChunkStage::Stopped;
      return;
    }
    chunk.Stage = TChunkStage::Stopped;  // taken below, as the holder takes a stopped chunk
    entry = chunk.Entry;
  }
  CarryPath(job, k, entry, scanner);
}

void PostChunk(TChunkJob& job, std::size_t k) {
  {
    const std::lock_guard<std::mutex> hold(job.Lock);
    if (job.Chunks[k].Stage != TChunkStage::Unposted) return;
    job.Chunks[k].Stage = TChunkStage::Queued;
  }
  job.Outstanding.fetch_add(1);
  TWorkQueue& helpers = job.Helpers;
  try {
    helpers.Post([&job, &helpers, k] {
      try {
        ScanAhead(job, k);
      } catch (...) {
        Fail(job, std::current_exception());
      }
      // The job may be gone as soon as the count reaches 0: touch nothing of it after.
      job.Outstanding.fetch_sub(1);
      helpers.Notify();
    });
  } catch (...) {
    job.Outstanding.fetch_sub(1);  // never posted
    throw;
  }
}

}  // namespace

void ScanBlockInChunks(TScanner& scanner, TScanState& state, TBlock block, TStreamSink* sink,
                       const TChunking& chunking) {
  const int64_t chunkBytes = chunking.ChunkBytes;
  TWorkQueue& helpers = chunking.Helpers;
  const int64_t limit = PositionLimit(block.Size);
  if (chunkBytes <= 0 || limit < 2 * chunkBytes) {
    scanner.ScanBlock(state, block, sink);
    return;
  }
  const auto chunkCount = static_cast<std::size_t>((limit + chunkBytes - 1) / chunkBytes);
  // Stitches scan again what a chunk scanned; the block's progress never
  // passes its size for that.
  TBlockProgress progress(&state.Control, block.Size);
  TChunkJob job(state, scanner.Options(), block, sink, helpers, chunkCount, chunking.KeptStreams);
  job.BytesDone = chunking.BytesDone;
  job.Progress = &progress;
  for (std::size_t k = 0; k < chunkCount; ++k) {
    job.Chunks[k].Start = static_cast<int64_t>(k) * chunkBytes;
    job.Chunks[k].End = std::min(limit, job.Chunks[k].Start + chunkBytes);
  }
  job.Window = static_cast<std::size_t>(std::max(2, 2 * platform::ProcessorCount()));

  // Whatever fails on this thread, every chunk posted so far still uses
  // `job`, the block and the caller's scanner: wait for all of them before
  // anything is unwound, then raise the first error.
  try {
    for (std::size_t k = 1; k <= job.Window && k < chunkCount; ++k) PostChunk(job, k);
    CarryPath(job, 0, 0, scanner);
  } catch (...) {
    Fail(job, std::current_exception());
  }
  auto over = [&] { return job.Finished.load() && job.Outstanding.load() == 0; };
  while (!over()) {
    if (!helpers.RunOne()) helpers.Wait(over);
  }
  if (job.Error) std::rethrow_exception(job.Error);
  progress.Finish();
}

}  // namespace quarn
