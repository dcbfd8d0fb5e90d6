// Differential fuzz target: ScanBlock must give exactly what the plain
// reference loop gives, on any block, with any options.
//
// Input: the first byte picks the options (bit 0 Headerless, bit 1
// AcceptIncomplete); the rest is the block, copied to a buffer of its own
// size so that the sanitizers catch a read past its end. Besides the
// counters and the list of streams, every candidate position that the
// filters throw away is checked against zlib's probe directly: a filter
// may only drop what the probe rejects. Any difference aborts.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/candidate_filter.h"
#include "engine/stream_detector.h"
#include "engine/trial_inflation.h"
#include "inflate/engine_binding.h"
#include "tests/support/reference_scan.h"
#include "tests/support/scan_comparison.h"

namespace {

[[noreturn]] void Fail(const char* what, long long at) {
  std::fprintf(stderr, "scan_block_fuzzer: %s (at %lld)\n", what, at);
  std::abort();
}

[[noreturn]] void Fail(const std::string& differences) {
  std::fprintf(stderr, "scan_block_fuzzer: ScanBlock differs from the reference scan:\n%s", differences.c_str());
  std::abort();
}

// zlib's probe of the candidate at `probe`, as the scan makes it.
bool ProbePasses(z_stream& record, const uint8_t* probe) {
  static uint8_t out[quarn::kProbeOutputBytes];
  const int code = quarn::InflateProbe(probe, quarn::kProbeInputBytes, &record, out);
  return code == Z_OK || code == Z_STREAM_END;
}

void CheckDroppedCandidates(const std::vector<uint8_t>& block, bool headerless) {
  const int64_t size = static_cast<int64_t>(block.size());
  z_stream record{};
  inflateInit2(&record, -15);
  for (int64_t pos = 0; pos < size - 63; ++pos) {
    const uint8_t* p = block.data() + pos;
    const bool header = pos >= 2 && quarn::detail::IsHeaderCandidate(p - 2);
    if (!header && !(headerless && quarn::detail::IsDynamicBlockStart(p[0]))) continue;
    if (quarn::detail::ProbeCertainlyFails(p) && ProbePasses(record, p)) {
      Fail("a filter dropped a candidate whose probe passes", pos);
    }
  }
  inflateEnd(&record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool headerless = (data[0] & 1) != 0;
  const bool acceptIncomplete = (data[0] & 2) != 0;
  const std::vector<uint8_t> block(data + 1, data + size);
  const int64_t blockSize = static_cast<int64_t>(block.size());

  quarn::TScanState state;
  state.Options.Headerless = headerless;
  state.Options.AcceptIncomplete = acceptIncomplete;
  z_stream record{};
  quarn::InflateInit2(&record, -15);
  std::vector<uint8_t> buffer(quarn::kInflateBufferBytes);
  quarn::TCollectSink sink;
  quarn::ScanBlock(state, block.data(), blockSize, &record, buffer.data(), &sink);
  quarn::InflateEnd(&record);

  const quarn::test::TReferenceResult want =
      quarn::test::ReferenceScan(block.data(), blockSize, headerless, acceptIncomplete);
  const std::string differences = quarn::test::Differences(quarn::test::ResultOf(state, sink.Streams), want);
  if (!differences.empty()) Fail(differences);

  CheckDroppedCandidates(block, headerless);
  return 0;
}
