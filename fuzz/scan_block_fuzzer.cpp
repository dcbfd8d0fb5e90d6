// Differential fuzz target: ScanBlock must give exactly what the plain
// reference loop gives, on any block, with any options.
//
// Input: the first byte picks the options (bit 0 Headerless, bit 1
// AcceptIncomplete, bit 2 a second scan with Verified); the rest is the block, copied to a buffer of its own
// size so that the sanitizers catch a read past its end. Besides the
// counters and the list of streams, every candidate position that the
// filters throw away is checked against zlib's probe directly: a filter
// may only drop what the probe rejects, or, where only complete streams
// count, what zlib's whole trial does not end as a stream; the wide and
// the SSE2 lanes of the filters must find the same candidates. Every trial is also decided both
// ways, by zlib alone and by the fast inflate path with zlib behind it,
// and the two must agree on accepted, complete, InBytes and OutBytes; the
// block from its first byte on is decoded both ways too, candidate or
// not. A decode the fast path completes must hand on (to a keeper of a
// trial's bytes) exactly the bytes it counts. Where a trial ends no stream, the block starts on a byte that its
// fast decode passed must start no stream that ends either. A scan with
// Verified must keep the rule's streams and counts as they are, and every
// zlib stream it proves beyond the rule must be one that zlib's own
// inflation, checking the Adler-32 itself, ends at the same byte; the
// container finder is run over its streams. Any difference aborts.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/candidate_filter.h"
#include "engine/container_finder.h"
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

// Sums what the fast path hands on, as a keeper of a trial's bytes takes it.
class TSummingTaker final : public quarn::TOutputTaker {
 public:
  void Take(const uint8_t* bytes, std::size_t count) override {
    crc = static_cast<uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
    total += count;
  }
  uint32_t crc = 0;
  uint64_t total = 0;
};

// A decode that the fast path completes hands on every byte it counts,
// once and in order: the same length and CRC-32 as it sums itself.
void CheckHandedOnBytes(quarn::TFastInflater& fast, const uint8_t* p, int64_t restBytes, int64_t pos) {
  TSummingTaker taker;
  const quarn::TFastInflateResult summed =
      fast.Inflate(p, static_cast<uint64_t>(restBytes), nullptr, quarn::TChecksum::Crc32, &taker);
  if (!summed.Complete || taker.total != summed.OutBytes || taker.crc != summed.Sum) {
    Fail("the bytes the fast path hands on are not those it counts", pos);
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
    const quarn::TFastInflateResult quick = fast.Inflate(p, static_cast<uint64_t>(size - pos));
    const TTrial both = WithFastPath(quick, zlib);
    if (!(both == zlib)) Fail("a trial decided with the fast path differs from zlib's", pos);
    if (quick.Complete) CheckHandedOnBytes(fast, p, size - pos, pos);
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

// zlib's own inflation of the zlib stream whose header is at `at`: whether
// it ends the stream, Adler-32 checked, after `inBytes` of input.
bool ZlibEndsStreamAfter(const std::vector<uint8_t>& block, int64_t at, uint64_t inBytes) {
  z_stream record{};
  if (inflateInit(&record) != Z_OK) std::abort();
  std::vector<uint8_t> out(65536);
  record.next_in = const_cast<Bytef*>(block.data() + at);
  record.avail_in = static_cast<uInt>(static_cast<int64_t>(block.size()) - at);
  int code = Z_OK;
  while (code == Z_OK) {
    record.next_out = out.data();
    record.avail_out = static_cast<uInt>(out.size());
    code = inflate(&record, Z_SYNC_FLUSH);
  }
  const bool ends = code == Z_STREAM_END && record.total_in == inBytes + 6;
  inflateEnd(&record);
  return ends;
}

void CheckVerifiedScan(const std::vector<uint8_t>& block, const quarn::TScanOptions& plainOptions,
                       const quarn::TStreamCounts& plainCounts, const std::vector<quarn::TFoundStream>& plain) {
  const quarn::TBlock view{block.data(), static_cast<int64_t>(block.size())};
  quarn::TScanState state;
  state.Options = plainOptions;
  state.Options.Verified = true;
  quarn::TCollectSink sink;
  quarn::TScanner(state.Options).ScanBlock(state, view, &sink);
  quarn::TStreamCounts counts = state.Counts();
  counts.proven = {};
  counts.provenOut = 0;
  if (!(counts == plainCounts)) Fail("a scan for proof changed the rule's counts");
  std::size_t next = 0;
  quarn::TContainerFinder finder(view);
  for (const quarn::TFoundStream& s : sink.Streams) {
    (void)finder.Find(s);
    if (!s.BeyondRule) {
      if (next >= plain.size() || plain[next].OffsetBytes != s.OffsetBytes || plain[next].InBytes != s.InBytes ||
          plain[next].OutBytes != s.OutBytes) {
        Fail("a scan for proof changed the rule's streams", s.OffsetBytes);
      }
      ++next;
      continue;
    }
    if (s.HasHeader && !ZlibEndsStreamAfter(block, s.OffsetBytes - 2, s.InBytes)) {
      Fail("a zlib stream proven beyond the rule is not one for zlib", s.OffsetBytes);
    }
  }
  if (next != plain.size()) Fail("a scan for proof lost a stream of the rule");
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

  if ((data[0] & 4) != 0) CheckVerifiedScan(block, state.Options, state.Counts(), sink.Streams);
  CheckDroppedCandidates(block, headerless);
  CheckLaneWidthsAgree(block, headerless, acceptIncomplete);
  CheckEveryTrialBothWays(block, headerless, acceptIncomplete);
  return 0;
}
