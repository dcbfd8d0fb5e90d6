// What a scan of files gives out, and the one interface that hears it: the
// window's driver, quarn-scan's ordered report and the Python module each
// implement TScanSink, and every file run (ScanFile, RunScan) talks to it
// alone.
//
// The detector below it hands a block's streams to a TStreamSink
// (stream_detector.h), which knows no files: a block of memory may be a
// caller's buffer. ScanFile puts the file's index and mapping to each
// stream on the way up.
#pragma once

#include <cstdint>
#include <exception>

#include "engine/found_stream.h"
#include "util/mapped_file.h"

namespace quarn {

// Called on the worker threads, by several runs at once: an implementation
// must be thread-safe.
class TScanSink {
 public:
  virtual ~TScanSink() = default;
  // A stream accepted in files[fileIndex]; `file` is mapped for the call.
  // A file's streams come in offset order, one call at a time, as they are
  // found (not gathered first); calls for different files may interleave.
  // False stops the whole scan, as a stop request does: nothing more is
  // wanted (the output went away).
  virtual bool StreamFound(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) {
    (void)fileIndex, (void)file, (void)stream;
    return true;
  }
  // False when StreamFound is not wanted: the scan then keeps nothing of
  // the single streams and runs the chunks of a large file all at once.
  virtual bool WantsStreams() const { return true; }
  // True when each stream handed to StreamFound should carry its
  // container (TFoundStream::Container): finding it reads the bytes around
  // every stream, which a sink that only counts need not pay for.
  virtual bool WantsContainers() const { return false; }
  // True when each stream handed to StreamFound should carry its
  // fingerprint (TFoundStream::Fingerprint): finding it inflates and
  // compresses every stream again, at least once.
  virtual bool WantsFingerprints() const { return false; }
  // True when each stream handed to StreamFound should carry its content
  // type (TFoundStream::Content): a libmagic lookup on its first inflated
  // bytes, which the trials then keep.
  virtual bool WantsContentTypes() const { return false; }
  // The run of files[fileIndex] ended and its size was counted.
  virtual void FileDone(int32_t fileIndex, int64_t sizeBytes) { (void)fileIndex, (void)sizeBytes; }
  // The run of files[fileIndex] failed with `error` (raised by the run or
  // by this sink). True takes the error as handled: the run ends quietly
  // and the scan goes on. False, the default, lets the run raise it, as
  // the window's all-or-nothing scan wants.
  virtual bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) {
    (void)fileIndex, (void)error;
    return false;
  }
};

}  // namespace quarn
