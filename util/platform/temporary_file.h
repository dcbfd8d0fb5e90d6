// Files the program writes: each is made without a name in its target
// directory, written, flushed to the disk and only then linked under its
// final name, so that no reader ever sees half a file and a failed or
// interrupted write leaves nothing behind, even when the process is killed.
// Where the file system cannot make unnamed files, a hidden temporary name
// stands in, removed again unless the file was moved into place. Results
// are 0 or the system's error number (SystemErrorText gives its text).
// Scratch files, which the program only reads back, are never named at
// all. One implementation per platform: temporary_file_posix.cpp (O_TMPFILE,
// linkat, renameat2) and temporary_file_win32.cpp (a stand-in name always,
// CreateFileW, WriteFile, FlushFileBuffers, MoveFileExW).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn::platform {

class TTemporaryFile {
 public:
  TTemporaryFile() = default;
  // Closes the file, and removes it unless MoveTo put it in place.
  ~TTemporaryFile();
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  // Makes a new, empty file in `directory`, readable by everyone and
  // writable by its owner (0644), open for writing.
  int Create(const std::string& directory);
  // Writes all of `data`, `bytes` long, after what was written before.
  int Write(const uint8_t* data, std::size_t bytes);
  // Flushes the file to the disk, closes it and gives it the name
  // `finalPath` (in the directory it was made in). Without `replace` an
  // existing `finalPath` is kept and the result is EEXIST; with it, the old
  // file is replaced in one step, never missing. After a failure the file
  // is gone.
  int MoveTo(const std::string& finalPath, bool replace);

 private:
  std::string path_;  // the stand-in name, when the file has one
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE of the open file
#else
  int fd_ = -1;
#endif
  bool moved_ = false;
};

// Makes an unnamed file for the program's own use in $TMPDIR (in /tmp when
// that is unset or empty), open for reading and writing, private to the
// user and gone once closed. Returns its descriptor, or -1 with errno set.
// On Windows the file lies in the folder GetTempPathW gives (%TMP%), under
// a name of its own that no other program may open, and is deleted when
// it is closed; the descriptor is the C library's, over its handle.
int OpenScratchFile();

// A scratch file (OpenScratchFile) that is written from its start, emptied
// and written again, for bytes kept on disk rather than in memory. Results
// are 0 or the system's error number.
class TScratchFile {
 public:
  TScratchFile() = default;
  ~TScratchFile();  // closes it, and it is gone
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  // Makes the file, when it is not made yet.
  int Open();
  // Writes all of `data`, `bytes` long, after what was written before.
  int Append(const uint8_t* data, std::size_t bytes);
  // Empties the file; the next Append writes at its start.
  int Empty();
  // The open file's descriptor (the C library's on Windows), -1 before Open.
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace quarn::platform
