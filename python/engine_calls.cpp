// The module's engine calls. Each makes its own scanners and scan state,
// so several Python threads may call them at once.
#include "python/engine_calls.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/aggregate_error.h"
#include "engine/chunked_scan.h"
#include "engine/container_finder.h"
#include "engine/found_stream_fingerprint.h"
#include "engine/parallel_loop.h"
#include "engine/scan_run.h"
#include "engine/trial_inflation.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn::python {
namespace {

// Collects the streams of a scan with the file each was found in.
class TCollectSink final : public TScanSink {
 public:
  TCollectSink(bool keep, bool types, bool fingerprints) : keep_(keep), types_(types), fingerprints_(keep && fingerprints) {}
  bool StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    if (!keep_) return true;
    const std::lock_guard<std::mutex> hold(lock_);
    streams_.push_back({fileIndex, stream});
    return true;
  }
  // Without streams asked for, the scan keeps none of them one by one.
  bool WantsStreams() const override { return keep_; }
  bool WantsContainers() const override { return keep_; }
  bool WantsContentTypes() const override { return keep_ && types_; }
  bool WantsFingerprints() const override { return fingerprints_; }
  // Every file is scanned, whichever fail: a failure is kept, in file
  // order, and the others go on, so that the error a scan raises never
  // depends on which worker got how far. A stop is no failure.
  bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) override {
    if (IsCancellation(error)) return false;
    const std::lock_guard<std::mutex> hold(lock_);
    failures_.emplace(fileIndex, error);
    return true;
  }
  // The failures in file order, as one combined error; nothing when none.
  void RaiseFailures() const {
    if (failures_.empty()) return;
    std::vector<std::exception_ptr> errors;
    for (const auto& [index, error] : failures_) errors.push_back(error);
    throw TAggregateError(CombinedErrorText(errors), errors);
  }
  std::vector<TFileStream> TakeSorted() {
    std::sort(streams_.begin(), streams_.end(), [](const TFileStream& a, const TFileStream& b) {
      return a.FileIndex != b.FileIndex ? a.FileIndex < b.FileIndex : a.Stream.OffsetBytes < b.Stream.OffsetBytes;
    });
    return std::move(streams_);
  }

 private:
  const bool keep_;
  const bool types_;
  const bool fingerprints_;
  std::mutex lock_;
  std::vector<TFileStream> streams_;
  std::map<int32_t, std::exception_ptr> failures_;
};

// Keeps the streams of one block; with a finder, each with its container,
// as a file's run gives it (the scan hands them out in order).
class TBlockSink final : public TStreamSink {
 public:
  explicit TBlockSink(std::vector<TFoundStream>& streams, TContainerFinder* finder = nullptr)
      : streams_(streams), finder_(finder) {}
  void StreamFound(const TFoundStream& stream) override {
    streams_.push_back(stream);
    if (finder_ != nullptr) finder_->Place(streams_.back());
  }

 private:
  std::vector<TFoundStream>& streams_;
  TContainerFinder* const finder_;
};

// Copies a trial's bytes into the caller's memory until it is full.
class TFillMemory final : public TInflatedBytes {
 public:
  TFillMemory(uint8_t* out, uint64_t capacity) : out_(out), capacity_(capacity) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    const uint64_t taken = std::min<uint64_t>(count, capacity_ - written_);
    std::memcpy(out_ + written_, bytes, static_cast<std::size_t>(taken));
    written_ += taken;
    return written_ < capacity_;
  }
  uint64_t Written() const { return written_; }

 private:
  uint8_t* const out_;
  const uint64_t capacity_;
  uint64_t written_ = 0;
};

}  // namespace

TListScan ScanFiles(TScanState& state, const std::vector<std::string>& files, bool keepStreams,
                    bool fingerprints) {
  TCollectSink sink(keepStreams, state.Options.ContentTypes, fingerprints);
  RunScan(files, state, &sink);
  sink.RaiseFailures();
  return {state.Counts(), sink.TakeSorted()};
}

TListScan ScanMemory(TScanState& state, const uint8_t* memory, int64_t size, bool keepStreams,
                     bool fingerprints) {
  std::vector<TFoundStream> found;
  TContainerFinder finder({memory, size});
  TBlockSink sink(found, &finder);
  TWorkQueue helpers;
  // One iteration on the loop, so that the chunks of a large block go to its helper threads.
  try {
    RunParallelLoop(
        1, 1,
        [&](int32_t) {
          TScanner scanner(state.Options);
          ScanBlockInChunks(scanner, state, {memory, size}, keepStreams ? &sink : nullptr,
                            {helpers, kScanChunkBytes, kKeptStreamsPerChunk, {}});
        },
        &helpers, ScanThreadsFor(1).Threads);
  } catch (...) {
    state.Control.ThrowIfCancelled();  // a stopped scan says so, as a scan of files does
    throw;
  }
  state.Control.ThrowIfCancelled();
  state.i = size;
  state.Files = 1;
  TListScan scan{state.Counts(), {}};
  scan.Streams.reserve(found.size());
  std::optional<TFoundStreamFingerprinter> fingerprinter;
  if (fingerprints) fingerprinter.emplace();
  for (const TFoundStream& stream : found) {
    scan.Streams.push_back({0, stream});
    if (fingerprinter) {
      state.Control.ThrowIfCancelled();
      scan.Streams.back().Stream.Fingerprint = fingerprinter->Fingerprint({memory, size}, stream);
    }
  }
  return scan;
}

TFileRangeScan ScanFileRange(const std::string& path, int64_t from, int64_t to, const TScanOptions& options) {
  const TMappedFile file(path);
  TFileRangeScan result;
  result.FileSizeBytes = file.Size();
  {
    TScanner scanner(options);
    TBlockSink sink(result.Scan.Streams);
    try {
      result.Scan.EndPosition = scanner.FindStreams({file.Memory(), file.Size()}, {from, to}, sink);
    } catch (const TFileChangedError&) {
      throw TFileChangedError(path);  // the detector knows no names
    }
  }
  if (file.ChangedWhileMapped()) throw TFileChangedError(path);
  return result;
}

int64_t PlaceFileStreams(const std::string& path, std::vector<TFoundStream>& streams) {
  for (std::size_t k = 1; k < streams.size(); ++k) {
    if (streams[k].OffsetBytes < streams[k - 1].OffsetBytes) {
      throw TQuarnError("The streams of a file are placed in order of their offsets; stream " + std::to_string(k) +
                        " comes before the one ahead of it.");
    }
  }
  const TMappedFile file(path);
  TContainerFinder finder({file.Memory(), file.Size()});
  std::vector<TFoundStream> placed = streams;
  for (TFoundStream& stream : placed) finder.Place(stream);
  if (file.ChangedWhileMapped()) throw TFileChangedError(path);
  streams = std::move(placed);
  return file.Size();
}

std::optional<TFoundStream> StreamAt(const uint8_t* memory, int64_t size, int64_t offset, bool headerless) {
  if (offset < 0 || offset >= size) return std::nullopt;
  TScanOptions options;
  options.Headerless = headerless;
  options.AcceptIncomplete = true;
  // Streams that only their checksum proves are found streams too; in the
  // last bytes the scan tries every position from `offset` to the end.
  options.Verified = true;
  std::vector<TFoundStream> found;
  TBlockSink sink(found);
  TScanner(options).FindStreams({memory, size}, {offset, offset + 1}, sink);
  for (const TFoundStream& stream : found) {
    if (stream.OffsetBytes == offset) return stream;
  }
  return std::nullopt;
}

uint64_t InflateStream(const uint8_t* memory, int64_t size, const TFoundStream& stream, uint8_t* out,
                       uint64_t outBytes) {
  const uint64_t wanted = std::min(outBytes, stream.OutBytes);
  if (wanted == 0) return 0;
  TFillMemory fill(out, wanted);
  TScanner().Trial({memory, size}, stream.OffsetBytes, &fill);
  return fill.Written();
}

}  // namespace quarn::python
