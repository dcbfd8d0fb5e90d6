// An inflate record started for raw deflate (32 KiB window) on creation
// and ended on destruction, whichever engine serves the run.
#pragma once

#include "inflate/engine_binding.h"

namespace quarn {

class TInflateRecord {
 public:
  // zlib's default allocation: the record is zero-filled before the start.
  // A failed start leaves no state; every later call then returns
  // Z_STREAM_ERROR, so nothing is ever accepted through it.
  TInflateRecord() { InflateInit2(&record_, -15); }
  ~TInflateRecord() { InflateEnd(&record_); }
  TInflateRecord(const TInflateRecord&) = delete;
  TInflateRecord& operator=(const TInflateRecord&) = delete;

  z_stream* Get() { return &record_; }

 private:
  z_stream record_{};
};

}  // namespace quarn
