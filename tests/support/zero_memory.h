// Memory that reads as zeros, as much as asked for, with pages that can be
// given back to the system and then read as zeros again: input of several
// GiB that never occupies more than a little real memory at a time.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace quarn::test {

class TZeroMemory {
 public:
  explicit TZeroMemory(std::size_t bytes) : bytes_(bytes) {
#ifdef _WIN32
    void* base = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base == nullptr) throw std::runtime_error("VirtualAlloc failed");
#else
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
#endif
    base_ = static_cast<uint8_t*>(base);
  }
#ifdef _WIN32
  ~TZeroMemory() { VirtualFree(base_, 0, MEM_RELEASE); }
#else
  ~TZeroMemory() { munmap(base_, bytes_); }
#endif
  TZeroMemory(const TZeroMemory&) = delete;
  TZeroMemory& operator=(const TZeroMemory&) = delete;

  uint8_t* Data() { return base_; }
  int64_t Size() const { return static_cast<int64_t>(bytes_); }

  // Gives back the whole 64 KiB pieces (a multiple of every page size)
  // that lie in [from, to).
  void GiveBack(uint64_t from, uint64_t to) {
    constexpr uint64_t kPiece = 65536;
    from = (from + kPiece - 1) / kPiece * kPiece;
    to = to / kPiece * kPiece;
    if (to <= from) return;
    uint8_t* const at = base_ + from;
    const std::size_t bytes = static_cast<std::size_t>(to - from);
#ifdef _WIN32
    if (!VirtualFree(at, bytes, MEM_DECOMMIT) || VirtualAlloc(at, bytes, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
      throw std::runtime_error("giving pages back failed");
    }
#else
    if (madvise(at, bytes, MADV_DONTNEED) != 0) throw std::runtime_error("madvise failed");
#endif
  }

 private:
  std::size_t bytes_;
  uint8_t* base_ = nullptr;
};

}  // namespace quarn::test
