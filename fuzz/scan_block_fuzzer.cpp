// Differential fuzz target: ScanBlock must give exactly what the plain
// reference loop gives, on any block, with any options.
//
// Input: the first byte picks the options (bit 0 Headerless, bit 1
// AcceptIncomplete); the rest is the block, copied to a buffer of its own
// size so that the sanitizers catch a read past its end. Besides the
// counters and the list of streams, every candidate position that the
// filters throw away is checked against zlib's probe directly: a filter
// may only drop what the probe rejects, or, where only complete streams
// count, what zlib's whole trial does not end as a stream; the wide and
// the SSE2 lanes of the filters must find the same candidates. Every trial is also decided both
// ways, by zlib alone and by the fast inflate path with zlib behind it,
// and the two must agree on accepted, complete, InBytes and OutBytes; the
// block from its first byte on is decoded both ways too, candidate or
// not. Where a trial ends no stream, the block starts on a byte that its
// fast decode passed must start no stream that ends either. Any
// difference aborts.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/candidate_filter.h"
#include "engine/stream_detector.h"
#include "engine/trial_inflation.h"
#include "inflate/engine_binding.h"
#include "inflate/fast_inflate.h"
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

// The wide lanes (AVX2, where the processor has them) and SSE2's must find
// the same candidate from every start, in a search of up to 200 positions
// (so that the time stays linear in the block).
void CheckLaneWidthsAgree(const std::vector<uint8_t>& block, bool headerless, bool acceptIncomplete) {
  if (!quarn::detail::ProcessorHasAvx2()) return;
  const int64_t size = static_cast<int64_t>(block.size());
  for (int64_t pos = 0; pos < size - 63; ++pos) {
    const int64_t wide = quarn::detail::NextCandidate({block.data(), size}, {pos, pos + 200}, headerless,
                                                      acceptIncomplete, quarn::detail::TFilterLanes::Widest);
    const int64_t narrow = quarn::detail::NextCandidate({block.data(), size}, {pos, pos + 200}, headerless,
                                                        acceptIncomplete, quarn::detail::TFilterLanes::Sse2);
    if (wide != narrow) Fail("the wide and the SSE2 lanes find different candidates", pos);
  }
}

struct TTrial {
  bool accepted = false;
  bool complete = false;
  uint64_t in = 0;
  uint64_t out = 0;
  bool operator==(const TTrial&) const = default;
};

// The rest of a trial whose probe returned Z_OK, in zlib alone, as the
// detector offers it: the rest of the block, 64 KiB of output a call.
TTrial FinishInZlib(z_stream& record, const uint8_t* rest, std::size_t restBytes, bool acceptIncomplete) {
  static uint8_t out[65536];
  record.next_in = const_cast<Bytef*>(rest);
  record.avail_in = static_cast<uInt>(restBytes);
  int code = Z_OK;
  while (code == Z_OK) {
    record.next_out = out;
    record.avail_out = sizeof out;
    code = inflate(&record, Z_SYNC_FLUSH);
  }
  const bool complete = code == Z_STREAM_END;
  return {complete || (acceptIncomplete && (code == Z_BUF_ERROR || code == Z_DATA_ERROR)), complete,
          record.total_in, record.total_out};
}

// The fast path's answer where it has one, else zlib's.
TTrial WithFastPath(const quarn::TFastInflateResult& fast, const TTrial& zlib) {
  return fast.Complete ? TTrial{true, true, fast.InBytes, fast.OutBytes} : zlib;
}

// A trial from `p` that ends no stream: no block start on a byte that its
// fast decode passed may start a stream that ends (the detector rejects
// them without a trial). The first few are checked, to keep the time
// linear in the block.
void CheckDeadStarts(z_stream& record, const uint8_t* p, int64_t restBytes, const quarn::TFastInflater& fast) {
  const std::vector<uint64_t> starts(fast.AlignedBlockStarts().begin(), fast.AlignedBlockStarts().end());
  for (std::size_t k = 0; k < starts.size() && k < 8; ++k) {
    const auto at = static_cast<int64_t>(starts[k]);
    if (restBytes - at < quarn::kProbeInputBytes) break;
    if (!ProbePasses(record, p + at)) continue;
    const std::size_t rest = static_cast<std::size_t>(restBytes - at) - record.total_in;
    if (FinishInZlib(record, p + at + record.total_in, rest, false).complete) {
      Fail("a block start passed by a trial that ends no stream starts a stream that ends", at);
    }
  }
}

void CheckEveryTrialBothWays(const std::vector<uint8_t>& block, bool headerless, bool acceptIncomplete) {
  const int64_t size = static_cast<int64_t>(block.size());
  quarn::TFastInflater& fast = quarn::ThreadFastInflater();
  z_stream record{};
  inflateInit2(&record, -15);
  for (int64_t pos = 0; pos < size - 63; ++pos) {
    const uint8_t* p = block.data() + pos;
    const bool header = pos >= 2 && quarn::detail::IsHeaderCandidate(p - 2);
    if (!header && !(headerless && quarn::detail::IsDynamicBlockStart(p[0]))) continue;
    if (!ProbePasses(record, p)) continue;
    const std::size_t rest = static_cast<std::size_t>(size - pos) - record.total_in;
    const TTrial zlib = FinishInZlib(record, p + record.total_in, rest, acceptIncomplete);
    if (zlib.complete && quarn::detail::TrialCertainlyFails(p, size - pos)) {
      Fail("a filter dropped a candidate whose trial ends a stream", pos);
    }
    fast.KeepBlockStartsOfNextDecode();
    const TTrial both = WithFastPath(fast.Inflate(p, static_cast<uint64_t>(size - pos)), zlib);
    if (!(both == zlib)) Fail("a trial decided with the fast path differs from zlib's", pos);
    if (!zlib.complete) CheckDeadStarts(record, p, size - pos, fast);
  }
  // The whole block as one raw deflate stream, whatever its first byte.
  inflateReset(&record);
  const TTrial zlib = FinishInZlib(record, block.data(), block.size(), false);
  if (!(WithFastPath(fast.Inflate(block.data(), block.size()), zlib) == zlib)) {
    Fail("the block as one stream: the fast path differs from zlib", 0);
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
  CheckLaneWidthsAgree(block, headerless, acceptIncomplete);
  CheckEveryTrialBothWays(block, headerless, acceptIncomplete);
  return 0;
}
