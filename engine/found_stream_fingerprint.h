// The fingerprint of a stream that a scan found in a block of memory: its
// deflate bytes are read in place, its inflated bytes made again into a
// buffer that the fingerprinter keeps from one stream to the next. One
// fingerprinter serves one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_view.h"
#include "engine/found_stream.h"
#include "engine/stream_fingerprint.h"
#include "inflate/inflate_record.h"

namespace quarn {

class TFoundStreamFingerprinter {
 public:
  // The fingerprint of `stream`, found in `block`. A stream that does not
  // end, or that inflates to more than kMaxFingerprintBytes, is not tried.
  // Raises TFileChangedError when the bytes no longer inflate as the scan
  // found them (a file changed while it was mapped).
  TStreamFingerprint Fingerprint(TBlock block, const TFoundStream& stream);

 private:
  TInflateRecord record_;
  std::vector<uint8_t> inflated_;
};

}  // namespace quarn
