// The facts of a found stream, from the bytes its trial kept: the rules
// and the nested scan need all of them (the nested scan no more than it
// may inflate, when no rule needs the rest), the content type only the
// first kContentPrefixBytes, which the whole keeper holds in memory too.
#include "engine/stream_facts.h"

#include <algorithm>

#include "engine/content_type.h"
#include "engine/nested_scan.h"
#include "engine/rule_set.h"

namespace quarn {

TStreamFacts::TStreamFacts(const TScanOptions& options, TNestBudget* budget)
    : contentTypes_(options.ContentTypes), rules_(options.Rules) {
  if (options.Depth > 1) nested_ = std::make_unique<TNestedScan>(options, budget);
  if (rules_) {
    whole_ = std::make_unique<TKeptOutput>();
  } else if (nested_) {
    whole_ = std::make_unique<TKeptOutput>(kKeptInMemoryBytes, options.MaxInflateBytes);
  } else if (contentTypes_) {
    prefix_ = std::make_unique<TKeptPrefix>(kContentPrefixBytes);
  }
}

TOutputKeeper* TStreamFacts::Keeper() {
  if (whole_) return whole_.get();
  return prefix_.get();
}

TStreamFacts::~TStreamFacts() = default;

void TStreamFacts::Describe(TFoundStream& stream, TScanControl* control) {
  if (prefix_) stream.Content = ContentTypeOf(prefix_->Data(), prefix_->Size());
  if (!whole_) return;
  if (contentTypes_) stream.Content = ContentTypeOf(whole_->Head(), std::min(whole_->HeadSize(), kContentPrefixBytes));
  if (rules_) {
    stream.RuleHits = whole_->InScratchFile() ? rules_->MatchFile(whole_->ScratchDescriptor())
                                              : rules_->MatchMemory(whole_->Head(), whole_->HeadSize());
  }
  if (nested_ && stream.SkippedBy == TNestLimit::None) nested_->ScanInside(*whole_, stream, control);
}

}  // namespace quarn
