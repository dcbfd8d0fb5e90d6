// A chain of nested directories deeper than the system's path limit, built
// and removed through directory descriptors (the standard library's file
// functions cannot reach its lower levels), with a small file at chosen
// levels.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn::test {

class TDeepTree {
 public:
  // Under the directory `root`: `root`/d/d/.../d, `levels` deep; at each
  // level in `fileLevels` (1 is directly in the first d) a file "f" holding
  // `content`.
  TDeepTree(std::string root, int levels, const std::set<int>& fileLevels, const std::vector<uint8_t>& content)
      : root_(std::move(root)) {
    int dir = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string path = root_;
    for (int level = 1; level <= levels; ++level) {
      if (dir < 0 || ::mkdirat(dir, "d", 0755) != 0) throw std::runtime_error("mkdirat failed");
      const int next = ::openat(dir, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(dir);
      dir = next;
      path += "/d";
      if (fileLevels.count(level) != 0) {
        const int fd = ::openat(dir, "f", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
          throw std::runtime_error("cannot write a file of the deep tree");
        }
        ::close(fd);
        files_.push_back(path + "/f");
      }
    }
    if (dir >= 0) ::close(dir);
  }

  // Takes the chain apart from the top: each level's "d" is moved up under
  // the root before the level itself is removed, so no step needs a long name.
  ~TDeepTree() {
    const int rootFd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return;
    std::string top = "d";
    for (int n = 0;; ++n) {
      const int topFd = ::openat(rootFd, top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (topFd < 0) break;
      const std::string moved = "deep-tree-" + std::to_string(n);
      const bool hasChild = ::renameat(topFd, "d", rootFd, moved.c_str()) == 0;
      ::unlinkat(topFd, "f", 0);
      ::close(topFd);
      ::unlinkat(rootFd, top.c_str(), AT_REMOVEDIR);
      if (!hasChild) break;
      top = moved;
    }
    ::close(rootFd);
  }
  TDeepTree(const TDeepTree&) = delete;
  TDeepTree& operator=(const TDeepTree&) = delete;

  // The files, each by its whole (long) name, from the top down.
  const std::vector<std::string>& Files() const { return files_; }

 private:
  std::string root_;
  std::vector<std::string> files_;
};

}  // namespace quarn::test
