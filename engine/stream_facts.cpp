// The facts of a found stream, from the bytes its trial kept.
#include "engine/stream_facts.h"

#include <algorithm>
#include <cstring>

#include "engine/content_type.h"

namespace quarn {

void TKeptPrefix::Take(const uint8_t* bytes, std::size_t count) {
  const std::size_t taken = std::min(count, limit_ - size_);
  if (taken > 0) std::memcpy(bytes_.get() + size_, bytes, taken);
  size_ += taken;
}

TStreamFacts::TStreamFacts(const TScanOptions& options) {
  if (options.ContentTypes) prefix_ = std::make_unique<TKeptPrefix>(kContentPrefixBytes);
}

void TStreamFacts::Describe(TFoundStream& stream) const {
  if (prefix_) stream.Content = ContentTypeOf(prefix_->Data(), prefix_->Size());
}

}  // namespace quarn
