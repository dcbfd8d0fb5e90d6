// Whole-file mappings on POSIX, and the SIGBUS guard that keeps a
// truncated file from killing the process.
//
// The guard is a fixed table of address ranges, written with atomics by the
// threads that map and unmap, and read by the signal handler, which runs on
// the faulting thread and may only do async-signal-safe work: it compares
// addresses, maps one anonymous page of zeros over the faulting page and
// sets a flag. Faults outside every registered range go to the handler that
// was installed before ours, or end the process as they would have.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "util/platform/long_path_posix.h"
#include "util/platform/memory_map.h"
#include "util/platform/temporary_file.h"

namespace quarn::platform {
namespace {

constexpr int kGuardSlots = 1024;

struct TGuardSlot {
  std::atomic<bool> Used{false};
  std::atomic<uintptr_t> Begin{0};
  std::atomic<uintptr_t> End{0};
  std::atomic<bool> LostPages{false};
};

TGuardSlot gSlots[kGuardSlots];
uintptr_t gPageBytes = 4096;
struct sigaction gPreviousAction {};

void OnBusError(int signalNumber, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (TGuardSlot& slot : gSlots) {
    if (!slot.Used.load() || address < slot.Begin.load() || address >= slot.End.load()) continue;
    void* page = reinterpret_cast<void*>(address & ~(gPageBytes - 1));
    if (::mmap(page, gPageBytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      slot.LostPages.store(true);
      return;  // the faulting read is retried and now sees zeros
    }
    break;
  }
  if ((gPreviousAction.sa_flags & SA_SIGINFO) != 0 && gPreviousAction.sa_sigaction != nullptr) {
    gPreviousAction.sa_sigaction(signalNumber, info, context);
    return;
  }
  if (gPreviousAction.sa_handler != SIG_DFL && gPreviousAction.sa_handler != SIG_IGN) {
    gPreviousAction.sa_handler(signalNumber);
    return;
  }
  // Not ours and nobody else's: fault again with the default action.
  ::signal(signalNumber, SIG_DFL);
}

void InstallGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageBytes = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousAction);
  });
}

int RegisterRange(const uint8_t* begin, int64_t sizeBytes) {
  InstallGuard();
  for (int k = 0; k < kGuardSlots; ++k) {
    bool expected = false;
    if (!gSlots[k].Used.compare_exchange_strong(expected, true)) continue;
    gSlots[k].LostPages.store(false);
    gSlots[k].Begin.store(reinterpret_cast<uintptr_t>(begin));
    gSlots[k].End.store(reinterpret_cast<uintptr_t>(begin) + static_cast<uintptr_t>(sizeBytes));
    return k;
  }
  return -1;  // table full: the mapping goes unguarded
}

void UnregisterRange(int slot) {
  if (slot < 0) return;
  gSlots[slot].End.store(0);
  gSlots[slot].Begin.store(0);
  gSlots[slot].Used.store(false);
}

}  // namespace

namespace {

bool IsReadable(mode_t mode) { return S_ISREG(mode) || S_ISFIFO(mode) || S_ISBLK(mode); }

TFileStamp StampOf(const struct stat& st) {
  return {static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
          static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// Reads `fd` to its end into memory of our own: None, or Read with errno
// set, or TooLarge past kMaxReadBytes.
TMapFailure ReadToEnd(int fd, TFileMapping& mapping) {
  constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
  std::size_t capacity = 0;
  std::size_t used = 0;
  uint8_t* data = nullptr;
  auto fail = [&data](TMapFailure failure) {
    const int saved = errno;
    std::free(data);
    errno = saved;
    return failure;
  };
  while (true) {
    if (used == capacity) {
      if (used > kMaxReadBytes) return fail(TMapFailure::TooLarge);
      // Room past the limit, in whole blocks: some files only read in
      // multiples of their record size (pagemap: 8 bytes).
      capacity = capacity == 0 ? kBlockBytes : std::min(capacity * 2, kMaxReadBytes + kBlockBytes);
      auto* grown = static_cast<uint8_t*>(std::realloc(data, capacity));
      if (grown == nullptr) {
        errno = ENOMEM;
        return fail(TMapFailure::Read);
      }
      data = grown;
    }
    const ssize_t got = ::read(fd, data + used, capacity - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(TMapFailure::Read);
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  if (used == 0) {
    std::free(data);
    return TMapFailure::None;  // empty after all
  }
  mapping.Content = data;
  mapping.SizeBytes = static_cast<int64_t>(used);
  mapping.ReadIntoMemory = true;
  return TMapFailure::None;
}

// Writes all `bytes` at `data` to `fd`. False with errno set.
bool WriteAll(int fd, const uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t put = ::write(fd, data, bytes);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    data += put;
    bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

// Copies the pipe `fd` to its end into a new scratch file. Returns the
// scratch file's descriptor, or -1 with errno set and `failure` saying
// whether the pipe (Read) or the scratch file (Spool) failed.
int CopyToScratchFile(int fd, TMapFailure& failure) {
  const int scratch = OpenScratchFile();
  if (scratch < 0) {
    failure = TMapFailure::Spool;
    return -1;
  }
  constexpr std::size_t kCopyBytes = std::size_t{1} << 20;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyBytes]);
  while (true) {
    const ssize_t got = ::read(fd, buffer.get(), kCopyBytes);
    if (got == 0) return scratch;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = TMapFailure::Read;
      break;
    }
    if (!WriteAll(scratch, buffer.get(), static_cast<std::size_t>(got))) {
      failure = TMapFailure::Spool;
      break;
    }
  }
  const int saved = errno;
  ::close(scratch);
  errno = saved;
  return -1;
}

}  // namespace

TMapResult MapWholeFile(const std::string& path) {
  TMapResult result;
  auto fail = [&result](TMapFailure failure, int errorNumber) {
    ReleaseMapping(result.Mapping);
    result.Failure = failure;
    result.ErrorNumber = errorNumber;
    return result;
  };
  struct stat st {};
  if (StatusAnyLength(path, st, true) != 0) return fail(TMapFailure::Open, errno);
  if (!IsReadable(st.st_mode)) return fail(TMapFailure::NotRegular, 0);

  // O_NONBLOCK: opening a FIFO must not wait for a writer. It is cleared
  // once a FIFO is open, so that reading a pipe waits for its data. It stays
  // on for everything else: regular files and devices read as they would
  // anyway, and a /proc file that waits for events (kmsg) fails at once
  // instead of holding the scan forever.
  const int fd = OpenAnyLength(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(TMapFailure::Open, errno);
  result.Mapping.Handle = fd;
  if (::fstat(fd, &st) != 0) return fail(TMapFailure::Status, errno);
  if (!IsReadable(st.st_mode)) return fail(TMapFailure::NotRegular, 0);  // changed since the first look
  if (S_ISFIFO(st.st_mode)) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }

  int64_t sizeBytes = static_cast<int64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) return fail(TMapFailure::Status, errno);
    sizeBytes = static_cast<int64_t>(end);
    if (sizeBytes == 0) return result;  // no medium, or an empty loop device
  } else if (S_ISFIFO(st.st_mode)) {
    // A pipe has no size and does not map: its copy is mapped instead.
    TMapFailure failure = TMapFailure::None;
    const int scratch = CopyToScratchFile(fd, failure);
    if (scratch < 0) return fail(failure, errno);
    ::close(fd);
    result.Mapping.Handle = scratch;
    struct stat copied {};
    if (::fstat(scratch, &copied) != 0) return fail(TMapFailure::Status, errno);
    sizeBytes = static_cast<int64_t>(copied.st_size);
    if (sizeBytes == 0) return result;
  } else if (sizeBytes == 0) {
    // /proc files report 0 and still have content.
    const TMapFailure failure = ReadToEnd(fd, result.Mapping);
    return failure == TMapFailure::None ? result : fail(failure, errno);
  }

  void* view = ::mmap(nullptr, static_cast<size_t>(sizeBytes), PROT_READ, MAP_SHARED, result.Mapping.Handle, 0);
  if (view == MAP_FAILED) {
    const int mapError = errno;
    // Some file systems do not map (/sys gives ENODEV): read those instead.
    if (S_ISREG(st.st_mode) && (mapError == ENODEV || mapError == EINVAL || mapError == EACCES)) {
      const TMapFailure failure = ReadToEnd(fd, result.Mapping);
      return failure == TMapFailure::None ? result : fail(failure, errno);
    }
    return fail(TMapFailure::Map, mapError);
  }
  ::madvise(view, static_cast<size_t>(sizeBytes), MADV_SEQUENTIAL);
  result.Mapping.Content = static_cast<const uint8_t*>(view);
  result.Mapping.SizeBytes = sizeBytes;
  result.Mapping.GuardSlot = RegisterRange(result.Mapping.Content, result.Mapping.SizeBytes);
  // A device's node keeps no useful time, and its size is not st_size.
  if (S_ISREG(st.st_mode)) result.Mapping.StampWhenMapped = StampOf(st);
  return result;
}

TMapResult MapScratchFile(int descriptor, int64_t sizeBytes) {
  TMapResult result;
  result.Mapping.Handle = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (result.Mapping.Handle < 0) {
    result.Failure = TMapFailure::Open;
    result.ErrorNumber = errno;
    return result;
  }
  void* view = ::mmap(nullptr, static_cast<size_t>(sizeBytes), PROT_READ, MAP_SHARED, result.Mapping.Handle, 0);
  if (view == MAP_FAILED) {
    const int mapError = errno;
    ReleaseMapping(result.Mapping);
    result.Failure = TMapFailure::Map;
    result.ErrorNumber = mapError;
    return result;
  }
  ::madvise(view, static_cast<size_t>(sizeBytes), MADV_SEQUENTIAL);
  result.Mapping.Content = static_cast<const uint8_t*>(view);
  result.Mapping.SizeBytes = sizeBytes;
  return result;
}

void ReleaseMapping(TFileMapping& mapping) {
  if (mapping.ReadIntoMemory) {
    std::free(const_cast<uint8_t*>(mapping.Content));
  } else if (mapping.Content != nullptr) {
    UnregisterRange(mapping.GuardSlot);
    ::munmap(const_cast<uint8_t*>(mapping.Content), static_cast<size_t>(mapping.SizeBytes));
  }
  if (mapping.Handle >= 0) ::close(mapping.Handle);
  mapping = {};
}

void ReleaseMappedPages(const TFileMapping& mapping, int64_t fromBytes, int64_t toBytes) {
  if (mapping.ReadIntoMemory || mapping.Content == nullptr) return;  // dropping those pages would lose them
  const auto base = reinterpret_cast<uintptr_t>(mapping.Content);
  const uintptr_t from = (base + static_cast<uintptr_t>(std::max<int64_t>(fromBytes, 0)) + gPageBytes - 1) & ~(gPageBytes - 1);
  const uintptr_t to = (base + static_cast<uintptr_t>(std::min(toBytes, mapping.SizeBytes))) & ~(gPageBytes - 1);
  if (to <= from) return;
  // On a shared file mapping MADV_DONTNEED only unmaps: the file's pages stay
  // in the page cache and a later read maps them again.
  ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

bool MappingLostPages(const TFileMapping& mapping) {
  return mapping.GuardSlot >= 0 && gSlots[mapping.GuardSlot].LostPages.load();
}

std::optional<TFileStamp> CurrentStamp(const TFileMapping& mapping) {
  struct stat st {};
  if (!mapping.StampWhenMapped || mapping.Handle < 0 || ::fstat(mapping.Handle, &st) != 0) return std::nullopt;
  return StampOf(st);
}

}  // namespace quarn::platform
