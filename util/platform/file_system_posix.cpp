// File-system services on POSIX: stat, openat/fdopendir/readdir, getcwd,
// sched_getaffinity.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/platform/file_system.h"
#include "util/platform/long_path_posix.h"

namespace quarn::platform {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

TFileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// A type that cannot be read (DT_UNKNOWN) is taken for a file: scanning it
// then reports what it is.
TEntryKind KindOfType(unsigned char type) {
  switch (type) {
    case DT_DIR: return TEntryKind::Directory;
    case DT_BLK: return TEntryKind::BlockDevice;
    case DT_CHR:
    case DT_SOCK:
    case DT_FIFO: return TEntryKind::Special;
    default: return TEntryKind::File;
  }
}

}  // namespace

TFileStatus StatusOf(const std::string& path) {
  struct stat st {};
  TFileStatus status;
  if (path.empty()) {
    status.ErrorNumber = ENOENT;
    return status;
  }
  if (StatusAnyLength(path, st, true) != 0) {
    status.ErrorNumber = errno;
    return status;
  }
  if (S_ISDIR(st.st_mode)) {
    status.Kind = TFileKind::Directory;
  } else if (S_ISREG(st.st_mode)) {
    status.Kind = TFileKind::Regular;
    status.SizeBytes = static_cast<int64_t>(st.st_size);
  } else if (S_ISFIFO(st.st_mode)) {
    status.Kind = TFileKind::Pipe;
  } else if (S_ISBLK(st.st_mode)) {
    status.Kind = TFileKind::BlockDevice;
  } else {
    status.Kind = TFileKind::Unreadable;
  }
  return status;
}

bool FileIdentityOf(const std::string& path, TFileIdentity& identity) {
  struct stat st {};
  if (path.empty() || StatusAnyLength(path, st, true) != 0) return false;
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return false;
  identity = IdentityOf(st);
  return true;
}

bool IsNoSuchName(int errorNumber) { return errorNumber == ENOENT || errorNumber == ENOTDIR; }
bool IsNameTooLong(int errorNumber) { return errorNumber == ENAMETOOLONG; }

TDirectory::~TDirectory() { Close(); }

TDirectory::TDirectory(TDirectory&& other) noexcept : FHandle(other.FHandle), FIdentity(other.FIdentity) {
  other.FHandle = -1;
}

TDirectory& TDirectory::operator=(TDirectory&& other) noexcept {
  if (this != &other) {
    Close();
    FHandle = other.FHandle;
    FIdentity = other.FIdentity;
    other.FHandle = -1;
  }
  return *this;
}

void TDirectory::Close() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
  FHandle = -1;
}

TDirectory TDirectory::Open(const std::string& path, int& errorNumber) {
  const int fd = OpenAnyLength(path.empty() ? "." : path, kDirectoryFlags);
  if (fd < 0) {
    errorNumber = errno;
    return {};
  }
  return Adopt(fd, errorNumber);
}

TDirectory TDirectory::OpenChild(const std::string& name, int& errorNumber) const {
  const int fd = ::openat(static_cast<int>(FHandle), name.c_str(), kDirectoryFlags);
  if (fd < 0) {
    errorNumber = errno;
    return {};
  }
  return Adopt(fd, errorNumber);
}

TDirectory TDirectory::Adopt(intptr_t handle, int& errorNumber) {
  struct stat st {};
  if (::fstat(static_cast<int>(handle), &st) != 0) {
    errorNumber = errno;
    ::close(static_cast<int>(handle));
    return {};
  }
  TDirectory dir;
  dir.FHandle = handle;
  dir.FIdentity = IdentityOf(st);
  return dir;
}

bool TDirectory::ReadEntries(std::vector<TDirectoryEntry>& entries, int& errorNumber) const {
  // fdopendir takes over the descriptor it is given: give it a duplicate,
  // so that this object keeps its own for OpenChild. (Reopening "." would
  // need search permission, which listing the names does not.)
  const int copy = ::fcntl(static_cast<int>(FHandle), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    errorNumber = errno;
    return false;
  }
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    errorNumber = errno;
    ::close(copy);
    return false;
  }
  ::rewinddir(dir);  // the duplicate shares the position of any earlier reading
  const int parent = ::dirfd(dir);
  bool ok = true;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) {
        errorNumber = errno;
        ok = false;
      }
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    TDirectoryEntry item;
    item.Name = name;
    unsigned char type = entry->d_type;
    struct stat st {};
    if (type == DT_UNKNOWN && ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0) type = static_cast<unsigned char>(IFTODT(st.st_mode));
    if (type != DT_LNK) {
      item.Kind = KindOfType(type);
    } else if (::fstatat(parent, name, &st, 0) != 0) {
      item.Kind = TEntryKind::Unresolved;
    } else {
      item.Kind = KindOfType(static_cast<unsigned char>(IFTODT(st.st_mode)));
      if (item.Kind == TEntryKind::Directory) item.Kind = TEntryKind::LinkToDirectory;
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return ok;
}

std::string StandardInputName() { return "/dev/stdin"; }

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

int ProcessorCount() {
  // The processors this process may run on (taskset, cgroups), not all online ones.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

std::string SystemErrorText(int errorNumber) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in `buffer`.
  return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

}  // namespace quarn::platform
