// The keepers of a trial's inflated bytes (TOutputKeeper), for what is
// learnt of a stream once it is found: its first bytes only (the content
// type), or all of them (the rules), in memory up to a bound and beyond it
// in an unnamed scratch file, so that a stream of any size costs disk
// space, not memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/block_view.h"
#include "engine/trial_inflation.h"
#include "util/platform/memory_map.h"
#include "util/platform/temporary_file.h"

namespace quarn {

// Keeps the first `limitBytes` of each trial's output; the rest is let go.
class TKeptPrefix final : public TOutputKeeper {
 public:
  explicit TKeptPrefix(std::size_t limitBytes) : bytes_(new uint8_t[limitBytes]), limit_(limitBytes) {}
  void Clear() override { size_ = 0; }
  void Take(const uint8_t* bytes, std::size_t count) override;
  const uint8_t* Data() const { return bytes_.get(); }
  std::size_t Size() const { return size_; }

 private:
  const std::unique_ptr<uint8_t[]> bytes_;
  const std::size_t limit_;
  std::size_t size_ = 0;
};

// How much of a trial's output a TKeptOutput holds in memory, by default.
inline constexpr std::size_t kKeptInMemoryBytes = std::size_t{4} << 20;

// Keeps each trial's output, the first `maxBytes` of it: in memory while
// it fits in `memoryBytes` (grown as trials need it, and kept), else all
// of it in a scratch file, made on first need and reused. Take raises
// TQuarnError when the scratch file cannot be made or written (the disk
// is full).
class TKeptOutput final : public TOutputKeeper {
 public:
  explicit TKeptOutput(std::size_t memoryBytes = kKeptInMemoryBytes, uint64_t maxBytes = UINT64_MAX);
  ~TKeptOutput() override;
  TKeptOutput(const TKeptOutput&) = delete;
  TKeptOutput& operator=(const TKeptOutput&) = delete;
  void Clear() override;
  void Take(const uint8_t* bytes, std::size_t count) override;

  // The bytes the trial gave, kept or not.
  uint64_t Size() const { return size_; }
  // Whether every byte the trial gave is kept (at most maxBytes were given).
  bool Whole() const { return size_ <= maxBytes_; }
  // The kept bytes as one block: Head() while they are in memory, else a
  // read-only view of the scratch file, made here and kept until the next
  // Clear. Raises TQuarnError when the view cannot be made.
  TBlock Bytes();
  // The bytes [fromBytes, toBytes) of Bytes() will not be read again:
  // a view of the scratch file lets their pages go.
  void ReleasePages(int64_t fromBytes, int64_t toBytes) const;
  // The first min(Size(), memoryBytes) bytes, always in memory.
  const uint8_t* Head() const { return head_.data(); }
  std::size_t HeadSize() const;
  // Whether all the bytes are in the scratch file rather than in Head().
  bool InScratchFile() const { return inFile_; }
  // The scratch file's descriptor, holding all Size() bytes when InScratchFile().
  int ScratchDescriptor() const { return scratch_.Descriptor(); }

 private:
  void Check(int errorNumber) const;

  void Unmap();

  std::vector<uint8_t> head_;  // its size is the bytes held there
  const std::size_t memoryBytes_;
  const uint64_t maxBytes_;
  uint64_t size_ = 0;
  bool inFile_ = false;
  platform::TScratchFile scratch_;
  platform::TFileMapping view_;  // of the scratch file, made by Bytes()
};

}  // namespace quarn
