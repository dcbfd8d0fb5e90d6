// Temporary files on Linux: open(O_TMPFILE) makes a file with no name, and
// linkat through /proc/self/fd (which, unlike AT_EMPTY_PATH, needs no
// privilege) names it once it is whole; a process killed before that
// leaves nothing. To replace a name, the file is linked under a fresh
// hidden name and renamed over the old one. Where O_TMPFILE is missing
// (some file systems), mkstemp makes a hidden name that renameat2 moves
// into place, RENAME_NOREPLACE unless replacing. A scratch file is made
// the same way and never named (a mkstemp name is removed at once).
#include "util/platform/temporary_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quarn::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Links the unnamed file `fd` under a fresh hidden name in `directory`.
int LinkUnderHiddenName(int fd, const std::string& directory, std::string& hidden) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0;; ++attempt) {
    // mkstemp finds a free name; the empty file it makes is replaced by the link.
    std::string name = directory + "/.quarn-extract-XXXXXX";
    const int placeholder = ::mkstemp(name.data());
    if (placeholder < 0) return errno;
    ::close(placeholder);
    ::unlink(name.c_str());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      hidden = std::move(name);
      return 0;
    }
    if (errno != EEXIST || attempt == 100) return errno;
  }
}

}  // namespace

TTemporaryFile::~TTemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !moved_) ::unlink(path_.c_str());
}

int TTemporaryFile::Create(const std::string& directory) {
  fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd_ >= 0) {
    ::fchmod(fd_, 0644);  // whatever the umask left, as the named files get
    return 0;
  }
  // EISDIR or EOPNOTSUPP: the kernel or this file system has no unnamed files.
  if (errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL) return errno;
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
  if (path_.empty() && replace) {
    // Named first under a hidden name, so that the rename replaces in one step.
    const int error = LinkUnderHiddenName(fd, DirectoryOf(finalPath), path_);
    ::close(fd);
    if (error != 0) return error;
  } else if (path_.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int error = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, finalPath.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    ::close(fd);
    if (error == 0) moved_ = true;
    return error;
  } else if (::close(fd) != 0) {
    return errno;
  }
  const unsigned flags = replace ? 0u : static_cast<unsigned>(RENAME_NOREPLACE);
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath.c_str(), flags) != 0) return errno;
  moved_ = true;
  return 0;
}

TScratchFile::~TScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

int TScratchFile::Open() {
  if (fd_ >= 0) return 0;
  fd_ = OpenScratchFile();
  return fd_ >= 0 ? 0 : errno;
}

int TScratchFile::Append(const uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t written = ::write(fd_, data, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return 0;
}

int TScratchFile::Empty() {
  if (::ftruncate(fd_, 0) != 0) return errno;
  return ::lseek(fd_, 0, SEEK_SET) == 0 ? 0 : errno;
}

int OpenScratchFile() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  const std::string directory =
      fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "/tmp";
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL)) return fd;
  std::string path = directory + "/.quarn-scratch-XXXXXX";
  const int named = ::mkostemp(path.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(path.c_str());
  return named;
}

}  // namespace quarn::platform
