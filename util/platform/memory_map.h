// Read-only mapping of a whole file, for the platform layer.
//
// What cannot be mapped is read to its end, so that its whole content is
// scanned. A pipe (standard input, process substitution), which may bring
// any amount, is copied into an unnamed scratch file (OpenScratchFile) and
// that file is mapped, so that it costs disk space, not memory. Files whose
// size reads 0 or whose file system does not map (/proc, /sys), which are
// small, are read into memory of our own, at most kMaxReadBytes of them:
// some never end (/proc/self/pagemap reads on for hundreds of GiB). A block device is mapped with the size
// the device itself gives.
//
// A mapped file can shrink under us: another program truncates it while we
// read. On POSIX the next touch of a page past the new end raises SIGBUS,
// which would kill the process. Every mapping made here is registered with
// a SIGBUS handler that puts a page of zeros in place of the lost page and
// marks the mapping as faulted; the reader goes on, sees zeros, and its
// owner reports the file as changed once it is done with it. On Windows the
// same loss raises EXCEPTION_IN_PAGE_ERROR; a vectored exception handler
// puts zeros in place of the whole view and marks the mapping the same way.
//
// A mapped file can also grow, or be rewritten in place, under us: the view
// then shows the old length, or a mix of old and new bytes, and no fault
// says so. The size and last modification time of the file are kept from
// the moment it was mapped (its stamp), read from the open file itself, so
// that its owner can compare them with the file's stamp once it is done.
// A copy (a pipe's scratch file, a file read into memory) has no stamp: what
// it holds cannot change.
// One implementation per platform: memory_map_posix.cpp (open, fstat, mmap)
// and memory_map_win32.cpp (CreateFileW with read and write sharing,
// CreateFileMappingW, MapViewOfFile, GetFileInformationByHandle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quarn::platform {

// The most that is read into memory from a file that cannot be mapped.
inline constexpr std::size_t kMaxReadBytes = std::size_t{256} << 20;

// What tells one state of a file from another without reading it: its size
// and its last modification time, to the nanosecond where the file system
// keeps it (POSIX st_mtim since 1970; on Windows the last-write time, in
// 100 ns steps since 1601).
struct TFileStamp {
  int64_t SizeBytes = 0;
  int64_t ModifiedSeconds = 0;
  int64_t ModifiedNanoseconds = 0;  // within the second
  bool operator==(const TFileStamp&) const = default;
};

struct TFileMapping {
#ifdef _WIN32
  void* Handle = nullptr;           // the opened file (HANDLE), null when none
  void* Section = nullptr;          // the file-mapping object, null when none
#else
  int Handle = -1;                  // open descriptor, -1 when none
#endif
  const uint8_t* Content = nullptr;  // null for an empty file
  int64_t SizeBytes = 0;            // from the opened file itself
  int GuardSlot = -1;               // registration with the guard of lost pages
  bool ReadIntoMemory = false;      // Content is our own copy, not a view
  // The file's stamp when it was mapped, from the same status that gave
  // SizeBytes; none for a copy, an empty file or a block device.
  std::optional<TFileStamp> StampWhenMapped;
};

enum class TMapFailure {
  None,
  Open,        // the name could not be opened
  Status,      // the opened file's status could not be read
  NotRegular,  // a directory, character device or socket
  Map,         // the view could not be made
  Read,        // reading what cannot be mapped failed
  Spool,       // a pipe could not be copied into a scratch file
  TooLarge,    // what has to be read into memory goes on past kMaxReadBytes
};

struct TMapResult {
  TFileMapping Mapping;
  TMapFailure Failure = TMapFailure::None;
  int ErrorNumber = 0;  // errno of the failed step (on Windows translated from the Win32 error)
};

// Opens `path` (of any length) read-only and maps or reads it whole.
// Nothing stays open when a step fails. A character device or socket is
// refused before it is opened (NotRegular): opening one can have effects.
TMapResult MapWholeFile(const std::string& path);

// Maps the first `sizeBytes` (> 0) of the scratch file open at
// `descriptor` (OpenScratchFile), read-only, for the program's own bytes
// kept there. The mapping holds a duplicate of the descriptor, so the
// scratch file may be closed first; nothing can change or cut the file
// while it is mapped, so it has no stamp and no guard.
TMapResult MapScratchFile(int descriptor, int64_t sizeBytes);

// Releases the view, then the descriptor.
void ReleaseMapping(TFileMapping& mapping);

// Tells the system that the bytes [fromBytes, toBytes) of the mapping will
// not be read again soon: their whole pages leave the process's memory and
// come back from the file should they be read after all, so the content
// seen never changes. Does nothing to a copy read into memory. Safe while
// other threads read the mapping.
void ReleaseMappedPages(const TFileMapping& mapping, int64_t fromBytes, int64_t toBytes);

// True once a page of the mapping was lost to a truncation since it was made.
bool MappingLostPages(const TFileMapping& mapping);

// The stamp of the mapped file now, read from the open file (not by name,
// which may lead to another file by now). None when the mapping has no
// StampWhenMapped, or when the status cannot be read.
std::optional<TFileStamp> CurrentStamp(const TFileMapping& mapping);

}  // namespace quarn::platform
