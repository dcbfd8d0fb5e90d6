// Inflating a found stream again for its fingerprint. The scan's trial kept
// none of the output (it counts bytes only), and a fingerprint needs all of
// it: bounded by kMaxFingerprintBytes.
#include "engine/found_stream_fingerprint.h"

#include <limits>
#include <span>

#include "util/errors.h"

namespace quarn {

TStreamFingerprint TFoundStreamFingerprinter::Fingerprint(TBlock block, const TFoundStream& stream) {
  TStreamFingerprint fingerprint;
  if (!stream.Complete) {
    fingerprint.Skipped = TFingerprintSkip::Incomplete;
    return fingerprint;
  }
  // A stream of empty blocks may take more input than any output would.
  if (stream.OutBytes > kMaxFingerprintBytes || stream.InBytes > std::numeric_limits<uInt>::max()) {
    fingerprint.Skipped = TFingerprintSkip::TooLarge;
    return fingerprint;
  }
  if (stream.OffsetBytes < 0 || stream.OffsetBytes > block.Size ||
      stream.InBytes > static_cast<uint64_t>(block.Size - stream.OffsetBytes)) {
    throw TFileChangedError();
  }
  const std::span<const uint8_t> deflate(block.Memory + stream.OffsetBytes, static_cast<std::size_t>(stream.InBytes));

  inflated_.resize(static_cast<std::size_t>(stream.OutBytes));
  z_stream* z = record_.Get();
  InflateReset(z);
  // zlib reads nothing through next_in that it is not given; the cast only
  // meets its interface.
  z->next_in = const_cast<Bytef*>(deflate.data());
  z->avail_in = static_cast<uInt>(deflate.size());
  uint8_t spare = 0;  // zlib takes no null output, even for none
  z->next_out = inflated_.empty() ? &spare : inflated_.data();
  z->avail_out = static_cast<uInt>(inflated_.size());
  const int code = Inflate(z, Z_FINISH);
  if (code != Z_STREAM_END || z->avail_out != 0 || z->avail_in != 0) throw TFileChangedError();

  TFingerprintInput input;
  input.Deflate = deflate;
  input.Inflated = inflated_;
  input.HasHeader = stream.HasHeader;
  input.CINFO = stream.CINFO;
  input.FLEVEL = stream.FLEVEL;
  return FingerprintStream(input);
}

}  // namespace quarn
