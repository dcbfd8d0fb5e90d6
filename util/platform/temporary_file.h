// Files the program writes: each is made under a fresh temporary name in
// its target directory, written, flushed to the disk and only then renamed
// to its final name, so that no reader ever sees half a file and a failed
// write leaves nothing behind. Results are 0 or the system's error number
// (SystemErrorText gives its text). One implementation per platform:
// temporary_file_posix.cpp here (mkstemp, write, fsync, renameat2).
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

  // Makes a new, empty file with a fresh name in `directory`, readable by
  // everyone and writable by its owner (0644), open for writing.
  int Create(const std::string& directory);
  // Writes all of `data`, `bytes` long, after what was written before.
  int Write(const uint8_t* data, std::size_t bytes);
  // Flushes the file to the disk, closes it and renames it to `finalPath`.
  // Without `replace` an existing `finalPath` is kept and the result is
  // EEXIST. After a failure the file is closed and removed by the
  // destructor.
  int MoveTo(const std::string& finalPath, bool replace);

 private:
  std::string path_;
  int fd_ = -1;
  bool moved_ = false;
};

}  // namespace quarn::platform
