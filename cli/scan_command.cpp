// quarn-scan's scan: the window's file runs and totals, with a listener
// that writes each stream as soon as its turn in the file list comes,
// extracts it from the file's own mapping, and lets the scan go on past
// files that fail.
#include "cli/scan_command.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "cli/name_text.h"
#include "cli/ordered_report.h"
#include "cli/output.h"
#include "cli/progress_line.h"
#include "cli/report_format.h"
#include "cli/stream_extractor.h"
#include "engine/rule_set.h"
#include "engine/scan_run.h"
#include "util/platform/file_system.h"
#include "util/platform/interrupt_signal.h"

namespace quarn::cli {
namespace {

// The files of the command line, folders listed in place, each file once.
// A folder that cannot be listed is reported and left out; with `failFast`
// it ends the run instead. The names of a file listed already are
// reported once each, with the name it was listed under.
TNameListing ListFiles(const TCommandLine& options, TProgressLine& messages) {
  const TNameListing listing = ListNames(options.Paths, {options.Recursive, true, !options.FailFast});
  for (const TNameFailure& failure : listing.Failures) {
    // The engine's text names the folder that failed, which may lie below the name given.
    messages.Message("quarn-scan: " + EscapeName(FailureReason(failure.Error, failure.Name)));
  }
  const TListingNotes& notes = listing.Notes;
  if (!notes.SpecialsSkipped.empty()) {
    messages.Message("quarn-scan: left out " + std::to_string(notes.SpecialsSkipped.size()) +
                     " entries that are not regular files (character devices, sockets, pipes), the first \"" +
                     EscapeName(notes.SpecialsSkipped.front()) + "\"");
  }
  for (const std::string& loop : notes.LoopsSkipped) {
    messages.Message("quarn-scan: not entering \"" + EscapeName(loop) + "\": it leads back to a folder above it");
  }
  for (const TSameFile& same : notes.SameFiles) {
    messages.Message("quarn-scan: left out \"" + EscapeName(same.Name) + "\": same file as \"" +
                     EscapeName(same.FirstName) + "\"");
  }
  return listing;
}

TReportKind KindOf(TOutputShape shape) {
  switch (shape) {
    case TOutputShape::Json:
      return TReportKind::Json;
    case TOutputShape::JsonLines:
      return TReportKind::JsonLines;
    case TOutputShape::Text:
      break;
  }
  return TReportKind::Text;
}

// Called in the signal handler: one lock-free store.
void CancelScan(void* control) noexcept { static_cast<TScanControl*>(control)->RequestCancel(); }

}  // namespace

TScanCommandResult RunScanCommand(const TCommandLine& options) {
  platform::CatchInterruptSignals(nullptr, nullptr);
  TScanState state;
  TProgressLine messages(state.Control, false);  // stderr lines before the scan's own progress line
  const TNameListing listing = ListFiles(options, messages);
  const std::vector<std::string>& files = listing.Files;
  const auto count = static_cast<int32_t>(std::min<std::size_t>(files.size(), INT32_MAX));
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) {
    throw TQuarnError("Too many files to scan: " + std::to_string(files.size()));
  }

  state.j = -1;
  state.Options.Recursive = options.Recursive;
  state.Options.Headerless = options.Headerless;
  state.Options.AcceptIncomplete = options.AcceptIncomplete;
  state.Options.Verified = options.Verified;
  state.Options.Depth = options.Depth;
  state.Options.MaxInflateBytes = options.MaxInflateBytes;
  // Compiled once, before any file is read: a rule that does not compile is bad usage.
  if (!options.YaraRules.empty()) state.Options.Rules = TRuleSet::Load(options.YaraRules);

  std::unique_ptr<TStreamExtractor> extractor;
  if (!options.ExtractDirectory.empty()) {
    extractor = std::make_unique<TStreamExtractor>(
        files, TExtractOptions{options.ExtractDirectory, options.MinSizeBytes, options.Force, options.NameByEntry}, &state.Control);
  }

  TProgressLine progress(state.Control, !options.Quiet);
  const std::unique_ptr<TReportFormat> format =
      AboveProgressLine(MakeReportFormat(KindOf(options.Shape), options.List,
                                         {options.Types, state.Options.Rules != nullptr, options.YaraOnly, options.Fingerprint,
                                          options.Depth > 1}),
                        progress);
  // Rules are matched only for streams that are shown.
  if (!format->ShowsStreams()) state.Options.Rules = nullptr;
  TOrderedReport report(files, *format, extractor.get(),
                        [&](const std::string& line) { progress.Message(line); }, !options.FailFast,
                        kMaxHeldStreams, &state.Control);
  if (options.Fingerprint) report.AskFingerprints();
  // Ctrl-C stops the engine within its current trial; the listener then
  // hears the running files fail as cancelled and releases every waiter.
  platform::CatchInterruptSignals(CancelScan, &state.Control);
  if (platform::CaughtInterruptSignal() != 0) state.Control.RequestCancel();

  try {
    RunScan(files, state, &report, options.Threads);
  } catch (const TScanCancelled&) {
    // Interrupted, or the output went away: both are told below.
  }
  progress.Stop();
  platform::CatchInterruptSignals(nullptr, nullptr);
  if (const std::exception_ptr error = report.OutputError()) std::rethrow_exception(error);

  TScanCommandResult result;
  result.InterruptSignal = platform::CaughtInterruptSignal();
  const TScanSummary summary{report.Totals(),
                             options.Headerless,
                             options.Verified,
                             count,
                             report.FilesFailed() + static_cast<int64_t>(listing.Failures.size()),
                             result.InterruptSignal != 0,
                             options.Fingerprint ? &report.FingerprintTotals() : nullptr,
                             options.Depth > 1 ? &report.NestedTotals() : nullptr};
  format->Finish(summary);
  FlushOut();
  if (result.InterruptSignal != 0) {
    progress.Message("quarn-scan: interrupted; " + std::to_string(report.FilesScanned()) + " of " +
                     std::to_string(count) + " files were scanned whole");
  }
  if (extractor) {
    const int64_t notWritten = report.StreamsNotWritten();
    progress.Message("Wrote " + std::to_string(extractor->StreamsWritten()) + " streams, " +
                     std::to_string(extractor->BytesWritten()) + " bytes, to " +
                     EscapeName(options.ExtractDirectory) +
                     (notWritten > 0 ? "; " + std::to_string(notWritten) + " not written" : std::string()));
  }
  result.SomethingFailed = summary.FilesFailed > 0 || report.StreamsNotWritten() > 0;
  return result;
}

}  // namespace quarn::cli
