// An input file presented as one read-only block of memory, and the two
// small file functions that go with it.
//
// The scan reads `Memory`[0 .. `Size`-1] by plain address arithmetic and
// hands any stretch of it to zlib without copying; pages come in as the
// scan touches them. Names are used as given (relative ones against the
// current directory) and are byte strings, not necessarily UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "util/platform/memory_map.h"

namespace quarn {

// True when `path` names something that exists and is not a directory (a
// link is followed).
bool FileExistsLong(const std::string& path);

// The size in bytes of the file `path` names; 0 when its status cannot be
// read or it is not a regular file (a pipe's or a device's size is known
// only once it is opened).
int64_t GetFileSize64(const std::string& path);

// One input file mapped read-only as a whole. Names of any length work.
// Pipes, and files that report no size or do not map (/proc, /sys), are
// read to their end instead; a block device is mapped with the device's
// size. Construction either gives a fully usable object or raises
// TQuarnError naming the file:
//   no such name:                    File "x" does not exists.
//   a directory:                     File "x" is a folder, not a file.
//   exists but cannot be reached:    File "x" cannot be opened: <system reason>.
//   character device or socket:      File "x" is not a regular file.
//   reading or mapping failed:       File "x" cannot be read: <reason>. / cannot be mapped: <reason>.
// Invariant: Size() == 0 exactly when Memory() is null.
class TMappedFile {
 public:
  explicit TMappedFile(const std::string& aFilename);
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  const uint8_t* Memory() const { return FContent; }
  int64_t Size() const { return FSize; }
  const std::string& FileName() const { return FFileName; }

  // The scan is done with the bytes [fromBytes, toBytes): their pages may
  // leave memory (they are read again from the file if needed). Keeps the
  // memory of a long scan from growing with the file. Thread-safe.
  void ReleasePages(int64_t fromBytes, int64_t toBytes) const;

  // True when the file changed since it was mapped: it was cut short (the
  // lost pages read as zeros, so whatever was read from them is not the
  // file's content), or its size or modification time now differ from
  // those it had when it was mapped (it grew, or was written in place), or
  // its status can no longer be read. Read from the open file, so a file
  // renamed over the name meanwhile is no change. A pipe's copy or a file
  // read into memory cannot change: for those it is always false.
  bool ChangedWhileMapped() const;

 private:
  std::string FFileName;
  platform::TFileMapping FMapping;
  const uint8_t* FContent = nullptr;
  int64_t FSize = 0;
};

}  // namespace quarn
