// Run-time loading of shared libraries on POSIX (dlfcn) and the directory
// of the running executable (Linux /proc).
#include "util/platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace quarn::platform {

void* OpenDynamicLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* OpenLibraryBesideProgram(const std::string& fileName) {
  const std::string directory = ExecutableDirectory();
  if (directory.empty() || fileName.empty()) return nullptr;
  const char* separator = directory.back() == '/' ? "" : "/";
  return OpenDynamicLibrary(directory + separator + fileName);
}

void* FindDynamicLibraryEntry(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void CloseDynamicLibrary(void* library) {
  if (library != nullptr) ::dlclose(library);
}

uint32_t SetProcessErrorMode(uint32_t) { return 0; }

std::string ExecutableDirectory() {
  std::string path(PATH_MAX, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  // A full buffer may be a cut name; a cut name would lead elsewhere.
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace quarn::platform
