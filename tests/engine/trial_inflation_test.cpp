// The trial inflation that the scan and the extractor share: the outcome
// zlib's codes give, the bytes handed to a taker (exactly the bytes the
// trial counts, the inflated data itself), a taker that ends the trial,
// and offering the rest of the input in pieces. zlib's own inflate of the
// same bytes is the control.
#include "engine/trial_inflation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "inflate/fast_inflate.h"
#include "inflate/inflate_record.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

// Keeps every byte it is handed; ends the trial after `callsWanted` calls.
class TKeepBytes final : public TInflatedBytes {
 public:
  explicit TKeepBytes(int callsWanted = -1) : callsWanted_(callsWanted) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    kept.insert(kept.end(), bytes, bytes + count);
    ++calls;
    return callsWanted_ < 0 || calls < callsWanted_;
  }
  TBytes kept;
  int calls = 0;

 private:
  int callsWanted_;
};

struct TTrialCase {
  const char* name;
  TBytes block;  // the deflate data starts at offset 0
  int lastCode;
  bool probePassed;
  uint64_t inBytes;
  TBytes inflated;  // what zlib's inflate of the block gives up to its stop
};

std::vector<TTrialCase> Cases() {
  const TBytes text = test::MakeText(200000, 4);
  const TBytes raw = test::Raw(text);
  std::vector<TTrialCase> cases;
  TBytes trailing = raw;
  trailing.insert(trailing.end(), 100, 0x55);
  cases.push_back({"complete, bytes after it", trailing, Z_STREAM_END, true, raw.size(), text});

  const TBytes cut(raw.begin(), raw.begin() + static_cast<long>(raw.size() / 2));
  cases.push_back({"cut off by the end of the input", cut, Z_BUF_ERROR, true, cut.size(), {}});

  // Two blocks with a full flush between them, so that the second block
  // header is byte-aligned; the reserved block type there makes the data
  // invalid well after a good beginning.
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  TBytes damaged(deflateBound(&s, static_cast<uLong>(text.size())) + 64);
  s.next_in = const_cast<Bytef*>(text.data());
  s.avail_in = static_cast<uInt>(text.size() / 2);
  s.next_out = damaged.data();
  s.avail_out = static_cast<uInt>(damaged.size());
  deflate(&s, Z_FULL_FLUSH);
  const std::size_t secondBlock = s.total_out;
  s.avail_in = static_cast<uInt>(text.size() - text.size() / 2);
  deflate(&s, Z_FINISH);
  damaged.resize(s.total_out);
  deflateEnd(&s);
  damaged[secondBlock] |= 0x07;  // BFINAL 1, BTYPE 3 (reserved)
  const TBytes firstHalf(text.begin(), text.begin() + static_cast<long>(text.size() / 2));
  cases.push_back({"invalid data after a good probe", damaged, Z_DATA_ERROR, true, secondBlock + 1, firstHalf});

  TBytes reserved(200, 0);
  reserved[0] = 0x07;  // BFINAL 1, BTYPE 3 (reserved)
  cases.push_back({"probe fails", reserved, Z_DATA_ERROR, false, 0, {}});
  return cases;
}

// zlib's plain inflate of the whole block in one call: the control.
TBytes ControlInflate(const TBytes& block, uint64_t* inBytes) {
  z_stream s{};
  inflateInit2(&s, -15);
  TBytes out(1 << 20);
  s.next_in = const_cast<Bytef*>(block.data());
  s.avail_in = static_cast<uInt>(block.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  inflate(&s, Z_SYNC_FLUSH);
  out.resize(s.total_out);
  *inBytes = s.total_in;
  inflateEnd(&s);
  return out;
}

TEST(TrialInflation, OutcomeAndBytesAgreeWithZlibForEveryWayATrialEnds) {
  for (const TTrialCase& c : Cases()) {
    for (uint64_t piece : {uint64_t{1}, uint64_t{13}, uint64_t{70000}, kMaxOfferBytes}) {
      SCOPED_TRACE(testing::Message() << c.name << ", pieces of " << piece);
      const test::TGuardedBuffer block(c.block);
      TInflateRecord record;
      std::vector<uint8_t> buffer(kInflateBufferBytes);
      TKeepBytes taker;
      const TTrialOutcome counted = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.MaxOfferBytes = piece});
      const TTrialOutcome taken = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.Output = &taker, .MaxOfferBytes = piece});

      EXPECT_EQ(counted.LastCode, c.lastCode);
      EXPECT_EQ(counted.ProbePassed, c.probePassed);
      EXPECT_EQ(counted.Complete(), c.lastCode == Z_STREAM_END);
      EXPECT_EQ(counted.Accepted(true), c.probePassed);
      EXPECT_EQ(counted.Accepted(false), c.lastCode == Z_STREAM_END);
      if (!c.probePassed) {
        EXPECT_EQ(taker.calls, 0) << "a failed probe hands nothing on";
        continue;
      }
      uint64_t controlIn = 0;
      const TBytes control = ControlInflate(c.block, &controlIn);
      if (c.inBytes != 0) {
        EXPECT_EQ(counted.InBytes, c.inBytes);
      }
      if (!c.inflated.empty()) {
        EXPECT_TRUE(control == c.inflated);
      }
      EXPECT_EQ(counted.InBytes, controlIn);
      EXPECT_EQ(counted.OutBytes, control.size());
      // The taker changes nothing of what is counted, and gets exactly it.
      EXPECT_EQ(taken.LastCode, counted.LastCode);
      EXPECT_EQ(taken.InBytes, counted.InBytes);
      EXPECT_EQ(taken.OutBytes, counted.OutBytes);
      EXPECT_TRUE(taker.kept == control) << "the taker got " << taker.kept.size() << " bytes";
    }
  }
}

// With the fast inflate path in front, a trial ends exactly as zlib's
// calls end it; a trial whose bytes are wanted is zlib's alone.
TEST(TrialInflation, FastPathGivesZlibsOutcomeAndLeavesTakersToZlib) {
  TFastInflater fast;
  for (const TTrialCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const test::TGuardedBuffer block(c.block);
    TInflateRecord record;
    std::vector<uint8_t> buffer(kInflateBufferBytes);
    const TTrialOutcome zlib = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data());
    const TTrialOutcome both =
        InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.Fast = &fast});
    EXPECT_EQ(both.ProbePassed, zlib.ProbePassed);
    EXPECT_EQ(both.LastCode, zlib.LastCode);
    EXPECT_EQ(both.InBytes, zlib.InBytes);
    EXPECT_EQ(both.OutBytes, zlib.OutBytes);

    TKeepBytes taker;
    const TTrialOutcome taken =
        InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.Output = &taker, .Fast = &fast});
    EXPECT_EQ(taken.LastCode, zlib.LastCode);
    EXPECT_EQ(taker.kept.size(), zlib.ProbePassed ? zlib.OutBytes : 0) << "every byte still comes from zlib";
  }
}

// The checksum a trial keeps is that of its output, whether zlib or the
// fast path decides it: through stored blocks past the window, slides of
// the fast path's buffer, and output past 256 KiB.
TEST(TrialInflation, ChecksumIsTheOutputsByEitherPath) {
  const TBytes text = test::MakeText(700000, 4);
  const TBytes stored(text.begin(), text.begin() + 100000);
  const struct {
    const char* name;
    TBytes data;
    TBytes raw;
  } cases[] = {
      {"dynamic", text, test::Raw(text, 6)},
      {"stored past the window", stored, test::Raw(stored, 0)},
      {"fixed", TBytes(text.begin(), text.begin() + 300), test::Raw(TBytes(text.begin(), text.begin() + 300), 6, Z_FIXED)},
      {"empty", TBytes(), test::Raw(TBytes(), 6)},
  };
  TFastInflater fast;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uInt size = static_cast<uInt>(c.data.size());
    const uint32_t adler = static_cast<uint32_t>(adler32(1, c.data.data(), size));
    const uint32_t crc = static_cast<uint32_t>(crc32(0, c.data.data(), size));
    const test::TGuardedBuffer block(c.raw);
    TInflateRecord record;
    std::vector<uint8_t> buffer(kInflateBufferBytes);
    for (TFastInflater* path : {static_cast<TFastInflater*>(nullptr), &fast}) {
      for (const auto& [kind, want] : {std::pair{TChecksum::Adler32, adler}, std::pair{TChecksum::Crc32, crc}}) {
        const TTrialOutcome trial = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(),
                                                 {.Fast = path, .Checksum = kind});
        ASSERT_TRUE(trial.Complete());
        EXPECT_EQ(trial.OutBytes, c.data.size());
        EXPECT_EQ(trial.Sum, want) << (path != nullptr ? "fast path" : "zlib");
      }
    }
  }
}

// Keeps every byte, as a scan's keeper of stream facts does, and counts
// how often it was told to start over.
class TKeepAll final : public TOutputKeeper {
 public:
  void Clear() override {
    kept.clear();
    ++clears;
  }
  void Take(const uint8_t* bytes, std::size_t count) override { kept.insert(kept.end(), bytes, bytes + count); }
  TBytes kept;
  int clears = 0;
};

// A keeper holds, after a trial, exactly the bytes zlib inflates from the
// block up to where it stops, whichever path decided the trial: the fast
// path's slides and long stored blocks, and a fast path that hands a cut
// or damaged stream back to zlib, which must not leave its own bytes in
// front of zlib's. Keeping changes nothing of what is counted.
TEST(TrialInflation, AKeeperHoldsTheOutputByEitherPath) {
  const TBytes text = test::MakeText(700000, 4);
  const TBytes stored(text.begin(), text.begin() + 100000);
  std::vector<std::pair<std::string, TBytes>> blocks = {
      {"dynamic past the fast path's buffer", test::Raw(text, 6)},
      {"stored past the window", test::Raw(stored, 0)},
      {"empty", test::Raw(TBytes(), 6)},
  };
  for (const TTrialCase& c : Cases()) blocks.emplace_back(c.name, c.block);
  TFastInflater fast;
  for (const auto& [name, bytes] : blocks) {
    uint64_t controlIn = 0;
    const TBytes control = ControlInflate(bytes, &controlIn);
    const test::TGuardedBuffer block(bytes);
    TInflateRecord record;
    std::vector<uint8_t> buffer(kInflateBufferBytes);
    for (TFastInflater* path : {static_cast<TFastInflater*>(nullptr), &fast}) {
      SCOPED_TRACE(name + (path != nullptr ? ", fast path" : ", zlib"));
      TKeepAll keeper;
      keeper.kept.assign(10, 0xEE);  // what an earlier trial left
      const TTrialOutcome counted = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.Fast = path});
      const TTrialOutcome kept =
          InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data(), {.Fast = path, .Keep = &keeper});
      EXPECT_EQ(kept.LastCode, counted.LastCode);
      EXPECT_EQ(kept.InBytes, counted.InBytes);
      EXPECT_EQ(kept.OutBytes, counted.OutBytes);
      EXPECT_GE(keeper.clears, 1);
      if (!counted.ProbePassed) {
        EXPECT_TRUE(keeper.kept.empty());
        continue;
      }
      EXPECT_EQ(keeper.kept.size(), counted.OutBytes);
      EXPECT_TRUE(keeper.kept == control) << "kept " << keeper.kept.size() << " bytes of " << control.size();
    }
  }
}

// Counts the calls and, from call `stopAt` on, raises as a stop request does.
class TCountingWatch final : public TInflateWatch {
 public:
  explicit TCountingWatch(int stopAt = -1) : stopAt_(stopAt) {}
  void Progress(uint64_t inBytes) override {
    EXPECT_GE(inBytes, lastInBytes);
    lastInBytes = inBytes;
    if (++calls == stopAt_) throw std::runtime_error("stop");
  }
  int calls = 0;
  uint64_t lastInBytes = 0;

 private:
  int stopAt_;
};

// A long trial in the fast path still hears its watch, as often as its
// output buffer fills, and a stop raised there ends the trial; the next
// trial on the same decoder is whole again.
TEST(TrialInflation, FastPathCallsTheWatchAndStopsWhenItRaises) {
  const TBytes text = test::MakeText(4 << 20, 8);
  const TBytes raw = test::Raw(text);
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  TFastInflater fast;
  const auto size = static_cast<int64_t>(raw.size());

  TCountingWatch watch;
  const TTrialOutcome outcome = InflateTrial({raw.data(), size}, 0, record.Get(), buffer.data(), {.Watch = &watch, .Fast = &fast});
  EXPECT_TRUE(outcome.Complete());
  EXPECT_EQ(outcome.OutBytes, text.size());
  EXPECT_GE(watch.calls, static_cast<int>(text.size() / kFastInflateBufferBytes));

  TCountingWatch stopping(3);
  EXPECT_THROW(InflateTrial({raw.data(), size}, 0, record.Get(), buffer.data(), {.Watch = &stopping, .Fast = &fast}),
               std::runtime_error);
  EXPECT_EQ(stopping.calls, 3);
  const TTrialOutcome again = InflateTrial({raw.data(), size}, 0, record.Get(), buffer.data(), {.Fast = &fast});
  EXPECT_TRUE(again.Complete());
  EXPECT_EQ(again.OutBytes, text.size());
  EXPECT_EQ(again.InBytes, raw.size());
}

TEST(TrialInflation, ATakerThatHasEnoughEndsTheTrial) {
  const TBytes text = test::MakeText(300000, 5);
  const TBytes raw = test::Raw(text);
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  TKeepBytes taker(2);  // the probe's bytes and one call after it
  const TTrialOutcome outcome =
      InflateTrial({raw.data(), static_cast<int64_t>(raw.size())}, 0, record.Get(), buffer.data(), {.Output = &taker});
  EXPECT_EQ(taker.calls, 2);
  EXPECT_EQ(outcome.LastCode, Z_OK);
  EXPECT_FALSE(outcome.Complete());
  EXPECT_EQ(outcome.OutBytes, taker.kept.size());
  EXPECT_LE(taker.kept.size(), uint64_t{kProbeOutputBytes} + kInflateBufferBytes);
  EXPECT_TRUE(std::equal(taker.kept.begin(), taker.kept.end(), text.begin()));
}

// The probe is offered at most kProbeInputBytes, and never more than the
// input holds: deflate data in the last bytes of a guarded block.
TEST(TrialInflation, ProbeReadsNoBytePastTheInput) {
  const TBytes raw = test::Raw(test::MakeText(20, 6));
  ASSERT_LT(raw.size(), static_cast<std::size_t>(kProbeInputBytes));
  const test::TGuardedBuffer block(raw);
  TInflateRecord record;
  std::vector<uint8_t> buffer(kInflateBufferBytes);
  const TTrialOutcome outcome = InflateTrial({block.Data(), block.Size()}, 0, record.Get(), buffer.data());
  EXPECT_TRUE(outcome.Complete());
  EXPECT_EQ(outcome.InBytes, raw.size());
}

}  // namespace
}  // namespace quarn
