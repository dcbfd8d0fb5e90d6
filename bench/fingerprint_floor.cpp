// The floor that quarn-scan --fingerprint is measured against: the scan
// that quarn-scan --headerless runs, on the same worker threads, and one
// zlib level-6 compression of each found stream's inflated bytes (every
// stream must be compressed at least once to be reproduced). Streams that
// --fingerprint does not try (incomplete, over its size limit) are not
// compressed here either. Prints the streams and bytes compressed.
//   quarn-fingerprint-floor FILE...
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/deflate_encoders.h"
#include "engine/scan_run.h"
#include "engine/scan_sink.h"
#include "engine/stream_fingerprint.h"
#include "inflate/inflate_record.h"

namespace {

class TFloorSink final : public quarn::TScanSink {
 public:
  bool StreamFound(int32_t, const quarn::TMappedFile& file, const quarn::TFoundStream& stream) override {
    if (!stream.Complete || stream.OutBytes > quarn::kMaxFingerprintBytes) return true;
    thread_local quarn::TInflateRecord record;
    thread_local std::vector<uint8_t> inflated;
    inflated.resize(static_cast<std::size_t>(stream.OutBytes) + 1);
    z_stream* z = record.Get();
    quarn::InflateReset(z);
    z->next_in = const_cast<Bytef*>(file.Memory() + stream.OffsetBytes);
    z->avail_in = static_cast<uInt>(stream.InBytes);
    z->next_out = inflated.data();
    z->avail_out = static_cast<uInt>(inflated.size());
    quarn::Inflate(z, Z_FINISH);
    inflated.resize(z->total_out);
    const auto out = quarn::Encode(quarn::TEncoderSettings{}, inflated);  // zlib level 6, as compress2
    streams_.fetch_add(1);
    bytes_.fetch_add(out ? static_cast<int64_t>(out->size()) : 0);
    return true;
  }
  bool WantsContainers() const override { return false; }
  int64_t Streams() const { return streams_.load(); }
  int64_t Bytes() const { return bytes_.load(); }

 private:
  std::atomic<int64_t> streams_{0};
  std::atomic<int64_t> bytes_{0};
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> files(argv + 1, argv + argc);
  quarn::TScanState state;
  state.Options.Headerless = true;
  TFloorSink sink;
  quarn::RunScan(files, state, &sink);
  std::printf("%lld streams compressed at zlib level 6 into %lld bytes\n", static_cast<long long>(sink.Streams()),
              static_cast<long long>(sink.Bytes()));
  return 0;
}
