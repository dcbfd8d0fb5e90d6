// Fuzz target for input that changes under the scan, made deterministic:
// the changes are applied from the scan's own steering calls (between the
// inflate calls of a trial, after each trial, after each stream), so that
// each input replays the same interleaving.
//
// Input: the first byte picks the options (bit 0 Headerless, bit 1
// AcceptIncomplete, bit 2 Verified); the second gives the number of changes N (at most
// 32); then N changes of three bytes each (a 16-bit little-endian offset
// into the block, taken modulo its size, and the byte to write there); the
// rest is the block, copied to a buffer of its own size so that the
// sanitizers catch a read past its end. The k-th steering call applies the
// k-th change.
//
// What must hold, whatever the changes: the scan raises nothing but the
// "changed" error; every stream it hands on lies within the block and has
// header fields that the counters can hold; counting them raises nothing.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/stream_detector.h"
#include "inflate/engine_binding.h"
#include "util/errors.h"

namespace {

[[noreturn]] void Fail(const char* what, long long at) {
  std::fprintf(stderr, "changing_input_fuzzer: %s (at %lld)\n", what, at);
  std::abort();
}

struct TChange {
  std::size_t offset;
  uint8_t value;
};

class TChangingControl final : public quarn::detail::TRangeControl {
 public:
  TChangingControl(std::vector<uint8_t>& block, std::vector<TChange> changes)
      : block_(block), changes_(std::move(changes)) {}

  bool StreamFound(const quarn::TFoundStream& stream) override {
    found.push_back(stream);
    Change();
    return true;
  }
  bool TrialMayGoOn(int64_t, int64_t) override {
    Change();
    return true;
  }
  void TrialEnded() override { Change(); }

  std::vector<quarn::TFoundStream> found;

 private:
  void Change() {
    if (next_ < changes_.size()) {
      const TChange& change = changes_[next_++];
      block_[change.offset % block_.size()] = change.value;
    }
  }
  std::vector<uint8_t>& block_;
  std::vector<TChange> changes_;
  std::size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  quarn::TScanOptions options;
  options.Headerless = (data[0] & 1) != 0;
  options.AcceptIncomplete = (data[0] & 2) != 0;
  options.Verified = (data[0] & 4) != 0;
  const std::size_t changeCount = data[1] % 33;
  if (size < 2 + 3 * changeCount + 1) return 0;
  std::vector<TChange> changes;
  for (std::size_t k = 0; k < changeCount; ++k) {
    const uint8_t* at = data + 2 + 3 * k;
    changes.push_back({static_cast<std::size_t>(at[0] | at[1] << 8), at[2]});
  }
  const uint8_t* blockStart = data + 2 + 3 * changeCount;
  std::vector<uint8_t> block(blockStart, data + size);
  const auto blockSize = static_cast<int64_t>(block.size());

  TChangingControl control(block, std::move(changes));
  quarn::TScanner scanner(options);
  try {
    scanner.ScanUnder({block.data(), blockSize}, {0, blockSize}, control);
  } catch (const quarn::TFileChangedError&) {
    // Seen and said: what was found before stays to be checked.
  }

  quarn::TScanState state;
  for (const quarn::TFoundStream& stream : control.found) {
    if (stream.OffsetBytes < 0 || stream.OffsetBytes >= blockSize) {
      Fail("a stream outside the block", stream.OffsetBytes);
    }
    if (stream.InBytes > static_cast<uint64_t>(blockSize - stream.OffsetBytes)) {
      Fail("a stream that consumed more than the block holds", stream.OffsetBytes);
    }
    if (stream.HasHeader && (stream.CINFO < 1 || stream.CINFO > 7 || stream.FLEVEL > 3)) {
      Fail("a header stream whose fields no counter holds", stream.OffsetBytes);
    }
    quarn::CountFoundStream(state, stream);
  }
  return 0;
}
