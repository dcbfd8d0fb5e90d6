// The reorder buffer. One lock guards the slots and every write to the
// format, so rows of different files never interleave; the extraction of a
// stream, the slow part, runs before the lock is taken, and what it could
// not write is kept in the file's slot until the file's turn.
#include "cli/ordered_report.h"

#include <new>

#include "cli/name_text.h"
#include "cli/output.h"
#include "engine/scan_control.h"
#include "util/errors.h"

namespace quarn::cli {

std::string FailureReason(const std::exception_ptr& error, const std::string& name) {
  std::string text;
  try {
    std::rethrow_exception(error);
  } catch (const TMissingFileError&) {
    return "No such file or directory";
  } catch (const std::bad_alloc&) {
    text = "Out of memory";
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "Unknown error";
  }
  const std::string prefix = "File \"" + name + "\" ";
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

TOrderedReport::TOrderedReport(const std::vector<std::string>& files, TReportFormat& format,
                               TStreamExtractor* extractor, std::function<void(const std::string&)> message,
                               bool keepGoing, std::size_t maxHeldStreams, TScanControl* control)
    : files_(files),
      format_(format),
      extractor_(extractor),
      message_(std::move(message)),
      keepGoing_(keepGoing),
      maxHeldStreams_(maxHeldStreams),
      control_(control) {}

bool TOrderedReport::WantsContainers() const {
  return format_.ShowsStreams() || (extractor_ != nullptr && extractor_->WantsContainers());
}

bool TOrderedReport::WantsContentTypes() const { return format_.ShowsStreams() && format_.ShowsContentTypes(); }

bool TOrderedReport::StreamFound(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) {
  std::string writeError;
  if (extractor_ != nullptr && !stopping_.load()) {
    try {
      extractor_->Extract(fileIndex, file, stream);
    } catch (const TExtractError& e) {
      if (!keepGoing_) throw;  // --fail-fast: the file's run ends with it
      writeError = e.what();
      if (!writeError.empty() && writeError.back() == '.') writeError.pop_back();
    }
  }

  std::unique_lock<std::mutex> hold(lock_);
  TSlot& slot = slots_[fileIndex];  // map nodes stay put while others come and go
  if (!writeError.empty() && slot.StreamsNotWritten++ == 0) slot.WriteError = std::move(writeError);
  slot.Counts.Add(stream);
  if (stream.Fingerprint) slot.Fingerprints.Add(*stream.Fingerprint);
  slot.Nested.Add(stream);

  room_.wait(hold, [&] { return fileIndex == head_ || held_ < maxHeldStreams_ || stopping_.load(); });
  if (fileIndex == head_) {
    Emit(fileIndex, stream);
  } else if (!stopping_.load()) {
    slot.Held.push_back(stream);
    ++held_;
  }
  return !outputError_;
}

void TOrderedReport::FileDone(int32_t fileIndex, int64_t sizeBytes) {
  const std::lock_guard<std::mutex> hold(lock_);
  TSlot& slot = slots_[fileIndex];
  slot.State = TFileState::Done;
  slot.SizeBytes = sizeBytes;
  Advance();
}

bool TOrderedReport::FileFailed(int32_t fileIndex, const std::exception_ptr& error) {
  const bool cancelled = IsCancellation(error);
  {
    const std::lock_guard<std::mutex> hold(lock_);
    TSlot& slot = slots_[fileIndex];
    if (cancelled) {
      slot.State = TFileState::Cancelled;
      stopping_ = true;
    } else {
      slot.State = TFileState::Failed;
      slot.Error = FailureReason(error, files_[static_cast<std::size_t>(fileIndex)]);
      // --fail-fast: the run raises this error and prints nothing more.
      if (!keepGoing_) silenced_ = stopping_ = true;
    }
    Advance();
  }
  room_.notify_all();
  return keepGoing_ || cancelled;
}

void TOrderedReport::RequestStop() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  if (control_ != nullptr) control_->RequestCancel();
  room_.notify_all();
}

std::exception_ptr TOrderedReport::OutputError() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return outputError_;
}

void TOrderedReport::Guarded(const std::function<void()>& write) {
  if (outputError_ || silenced_) return;
  try {
    write();
  } catch (...) {
    // Nothing more can be written: stop the scan rather than go on unseen.
    outputError_ = std::current_exception();
    stopping_ = true;
    if (control_ != nullptr) control_->RequestCancel();
    room_.notify_all();
  }
}

void TOrderedReport::Emit(int32_t fileIndex, const TFoundStream& stream) {
  const std::string& file = files_[static_cast<std::size_t>(fileIndex)];
  Guarded([&] {
    format_.Stream(file, stream, {});
    ForEachNested(stream, [&](const TFoundStream& nested, const TChain& chain) { format_.Stream(file, nested, chain); });
  });
}

void TOrderedReport::EndFile(int32_t fileIndex, TSlot& slot) {
  if (slot.State == TFileState::Cancelled) return;
  const std::string& name = files_[static_cast<std::size_t>(fileIndex)];
  const bool failed = slot.State == TFileState::Failed;
  if (slot.StreamsNotWritten > 0) {
    streamsNotWritten_ += slot.StreamsNotWritten;
    const int64_t others = slot.StreamsNotWritten - 1;
    message_("quarn-scan: " + EscapeName(name) + ": " + EscapeName(slot.WriteError) +
             (others == 0 ? std::string()
                          : " (and " + std::to_string(others) + " more stream" + (others == 1 ? "" : "s") +
                                " not written)"));
  }
  if (failed) {
    ++filesFailed_;
    // With --fail-fast the run raises the error and main reports it once.
    if (keepGoing_) message_("quarn-scan: " + EscapeName(name) + ": " + EscapeName(slot.Error));
  } else {
    slot.Counts.AddFile(slot.SizeBytes);
    totals_ += slot.Counts;
    fingerprintTotals_ += slot.Fingerprints;
    nestedTotals_ += slot.Nested;
  }
  Guarded([&] {
    format_.FileEnded(
        {name, failed, slot.Error, slot.SizeBytes, slot.Counts.Streams(), slot.StreamsNotWritten, slot.WriteError});
  });
}

void TOrderedReport::Advance() {
  const auto count = static_cast<int32_t>(files_.size());
  bool moved = false;
  while (head_ < count) {
    const auto found = slots_.find(head_);
    if (found == slots_.end()) break;
    TSlot& slot = found->second;
    for (const TFoundStream& stream : slot.Held) Emit(head_, stream);
    held_ -= slot.Held.size();
    slot.Held.clear();
    slot.Held.shrink_to_fit();
    moved = true;
    if (slot.State == TFileState::Running) break;
    EndFile(head_, slot);
    slots_.erase(found);
    ++head_;
  }
  if (moved) room_.notify_all();
}

}  // namespace quarn::cli
