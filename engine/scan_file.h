// One file's run: claim the next entry of the scan's file list, map it,
// scan it with ScanBlock, count its size, release everything.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "engine/scan_state.h"
#include "engine/stream_detector.h"
#include "util/mapped_file.h"

namespace quarn {

class TWorkQueue;  // the parallel loop's queue of posted work

// Hears what the runs of a scan find. Called on the worker threads, by
// several runs at once: an implementation must be thread-safe.
class TScanListener {
 public:
  virtual ~TScanListener() = default;
  // A stream accepted in files[fileIndex]; `file` is mapped for the call.
  // A file's streams come in offset order, one call at a time, as they are
  // found (not gathered first); calls for different files may interleave.
  virtual void StreamFound(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) {
    (void)fileIndex, (void)file, (void)stream;
  }
  // False when StreamFound is not wanted: the scan then keeps nothing of
  // the single streams and runs the chunks of a large file all at once.
  virtual bool WantsStreams() const { return true; }
  // The run of files[fileIndex] ended and its size was counted.
  virtual void FileDone(int32_t fileIndex, int64_t sizeBytes) { (void)fileIndex, (void)sizeBytes; }
  // The run of files[fileIndex] failed with `error` (raised by the run or
  // by this listener). True takes the error as handled: the run ends
  // quietly and the scan goes on. False, the default, lets the run raise
  // it, as the window's all-or-nothing scan wants.
  virtual bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) {
    (void)fileIndex, (void)error;
    return false;
  }
};

// One run over `files`, the list that the whole scan shares. Takes its
// file through an atomic increment of `state.j` (the iteration number is
// not used), adds the file's size to `state.i` once it is scanned, and
// raises TQuarnError when the file is missing, cannot be read, or was cut
// short while it was scanned; a file that fails adds nothing to `i`
// (streams it counted before the failure stay counted). A listener that
// handles the failure (FileFailed) keeps it from raising. Raises
// TScanCancelled, before or during its file, when the stop is requested in
// `state.Control` (during the file, through FileFailed like any failure);
// counts the file as done there when it ends without an error. With
// `helpers`, a large file is cut into chunks that idle workers of the loop
// scan with it; the result is the same.
void ScanFile(const std::vector<std::string>& files, TScanState& state, int32_t iteration,
              TScanListener* listener = nullptr, TWorkQueue* helpers = nullptr);

}  // namespace quarn
