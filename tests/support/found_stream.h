// A found stream made field by field, for tests that hand streams to the
// parts that take them (the extractor, the ordered report).
#pragma once

#include <cstdint>

#include "engine/found_stream.h"

namespace quarn::test {

inline TFoundStream FoundStream(int64_t offset, bool header, uint8_t cinfo, uint8_t flevel, uint64_t inBytes,
                                uint64_t outBytes, bool complete) {
  TFoundStream stream;
  stream.OffsetBytes = offset;
  stream.HasHeader = header;
  stream.CINFO = cinfo;
  stream.FLEVEL = flevel;
  stream.InBytes = inBytes;
  stream.OutBytes = outBytes;
  stream.Complete = complete;
  return stream;
}

}  // namespace quarn::test
