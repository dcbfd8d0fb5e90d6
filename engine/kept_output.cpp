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

TKeptOutput::TKeptOutput(std::size_t memoryBytes) : memoryBytes_(memoryBytes) {}

std::size_t TKeptOutput::HeadSize() const { return head_.size(); }

void TKeptOutput::Check(int errorNumber) const {
  if (errorNumber != 0) {
    throw TQuarnError("Cannot keep a stream's inflated bytes in a scratch file: " +
                      platform::SystemErrorText(errorNumber));
  }
}

void TKeptOutput::Clear() {
  if (inFile_) Check(scratch_.Empty());
  inFile_ = false;
  size_ = 0;
  head_.clear();  // its capacity stays for the next trial
}

void TKeptOutput::Take(const uint8_t* bytes, std::size_t count) {
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
  size_ += count;
}

}  // namespace quarn
