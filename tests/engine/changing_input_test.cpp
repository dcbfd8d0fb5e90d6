// Input that changes while it is scanned: a file rewritten by another
// process, a buffer by another thread. The scan may then find anything, but
// it must stay within its own memory, count a stream only as it was tried,
// and say that the input changed where it can see it. What is checked:
//   * a header byte that changes during a stream's trial (flipped from a
//     steering control between inflate calls, so at a known point) gives
//     the "changed" error, never a stream counted with the new byte;
//   * a dynamic block header whose code-length code is not complete, as a
//     rewrite can leave it after the lanes found it complete, is decided
//     without reaching past the decoding tables;
//   * a file whose zlib headers are flipped back and forth from another
//     thread, through the file and not the mapping (as another process
//     would), during long trials: every scan either reports the change or
//     gives counters that agree with each other. Under the sanitizers this
//     is also where a stray write or read would show.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "engine/candidate_filter.h"
#include "engine/scan_file.h"
#include "engine/stream_detector.h"
#include "inflate/inflate_record.h"
#include "tests/support/deflate_bits.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"

namespace quarn {
namespace {

using test::TBytes;

constexpr std::size_t kInflatedBytes = 4 << 20;  // a trial long enough for many inflate calls

// `count` zlib streams of the same text, each inflating to kInflatedBytes,
// with a few bytes of noise before each; the offsets of their CMF bytes.
struct TStreamFile {
  TBytes bytes;
  std::vector<std::size_t> headers;
};

TStreamFile ManyLongStreams(int count) {
  static const TBytes stream = test::Zlib(test::MakeText(kInflatedBytes, 5), 1);
  TStreamFile file;
  test::TLayout layout;
  for (int k = 0; k < count; ++k) {
    layout.Append(test::MakeNoise(17, static_cast<uint32_t>(k)));
    file.headers.push_back(layout.Append(stream));
  }
  layout.Zeros(64);
  file.bytes = layout.Bytes();
  return file;
}

// Flips the CMF byte of the candidate on trial to 0xF8 (CINFO 15: no zlib
// header) after the trial's first inflate calls, as a rewrite would.
class TFlipDuringTrial final : public detail::TRangeControl {
 public:
  explicit TFlipDuringTrial(uint8_t* memory) : memory_(memory) {}
  bool StreamFound(const TFoundStream& stream) override {
    found.push_back(stream);
    return true;
  }
  bool TrialMayGoOn(int64_t start, int64_t reach) override {
    if (reach > start + 4096 && memory_[start - 2] == 0x78) memory_[start - 2] = 0xF8;
    return true;
  }
  std::vector<TFoundStream> found;

 private:
  uint8_t* memory_;
};

TEST(ChangingInput, HeaderChangedDuringTrialIsReportedNotCounted) {
  TStreamFile file = ManyLongStreams(2);
  TFlipDuringTrial control(file.bytes.data());
  const auto size = static_cast<int64_t>(file.bytes.size());
  try {
    TScanner().ScanUnder({file.bytes.data(), size}, {0, size}, control);
    ADD_FAILURE() << "no error; the first stream was counted with CINFO "
                  << (control.found.empty() ? -1 : int{control.found[0].CINFO});
  } catch (const TFileChangedError& e) {
    EXPECT_STREQ(e.what(), "The data changed while it was being scanned.");
  }
  EXPECT_TRUE(control.found.empty());
}

// The count side of the same rule: a stream whose header no counter has
// (as a caller's list may hold) is refused, not counted out of bounds.
TEST(ChangingInput, CountingRefusesHeaderFieldsOutOfRange) {
  for (const auto& [cinfo, flevel] : {std::pair{15, 0}, {0, 0}, {7, 4}}) {
    TScanState state;
    TFoundStream stream;
    stream.HasHeader = true;
    stream.CINFO = static_cast<uint8_t>(cinfo);
    stream.FLEVEL = static_cast<uint8_t>(flevel);
    EXPECT_THROW(CountFoundStream(state, stream), TQuarnError) << cinfo << " " << flevel;
    EXPECT_EQ(state.Z.load(), 0);
  }
}

// A dynamic block header with HCLEN+4 = 19 code-length-code lengths of 1:
// a code-length code far over-subscribed, which zlib rejects. The lanes
// never pass such a header on, but a rewrite between their read and the
// decoding's can; the decoding must say "fails" from its own read.
TEST(ChangingInput, OverSubscribedCodeLengthCodeIsDecidedInBounds) {
  test::TBitWriter bits;
  bits.Bits(0, 1);   // BFINAL
  bits.Bits(2, 2);   // BTYPE dynamic
  bits.Bits(0, 5);   // HLIT 257
  bits.Bits(0, 5);   // HDIST 1
  bits.Bits(15, 4);  // HCLEN 19
  for (int k = 0; k < 19; ++k) bits.Bits(1, 3);
  TBytes block = bits.Bytes();
  block.resize(512, 0);
  for (const bool wholeTrial : {false, true}) {
    EXPECT_TRUE(detail::CodeLengthsOfCompleteCodeCertainlyFail(block.data(), static_cast<int64_t>(block.size()),
                                                               wholeTrial));
  }
}

// Writes the file's header bytes through the file itself, as another
// process would, until told to stop: each header in turn made 0xF8 for a
// moment, then 0x78 again.
class THeaderFlipper {
 public:
  THeaderFlipper(const std::string& path, std::vector<std::size_t> headers)
      : headers_(std::move(headers)), thread_([this, path] { Run(path); }) {}
  ~THeaderFlipper() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t k = 0; !stop_; k = (k + 1) % headers_.size()) {
      for (const char value : {'\xF8', '\x78'}) {
        file.seekp(static_cast<std::streamoff>(headers_[k]));
        file.put(value);
        file.flush();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    }
  }

  std::vector<std::size_t> headers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int64_t WindowSum(const TScanState& state) {
  int64_t sum = 0;
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) sum += state.w[k].load();
  return sum;
}

int64_t LevelSum(const TScanState& state) {
  int64_t sum = 0;
  for (const auto& count : state.l) sum += count.load();
  return sum;
}

TEST(ChangingInput, FileRewrittenDuringScansGivesTheErrorOrAgreeingCounters) {
  test::TTempDir dir;
  const std::string path = dir / "rewritten.bin";
  const int kStreams = 12;
  const TStreamFile file = ManyLongStreams(kStreams);
  test::WriteFile(path, file.bytes);
  const THeaderFlipper flipper(path, file.headers);
  int changed = 0;
  for (int run = 0; run < 12; ++run) {
    TScanState state;
    state.Options.Headerless = run % 2 == 1;
    try {
      ScanFile({path}, state, 0);
    } catch (const TFileChangedError& e) {
      EXPECT_EQ(std::string(e.what()), "File \"" + path + "\" changed while it was being scanned.");
      ++changed;
    }
    const int64_t headerStreams = state.Z.load();
    EXPECT_LE(headerStreams, kStreams);
    EXPECT_EQ(WindowSum(state), headerStreams) << "run " << run;
    EXPECT_EQ(LevelSum(state), headerStreams) << "run " << run;
    EXPECT_EQ(state.j.load(), 0);
    EXPECT_FALSE(state.Control.CancelRequested());
    EXPECT_LE(state.zout.load(), (headerStreams + state.hless.load()) * static_cast<int64_t>(kInflatedBytes));
  }
  RecordProperty("RunsThatSawTheChange", changed);
}

}  // namespace
}  // namespace quarn
