// Command-line parsing with CLI11; nothing here scans or prints.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>

namespace quarn::cli {

TParseResult ParseCommandLine(int argc, const char* const* argv, const std::string& versionText) {
  TParseResult result;
  TCommandLine& o = result.Options;
  CLI::App app{"Finds zlib streams and raw deflate data inside files.", "quarn-scan"};
  app.add_flag("--headerless", o.Headerless, "Also try every position as raw deflate data");
  app.add_flag("--accept-incomplete", o.AcceptIncomplete,
               "Count streams cut off by the end of a file or by bad data");
  app.add_flag("--recursive", o.Recursive, "List the subdirectories of a directory too");
  app.add_flag("--json", o.Json, "Write the totals as one JSON object");
  app.add_flag("--list", o.List, "List every stream found before the totals");
  CLI::Option* extract = app.add_option("--extract", o.ExtractDirectory,
                                        "Write every stream found, inflated, to its own file in DIR")
                             ->type_name("DIR");
  app.add_option("--min-size", o.MinSizeBytes, "Extract only streams that inflate to at least N bytes")
      ->type_name("N")
      ->needs(extract);
  app.add_flag("--force", o.Force, "Replace files that already exist in DIR")->needs(extract);
  app.set_version_flag("--version", versionText);
  app.add_option("PATH", o.Paths, "Files and directories to scan")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    result.Outcome = TParseOutcome::Exit;
    result.Output = app.help();
  } catch (const CLI::CallForVersion&) {
    result.Outcome = TParseOutcome::Exit;
    result.Output = versionText + "\n";
  } catch (const CLI::ParseError& e) {
    result.Outcome = TParseOutcome::Exit;
    result.ExitStatus = 2;
    result.Output = std::string("quarn-scan: ") + e.what() + "\n" +
                    "Usage: quarn-scan [--headerless] [--accept-incomplete] [--recursive] [--json] [--list]\n"
                    "                  [--extract DIR [--min-size N] [--force]] PATH...\n"
                    "Run 'quarn-scan --help' for more.\n";
  }
  return result;
}

}  // namespace quarn::cli
