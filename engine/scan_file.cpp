// The per-file run. It owns one inflate record and one output buffer for
// the whole file; ScanBlock resets the record per candidate.
#include "engine/scan_file.h"

#include <memory>

#include "engine/chunked_scan.h"
#include "inflate/inflate_record.h"
#include "util/errors.h"

namespace quarn {
namespace {

// Passes the detector's streams on with the file they were found in; once
// the sink wants no more, the whole scan is asked to stop.
class TFileSink final : public TStreamSink {
 public:
  TFileSink(TScanSink& sink, int32_t fileIndex, const TMappedFile& file, TScanControl& control)
      : sink_(sink), fileIndex_(fileIndex), file_(file), control_(control) {}
  void StreamFound(const TFoundStream& stream) override {
    if (!sink_.StreamFound(fileIndex_, file_, stream)) control_.RequestCancel();
  }

 private:
  TScanSink& sink_;
  int32_t fileIndex_;
  const TMappedFile& file_;
  TScanControl& control_;
};

}  // namespace

void ScanFile(const std::vector<std::string>& files, TScanState& state, int32_t /*iteration*/, TScanSink* sink,
              TWorkQueue* helpers) {
  state.Control.ThrowIfCancelled();
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kInflateBufferBytes]);
  const int32_t fileIndex = state.j.fetch_add(1) + 1;
  const std::string& fileName = files[static_cast<std::size_t>(fileIndex)];

  try {
    const TMappedFile file(fileName);
    try {
      TInflateRecord record;
      std::unique_ptr<TFileSink> fileSink;
      if (sink != nullptr && sink->WantsStreams()) {
        fileSink = std::make_unique<TFileSink>(*sink, fileIndex, file, state.Control);
      }
      if (helpers != nullptr) {
        ScanBlockInChunks(state, file.Memory(), file.Size(), record.Get(), buffer.get(), fileSink.get(), *helpers,
                          kScanChunkBytes, kKeptStreamsPerChunk,
                          [&file](int64_t from, int64_t to) { file.ReleasePages(from, to); });
      } else {
        ScanBlock(state, file.Memory(), file.Size(), record.Get(), buffer.get(), fileSink.get());
      }
    } catch (const TFileChangedError&) {
      throw TFileChangedError(fileName);  // the detector knows no names
    }
    if (file.ChangedWhileMapped()) throw TFileChangedError(fileName);
    state.i.fetch_add(file.Size());
    state.Files.fetch_add(1);
    state.Control.AddFileDone();
    if (sink != nullptr) sink->FileDone(fileIndex, file.Size());
  } catch (...) {
    if (sink == nullptr || !sink->FileFailed(fileIndex, std::current_exception())) throw;
  }
}

}  // namespace quarn
