// Read-only mapping of a whole file, for the platform layer.
//
// A mapped file can shrink under us: another program truncates it while we
// read. On POSIX the next touch of a page past the new end raises SIGBUS,
// which would kill the process. Every mapping made here is registered with
// a SIGBUS handler that puts a page of zeros in place of the lost page and
// marks the mapping as faulted; the reader goes on, sees zeros, and its
// owner reports the file as changed once it is done with it.
#pragma once

#include <cstdint>
#include <string>

namespace quarn::platform {

struct TFileMapping {
  int Handle = -1;                  // open descriptor, -1 when none
  const uint8_t* Content = nullptr;  // null for an empty or special file
  int64_t SizeBytes = 0;            // from the opened file itself
  int GuardSlot = -1;               // registration with the SIGBUS guard
};

enum class TMapFailure { None, Open, Status, Map };

struct TMapResult {
  TFileMapping Mapping;
  TMapFailure Failure = TMapFailure::None;
  int ErrorNumber = 0;  // errno of the failed step
};

// Opens `path` read-only and maps it whole. A FIFO, socket or device is
// never opened for reading: it gives an empty mapping. Nothing stays open
// when a step fails.
TMapResult MapWholeFile(const std::string& path);

// Releases the view, then the descriptor.
void ReleaseMapping(TFileMapping& mapping);

// True once a page of the mapping was lost to a truncation since it was made.
bool MappingLostPages(const TFileMapping& mapping);

}  // namespace quarn::platform
