// The guard of nested trials. The budget is checked as bytes come, so no
// trial inflates past it; the expansion only where the trial reports its
// input, as between two reports the input it has read is not known.
#include "engine/nest_guard.h"

namespace quarn {

void TNestGuard::Clear() {
  inBytes_ = 0;
  outBytes_ = 0;
  if (inner_ != nullptr) inner_->Clear();
}

void TNestGuard::Take(const uint8_t* bytes, std::size_t count) {
  if (count > budget_.BytesLeft) {
    budget_.BytesLeft = 0;
    budget_.Spent = true;
    throw TNestLimitHit{TNestLimit::MaxInflate, inBytes_, outBytes_};
  }
  budget_.BytesLeft -= count;
  outBytes_ += count;
  if (inner_ != nullptr) inner_->Take(bytes, count);
}

void TNestGuard::Progress(uint64_t inBytes) {
  inBytes_ = inBytes;
  if (ExpandsTooMuch(inBytes_, outBytes_)) throw TNestLimitHit{TNestLimit::Expansion, inBytes_, outBytes_};
}

}  // namespace quarn
