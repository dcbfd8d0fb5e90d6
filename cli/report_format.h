// The three shapes of quarn-scan's standard output, each written piece by
// piece as the scan goes, so that nothing grows with the number of streams:
//   text        --list rows (tab-separated, names escaped; with --types a
//               column content, with --yara a column rules, with
//               --fingerprint a column fingerprint, with --depth a last
//               column stopped), then the report lines of the window and
//               the two zlibbed totals;
//   json        one object: "streams_found" (with --list) first, then the
//               totals; the array is written element by element;
//   json-lines  one object a line: each stream, each file, then the totals.
// The formats only turn events into text; TOrderedReport decides when
// they happen, in file-list order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/fingerprint_counts.h"
#include "engine/nested_streams.h"
#include "engine/stream_counts.h"
#include "engine/stream_detector.h"

namespace quarn::cli {

// How one entry of the file list ended.
struct TFileOutcome {
  const std::string& Name;
  bool Failed = false;
  std::string Error;      // for a failed file: why, without the name
  int64_t SizeBytes = 0;  // for a scanned file
  int64_t Streams = 0;    // streams found in it (also those before a failure)
  int64_t StreamsNotWritten = 0;  // with --extract: found but not written
  std::string WriteError;         // why the first of those was not, without the source's name
};

// The end of a scan. `Totals` covers the files that were scanned whole
// (Totals.Files of them).
struct TScanSummary {
  const TStreamCounts& Totals;
  bool Headerless = false;
  bool Verified = false;     // the report ends with the streams proven beyond the rule
  int64_t FilesListed = 0;   // entries of the file list
  int64_t FilesFailed = 0;
  bool Interrupted = false;  // stopped before every entry was scanned
  // With --fingerprint: the fingerprints of the files scanned whole, whose
  // lines end the report.
  const TFingerprintCounts* Fingerprints = nullptr;
  // With --depth above 1: the nested streams of those files, whose lines
  // follow.
  const TNestedCounts* Nested = nullptr;
};

class TReportFormat {
 public:
  virtual ~TReportFormat() = default;
  // A stream of `file`, or with a `chain` one nested in a stream of it
  // (nested_streams.h), its offsets within its parent's inflated bytes.
  virtual void Stream(const std::string& file, const TFoundStream& stream, const TChain& chain) = 0;
  virtual void FileEnded(const TFileOutcome& outcome) { (void)outcome; }
  virtual void Finish(const TScanSummary& summary) = 0;
  // Whether Stream writes anything: only then are containers worth finding.
  virtual bool ShowsStreams() const { return true; }
  // Whether Stream writes the content type (--types): only then is it looked up.
  virtual bool ShowsContentTypes() const { return false; }
};

enum class TReportKind { Text, Json, JsonLines };

// What each stream shows besides its sizes, in last columns or JSON fields.
struct TFactColumns {
  bool ContentTypes = false;  // --types: "content" (and "mime" in JSON)
  bool Rules = false;         // --yara: the rules that matched, "rules" ("yara" in JSON)
  bool RuleHitsOnly = false;  // --yara-only: only the streams that a rule matched
  bool Fingerprints = false;  // --fingerprint: the encoder that reproduces the stream, "fingerprint"
  bool Nesting = false;       // --depth above 1: "stopped" (and "chain", "depth" in JSON)
};

// `listStreams`: the text and json shapes show each stream only with it;
// json-lines always does. Everything goes through WriteOut.
std::unique_ptr<TReportFormat> MakeReportFormat(TReportKind kind, bool listStreams, const TFactColumns& facts = {});

}  // namespace quarn::cli
