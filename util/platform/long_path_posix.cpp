// Names longer than PATH_MAX, resolved relative to open directories.
#include "util/platform/long_path_posix.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace quarn::platform {
namespace {

#ifdef O_PATH
constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs only search permission
#else
constexpr int kWalkFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Stretches of the walk stay well below the system's limit.
constexpr std::size_t kStretchBytes = PATH_MAX / 2;

// Opens the directory that holds the last component of `path` and leaves
// that component in `last`. Returns the directory's descriptor (AT_FDCWD
// for a name without a directory part) or -1 with errno set.
int OpenParent(const std::string& path, std::string& last) {
  std::size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;  // "a/b/" names b
  const std::size_t slash = path.rfind('/', end - 1);
  if (slash == std::string::npos) {
    last.assign(path.data(), end);
    return AT_FDCWD;
  }
  if (slash + 1 == end) {
    last = "/";  // the root itself
  } else {
    last.assign(path.data() + slash + 1, end - slash - 1);
  }

  int dir = AT_FDCWD;
  std::size_t from = 0;
  if (path[0] == '/') {
    dir = ::open("/", kWalkFlags);
    if (dir < 0) return -1;
    from = 1;
  }
  while (from < slash) {
    // The longest run of whole components from `from` that fits a stretch.
    std::size_t to = slash;
    if (to - from > kStretchBytes) {
      to = path.rfind('/', from + kStretchBytes);
      if (to == std::string::npos || to <= from) to = path.find('/', from);  // one over-long component
    }
    const std::string stretch(path.data() + from, to - from);
    const int next = ::openat(dir, stretch.c_str(), kWalkFlags);
    const int saved = errno;
    if (dir != AT_FDCWD) ::close(dir);
    if (next < 0) {
      errno = saved;
      return -1;
    }
    dir = next;
    from = to + 1;
  }
  return dir;
}

}  // namespace

int OpenAnyLength(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  std::string last;
  const int dir = OpenParent(path, last);
  if (dir < 0) return -1;
  const int opened = last == "/" ? ::open("/", flags) : ::openat(dir, last.c_str(), flags);
  const int saved = errno;
  if (dir != AT_FDCWD) ::close(dir);
  errno = saved;
  return opened;
}

int StatusAnyLength(const std::string& path, struct stat& st, bool followLinks) {
  const int done = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (done == 0 || errno != ENAMETOOLONG) return done;
  std::string last;
  const int dir = OpenParent(path, last);
  if (dir < 0) return -1;
  const int result = ::fstatat(dir, last == "/" ? "/" : last.c_str(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
  const int saved = errno;
  if (dir != AT_FDCWD) ::close(dir);
  errno = saved;
  return result;
}

}  // namespace quarn::platform
