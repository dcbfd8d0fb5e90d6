// Counting streams into the plain count value.
#include "engine/stream_counts.h"

#include <string>

#include "util/errors.h"

namespace quarn {

void TStreamCounts::Add(const TFoundStream& stream) {
  if (stream.BeyondRule) {
    TProvenKind kind = kProvenZlib;
    if (stream.ProvenBy == TProof::Crc32) {
      kind = stream.ProvenIn == TContainerKind::Gzip ? kProvenGzip : kProvenZip;
    } else if (stream.ProvenBy != TProof::Adler32 || !stream.HasHeader) {
      throw TQuarnError("A stream beyond the scan's rule has no checksum that proves it.");
    }
    ++proven[kind];
    provenOut += static_cast<int64_t>(stream.OutBytes);
    return;
  }
  if (stream.HasHeader) {
    if (stream.CINFO < 1 || stream.CINFO > 7 || stream.FLEVEL > 3) {
      throw TQuarnError("A zlib stream has CINFO " + std::to_string(stream.CINFO) + " and FLEVEL " +
                        std::to_string(stream.FLEVEL) + "; a header allows CINFO 1..7 and FLEVEL 0..3.");
    }
    ++WindowBits(stream.CINFO + 8);
    ++l[stream.FLEVEL];
    ++Z;
  } else {
    ++hless;
  }
  zin += static_cast<int64_t>(stream.InBytes);
  zout += static_cast<int64_t>(stream.OutBytes);
}

TStreamCounts& TStreamCounts::operator+=(const TStreamCounts& other) {
  i += other.i;
  zout += other.zout;
  zin += other.zin;
  hless += other.hless;
  Z += other.Z;
  for (std::size_t f = 0; f < l.size(); ++f) l[f] += other.l[f];
  for (std::size_t k = 0; k < w.size(); ++k) w[k] += other.w[k];
  Files += other.Files;
  for (std::size_t k = 0; k < proven.size(); ++k) proven[k] += other.proven[k];
  provenOut += other.provenOut;
  return *this;
}

}  // namespace quarn
