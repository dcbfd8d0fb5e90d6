// Command-line parsing with CLI11; nothing here scans or prints. Numbers
// are taken as text and checked here, so that "-1" or a value too large
// for its type is refused instead of wrapping round.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>

#include "engine/content_type.h"
#include "engine/rule_set.h"
#include "engine/scan_state.h"

namespace quarn::cli {
namespace {

const char kUsage[] =
    "Usage: quarn-scan [-r] [-l] [--json | --json-lines] [--headerless] [--accept-incomplete]\n"
    "                  [--verified] [--fingerprint] [-x DIR [--min-size N] [--force] [--names offset|entry]]\n"
    "                  [--depth N [--max-inflate N]] [-j N] [-q] [--fail-fast] PATH...\n"
    "       quarn-scan --replace OFFSET=FILE SOURCE -o OUT\n"
    "Run 'quarn-scan --help' for more.\n";

const char kFooter[] =
    "Output:\n"
    "  The report lines go to stdout; progress and errors go to stderr. With --list,\n"
    "  one tab-separated row per stream comes first:\n"
    "    file offset kind window_bits flevel compressed_bytes inflated_bytes\n"
    "    deflate_offset proven_by container\n"
    "  proven_by is adler32 or crc32 where --verified checked the stream's checksum,\n"
    "  else -. container tells where the stream sits, when the bytes around it show it:\n"
    "    zip header=N name=NAME   gzip header=N member=N [mtime=N] [name=NAME]\n"
    "    png chunk=TYPE index=N at=N   pdf object=N generation=N [filter=NAME] at=N\n"
    "    git-object type=TYPE size=N   git-pack type=TYPE size=N at=N\n"
    "  With --fingerprint the rows end with a fingerprint column: the encoder and\n"
    "  settings that reproduce the stream byte for byte (zlib-6, zlib-9-filtered,\n"
    "  zlib-rle, libdeflate-12, zopfli), unknown, or not-tried; the report ends with\n"
    "  the number of streams each reproduced.\n"
    "  In the file column a tab is written as \\t, a newline as \\n, a backslash as \\\\,\n"
    "  and other control characters and bytes that are not UTF-8 as \\xHH.\n"
    "  With --types one more column, content, holds libmagic's description of the\n"
    "  stream's first 64 KiB inflated (- where it has none), escaped as file names\n"
    "  are; JSON gives it as \"content\" and the MIME type as \"mime\".\n"
    "  With --yara a last column, rules, names each rule that matched the stream's\n"
    "  inflated bytes, its tags in brackets (rule[tag,tag] other), - where none did;\n"
    "  JSON gives \"yara\": [{\"rule\", \"tags\", \"strings\": [{\"id\", \"offset\", \"length\"}]}].\n"
    "  A rules file that does not compile is bad usage (exit status 2).\n"
    "  With --depth N above 1, each stream's inflated bytes are scanned for streams\n"
    "  too, theirs in turn, down to depth N. A nested stream's row names it by its\n"
    "  chain in the file column: firmware.bin@0x1a2b:0x40 is the stream at 0x40 of\n"
    "  the bytes inflated from the stream at 0x1a2b of firmware.bin (starts in hex);\n"
    "  its offset column is its start within its parent's bytes. The rows end with a\n"
    "  stopped column: where a limit stopped at the stream (max-inflate, expansion,\n"
    "  max-nested), it was not looked inside, and its sizes are as far as it got.\n"
    "  Under each stream of a file at most --max-inflate bytes are inflated (default\n"
    "  1 GiB, the stream's own included), a nested stream may inflate no more than\n"
    "  100 times its input beyond its first MiB, and at most 100,000 nested streams\n"
    "  are listed. JSON gives \"chain\", \"depth\" and \"stopped_by\". The report's\n"
    "  lines count the files' own streams; \"Nested streams: N\" and the lines per\n"
    "  depth follow them. -x writes nested streams too, named by their chain.\n"
    "  JSON names that are not UTF-8 are lossy in \"file\"; \"file_bytes\" holds them in base64.\n"
    "\n"
    "Exit status:\n"
    "  0 every file was scanned, 1 a file could not be scanned or a stream not written\n"
    "  (the others were), 2 bad usage, 130 interrupted (Ctrl-C).\n";

// A whole number of bytes from 0 to 2^64-1, digits only.
std::string CheckByteCount(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end) {
    return "must be a whole number of bytes from 0 to 18446744073709551615, not \"" + text + "\"";
  }
  return {};
}

std::string CheckThreads(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || value < 1 || value > kMaxThreads) {
    return "must be a number of threads from 1 to " + std::to_string(kMaxThreads) + ", not \"" + text + "\"";
  }
  return {};
}

// OFFSET=FILE: a whole number of bytes, then a file name.
std::string CheckReplace(const std::string& text) {
  const std::size_t equals = text.find('=');
  int64_t offset = 0;
  const char* end = text.data() + (equals == std::string::npos ? text.size() : equals);
  const auto [stop, error] = std::from_chars(text.data(), end, offset);
  if (equals == std::string::npos || equals == 0 || error != std::errc{} || stop != end || offset < 0 ||
      equals + 1 == text.size()) {
    return "must be OFFSET=FILE, a whole number of bytes from 0 and the file that holds the new data, not \"" +
           text + "\"";
  }
  return {};
}

std::string CheckDepth(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || value < 1 || value > kMaxScanDepth) {
    return "must be a depth from 1 to " + std::to_string(kMaxScanDepth) + ", not \"" + text + "\"";
  }
  return {};
}

std::string CheckNames(const std::string& text) {
  return text == "offset" || text == "entry" ? std::string() : "must be offset or entry, not \"" + text + "\"";
}

std::string CheckNotEmptyRules(const std::string& text) {
  return text.empty() ? std::string("must name a rules file or folder, not be empty") : std::string();
}

std::string CheckNotEmpty(const std::string& text) {
  return text.empty() ? std::string("must name a directory, not be empty") : std::string();
}

}  // namespace

TParseResult ParseCommandLine(int argc, const char* const* argv, const std::string& versionText) {
  TParseResult result;
  TCommandLine& o = result.Options;
  std::string minSize = "0";
  std::string depth = "1";
  std::string maxInflate = std::to_string(o.MaxInflateBytes);
  std::string threads;
  bool json = false;
  bool jsonLines = false;

  CLI::App app{"Finds zlib streams and raw deflate data inside files.", "quarn-scan"};
  app.footer(kFooter);
  app.add_flag("--headerless", o.Headerless, "Also try every position as raw deflate data");
  app.add_flag("--accept-incomplete", o.AcceptIncomplete,
               "Count streams cut off by the end of a file or by bad data");
  app.add_flag("--verified", o.Verified,
               "Also count the streams that their own checksum proves (zlib Adler-32, gzip and zip CRC-32)");
  app.add_flag("--fingerprint", o.Fingerprint,
               "Name the encoder and settings that reproduce each stream exactly");
  app.add_flag("-r,--recursive", o.Recursive, "List the subdirectories of a directory too");
  app.add_flag("-l,--list", o.List, "List every stream found, as each file's streams are known");
  CLI::Option* jsonOption = app.add_flag("--json", json, "Write the results as one JSON object");
  app.add_flag("--json-lines", jsonLines,
               "Write one JSON object per line: each stream, each file, then the totals")
      ->excludes(jsonOption);
  CLI::Option* extract = app.add_option("-x,--extract", o.ExtractDirectory,
                                        "Write every stream found, inflated, to its own file in DIR")
                             ->type_name("DIR")
                             ->check(CheckNotEmpty);
  app.add_option("--min-size", minSize, "Extract only streams that inflate to at least N bytes")
      ->type_name("N")
      ->check(CheckByteCount)
      ->needs(extract);
  app.add_flag("--force", o.Force, "Replace files that were in DIR before the run")->needs(extract);
  std::string names = "offset";
  app.add_option("--names", names, "Name extracted zip entries by their offset (default) or by the entry's name")
      ->type_name("offset|entry")
      ->check(CheckNames)
      ->needs(extract);
  std::string replace;
  CLI::Option* replaceOption =
      app.add_option("--replace", replace,
                     "Write a copy of SOURCE (the one PATH) to OUT in which the stream that starts at OFFSET holds "
                     "FILE's bytes, compressed to fit its place")
          ->type_name("OFFSET=FILE")
          ->check(CheckReplace);
  CLI::Option* outputOption =
      app.add_option("-o,--output", o.OutputPath, "With --replace: the copy to write (never an existing file)")
          ->type_name("OUT")
          ->check(CheckNotEmpty)
          ->needs(replaceOption);
  replaceOption->needs(outputOption)->excludes(extract);
  app.add_option("-j,--threads", threads, "Scan with N worker threads (default: twice the processors available)")
      ->type_name("N")
      ->check(CheckThreads);
  app.add_flag("-q,--quiet", o.Quiet, "Show no progress line");
  app.add_flag("--fail-fast", o.FailFast, "Stop at the first file that cannot be scanned, without a report");
  app.add_flag("--types", o.Types, "Tell what each stream holds, from its first 64 KiB inflated (libmagic)");
  CLI::Option* yara = app.add_option("--yara", o.YaraRules,
                                     "Match the YARA rules in RULES (a file, or a folder of .yar and .yara files) "
                                     "against every stream's inflated bytes")
                          ->type_name("RULES")
                          ->check(CheckNotEmptyRules);
  app.add_flag("--yara-only", o.YaraOnly, "List only the streams that a rule matched (implies --list)")->needs(yara);
  CLI::Option* depthOption =
      app.add_option("--depth", depth, "Scan each stream's inflated bytes for streams too, down to depth N (default 1)")
          ->type_name("N")
          ->check(CheckDepth);
  app.add_option("--max-inflate", maxInflate,
                 "With --depth: inflate at most N bytes under each stream of a file (default 1073741824)")
      ->type_name("N")
      ->check(CheckByteCount)
      ->needs(depthOption);
  app.set_version_flag("--version", versionText);
  // Not required() here: CLI11 would then report a missing PATH before an
  // unknown option, and "-Z" alone would say "PATH is required".
  app.add_option("PATH", o.Paths, "Files and directories to scan (required)");

  try {
    app.parse(argc, argv);
    if (o.Paths.empty()) throw CLI::RequiredError("PATH");
    if (!replace.empty()) {
      if (o.Paths.size() != 1) throw CLI::ValidationError("--replace", "takes one SOURCE, not " + std::to_string(o.Paths.size()) + " paths");
      const std::size_t equals = replace.find('=');
      o.Replace = true;
      o.ReplaceOffset = std::stoll(replace.substr(0, equals));
      o.ReplaceFile = replace.substr(equals + 1);
    }
    o.MinSizeBytes = std::stoull(minSize);
    o.Depth = std::stoi(depth);
    o.MaxInflateBytes = std::stoull(maxInflate);
    o.NameByEntry = names == "entry";
    o.Threads = threads.empty() ? 0 : std::stoi(threads);
    o.Shape = json ? TOutputShape::Json : jsonLines ? TOutputShape::JsonLines : TOutputShape::Text;
    std::string why;
    if (o.Types && !ContentTypesAvailable(&why)) throw CLI::ValidationError("--types", "not available: " + why);
    if (!o.YaraRules.empty() && !RulesAvailable(&why)) throw CLI::ValidationError("--yara", "not available: " + why);
    if (o.YaraOnly) o.List = true;
  } catch (const CLI::CallForHelp&) {
    result.Outcome = TParseOutcome::Exit;
    result.Output = app.help();
  } catch (const CLI::CallForVersion&) {
    result.Outcome = TParseOutcome::Exit;
    result.Output = versionText + "\n";
  } catch (const CLI::ParseError& e) {
    result.Outcome = TParseOutcome::Exit;
    result.ExitStatus = 2;
    result.Output = std::string("quarn-scan: ") + e.what() + "\n" + kUsage;
  }
  return result;
}

}  // namespace quarn::cli
