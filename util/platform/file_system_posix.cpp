// File-system services on POSIX: stat, opendir/readdir, getcwd, sysconf.
#include <dirent.h>
#include <limits.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "util/platform/file_system.h"

namespace quarn::platform {

TFileStatus StatusOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  TFileStatus status;
  if (S_ISDIR(st.st_mode)) {
    status.Kind = TFileKind::Directory;
  } else if (S_ISREG(st.st_mode)) {
    status.Kind = TFileKind::Regular;
    status.SizeBytes = static_cast<int64_t>(st.st_size);
  } else {
    status.Kind = TFileKind::Special;
  }
  return status;
}

bool EnumerateDirectory(const std::string& directory,
                        const std::function<void(const TDirectoryEntry&)>& visit) {
  const std::string opened = directory.empty() ? "." : directory;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(opened.c_str()), ::closedir);
  if (!dir) return false;
  const std::string prefix = opened.back() == '/' ? opened : opened + "/";
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    TDirectoryEntry item;
    item.Name = name;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::lstat((prefix + name).c_str(), &st) == 0) {
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
      }
    }
    item.IsDirectory = type == DT_DIR;
    if (type == DT_LNK) item.IsLinkToDirectory = StatusOf(prefix + name).Kind == TFileKind::Directory;
    visit(item);
  }
  return true;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::size_t MaxPathBytes() { return PATH_MAX; }

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
