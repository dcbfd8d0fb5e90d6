// Adding to the list of dead block starts: rare (after a trial that fails
// past a block boundary), so plain sorted vectors serve.
#include "engine/dead_starts.h"

#include <algorithm>
#include <iterator>

namespace quarn::detail {

void TDeadStarts::Add(int64_t from, std::span<const uint64_t> offsets) {
  if (offsets.empty()) return;
  starts_.erase(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(next_));
  next_ = 0;
  added_.clear();
  for (const uint64_t offset : offsets) {
    const int64_t at = from + static_cast<int64_t>(offset);
    if (std::binary_search(starts_.begin(), starts_.end(), at)) break;
    added_.push_back(at);
  }
  if (added_.empty()) return;
  merged_.clear();
  std::merge(starts_.begin(), starts_.end(), added_.begin(), added_.end(), std::back_inserter(merged_));
  if (merged_.size() > kMaxStarts) merged_.resize(kMaxStarts);
  starts_.swap(merged_);
}

}  // namespace quarn::detail
