// The per-file run. Its scanner's inflate record and output buffer serve
// the whole file; the detector resets the record per candidate.
#include "engine/scan_file.h"

#include <memory>
#include <optional>

#include "engine/chunked_scan.h"
#include "engine/container_finder.h"
#include "engine/found_stream_fingerprint.h"
#include "util/errors.h"

namespace quarn {
namespace {

// Passes the detector's streams on with the file they were found in and,
// when the sink wants them, the container each sits in and its
// fingerprint; once the sink wants no more, the whole scan is asked to
// stop. The streams come in order, one call at a time, as the finder needs
// them.
class TFileSink final : public TStreamSink {
 public:
  TFileSink(TScanSink& sink, int32_t fileIndex, const TMappedFile& file, TScanControl& control)
      : sink_(sink), fileIndex_(fileIndex), file_(file), control_(control) {
    if (sink.WantsContainers()) finder_.emplace(TBlock{file.Memory(), file.Size()});
    if (sink.WantsFingerprints()) fingerprinter_.emplace();
  }
  void StreamFound(const TFoundStream& stream) override {
    if (!finder_ && !fingerprinter_) {
      if (!sink_.StreamFound(fileIndex_, file_, stream)) control_.RequestCancel();
      return;
    }
    TFoundStream placed = stream;
    if (finder_) finder_->Place(placed);
    if (fingerprinter_) placed.Fingerprint = fingerprinter_->Fingerprint(TBlock{file_.Memory(), file_.Size()}, stream);
    if (!sink_.StreamFound(fileIndex_, file_, placed)) control_.RequestCancel();
  }

 private:
  TScanSink& sink_;
  int32_t fileIndex_;
  const TMappedFile& file_;
  TScanControl& control_;
  std::optional<TContainerFinder> finder_;                // when the sink wants containers
  std::optional<TFoundStreamFingerprinter> fingerprinter_;  // when it wants fingerprints
};

}  // namespace

void ScanFile(const std::vector<std::string>& files, TScanState& state, int32_t /*iteration*/, TScanSink* sink,
              TWorkQueue* helpers) {
  state.Control.ThrowIfCancelled();
  // Made before the file is claimed, so that running out of memory here
  // leaves the file to another run.
  TScanOptions options = state.Options;
  const bool streamsWanted = sink != nullptr && sink->WantsStreams();
  options.ContentTypes = streamsWanted && sink->WantsContentTypes();
  options.NestedContainers = streamsWanted && sink->WantsContainers();
  if (!streamsWanted) {
    options.Rules = nullptr;
    options.Depth = 1;
  }
  TScanner scanner(options);
  const int32_t fileIndex = state.j.fetch_add(1) + 1;
  const std::string& fileName = files[static_cast<std::size_t>(fileIndex)];

  try {
    const TMappedFile file(fileName);
    try {
      std::unique_ptr<TFileSink> fileSink;
      if (sink != nullptr && sink->WantsStreams()) {
        fileSink = std::make_unique<TFileSink>(*sink, fileIndex, file, state.Control);
      }
      const TBlock block{file.Memory(), file.Size()};
      if (helpers != nullptr) {
        const TChunking chunking{*helpers, kScanChunkBytes, kKeptStreamsPerChunk,
                                 [&file](int64_t from, int64_t to) { file.ReleasePages(from, to); }};
        ScanBlockInChunks(scanner, state, block, fileSink.get(), chunking);
      } else {
        scanner.ScanBlock(state, block, fileSink.get());
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
