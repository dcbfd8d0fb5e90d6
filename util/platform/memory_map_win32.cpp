// Whole-file mappings on Windows, and the guard that keeps a file cut short
// while mapped from killing the process.
//
// The file is opened with read and write sharing, so other programs may
// keep it open, for writing too, while it is scanned. A pipe (standard
// input) is copied to its end into a scratch file (OpenScratchFile), which
// is mapped instead; a console or other device is refused. When pages of a view
// can no longer be read (the file was cut short behind the mapping, a
// network file went away) the reading thread gets EXCEPTION_IN_PAGE_ERROR
// (under wine an access violation).
// A vectored exception handler, first in line, looks the address up in a
// table of the views made here; for one of ours it unmaps the whole view
// and reserves and commits read-only zero pages at the same address, marks
// the mapping as faulted and lets the faulting read run again, now on
// zeros. Another thread that reads the same view between the unmap and the
// new pages gets an access violation there: the handler waits on the same
// lock, finds the zeros in place and lets that read run again too. Faults
// elsewhere, or that cannot be mended, go on to the next handler. The
// file's stamp is its size and last-write time from the open handle
// (GetFileInformationByHandle), never looked up by name again.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "util/platform/file_system.h"
#include "util/platform/memory_map.h"
#include "util/platform/temporary_file.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::platform {
namespace {

constexpr int kGuardSlots = 1024;

struct TGuardSlot {
  std::atomic<bool> Used{false};
  std::atomic<uintptr_t> Begin{0};
  std::atomic<uintptr_t> End{0};
  std::atomic<bool> LostPages{false};
  std::atomic<bool> Replaced{false};  // the view is gone; zero pages stand in its place
};

TGuardSlot gSlots[kGuardSlots];
SRWLOCK gReplaceLock = SRWLOCK_INIT;

// Puts committed zero pages in place of the slot's view. Runs under
// gReplaceLock. False when the address range could not be taken back.
bool ReplaceViewWithZeros(TGuardSlot& slot) {
  void* base = reinterpret_cast<void*>(slot.Begin.load());
  const SIZE_T bytes = slot.End.load() - slot.Begin.load();
  if (!::UnmapViewOfFile(base)) return false;
  if (::VirtualAlloc(base, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) != base) return false;
  slot.Replaced.store(true);
  return true;
}

LONG CALLBACK OnPageError(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  const DWORD code = record->ExceptionCode;
  if (code != EXCEPTION_IN_PAGE_ERROR && code != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  if (record->NumberParameters < 2 || record->ExceptionInformation[0] != 0) {
    return EXCEPTION_CONTINUE_SEARCH;  // only reads: nothing ever writes a view
  }
  const uintptr_t address = record->ExceptionInformation[1];
  for (TGuardSlot& slot : gSlots) {
    if (!slot.Used.load() || address < slot.Begin.load() || address >= slot.End.load()) continue;
    ::AcquireSRWLockExclusive(&gReplaceLock);
    bool mended = slot.Replaced.load();
    // A read of a read-only view that is in place fails for no other
    // reason than a lost page: Windows says so with EXCEPTION_IN_PAGE_ERROR,
    // wine with an access violation.
    if (!mended) mended = ReplaceViewWithZeros(slot);
    if (mended) slot.LostPages.store(true);
    ::ReleaseSRWLockExclusive(&gReplaceLock);
    return mended ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void InstallGuard() {
  static std::once_flag once;
  std::call_once(once, [] { ::AddVectoredExceptionHandler(1, OnPageError); });
}

int RegisterRange(const uint8_t* begin, int64_t sizeBytes) {
  InstallGuard();
  for (int k = 0; k < kGuardSlots; ++k) {
    bool expected = false;
    if (!gSlots[k].Used.compare_exchange_strong(expected, true)) continue;
    gSlots[k].LostPages.store(false);
    gSlots[k].Replaced.store(false);
    gSlots[k].Begin.store(reinterpret_cast<uintptr_t>(begin));
    gSlots[k].End.store(reinterpret_cast<uintptr_t>(begin) + static_cast<uintptr_t>(sizeBytes));
    return k;
  }
  return -1;  // table full: the mapping goes unguarded
}

TMapResult Failed(TMapFailure failure, DWORD errorCode) {
  TMapResult result;
  result.Failure = failure;
  result.ErrorNumber = ErrnoFromWin32Error(errorCode);
  return result;
}

// Copies the pipe `pipe` to its end into a new scratch file, which may be
// mapped like any other. Returns the scratch file's handle, or
// INVALID_HANDLE_VALUE with the errno value in `errorNumber` and `failure`
// saying whether the pipe (Read) or the scratch file (Spool) failed. A pipe
// whose writer has gone reads as its end.
HANDLE CopyToScratchFile(HANDLE pipe, TMapFailure& failure, int& errorNumber) {
  const int fd = OpenScratchFile();
  if (fd < 0) {
    failure = TMapFailure::Spool;
    errorNumber = errno;
    return INVALID_HANDLE_VALUE;
  }
  // A handle of our own, so that the C library's descriptor can go.
  HANDLE scratch = INVALID_HANDLE_VALUE;
  const BOOL copied = ::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(::_get_osfhandle(fd)),
                                        ::GetCurrentProcess(), &scratch, 0, FALSE, DUPLICATE_SAME_ACCESS);
  errorNumber = ErrnoFromWin32Error(::GetLastError());
  ::_close(fd);
  if (!copied) {
    failure = TMapFailure::Spool;
    return INVALID_HANDLE_VALUE;
  }
  constexpr DWORD kCopyBytes = DWORD{1} << 20;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyBytes]);
  while (true) {
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer.get(), kCopyBytes, &got, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return scratch;
      failure = TMapFailure::Read;
      errorNumber = ErrnoFromWin32Error(error);
      break;
    }
    if (got == 0) return scratch;
    DWORD put = 0;
    if (!::WriteFile(scratch, buffer.get(), got, &put, nullptr) || put != got) {
      failure = TMapFailure::Spool;
      errorNumber = ErrnoFromWin32Error(::GetLastError());
      break;
    }
  }
  ::CloseHandle(scratch);
  return INVALID_HANDLE_VALUE;
}

// The size and last-write time of the open file `file`. False, with the
// Win32 error set, when they cannot be read.
bool ReadStamp(HANDLE file, TFileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  stamp.SizeBytes = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  const uint64_t ticks =
      (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
  constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns steps
  stamp.ModifiedSeconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  stamp.ModifiedNanoseconds = static_cast<int64_t>(ticks % kTicksPerSecond) * 100;
  return true;
}

// Standard input, as a handle of our own that releasing may close.
HANDLE OpenStandardInput() {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_INPUT_HANDLE), ::GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}

}  // namespace

TMapResult MapWholeFile(const std::string& path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (path == StandardInputName()) {
    file = OpenStandardInput();
  } else {
    const std::wstring longPath = LongPathForm(path);
    if (longPath.empty()) return Failed(TMapFailure::Open, ERROR_FILE_NOT_FOUND);
    if (NameLengthError(longPath) != 0) return Failed(TMapFailure::Open, ERROR_FILENAME_EXCED_RANGE);
    file = ::CreateFileW(longPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return Failed(TMapFailure::Open, ::GetLastError());

  TMapResult result;
  result.Mapping.Handle = file;
  auto fail = [&result](TMapFailure failure, DWORD errorCode) {
    ReleaseMapping(result.Mapping);
    result.Failure = failure;
    result.ErrorNumber = errorCode == 0 ? 0 : ErrnoFromWin32Error(errorCode);
    return result;
  };
  bool copied = false;  // a pipe's scratch file: nothing else can change it
  switch (::GetFileType(file)) {
    case FILE_TYPE_DISK:
      break;
    case FILE_TYPE_PIPE: {
      TMapFailure failure = TMapFailure::None;
      int errorNumber = 0;
      const HANDLE scratch = CopyToScratchFile(file, failure, errorNumber);
      if (scratch == INVALID_HANDLE_VALUE) {
        ReleaseMapping(result.Mapping);
        result.Failure = failure;
        result.ErrorNumber = errorNumber;
        return result;
      }
      ::CloseHandle(file);
      file = scratch;  // mapped from here on, like a file
      result.Mapping.Handle = file;
      copied = true;
      break;
    }
    default:
      return fail(TMapFailure::NotRegular, 0);  // a console or another device
  }
  // The size mapped and the stamp kept come from one look at the file.
  TFileStamp stamp;
  if (!ReadStamp(file, stamp)) return fail(TMapFailure::Status, ::GetLastError());
  if (stamp.SizeBytes == 0) return result;  // empty: nothing to map

  const HANDLE section = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) return fail(TMapFailure::Map, ::GetLastError());
  result.Mapping.Section = section;
  const void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return fail(TMapFailure::Map, ::GetLastError());
  result.Mapping.Content = static_cast<const uint8_t*>(view);
  result.Mapping.SizeBytes = stamp.SizeBytes;
  result.Mapping.GuardSlot = RegisterRange(result.Mapping.Content, result.Mapping.SizeBytes);
  if (!copied) result.Mapping.StampWhenMapped = stamp;
  return result;
}

TMapResult MapScratchFile(int descriptor, int64_t sizeBytes) {
  TMapResult result;
  const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
  HANDLE own = nullptr;
  if (file == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return Failed(TMapFailure::Open, ::GetLastError());
  }
  result.Mapping.Handle = own;
  auto fail = [&result](DWORD errorCode) {
    ReleaseMapping(result.Mapping);
    result.Failure = TMapFailure::Map;
    result.ErrorNumber = ErrnoFromWin32Error(errorCode);
    return result;
  };
  const auto size = static_cast<uint64_t>(sizeBytes);
  const HANDLE section = ::CreateFileMappingW(own, nullptr, PAGE_READONLY, static_cast<DWORD>(size >> 32),
                                              static_cast<DWORD>(size), nullptr);
  if (section == nullptr) return fail(::GetLastError());
  result.Mapping.Section = section;
  const void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  if (view == nullptr) return fail(::GetLastError());
  result.Mapping.Content = static_cast<const uint8_t*>(view);
  result.Mapping.SizeBytes = sizeBytes;
  return result;
}

void ReleaseMapping(TFileMapping& mapping) {
  if (mapping.ReadIntoMemory) {
    std::free(const_cast<uint8_t*>(mapping.Content));
  } else if (mapping.Content != nullptr) {
    void* view = const_cast<uint8_t*>(mapping.Content);
    bool replaced = false;
    if (mapping.GuardSlot >= 0) {
      TGuardSlot& slot = gSlots[mapping.GuardSlot];
      ::AcquireSRWLockExclusive(&gReplaceLock);
      replaced = slot.Replaced.load();
      slot.End.store(0);
      slot.Begin.store(0);
      slot.Used.store(false);
      ::ReleaseSRWLockExclusive(&gReplaceLock);
    }
    if (replaced) {
      ::VirtualFree(view, 0, MEM_RELEASE);
    } else {
      ::UnmapViewOfFile(view);
    }
  }
  if (mapping.Section != nullptr) ::CloseHandle(mapping.Section);
  if (mapping.Handle != nullptr) ::CloseHandle(mapping.Handle);
  mapping = {};
}

void ReleaseMappedPages(const TFileMapping& mapping, int64_t fromBytes, int64_t toBytes) {
  if (mapping.ReadIntoMemory || mapping.Content == nullptr) return;  // dropping those pages would lose them
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  const uintptr_t pageBytes = info.dwPageSize;
  const auto base = reinterpret_cast<uintptr_t>(mapping.Content);
  const uintptr_t from = (base + static_cast<uintptr_t>(std::max<int64_t>(fromBytes, 0)) + pageBytes - 1) & ~(pageBytes - 1);
  const uintptr_t to = (base + static_cast<uintptr_t>(std::min(toBytes, mapping.SizeBytes))) & ~(pageBytes - 1);
  if (to <= from) return;
  // Unlocking pages that are not locked takes them out of the process's
  // working set (the call then reports ERROR_NOT_LOCKED); the file's pages
  // stay in the system's cache and come back if read again.
  ::VirtualUnlock(reinterpret_cast<void*>(from), to - from);
}

bool MappingLostPages(const TFileMapping& mapping) {
  return mapping.GuardSlot >= 0 && gSlots[mapping.GuardSlot].LostPages.load();
}

std::optional<TFileStamp> CurrentStamp(const TFileMapping& mapping) {
  TFileStamp stamp;
  if (!mapping.StampWhenMapped || mapping.Handle == nullptr || !ReadStamp(mapping.Handle, stamp)) return std::nullopt;
  return stamp;
}

}  // namespace quarn::platform
