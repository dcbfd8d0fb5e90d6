// YARA rules matched against the inflated bytes of each stream found:
// compiled once from a rules file or a folder of them (libyara), then
// matched in the worker threads, from memory or from the scratch file that
// holds a large stream's bytes. Builds without libyara (Windows) have no
// rules: RulesAvailable says so, and Load raises TRuleError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/errors.h"

namespace quarn {

// A rules file that does not compile (naming the file and line), a path
// that holds no rules, or a build without libyara: bad usage, not a scan
// failure.
class TRuleError : public TQuarnError {
 public:
  using TQuarnError::TQuarnError;
};

// Where one of a rule's strings matched, in the stream's inflated bytes.
struct TStringHit {
  std::string Identifier;  // "$a"
  uint64_t OffsetBytes = 0;
  uint64_t LengthBytes = 0;
};

// One rule that matched a stream.
struct TRuleHit {
  std::string Rule;
  std::vector<std::string> Tags;
  std::vector<TStringHit> Strings;  // in the order libyara gives, at most kMaxStringHits
  uint64_t StringsLeftOut = 0;      // matches past kMaxStringHits
};

using TRuleHits = std::vector<TRuleHit>;

// The most string matches kept per rule hit: a rule's strings may match a
// large stream millions of times.
inline constexpr std::size_t kMaxStringHits = 1000;

// True when this build has libyara; else false with the reason in `why`.
bool RulesAvailable(std::string* why = nullptr);

class TRuleSet {
 public:
  // Compiles `path`: a rules file, or every file in a folder (not its
  // subfolders) whose name ends in .yar or .yara, in name order, as one
  // set. Raises TRuleError for a rule that does not compile ("rules.yar,
  // line 3: syntax error, unexpected identifier"), a path that cannot be
  // read or holds no rules file, and in a build without libyara.
  static std::shared_ptr<const TRuleSet> Load(const std::string& path);
  ~TRuleSet();
  TRuleSet(const TRuleSet&) = delete;
  TRuleSet& operator=(const TRuleSet&) = delete;

  // The rules that match `bytes` (null when none); safe from any number of
  // threads at once. Raises TQuarnError when libyara fails.
  std::shared_ptr<const TRuleHits> MatchMemory(const uint8_t* bytes, std::size_t count) const;
  // The same for the whole content of the open file `descriptor`.
  std::shared_ptr<const TRuleHits> MatchFile(int descriptor) const;

 private:
  struct TCompiled;
  explicit TRuleSet(std::unique_ptr<TCompiled> compiled);
  std::unique_ptr<TCompiled> compiled_;
};

}  // namespace quarn
