// The facts of a found stream, from the bytes its trial kept: the rules
// need all of them, the content type only the first kContentPrefixBytes,
// which the whole keeper holds in memory too.
#include "engine/stream_facts.h"

#include <algorithm>

#include "engine/content_type.h"
#include "engine/rule_set.h"

namespace quarn {

TStreamFacts::TStreamFacts(const TScanOptions& options)
    : contentTypes_(options.ContentTypes), rules_(options.Rules) {
  if (rules_) {
    whole_ = std::make_unique<TKeptOutput>();
  } else if (contentTypes_) {
    prefix_ = std::make_unique<TKeptPrefix>(kContentPrefixBytes);
  }
}

TOutputKeeper* TStreamFacts::Keeper() {
  if (whole_) return whole_.get();
  return prefix_.get();
}

void TStreamFacts::Describe(TFoundStream& stream) const {
  if (prefix_) stream.Content = ContentTypeOf(prefix_->Data(), prefix_->Size());
  if (!whole_) return;
  if (contentTypes_) stream.Content = ContentTypeOf(whole_->Head(), std::min(whole_->HeadSize(), kContentPrefixBytes));
  stream.RuleHits = whole_->InScratchFile() ? rules_->MatchFile(whole_->ScratchDescriptor())
                                            : rules_->MatchMemory(whole_->Head(), whole_->HeadSize());
}

}  // namespace quarn
