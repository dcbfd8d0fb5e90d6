// Reference scan. Deliberately naive: every position, every test spelled
// out, the whole rest of the block offered in one call per refill.
#include "tests/support/reference_scan.h"

#include <zlib.h>

#include <vector>

namespace quarn::test {

TReferenceResult ReferenceScan(const uint8_t* data, int64_t size, bool headerless,
                               bool acceptIncomplete) {
  return ReferenceScanRange(data, size, 0, size - 63, headerless, acceptIncomplete);
}

TReferenceResult ReferenceScanRange(const uint8_t* data, int64_t size, int64_t from, int64_t to,
                                    bool headerless, bool acceptIncomplete) {
  TReferenceResult r;
  z_stream s{};
  inflateInit2(&s, -15);
  std::vector<unsigned char> out(65536);

  int64_t pos = from;
  while (pos < to && pos < size - 63) {
    bool isHeader = false;
    if (pos >= 2) {
      const int cmf = data[pos - 2];
      const int flg = data[pos - 1];
      isHeader = (cmf % 16 == 8) && (flg / 32 % 2 == 0) && ((cmf * 256 + flg) % 31 == 0) &&
                 (cmf / 16 >= 1) && (cmf / 16 <= 7);
    }
    const int btype = data[pos] % 8;
    const bool dynamic = btype == 4 || btype == 5;
    if (!isHeader && !(headerless && dynamic)) {
      pos = pos + 1;
      continue;
    }

    inflateReset(&s);
    s.next_in = const_cast<unsigned char*>(data + pos);
    s.avail_in = 64;
    s.next_out = out.data();
    s.avail_out = 4096;
    int code = inflate(&s, Z_SYNC_FLUSH);
    bool ok = false;
    if (code == Z_OK || code == Z_STREAM_END) {
      int64_t next = pos + static_cast<int64_t>(s.total_in);
      s.next_in = const_cast<unsigned char*>(data + next);
      s.avail_in = static_cast<unsigned>(size - next);
      while (code == Z_OK) {
        s.next_out = out.data();
        s.avail_out = 65536;
        code = inflate(&s, Z_SYNC_FLUSH);
      }
      ok = code == Z_STREAM_END ||
           (acceptIncomplete && (code == Z_BUF_ERROR || code == Z_DATA_ERROR));
      if (ok && isHeader && s.total_out < 262144 && !dynamic) ok = false;
    }
    if (!ok) {
      pos = pos + 1;
      continue;
    }

    TFoundStream found;
    found.OffsetBytes = pos;
    found.HasHeader = isHeader;
    found.InBytes = s.total_in;
    found.OutBytes = s.total_out;
    found.Complete = code == Z_STREAM_END;
    if (isHeader) {
      found.CINFO = static_cast<uint8_t>(data[pos - 2] / 16);
      found.FLEVEL = static_cast<uint8_t>(data[pos - 1] / 64);
      r.w[found.CINFO + 8] += 1;
      r.l[found.FLEVEL] += 1;
      r.Z += 1;
    } else {
      r.hless += 1;
    }
    r.zin += static_cast<int64_t>(s.total_in);
    r.zout += static_cast<int64_t>(s.total_out);
    r.streams.push_back(found);
    pos = pos + static_cast<int64_t>(s.total_in);
  }
  inflateEnd(&s);
  r.endPosition = pos;
  return r;
}

void AddToState(const TReferenceResult& result, int64_t sizeBytes, TScanState& state) {
  state.i += sizeBytes;
  state.zin += result.zin;
  state.zout += result.zout;
  state.hless += result.hless;
  state.Z += result.Z;
  for (std::size_t f = 0; f < 4; ++f) state.l[f] += result.l[f];
  for (int k = 9; k <= 15; ++k) state.w[k] += result.w[k];
}

}  // namespace quarn::test
