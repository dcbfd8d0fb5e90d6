// Temporary files on Linux: mkstemp and fchmod to make them, write and
// fsync to fill them, renameat2 with RENAME_NOREPLACE to put them in place
// without ever replacing a file that appeared meanwhile.
#include "util/platform/temporary_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quarn::platform {

TTemporaryFile::~TTemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !moved_) ::unlink(path_.c_str());
}

int TTemporaryFile::Create(const std::string& directory) {
  std::string path = directory + "/.quarn-extract-XXXXXX";
  fd_ = ::mkstemp(path.data());
  if (fd_ < 0) return errno;
  path_ = std::move(path);
  ::fchmod(fd_, 0644);  // mkstemp makes it 0600
  return 0;
}

int TTemporaryFile::Write(const uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t done = ::write(fd_, data, bytes);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    bytes -= static_cast<std::size_t>(done);
  }
  return 0;
}

int TTemporaryFile::MoveTo(const std::string& finalPath, bool replace) {
  const int fd = fd_;
  fd_ = -1;
  if (::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  if (::close(fd) != 0) return errno;
  const unsigned flags = replace ? 0u : static_cast<unsigned>(RENAME_NOREPLACE);
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath.c_str(), flags) != 0) return errno;
  moved_ = true;
  return 0;
}

}  // namespace quarn::platform
