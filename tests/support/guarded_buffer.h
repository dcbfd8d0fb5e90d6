// A copy of a byte block that ends exactly where an inaccessible page
// begins, so that a read past its last byte crashes the test at once.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace quarn::test {

class TGuardedBuffer {
 public:
  explicit TGuardedBuffer(const std::vector<uint8_t>& content) : size_(content.size()) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (size_ + page - 1) / page;
    mappedBytes_ = (dataPages + 1) * page;
    void* base = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<uint8_t*>(base);
    guard_ = base_ + dataPages * page;
    mprotect(guard_, page, PROT_NONE);
    data_ = guard_ - size_;
    if (size_ > 0) std::memcpy(data_, content.data(), size_);
  }
  ~TGuardedBuffer() { munmap(base_, mappedBytes_); }
  TGuardedBuffer(const TGuardedBuffer&) = delete;
  TGuardedBuffer& operator=(const TGuardedBuffer&) = delete;

  const uint8_t* Data() const { return data_; }
  int64_t Size() const { return static_cast<int64_t>(size_); }

 private:
  std::size_t size_;
  std::size_t mappedBytes_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* guard_ = nullptr;
  uint8_t* data_ = nullptr;
};

}  // namespace quarn::test
