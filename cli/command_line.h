// The options of quarn-scan, as parsed from its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::cli {

struct TCommandLine {
  bool Headerless = false;
  bool AcceptIncomplete = false;
  bool Recursive = false;
  bool Json = false;
  bool List = false;
  std::string ExtractDirectory;  // empty: no extraction
  uint64_t MinSizeBytes = 0;
  bool Force = false;
  std::vector<std::string> Paths;
};

enum class TParseOutcome { Run, Exit };

struct TParseResult {
  TParseOutcome Outcome = TParseOutcome::Run;
  int ExitStatus = 0;   // for Exit: 0 after --help or --version, 2 for bad usage
  std::string Output;   // for Exit: what to print (stdout for 0, stderr for 2)
  TCommandLine Options;
};

// Parses argv with CLI11. `versionText` is what --version prints.
TParseResult ParseCommandLine(int argc, const char* const* argv, const std::string& versionText);

}  // namespace quarn::cli
