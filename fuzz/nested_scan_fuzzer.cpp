// Differential fuzz target of the nested scan: the streams found inside a
// stream must be exactly those a scan of its inflated bytes, as a block of
// their own, finds, level by level, wherever no limit stopped the nested
// scan; and the block's own counts must be those of a scan without depth.
//
// Input: the first byte picks the options (bit 0 Headerless, bit 1
// AcceptIncomplete, bit 2 Verified; bits 3 to 7 the budget under each
// stream, 256 << n bytes); the rest is the block, copied to a buffer of its
// own size so that the sanitizers catch a read past its end. Every nested
// stream must start inside its parent's inflated bytes; a stream a limit
// stopped at must carry nothing nested. Any difference aborts.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/stream_detector.h"
#include "engine/trial_inflation.h"

namespace {

constexpr int kDepth = 3;

[[noreturn]] void Fail(const char* what, long long at) {
  std::fprintf(stderr, "nested_scan_fuzzer: %s (at %lld)\n", what, at);
  std::abort();
}

class TKeepAll final : public quarn::TInflatedBytes {
 public:
  bool Take(const uint8_t* bytes, std::size_t count) override {
    Bytes.insert(Bytes.end(), bytes, bytes + count);
    return true;
  }
  std::vector<uint8_t> Bytes;
};

const std::vector<quarn::TFoundStream>& NestedOf(const quarn::TFoundStream& stream) {
  static const std::vector<quarn::TFoundStream> none;
  return stream.Nested ? *stream.Nested : none;
}

// Whether a limit stopped anywhere under `streams`.
bool AnyStopped(const std::vector<quarn::TFoundStream>& streams) {
  for (const quarn::TFoundStream& s : streams) {
    if (s.SkippedBy != quarn::TNestLimit::None || AnyStopped(NestedOf(s))) return true;
  }
  return false;
}

void CheckShape(const quarn::TFoundStream& parent) {
  for (const quarn::TFoundStream& s : NestedOf(parent)) {
    if (s.StartBytes() < 0 || static_cast<uint64_t>(s.OffsetBytes) >= parent.OutBytes) {
      Fail("a nested stream starts outside its parent's bytes", s.OffsetBytes);
    }
    if (s.SkippedBy != quarn::TNestLimit::None && s.Nested) Fail("a stopped stream has nested streams", s.OffsetBytes);
    CheckShape(s);
  }
}

void CheckSame(const std::vector<quarn::TFoundStream>& nested, const std::vector<quarn::TFoundStream>& alone) {
  if (nested.size() != alone.size()) Fail("a nested scan found another number of streams", static_cast<long long>(nested.size()));
  for (std::size_t k = 0; k < nested.size(); ++k) {
    const quarn::TFoundStream& a = nested[k];
    const quarn::TFoundStream& b = alone[k];
    if (a.OffsetBytes != b.OffsetBytes || a.HasHeader != b.HasHeader || a.InBytes != b.InBytes ||
        a.OutBytes != b.OutBytes || a.Complete != b.Complete || a.ProvenBy != b.ProvenBy ||
        a.BeyondRule != b.BeyondRule) {
      Fail("a nested stream differs from the scan of its parent's bytes", a.OffsetBytes);
    }
    CheckSame(NestedOf(a), NestedOf(b));
  }
}

// The streams of `block` at `depth`, and its counts.
quarn::TStreamCounts Scan(const quarn::TScanOptions& options, int depth, quarn::TBlock block,
                          std::vector<quarn::TFoundStream>& streams) {
  quarn::TScanState state;
  state.Options = options;
  state.Options.Depth = depth;
  quarn::TCollectSink sink;
  quarn::TScanner(state.Options).ScanBlock(state, block, &sink);
  streams = std::move(sink.Streams);
  return state.Counts();
}

// Each stream found at `depth` in `block`, inflated again, scanned alone
// one level less deep, must give what its nested scan gave.
void CheckLevel(const quarn::TScanOptions& options, int depth, quarn::TBlock block,
                const std::vector<quarn::TFoundStream>& streams) {
  if (depth <= 1) return;
  for (const quarn::TFoundStream& s : streams) {
    if (s.SkippedBy != quarn::TNestLimit::None) continue;
    TKeepAll inflated;
    quarn::TScanner().Trial(block, s.OffsetBytes, &inflated);
    if (inflated.Bytes.size() != s.OutBytes) Fail("a stream inflates to another size again", s.OffsetBytes);
    const quarn::TBlock bytes{inflated.Bytes.data(), static_cast<int64_t>(inflated.Bytes.size())};
    std::vector<quarn::TFoundStream> alone;
    Scan(options, depth - 1, bytes, alone);
    CheckSame(NestedOf(s), alone);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  quarn::TScanOptions options;
  options.Headerless = (data[0] & 1) != 0;
  options.AcceptIncomplete = (data[0] & 2) != 0;
  options.Verified = (data[0] & 4) != 0;
  options.MaxInflateBytes = uint64_t{256} << (data[0] >> 3);
  const std::vector<uint8_t> copy(data + 1, data + size);
  const quarn::TBlock block{copy.data(), static_cast<int64_t>(copy.size())};

  std::vector<quarn::TFoundStream> plain;
  std::vector<quarn::TFoundStream> deep;
  if (Scan(options, 1, block, plain) != Scan(options, kDepth, block, deep)) Fail("depth changed the block's counts", 0);
  for (const quarn::TFoundStream& s : deep) CheckShape(s);
  if (AnyStopped(deep)) return 0;  // the limits cut what a scan alone would go on to find
  CheckLevel(options, kDepth, block, deep);
  return 0;
}
