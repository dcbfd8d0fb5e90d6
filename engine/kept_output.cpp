// The keepers of a trial's bytes. A trial that outgrows memory moves what
// it kept to the scratch file once and appends there; emptying the file
// costs one truncation, and only after a trial that went there.
#include "engine/kept_output.h"

#include <algorithm>
#include <cstring>

#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {

void TKeptPrefix::Take(const uint8_t* bytes, std::size_t count) {
  const std::size_t taken = std::min(count, limit_ - size_);
  if (taken > 0) std::memcpy(bytes_.get() + size_, bytes, taken);
  size_ += taken;
}

TKeptOutput::TKeptOutput(std::size_t memoryBytes, uint64_t maxBytes)
    : memoryBytes_(static_cast<std::size_t>(std::min<uint64_t>(memoryBytes, maxBytes))), maxBytes_(maxBytes) {}

TKeptOutput::~TKeptOutput() { Unmap(); }

std::size_t TKeptOutput::HeadSize() const { return head_.size(); }

void TKeptOutput::Check(int errorNumber) const {
  if (errorNumber != 0) {
    throw TQuarnError("Cannot keep a stream's inflated bytes in a scratch file: " +
                      platform::SystemErrorText(errorNumber));
  }
}

void TKeptOutput::Unmap() {
  if (view_.Content != nullptr) platform::ReleaseMapping(view_);
}

void TKeptOutput::Clear() {
  Unmap();  // before the file is emptied under it
  if (inFile_) Check(scratch_.Empty());
  inFile_ = false;
  size_ = 0;
  head_.clear();  // its capacity stays for the next trial
}

void TKeptOutput::Take(const uint8_t* bytes, std::size_t count) {
  const uint64_t given = count;
  if (size_ + count > maxBytes_) count = static_cast<std::size_t>(maxBytes_ - std::min(size_, maxBytes_));
  const std::size_t toHead = std::min(count, memoryBytes_ - head_.size());
  head_.insert(head_.end(), bytes, bytes + toHead);
  if (!inFile_ && count > toHead) {
    Check(scratch_.Open());
    Check(scratch_.Append(head_.data(), head_.size()));
    inFile_ = true;
    Check(scratch_.Append(bytes + toHead, count - toHead));
  } else if (inFile_) {
    Check(scratch_.Append(bytes, count));
  }
  size_ += given;
}

TBlock TKeptOutput::Bytes() {
  if (!inFile_) return {head_.data(), static_cast<int64_t>(head_.size())};
  const auto kept = static_cast<int64_t>(std::min(size_, maxBytes_));
  if (view_.Content == nullptr) {
    platform::TMapResult mapped = platform::MapScratchFile(scratch_.Descriptor(), kept);
    if (mapped.Failure != platform::TMapFailure::None) {
      throw TQuarnError("Cannot read back a stream's inflated bytes from a scratch file: " +
                        platform::SystemErrorText(mapped.ErrorNumber));
    }
    view_ = mapped.Mapping;
  }
  return {view_.Content, kept};
}

void TKeptOutput::ReleasePages(int64_t fromBytes, int64_t toBytes) const {
  if (view_.Content != nullptr) platform::ReleaseMappedPages(view_, fromBytes, toBytes);
}

}  // namespace quarn
