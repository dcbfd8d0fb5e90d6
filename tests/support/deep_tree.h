// A chain of nested directories deeper than the system's path limit, built
// and removed through directory descriptors (the standard library's file
// functions cannot reach its lower levels), with a small file at chosen
// levels. On Windows, whose limit for full names in their long-path form
// ("\\?\") is 32,767 characters, the chain is built and removed by such
// names: deep enough to pass the classic 260 and Linux's 4,096.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn::test {

// The platform's limit on a whole name that the tests of deep trees pass:
// Linux's PATH_MAX (4,096 bytes), Windows' classic MAX_PATH (260). Under
// wine a name also becomes a Linux name, so deeper than PATH_MAX it cannot
// go there; 300 levels pass MAX_PATH twice over and stay well below that.
// kFileLevelsAcrossThePathLimit: the levels of such a chain that hold a
// file in the listing tests, from the first down to the deepest.
#ifdef _WIN32
inline constexpr std::size_t kPathLimitBytes = 260;
inline constexpr int kLevelsPastThePathLimit = 300;
inline const std::set<int> kFileLevelsAcrossThePathLimit = {1, 100, 200, 299, 300};
#else
inline constexpr std::size_t kPathLimitBytes = 4096;
inline constexpr int kLevelsPastThePathLimit = 2100;
inline const std::set<int> kFileLevelsAcrossThePathLimit = {1, 700, 1400, 2047, 2048, 2100};
#endif

#ifdef _WIN32
class TDeepTree {
 public:
  TDeepTree(std::string root, int levels, const std::set<int>& fileLevels, const std::vector<uint8_t>& content)
      : root_(std::move(root)) {
    std::wstring wide = LongForm(root_);
    std::string path = root_;
    for (int level = 1; level <= levels; ++level) {
      wide += L"\\d";
      path += "/d";
      if (!CreateDirectoryW(wide.c_str(), nullptr)) throw std::runtime_error("CreateDirectoryW failed");
      ++levels_;
      if (fileLevels.count(level) != 0) {
        const HANDLE file = CreateFileW((wide + L"\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        // Win32's WriteFile, named from the top: temp_dir.h's test::WriteFile would hide it.
        const BOOL ok = file != INVALID_HANDLE_VALUE &&
                        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok || written != content.size()) throw std::runtime_error("cannot write a file of the deep tree");
        files_.push_back(path + "/f");
      }
    }
  }

  // Bottom up, each level by its long-path name.
  ~TDeepTree() {
    std::wstring wide = LongForm(root_);
    for (int level = 0; level < levels_; ++level) wide += L"\\d";
    for (int level = levels_; level > 0; --level) {
      DeleteFileW((wide + L"\\f").c_str());
      RemoveDirectoryW(wide.c_str());
      wide.resize(wide.size() - 2);
    }
  }
  TDeepTree(const TDeepTree&) = delete;
  TDeepTree& operator=(const TDeepTree&) = delete;

  const std::vector<std::string>& Files() const { return files_; }

 private:
  static std::wstring LongForm(const std::string& path) {
    std::wstring wide = std::filesystem::absolute(std::filesystem::u8path(path)).wstring();
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    return L"\\\\?\\" + wide;
  }

  std::string root_;
  int levels_ = 0;
  std::vector<std::string> files_;
};
#else
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
#endif

}  // namespace quarn::test
