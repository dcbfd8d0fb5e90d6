// A copy of a byte block that ends exactly where an inaccessible page
// begins, so that a read past its last byte crashes the test at once.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace quarn::test {

class TGuardedBuffer {
 public:
  explicit TGuardedBuffer(const std::vector<uint8_t>& content) : size_(content.size()) {
#ifdef _WIN32
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
#else
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
    const std::size_t dataPages = (size_ + page - 1) / page;
    mappedBytes_ = (dataPages + 1) * page;
#ifdef _WIN32
    void* base = VirtualAlloc(nullptr, mappedBytes_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base == nullptr) throw std::runtime_error("VirtualAlloc failed");
    base_ = static_cast<uint8_t*>(base);
    guard_ = base_ + dataPages * page;
    DWORD previous = 0;
    VirtualProtect(guard_, page, PAGE_NOACCESS, &previous);
#else
    void* base = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<uint8_t*>(base);
    guard_ = base_ + dataPages * page;
    mprotect(guard_, page, PROT_NONE);
#endif
    data_ = guard_ - size_;
    if (size_ > 0) std::memcpy(data_, content.data(), size_);
  }
#ifdef _WIN32
  ~TGuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
#else
  ~TGuardedBuffer() { munmap(base_, mappedBytes_); }
#endif
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
