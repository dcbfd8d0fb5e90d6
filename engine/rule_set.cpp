// The rules through libyara. libyara is started once for the process and
// never stopped (it counts its starts; the rules may live until exit). A
// compiled rule set is read-only and shared by every worker, but libyara
// keeps per-thread slots in it, YR_MAX_THREADS (32) of them: a semaphore
// lets at most that many workers match at once, so that a scan on more
// threads waits for a slot instead of failing.
#include "engine/rule_set.h"

#ifdef QUARN_HAVE_LIBYARA
#include <yara.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <semaphore>

#include "engine/directory_listing.h"
#include "util/platform/file_system.h"
#endif

namespace quarn {

#ifdef QUARN_HAVE_LIBYARA

struct TRuleSet::TCompiled {
  YR_RULES* rules = nullptr;
  ~TCompiled() {
    if (rules != nullptr) yr_rules_destroy(rules);
  }
};

namespace {

void StartLibyara() {
  static std::once_flag started;
  std::call_once(started, [] {
    if (yr_initialize() != ERROR_SUCCESS) throw TRuleError("libyara could not be started");
  });
}

// The files of `path` that hold rules.
std::vector<std::string> RuleFiles(const std::string& path) {
  if (!IsExistingDirectory(path)) return {path};
  std::vector<std::string> files;
  try {
    for (std::string& file : ListDirectoryFiles(path, false)) {
      const auto endsWith = [&](const char* suffix) {
        const std::string end(suffix);
        return file.size() > end.size() && file.compare(file.size() - end.size(), end.size(), end) == 0;
      };
      if (endsWith(".yar") || endsWith(".yara")) files.push_back(std::move(file));
    }
  } catch (const TQuarnError& e) {
    throw TRuleError(e.what());
  }
  if (files.empty()) throw TRuleError("Folder \"" + path + "\" holds no rules file (*.yar, *.yara)");
  std::sort(files.begin(), files.end());
  return files;
}

// What the compiler said, the first error kept whole.
struct TCompileErrors {
  std::string first;
  int count = 0;
};

void HearCompiler(int level, const char* fileName, int line, const YR_RULE*, const char* message, void* user) {
  if (level != YARA_ERROR_LEVEL_ERROR) return;  // warnings do not stop a rule
  auto& errors = *static_cast<TCompileErrors*>(user);
  if (errors.count++ == 0) {
    errors.first = std::string("\"") + (fileName != nullptr ? fileName : "?") + "\", line " + std::to_string(line) +
                   ": " + (message != nullptr ? message : "error");
  }
}

// libyara's matches need not lie on aligned addresses (its arena packs
// them), so their fields are copied out rather than read in place.
template <typename TField>
TField FieldOf(const YR_MATCH* match, std::size_t offset) {
  TField value;
  std::memcpy(&value, reinterpret_cast<const char*>(match) + offset, sizeof value);
  return value;
}

// Gathers the hits of one match.
// Nothing may be raised through libyara's C frames: a failure here ends
// the match with an error instead.
int HearMatch(YR_SCAN_CONTEXT* context, int message, void* data, void* user) noexcept try {
  if (message != CALLBACK_MSG_RULE_MATCHING) return CALLBACK_CONTINUE;
  auto& hits = *static_cast<TRuleHits*>(user);
  const auto* rule = static_cast<YR_RULE*>(data);
  TRuleHit hit;
  hit.Rule = rule->identifier;
  const char* tag = nullptr;
  yr_rule_tags_foreach(rule, tag) { hit.Tags.emplace_back(tag); }
  YR_STRING* string = nullptr;
  yr_rule_strings_foreach(rule, string) {
    // As yr_string_matches_foreach walks them, each field copied out.
    for (const YR_MATCH* match = context->matches[string->idx].head; match != nullptr;
         match = FieldOf<YR_MATCH*>(match, offsetof(YR_MATCH, next))) {
      if (FieldOf<bool>(match, offsetof(YR_MATCH, is_private))) continue;
      if (hit.Strings.size() == kMaxStringHits) {
        ++hit.StringsLeftOut;
        continue;
      }
      const auto at = FieldOf<int64_t>(match, offsetof(YR_MATCH, base)) + FieldOf<int64_t>(match, offsetof(YR_MATCH, offset));
      hit.Strings.push_back({string->identifier, static_cast<uint64_t>(at),
                             static_cast<uint64_t>(FieldOf<int32_t>(match, offsetof(YR_MATCH, match_length)))});
    }
  }
  hits.push_back(std::move(hit));
  return CALLBACK_CONTINUE;
} catch (...) {
  return CALLBACK_ERROR;
}

// Only the rules that match are heard of. libyara's guard against faults
// in the scanned memory (a SIGBUS and SIGSEGV handler put in place around
// every scan) is left out: what it scans is our own memory or our own
// unnamed scratch file, which nothing else can cut short, and the handler
// would stand, process-wide, in place of the one that guards the mapped
// input files (util/platform/memory_map.h) while the scan runs.
constexpr int kScanFlags = SCAN_FLAGS_REPORT_RULES_MATCHING | SCAN_FLAGS_NO_TRYCATCH;

std::counting_semaphore<YR_MAX_THREADS>& MatchSlots() {
  static std::counting_semaphore<YR_MAX_THREADS> slots(YR_MAX_THREADS);
  return slots;
}

template <typename TScan>
std::shared_ptr<const TRuleHits> Matched(TScan scan) {
  auto hits = std::make_shared<TRuleHits>();
  MatchSlots().acquire();
  const int result = scan(hits.get());
  MatchSlots().release();
  if (result != ERROR_SUCCESS) {
    throw TQuarnError("The rules could not be matched against a stream (libyara error " + std::to_string(result) + ")");
  }
  if (hits->empty()) return nullptr;
  return hits;
}

}  // namespace

bool RulesAvailable(std::string*) { return true; }

std::shared_ptr<const TRuleSet> TRuleSet::Load(const std::string& path) {
  StartLibyara();
  const std::vector<std::string> files = RuleFiles(path);
  YR_COMPILER* compiler = nullptr;
  if (yr_compiler_create(&compiler) != ERROR_SUCCESS) throw TRuleError("libyara could not make a rules compiler");
  TCompileErrors errors;
  yr_compiler_set_callback(compiler, HearCompiler, &errors);
  for (const std::string& file : files) {
    FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) {
      const int error = errno;
      yr_compiler_destroy(compiler);
      throw TRuleError("Rules file \"" + file + "\" cannot be read: " + platform::SystemErrorText(error));
    }
    yr_compiler_add_file(compiler, in, nullptr, file.c_str());
    std::fclose(in);
    if (errors.count > 0) break;  // a compiler that failed takes no more files
  }
  if (errors.count > 0) {
    yr_compiler_destroy(compiler);
    throw TRuleError("Rules do not compile: " + errors.first +
                     (errors.count > 1 ? " (and " + std::to_string(errors.count - 1) + " more errors)" : ""));
  }
  auto compiled = std::make_unique<TCompiled>();
  const int result = yr_compiler_get_rules(compiler, &compiled->rules);
  yr_compiler_destroy(compiler);
  if (result != ERROR_SUCCESS) throw TRuleError("libyara could not build the rules of \"" + path + "\"");
  return std::shared_ptr<const TRuleSet>(new TRuleSet(std::move(compiled)));
}

std::shared_ptr<const TRuleHits> TRuleSet::MatchMemory(const uint8_t* bytes, std::size_t count) const {
  static const uint8_t kNothing = 0;
  return Matched([&](TRuleHits* hits) {
    return yr_rules_scan_mem(compiled_->rules, count > 0 ? bytes : &kNothing, count, kScanFlags, HearMatch, hits, 0);
  });
}

std::shared_ptr<const TRuleHits> TRuleSet::MatchFile(int descriptor) const {
  return Matched([&](TRuleHits* hits) {
    return yr_rules_scan_fd(compiled_->rules, descriptor, kScanFlags, HearMatch, hits, 0);
  });
}

#else

struct TRuleSet::TCompiled {};

bool RulesAvailable(std::string* why) {
  if (why != nullptr) *why = "this build has no libyara";
  return false;
}

std::shared_ptr<const TRuleSet> TRuleSet::Load(const std::string&) {
  throw TRuleError("YARA rules are not available: this build has no libyara");
}

std::shared_ptr<const TRuleHits> TRuleSet::MatchMemory(const uint8_t*, std::size_t) const { return nullptr; }
std::shared_ptr<const TRuleHits> TRuleSet::MatchFile(int) const { return nullptr; }

#endif

TRuleSet::TRuleSet(std::unique_ptr<TCompiled> compiled) : compiled_(std::move(compiled)) {}
TRuleSet::~TRuleSet() = default;

}  // namespace quarn
