// What is learnt of a stream from its inflated bytes once a trial has
// accepted it: its content type (TScanOptions::ContentTypes). The trials
// keep the bytes this needs as they inflate them (TTrialHooks::Keep), so
// no stream is inflated again for it; a scanner that wants no fact keeps
// nothing and pays nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/found_stream.h"
#include "engine/scan_state.h"
#include "engine/trial_inflation.h"

namespace quarn {

// Keeps the first `limitBytes` of each trial's output; the rest is let go.
class TKeptPrefix final : public TOutputKeeper {
 public:
  explicit TKeptPrefix(std::size_t limitBytes) : bytes_(new uint8_t[limitBytes]), limit_(limitBytes) {}
  void Clear() override { size_ = 0; }
  void Take(const uint8_t* bytes, std::size_t count) override;
  const uint8_t* Data() const { return bytes_.get(); }
  std::size_t Size() const { return size_; }

 private:
  const std::unique_ptr<uint8_t[]> bytes_;
  const std::size_t limit_;
  std::size_t size_ = 0;
};

// One scanner's facts, for one thread.
class TStreamFacts {
 public:
  explicit TStreamFacts(const TScanOptions& options);

  // What the trials must keep their bytes in; null when no fact is wanted.
  TOutputKeeper* Keeper() { return prefix_.get(); }
  // Adds the facts to `stream`, which the last trial that filled Keeper()
  // found.
  void Describe(TFoundStream& stream) const;

 private:
  std::unique_ptr<TKeptPrefix> prefix_;  // with ContentTypes
};

}  // namespace quarn
