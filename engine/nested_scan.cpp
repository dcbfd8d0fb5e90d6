// The nested scan of one level. The bytes are scanned in stretches, so
// that the pages of a mapped scratch file can be let go behind the scan;
// a scan in stretches finds what one scan of the whole finds, as each
// stretch goes on where the one before says the scan would.
#include "engine/nested_scan.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "engine/container_finder.h"
#include "engine/position_limit.h"
#include "engine/stream_detector.h"

namespace quarn {
namespace {

constexpr int64_t kStretchBytes = int64_t{64} << 20;

TScanOptions LevelBelow(TScanOptions options) {
  options.Depth = std::max(1, options.Depth - 1);
  return options;
}

// Keeps the streams of one level in order, each placed in its container
// when that is asked for, and counts them against the budget: the stream
// that uses up the last place is marked with the limit, and the scans
// stop.
class TLevelSink final : public TStreamSink {
 public:
  TLevelSink(TNestBudget& budget, std::optional<TBlock> containersIn) : budget_(budget) {
    if (containersIn) finder_.emplace(*containersIn);
  }
  void StreamFound(const TFoundStream& stream) override {
    Streams.push_back(stream);
    TFoundStream& kept = Streams.back();
    if (finder_) finder_->Place(kept);
    if (budget_.StreamsLeft > 0 && --budget_.StreamsLeft == 0 && !budget_.Spent) {
      budget_.Spent = true;
      if (kept.SkippedBy == TNestLimit::None) kept.SkippedBy = TNestLimit::MaxNested;
    }
  }
  std::vector<TFoundStream> Streams;

 private:
  TNestBudget& budget_;
  std::optional<TContainerFinder> finder_;
};

}  // namespace

TNestedScan::TNestedScan(const TScanOptions& options, TNestBudget* budget)
    : options_(LevelBelow(options)),
      maxInflateBytes_(options.MaxInflateBytes),
      top_(budget == nullptr),
      budget_(budget != nullptr ? *budget : ownBudget_),
      guard_(budget_) {}

TNestedScan::~TNestedScan() = default;

void TNestedScan::ScanInside(TKeptOutput& kept, TFoundStream& stream, TScanControl* control) {
  if (top_) {
    if (!kept.Whole() || stream.OutBytes > maxInflateBytes_) {
      stream.SkippedBy = TNestLimit::MaxInflate;
      return;
    }
    ownBudget_ = TNestBudget{maxInflateBytes_ - stream.OutBytes};
  }
  if (budget_.Spent) return;
  const TBlock block = kept.Bytes();
  if (PositionLimit(block.Size) <= 0) return;
  if (!scanner_) {
    TTrialSettings settings;
    settings.Guard = &guard_;
    scanner_ = std::make_unique<TScanner>(options_, settings);
  }

  TLevelSink sink(budget_, options_.NestedContainers ? std::optional<TBlock>(block) : std::nullopt);
  if (control != nullptr) control->AddBytesTotal(block.Size);
  TBlockProgress progress(control, block.Size);
  for (int64_t pos = 0; !budget_.Spent;) {
    const int64_t to = std::min(block.Size, pos + kStretchBytes);
    const int64_t next = scanner_->FindStreams(block, {pos, to}, sink, &progress);
    kept.ReleasePages(pos, std::min(next, to));
    if (to == block.Size || next >= block.Size) break;
    pos = next;
  }
  progress.Finish();
  if (!sink.Streams.empty()) stream.Nested = std::make_shared<const std::vector<TFoundStream>>(std::move(sink.Streams));
}

}  // namespace quarn
