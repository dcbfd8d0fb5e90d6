// quarn-scan: the command-line scanner. Parses, runs, reports; exit status
// 0 when every file was scanned, 1 when something failed (the rest was
// scanned and reported), 2 for bad usage, and death by the signal (130
// for Ctrl-C) when interrupted.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/output.h"
#include "cli/replace_command.h"
#include "cli/scan_command.h"
#include "engine/rule_set.h"
#include "inflate/engine_library.h"
#include "util/errors.h"
#include "util/platform/interrupt_signal.h"
#include "util/platform/process.h"

int main(int argc, char** argv) {
  using namespace quarn;
  // A closed stdout shows up as EPIPE on the write, not as a signal; on
  // Windows the output's bytes are those of Linux, names arrive as UTF-8.
  platform::PrepareStandardStreams();
  // The inflate engine is settled before anything else; a zlib beside the
  // program that lacks a name stops start-up.
  try {
    ProbeEngineLibrary();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  std::vector<const char*> argumentPointers;
  for (const std::string& argument : arguments) argumentPointers.push_back(argument.c_str());

  const std::string version = "quarn-scan 1.0.0.0\nengine: " + DescribeServingEngine();
  const cli::TParseResult parsed = cli::ParseCommandLine(static_cast<int>(argumentPointers.size()), argumentPointers.data(), version);
  if (parsed.Outcome == cli::TParseOutcome::Exit) {
    std::fputs(parsed.Output.c_str(), parsed.ExitStatus == 0 ? stdout : stderr);
    return parsed.ExitStatus;
  }
  try {
    if (parsed.Options.Replace) {
      cli::RunReplaceCommand(parsed.Options);
      return 0;
    }
    const cli::TScanCommandResult result = cli::RunScanCommand(parsed.Options);
    if (result.InterruptSignal != 0) platform::EndBySignal(result.InterruptSignal);
    return result.SomethingFailed ? 1 : 0;
  } catch (const cli::TOutputClosed&) {
    return 0;
  } catch (const TRuleError& e) {
    std::fprintf(stderr, "quarn-scan: --yara: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", WithClosingFullStop(e.what()).c_str());
    return 1;
  }
}
