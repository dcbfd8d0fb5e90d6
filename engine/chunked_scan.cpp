// Chunked scanning. Each chunk keeps the streams its own path accepted
// (a few words each) until the stitch; the block itself is never copied.
#include "engine/chunked_scan.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

#include "engine/chunk_stitch.h"
#include "inflate/inflate_record.h"

namespace quarn {
namespace {

// The streams that the positions [from, to) find on their own path, kept
// for the stitch.
TRangeScan CollectStreamsInRange(const uint8_t* memory, int64_t size, int64_t from, int64_t to,
                                 const TScanOptions& options, z_stream* record, uint8_t* buffer,
                                 TBlockProgress& progress) {
  TCollectSink sink;
  TRangeScan scan;
  scan.EndPosition = FindStreamsInRange(memory, size, from, to, options, record, buffer, sink, &progress);
  scan.Streams = std::move(sink.Streams);
  return scan;
}

// The chunks of one block; lives on the caller's stack until every posted
// chunk has ended.
struct TChunkJob {
  std::vector<int64_t> starts;
  std::vector<TRangeScan> results;
  std::atomic<int64_t> remaining{0};
  std::mutex errorLock;
  std::exception_ptr error;
};

}  // namespace

void ScanBlockInChunks(TScanState& state, const uint8_t* Memory, int64_t Size, z_stream* record,
                       uint8_t* buffer, TStreamSink* sink, TWorkQueue& helpers, int64_t chunkBytes) {
  const int64_t limit = PositionLimit(Size);
  if (chunkBytes <= 0 || limit < 2 * chunkBytes) {
    ScanBlock(state, Memory, Size, record, buffer, sink);
    return;
  }
  const TScanOptions options = state.Options;
  // Rescans of the stitch report again what a chunk reported; the block's
  // progress never passes its size for that.
  TBlockProgress progress(&state.Control, Size);

  TChunkJob job;
  for (int64_t start = 0; start < limit; start += chunkBytes) job.starts.push_back(start);
  const std::size_t chunks = job.starts.size();
  job.results.resize(chunks);
  auto chunkEnd = [&](std::size_t k) { return k + 1 < chunks ? job.starts[k + 1] : limit; };

  // Whatever fails on this thread, every chunk posted so far still uses
  // `job`, the block and the caller's buffers: wait for all of them before
  // anything is unwound, then raise the first error.
  std::exception_ptr callerError;
  try {
    for (std::size_t k = 1; k < chunks; ++k) {
      job.remaining.fetch_add(1);
      try {
        helpers.Post([&job, &helpers, &chunkEnd, &progress, k, Memory, Size, options] {
          try {
            TInflateRecord chunkRecord;
            const std::unique_ptr<uint8_t[]> chunkBuffer(new uint8_t[kInflateBufferBytes]);
            job.results[k] = CollectStreamsInRange(Memory, Size, job.starts[k], chunkEnd(k), options,
                                                   chunkRecord.Get(), chunkBuffer.get(), progress);
          } catch (...) {
            const std::lock_guard<std::mutex> hold(job.errorLock);
            job.error = std::current_exception();
          }
          // The job may be gone as soon as the count reaches 0: touch nothing of it after.
          if (job.remaining.fetch_sub(1) == 1) helpers.Notify();
        });
      } catch (...) {
        job.remaining.fetch_sub(1);  // never posted
        throw;
      }
    }
    job.results[0] = CollectStreamsInRange(Memory, Size, 0, chunkEnd(0), options, record, buffer, progress);
  } catch (...) {
    callerError = std::current_exception();
  }
  while (job.remaining.load() > 0) {
    if (!helpers.RunOne()) helpers.Wait([&] { return job.remaining.load() == 0; });
  }
  if (callerError) std::rethrow_exception(callerError);
  if (job.error) std::rethrow_exception(job.error);

  const TStitchResult stitched =
      StitchChunks(job.starts, job.results, limit, [&](int64_t from, int64_t to) {
        return CollectStreamsInRange(Memory, Size, from, to, options, record, buffer, progress);
      });
  for (const TFoundStream& stream : stitched.Streams) {
    CountFoundStream(state, stream);
    if (sink != nullptr) sink->StreamFound(stream);
  }
  progress.Finish();
}

}  // namespace quarn
