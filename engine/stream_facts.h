// What is learnt of a stream from its inflated bytes once a trial has
// accepted it: its content type (TScanOptions::ContentTypes), the rules
// that match it (TScanOptions::Rules) and the streams inside it
// (TScanOptions::Depth). The trials keep the bytes this needs
// as they inflate them (TTrialHooks::Keep), so no stream is inflated again
// for it; a scanner that wants no fact keeps nothing and pays nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/found_stream.h"
#include "engine/kept_output.h"
#include "engine/nest_guard.h"
#include "engine/scan_state.h"
#include "engine/trial_inflation.h"

namespace quarn {

class TNestedScan;  // nested_scan.h

// One scanner's facts, for one thread. `budget`: where the scanner scans
// inside a file's stream, the budget of that stream (nest_guard.h).
class TStreamFacts {
 public:
  explicit TStreamFacts(const TScanOptions& options, TNestBudget* budget = nullptr);
  ~TStreamFacts();

  // What the trials must keep their bytes in; null when no fact is wanted.
  TOutputKeeper* Keeper();
  // Adds the facts to `stream`, which the last trial that filled Keeper()
  // found; a stream a limit stopped gets none. The nested scan counts its
  // work in `control` and stops when asked there.
  void Describe(TFoundStream& stream, TScanControl* control = nullptr);

 private:
  const bool contentTypes_;
  const std::shared_ptr<const TRuleSet> rules_;
  std::unique_ptr<TKeptPrefix> prefix_;  // with ContentTypes alone
  std::unique_ptr<TKeptOutput> whole_;   // with Rules or Depth
  std::unique_ptr<TNestedScan> nested_;  // with Depth
};

}  // namespace quarn
