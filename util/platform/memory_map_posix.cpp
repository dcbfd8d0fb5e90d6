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

#include <atomic>
#include <cerrno>
#include <mutex>

#include "util/platform/memory_map.h"

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

TMapResult MapWholeFile(const std::string& path) {
  TMapResult result;
  // O_NONBLOCK: should the name have become a FIFO since it was checked,
  // opening it must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    result.Failure = TMapFailure::Open;
    result.ErrorNumber = errno;
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result.Failure = TMapFailure::Status;
    result.ErrorNumber = errno;
    ::close(fd);
    return result;
  }
  result.Mapping.Handle = fd;
  if (!S_ISREG(st.st_mode) || st.st_size == 0) return result;  // empty: nothing to map

  void* view = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    result.Failure = TMapFailure::Map;
    result.ErrorNumber = errno;
    ::close(fd);
    result.Mapping = {};
    return result;
  }
  ::madvise(view, static_cast<size_t>(st.st_size), MADV_SEQUENTIAL);
  result.Mapping.Content = static_cast<const uint8_t*>(view);
  result.Mapping.SizeBytes = static_cast<int64_t>(st.st_size);
  result.Mapping.GuardSlot = RegisterRange(result.Mapping.Content, result.Mapping.SizeBytes);
  return result;
}

void ReleaseMapping(TFileMapping& mapping) {
  if (mapping.Content != nullptr) {
    UnregisterRange(mapping.GuardSlot);
    ::munmap(const_cast<uint8_t*>(mapping.Content), static_cast<size_t>(mapping.SizeBytes));
  }
  if (mapping.Handle >= 0) ::close(mapping.Handle);
  mapping = {};
}

bool MappingLostPages(const TFileMapping& mapping) {
  return mapping.GuardSlot >= 0 && gSlots[mapping.GuardSlot].LostPages.load();
}

}  // namespace quarn::platform
