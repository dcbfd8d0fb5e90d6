// Trials past 4 GiB: one stream whose output passes 4 GiB, one whose input
// does. The outcome's totals, what the watch hears and what a taker gets
// must be the whole 64-bit sizes on every platform, whatever the width of
// zlib's own counters (32 bits on Windows), in zlib's calls and in the fast
// path alike. Slow: zlib inflates more than 4 GiB a few times, so the
// sanitizer trees leave it out.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/trial_inflation.h"
#include "inflate/fast_inflate.h"
#include "inflate/inflate_record.h"
#include "tests/support/deflate_bits.h"
#include "tests/support/zero_memory.h"

namespace quarn {
namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;

// Counts the bytes it is handed and checks that each is `value`.
class TCountBytes final : public TInflatedBytes {
 public:
  explicit TCountBytes(uint8_t value) : expected_(kInflateBufferBytes, value) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    if (count > expected_.size() || std::memcmp(bytes, expected_.data(), count) != 0) ++wrongCalls;
    taken += count;
    return true;
  }
  uint64_t taken = 0;
  int wrongCalls = 0;

 private:
  std::vector<uint8_t> expected_;
};

// Keeps the input counts it hears and whether they ever went back; with
// `memory`, gives back the pages the trial has gone past.
class TRecordingWatch final : public TInflateWatch {
 public:
  explicit TRecordingWatch(test::TZeroMemory* memory = nullptr) : memory_(memory) {}
  void Progress(uint64_t inBytes) override {
    if (inBytes < last) wentBack = true;
    last = inBytes;
    ++calls;
    if (memory_ != nullptr && inBytes - givenBackTo_ >= kGiveBackBytes) {
      memory_->GiveBack(givenBackTo_, inBytes);
      givenBackTo_ = inBytes;
    }
  }
  uint64_t last = 0;
  uint64_t calls = 0;
  bool wentBack = false;

 private:
  static constexpr uint64_t kGiveBackBytes = uint64_t{64} << 20;
  test::TZeroMemory* memory_;
  uint64_t givenBackTo_ = 0;
};

// Raw deflate that inflates to 4 GiB + 1 MiB + 12,345 bytes of 'r': a
// dynamic block of matches at distance 1, about 20 MB of input. Past 4 GiB
// by more than the fast path's buffer holds, so that the bytes it has let
// go of pass 4 GiB too.
TEST(TrialInflationLarge, OutputPast4GiBIsCountedWhole) {
  constexpr uint64_t kOutput = k4GiB + (uint64_t{1} << 20) + 12345;
  static_assert(kOutput - k4GiB > kFastInflateBufferBytes);
  const test::TCode litlen(test::UsualLitlenLengths());
  const test::TCode dist(test::UsualDistLengths());
  test::TBitWriter w;
  test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths(), true));
  test::PutRun(w, litlen, dist, kOutput, 'r');
  litlen.Put(w, 256);
  std::vector<uint8_t> input = w.Bytes();
  const uint64_t streamBytes = input.size();
  input.resize(input.size() + 100, 0x55);  // bytes after the stream, not counted
  const auto size = static_cast<int64_t>(input.size());

  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);

  // zlib's calls, handing every byte on as the extractor and the Python
  // module have them.
  TCountBytes taker('r');
  TRecordingWatch watch;
  const TTrialOutcome zlib =
      InflateTrial({input.data(), size}, 0, record.Get(), buffer.data(), {.Output = &taker, .Watch = &watch});
  EXPECT_TRUE(zlib.Complete());
  EXPECT_EQ(zlib.OutBytes, kOutput);
  EXPECT_EQ(zlib.InBytes, streamBytes);
  EXPECT_EQ(taker.taken, kOutput);
  EXPECT_EQ(taker.wrongCalls, 0);
  EXPECT_FALSE(watch.wentBack);
  EXPECT_GE(watch.calls, kOutput / kInflateBufferBytes);
  EXPECT_LE(watch.last, streamBytes);

  // The fast path decides it alone, with the same totals.
  TFastInflater fast;
  const TTrialOutcome quick =
      InflateTrial({input.data(), size}, 0, record.Get(), buffer.data(), {.Fast = &fast});
  EXPECT_TRUE(quick.Complete());
  EXPECT_EQ(quick.OutBytes, kOutput);
  EXPECT_EQ(quick.InBytes, streamBytes);
}

// Stored blocks of 65,535 zero bytes, so many that the input passes 4 GiB;
// zeros follow the final block. The memory is zeros but for each block's
// 5-byte header, written again before each trial: the watch gives back
// what the trial has gone past. The fast path must decide its trial alone:
// were it to hand the trial back, zlib's calls would read the given-back
// pages again from the start and fail at the second block.
TEST(TrialInflationLarge, InputPast4GiBIsCountedWhole) {
  constexpr uint64_t kBlocks = 65600;
  constexpr uint64_t kBlockBytes = 5 + 65535;
  constexpr uint64_t kInput = kBlocks * kBlockBytes;
  constexpr uint64_t kOutput = kBlocks * 65535;
  static_assert(kInput > k4GiB && kOutput > k4GiB);
  test::TZeroMemory memory(kInput + 100);

  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  TFastInflater fast;
  for (TFastInflater* fastPath : {static_cast<TFastInflater*>(nullptr), &fast}) {
    SCOPED_TRACE(fastPath != nullptr ? "fast path" : "zlib's calls");
    for (uint64_t k = 0; k < kBlocks; ++k) {
      uint8_t* header = memory.Data() + k * kBlockBytes;
      header[0] = k + 1 == kBlocks ? 1 : 0;  // BFINAL on the last, BTYPE 0 (stored)
      header[1] = header[2] = 0xFF;          // LEN 65,535; NLEN 0 is its complement
    }
    TRecordingWatch watch(&memory);
    const TTrialOutcome outcome = InflateTrial({memory.Data(), memory.Size()}, 0, record.Get(), buffer.data(), {.Watch = &watch, .Fast = fastPath});
    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(outcome.InBytes, kInput);
    EXPECT_EQ(outcome.OutBytes, kOutput);
    EXPECT_FALSE(watch.wentBack);
    EXPECT_GT(watch.last, k4GiB) << "the watch heard of the input past 4 GiB";
    EXPECT_LE(watch.last, kInput);
  }
}

}  // namespace
}  // namespace quarn
