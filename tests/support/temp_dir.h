// A fresh directory under the system's temporary directory, removed with
// everything in it when the test ends; and small file helpers.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quarn::test {

class TTempDir {
 public:
#ifdef _WIN32
  TTempDir() : TTempDir(std::filesystem::temp_directory_path().generic_string()) {}
  // Under `base` instead of the temporary directory. Named by process, time
  // and a counter; CreateDirectoryW never reuses a name.
  explicit TTempDir(const std::string& base) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          std::filesystem::u8path(base) / ("quarn-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                           std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
      if (CreateDirectoryW(candidate.wstring().c_str(), nullptr)) path_ = candidate.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary directory");
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(path_), ignored);
  }
#else
  TTempDir() : TTempDir(std::filesystem::temp_directory_path().string()) {}
  // Under `base` instead of the temporary directory.
  explicit TTempDir(const std::string& base) {
    std::string pattern = base + "/quarn-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    // Give back permissions a test took away, so that everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(path_, ignored);
  }
#endif
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A directory in memory (tmpfs) when the system has one, for fixtures of
// many small directories that a disk makes slow to build.
inline std::string MemoryBackedTempBase() {
#ifdef _WIN32
  return std::filesystem::temp_directory_path().generic_string();
#else
  std::error_code ignored;
  if (::access("/dev/shm", W_OK) == 0 && std::filesystem::is_directory("/dev/shm", ignored)) return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
#endif
}

// Names are UTF-8 (on Windows too, where the stream needs a path object).
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
#ifdef _WIN32
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
#else
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
#endif
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace quarn::test
