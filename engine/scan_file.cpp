// The per-file run. It owns one inflate record and one output buffer for
// the whole file; ScanBlock resets the record per candidate.
#include "engine/scan_file.h"

#include <memory>

#include "engine/chunked_scan.h"
#include "inflate/inflate_record.h"
#include "util/errors.h"

namespace quarn {
namespace {

// Passes the detector's streams on with the file they were found in.
class TFileSink final : public TStreamSink {
 public:
  TFileSink(TScanListener& listener, int32_t fileIndex, const TMappedFile& file)
      : listener_(listener), fileIndex_(fileIndex), file_(file) {}
  void StreamFound(const TFoundStream& stream) override { listener_.StreamFound(fileIndex_, file_, stream); }

 private:
  TScanListener& listener_;
  int32_t fileIndex_;
  const TMappedFile& file_;
};

}  // namespace

void ScanFile(const std::vector<std::string>& files, TScanState& state, int32_t /*iteration*/, TScanListener* listener,
              TWorkQueue* helpers) {
  state.Control.ThrowIfCancelled();
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferBytes]);
  const int32_t fileIndex = state.j.fetch_add(1) + 1;
  const std::string& fileName = files[static_cast<std::size_t>(fileIndex)];

  try {
    const TMappedFile file(fileName);
    try {
      TInflateRecord record;
      std::unique_ptr<TFileSink> sink;
      if (listener != nullptr && listener->WantsStreams()) sink = std::make_unique<TFileSink>(*listener, fileIndex, file);
      if (helpers != nullptr) {
        ScanBlockInChunks(state, file.Memory(), file.Size(), record.Get(), buffer.get(), sink.get(), *helpers,
                          kScanChunkBytes, kKeptStreamsPerChunk,
                          [&file](int64_t from, int64_t to) { file.ReleasePages(from, to); });
      } else {
        ScanBlock(state, file.Memory(), file.Size(), record.Get(), buffer.get(), sink.get());
      }
    } catch (const TFileChangedError&) {
      throw TFileChangedError(fileName);  // the detector knows no names
    }
    if (file.ChangedWhileMapped()) throw TFileChangedError(fileName);
    state.i.fetch_add(file.Size());
    state.Files.fetch_add(1);
    state.Control.AddFileDone();
    if (listener != nullptr) listener->FileDone(fileIndex, file.Size());
  } catch (...) {
    if (listener == nullptr || !listener->FileFailed(fileIndex, std::current_exception())) throw;
  }
}

}  // namespace quarn
