// The options of quarn-scan, as parsed from its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::cli {

enum class TOutputShape { Text, Json, JsonLines };

struct TCommandLine {
  bool Headerless = false;
  bool AcceptIncomplete = false;
  bool Verified = false;         // also count the streams that their checksum proves
  bool Fingerprint = false;      // find the encoder and settings that reproduce each stream
  bool Recursive = false;
  TOutputShape Shape = TOutputShape::Text;
  bool List = false;
  std::string ExtractDirectory;  // empty: no extraction
  uint64_t MinSizeBytes = 0;
  bool Force = false;
  bool NameByEntry = false;      // extracted zip entries named after the entry
  int Threads = 0;               // 0: as many as the processors the program may use
  bool Quiet = false;            // no progress line
  bool FailFast = false;         // the first failed file ends the run
  bool Types = false;            // each stream's content type (libmagic)
  std::string YaraRules;         // --yara: a rules file or folder; empty: none
  bool YaraOnly = false;         // only the streams that a rule matched
  int Depth = 1;                 // scan streams' inflated bytes down to this depth
  uint64_t MaxInflateBytes = uint64_t{1} << 30;  // inflated under each stream of a file, at most
  std::vector<std::string> Paths;
  // --replace OFFSET=FILE SOURCE -o OUT: no scan; the stream at OFFSET of
  // SOURCE (the one path) gets FILE's bytes in a copy written to OUT.
  bool Replace = false;
  int64_t ReplaceOffset = 0;
  std::string ReplaceFile;
  std::string OutputPath;
};

enum class TParseOutcome { Run, Exit };

struct TParseResult {
  TParseOutcome Outcome = TParseOutcome::Run;
  int ExitStatus = 0;   // for Exit: 0 after --help or --version, 2 for bad usage
  std::string Output;   // for Exit: what to print (stdout for 0, stderr for 2)
  TCommandLine Options;
};

// Parses argv with CLI11. `versionText` is what --version prints. Bad
// usage (an unknown option, a missing or bad value) gives Exit with status
// 2 and a message that names the option.
TParseResult ParseCommandLine(int argc, const char* const* argv, const std::string& versionText);

// The most worker threads -j accepts.
inline constexpr int kMaxThreads = 1024;

}  // namespace quarn::cli
