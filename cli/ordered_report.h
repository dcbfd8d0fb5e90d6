// The command line's listener: hears the scan's workers and writes what
// they find in file-list order, as soon as it is known.
//
// Files are claimed in list order, so the first file whose run has not
// ended (the head) is always being scanned. Its streams are written the
// moment they are found; streams of later files wait in a small buffer
// until every file before them has ended. When that buffer is full, a
// worker that finds yet another stream of a later file waits for the head
// to move on. The head's own worker never waits, so the scan cannot stall.
//
// A file that fails is reported in its turn as "quarn-scan: PATH: reason"
// on stderr; the totals count only the files scanned whole. A stream that
// cannot be written (TExtractError: its name is taken, the disk is full)
// fails no file: the file's scan goes on and is counted, and in its turn
// the first reason is reported the same way, with the number of the
// file's other streams that were not written either. A file stopped
// by the engine's cancel (TScanCancelled) is no failure: it stops the
// report, releases every waiting worker and is neither shown nor counted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/report_format.h"
#include "cli/stream_extractor.h"
#include "engine/nested_streams.h"
#include "engine/scan_control.h"
#include "engine/scan_sink.h"

namespace quarn::cli {

// Streams of later files held back at most, by default.
inline constexpr std::size_t kMaxHeldStreams = 65536;

class TOrderedReport final : public TScanSink {
 public:
  // `files` and everything passed in must outlive the report. `extractor`
  // (optional) writes each stream during the scan, from the file's own
  // mapping. `message` writes one line to stderr. With `keepGoing` false,
  // a failed file is not handled here: its run raises the error, as
  // --fail-fast wants. `control`, when given, is the scan's: a stop of
  // the report (RequestStop, or the output gone) stops the scan there.
  TOrderedReport(const std::vector<std::string>& files, TReportFormat& format, TStreamExtractor* extractor,
                 std::function<void(const std::string&)> message, bool keepGoing,
                 std::size_t maxHeldStreams = kMaxHeldStreams, TScanControl* control = nullptr);

  // False once the output went away: nothing more can be written.
  bool StreamFound(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) override;
  // Containers are found only for streams that are shown or named after them.
  bool WantsContainers() const override;
  // With --fingerprint: each stream carries its fingerprint, counted in
  // FingerprintTotals. Set before the scan.
  void AskFingerprints() { fingerprints_ = true; }
  bool WantsFingerprints() const override { return fingerprints_; }
  bool WantsContentTypes() const override;
  void FileDone(int32_t fileIndex, int64_t sizeBytes) override;
  bool FileFailed(int32_t fileIndex, const std::exception_ptr& error) override;

  // Asks the scan to stop (an interrupt, or the output went away), and
  // releases waiting workers: their rows are dropped.
  void RequestStop();
  bool StopRequested() const { return stopping_.load(); }
  // The first failure to write stdout (TOutputClosed or TQuarnError).
  std::exception_ptr OutputError() const;

  // After the scan: the totals of the files scanned whole, and counts.
  const TStreamCounts& Totals() const { return totals_; }
  const TFingerprintCounts& FingerprintTotals() const { return fingerprintTotals_; }
  const TNestedCounts& NestedTotals() const { return nestedTotals_; }
  int64_t FilesScanned() const { return totals_.Files; }
  int64_t FilesFailed() const { return filesFailed_; }
  int64_t StreamsNotWritten() const { return streamsNotWritten_; }  // of every file that ended
  int64_t FilesEnded() const { return head_; }  // entries that ended, in list order

 private:
  enum class TFileState { Running, Done, Failed, Cancelled };
  struct TSlot {
    TFileState State = TFileState::Running;
    std::vector<TFoundStream> Held;
    TStreamCounts Counts;  // of the streams found in it (also those before a failure)
    TFingerprintCounts Fingerprints;  // of those, with --fingerprint
    TNestedCounts Nested;             // the streams nested in them
    int64_t SizeBytes = 0;
    std::string Error;
    int64_t StreamsNotWritten = 0;
    std::string WriteError;  // why the first of them was not
  };

  void Emit(int32_t fileIndex, const TFoundStream& stream);  // lock held
  void Guarded(const std::function<void()>& write);          // lock held
  void Advance();                                            // lock held
  void EndFile(int32_t fileIndex, TSlot& slot);              // lock held

  const std::vector<std::string>& files_;
  TReportFormat& format_;
  TStreamExtractor* const extractor_;
  const std::function<void(const std::string&)> message_;
  const bool keepGoing_;
  const std::size_t maxHeldStreams_;
  TScanControl* const control_;

  mutable std::mutex lock_;
  std::condition_variable room_;
  std::map<int32_t, TSlot> slots_;  // files at or after the head that were heard of
  int32_t head_ = 0;
  std::size_t held_ = 0;
  std::atomic<bool> stopping_{false};
  std::exception_ptr outputError_;
  bool silenced_ = false;  // a failure ends a --fail-fast run: nothing more is written
  TStreamCounts totals_;
  bool fingerprints_ = false;
  TFingerprintCounts fingerprintTotals_;
  TNestedCounts nestedTotals_;
  int64_t filesFailed_ = 0;
  int64_t streamsNotWritten_ = 0;
};

// Why a file failed, without its name: the error's text with a leading
// `File "NAME" ` and the closing full stop taken off ("cannot be opened:
// Permission denied"); a missing file gives "No such file or directory".
std::string FailureReason(const std::exception_ptr& error, const std::string& name);

}  // namespace quarn::cli
