// The module's engine calls. Each makes its own inflate records, buffers
// and scan state, so several Python threads may call them at once; only the
// scan of a file list goes through one process-wide list, taken in turn.
#include "python/engine_calls.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>

#include "engine/candidate_filter.h"
#include "engine/chunked_scan.h"
#include "engine/directory_listing.h"
#include "engine/parallel_loop.h"
#include "engine/scan_driver.h"
#include "engine/scan_file.h"
#include "engine/scan_report.h"
#include "inflate/inflate_record.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn::python {
namespace {

TCounters ReadCounters(const TScanState& state) {
  TCounters c;
  c.i = state.i.load();
  c.zin = state.zin.load();
  c.zout = state.zout.load();
  c.hless = state.hless.load();
  c.Z = state.Z.load();
  for (std::size_t f = 0; f < c.l.size(); ++f) c.l[f] = state.l[f].load();
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) {
    c.w[static_cast<std::size_t>(k - TWindowCounters::kFirst)] = state.w[k].load();
  }
  return c;
}

void WriteCounters(const TCounters& c, TScanState& state) {
  state.i = c.i;
  state.zin = c.zin;
  state.zout = c.zout;
  state.hless = c.hless;
  state.Z = c.Z;
  for (std::size_t f = 0; f < c.l.size(); ++f) state.l[f] = c.l[f];
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) {
    state.w[k] = c.w[static_cast<std::size_t>(k - TWindowCounters::kFirst)];
  }
}

// Collects the streams of a scan with the file each was found in.
class TCollectListener final : public TScanListener {
 public:
  explicit TCollectListener(bool keep) : keep_(keep) {}
  void StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    if (!keep_) return;
    const std::lock_guard<std::mutex> hold(lock_);
    streams_.push_back({fileIndex, stream});
  }
  std::vector<TFileStream> TakeSorted() {
    std::sort(streams_.begin(), streams_.end(), [](const TFileStream& a, const TFileStream& b) {
      return a.FileIndex != b.FileIndex ? a.FileIndex < b.FileIndex : a.Stream.OffsetBytes < b.Stream.OffsetBytes;
    });
    return std::move(streams_);
  }

 private:
  const bool keep_;
  std::mutex lock_;
  std::vector<TFileStream> streams_;
};

class TBlockSink final : public TStreamSink {
 public:
  explicit TBlockSink(std::vector<TFoundStream>& streams) : streams_(streams) {}
  void StreamFound(const TFoundStream& stream) override { streams_.push_back(stream); }

 private:
  std::vector<TFoundStream>& streams_;
};

// The engine scans the process-wide FileList: one list scan at a time.
void ScanFileListInTurn(const std::vector<std::string>& files, TScanState& state, TScanListener& listener) {
  static std::mutex inTurn;
  const std::lock_guard<std::mutex> hold(inTurn);
  struct TClearList {
    ~TClearList() { FileList.clear(); }
  } clear;
  FileList = files;
  ScanFileList(state, &listener);
}

}  // namespace

std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, bool recursive) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    if (IsExistingDirectory(path)) {
      const std::vector<std::string> listed = ListDirectoryFiles(path, recursive);
      files.insert(files.end(), listed.begin(), listed.end());
    } else {
      files.push_back(path);
    }
  }
  return files;
}

TListScan ScanFiles(const std::vector<std::string>& files, const TScanOptions& options, bool keepStreams) {
  TScanState state;
  state.j = -1;
  state.Options = options;
  TCollectListener listener(keepStreams);
  ScanFileListInTurn(files, state, listener);
  return {ReadCounters(state), listener.TakeSorted()};
}

TListScan ScanMemory(const uint8_t* memory, int64_t size, const TScanOptions& options, bool keepStreams) {
  TScanState state;
  state.Options = options;
  std::vector<TFoundStream> found;
  TBlockSink sink(found);
  TWorkQueue helpers;
  // One iteration on the loop, so that the chunks of a large block go to its helper threads.
  RunParallelLoop(
      1, 1,
      [&](int32_t) {
        TInflateRecord record;
        const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferBytes]);
        ScanBlockInChunks(state, memory, size, record.Get(), buffer.get(), keepStreams ? &sink : nullptr,
                          helpers);
      },
      &helpers, ScanThreads());
  state.i = size;
  TListScan scan{ReadCounters(state), {}};
  scan.Streams.reserve(found.size());
  for (const TFoundStream& stream : found) scan.Streams.push_back({0, stream});
  return scan;
}

int64_t PositionLimit(int64_t sizeBytes) { return std::max<int64_t>(0, sizeBytes - (detail::kProbeInputBytes - 1)); }

TFileRangeScan ScanFileRange(const std::string& path, int64_t from, int64_t to, const TScanOptions& options) {
  const TMappedFile file(path);
  TFileRangeScan result;
  result.FileSizeBytes = file.Size();
  {
    TInflateRecord record;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferBytes]);
    TBlockSink sink(result.Scan.Streams);
    result.Scan.EndPosition =
        detail::ScanRange(file.Memory(), file.Size(), from, to, options, record.Get(), buffer.get(), sink);
  }
  if (file.ChangedWhileMapped()) {
    throw TQuarnError("File \"" + path + "\" changed while it was being scanned.");
  }
  return result;
}

TCounters CountStreams(const std::vector<TFoundStream>& streams) {
  TScanState state;
  for (const TFoundStream& stream : streams) CountFoundStream(state, stream);
  return ReadCounters(state);
}

std::vector<std::string> ReportLines(const TCounters& counters, bool headerless, int64_t fileCount) {
  TScanState state;
  WriteCounters(counters, state);
  return BuildScanReport(state, headerless, fileCount).Lines;
}

int64_t OutputBytes(const TCounters& counters) {
  TScanState state;
  WriteCounters(counters, state);
  return TotalOutputSize(state);
}

std::optional<TFoundStream> StreamAt(const uint8_t* memory, int64_t size, int64_t offset, bool headerless) {
  if (offset < 0 || offset >= PositionLimit(size)) return std::nullopt;
  TScanOptions options;
  options.Headerless = headerless;
  options.AcceptIncomplete = true;
  std::vector<TFoundStream> found;
  TBlockSink sink(found);
  TInflateRecord record;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferBytes]);
  detail::ScanRange(memory, size, offset, offset + 1, options, record.Get(), buffer.get(), sink);
  if (found.empty()) return std::nullopt;
  return found.front();
}

uint64_t InflateStream(const uint8_t* memory, int64_t size, const TFoundStream& stream, uint8_t* out,
                       uint64_t outBytes) {
  TInflateRecord inflater;
  z_stream* record = inflater.Get();
  uint64_t notOffered = static_cast<uint64_t>(size - stream.OffsetBytes);
  record->next_in = const_cast<Bytef*>(memory + stream.OffsetBytes);
  record->avail_in = 0;
  const uint64_t wanted = std::min(outBytes, stream.OutBytes);
  uint64_t written = 0;
  while (written < wanted) {
    if (record->avail_in == 0 && notOffered > 0) {
      const uint64_t piece = std::min<uint64_t>(notOffered, std::numeric_limits<uInt>::max());
      record->avail_in = static_cast<uInt>(piece);
      notOffered -= piece;
    }
    record->next_out = out + written;
    record->avail_out = static_cast<uInt>(std::min<uint64_t>(wanted - written, kInflateBufferBytes));
    const int code = Inflate(record, Z_SYNC_FLUSH);
    written += static_cast<uint64_t>(record->next_out - (out + written));
    if (written < wanted && code != Z_OK) break;  // ended or failed before the counted output
  }
  return written;
}

}  // namespace quarn::python
