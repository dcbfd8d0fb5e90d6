// Directory listing for the scan driver, over the platform layer.
#include "engine/directory_listing.h"

#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {
namespace {

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

void ValidateDirectory(const std::string& directory) {
  std::string absolute = directory;
  if (directory.empty() || directory.front() != '/') {
    absolute = JoinPath(platform::CurrentDirectory(), directory);
  }
  if (absolute.size() >= platform::MaxPathBytes()) {
    throw TPathError("The specified path is too long");
  }
  const bool blanksOnly = !directory.empty() && directory.find_first_not_of(' ') == std::string::npos;
  if (blanksOnly || directory.find('\0') != std::string::npos) {
    throw TPathError("Invalid characters in path");
  }
  if (!IsExistingDirectory(directory.empty() ? "." : directory)) {
    throw TPathError("The specified path was not found");
  }
}

void AppendDirectoryFiles(const std::string& directory, bool recursive, std::vector<std::string>& out) {
  platform::EnumerateDirectory(directory, [&](const platform::TDirectoryEntry& entry) {
    const std::string joined = JoinPath(directory, entry.Name);
    if (entry.IsDirectory) {
      if (recursive) AppendDirectoryFiles(joined, recursive, out);
    } else if (!entry.IsLinkToDirectory) {
      out.push_back(joined);
    }
  });
}

}  // namespace

std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0 || path[slash - 1] == '/') return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

bool IsExistingDirectory(const std::string& path) {
  return platform::StatusOf(path).Kind == platform::TFileKind::Directory;
}

std::vector<std::string> ListDirectoryFiles(const std::string& directory, bool recursive) {
  ValidateDirectory(directory);
  std::vector<std::string> files;
  AppendDirectoryFiles(directory, recursive, files);
  return files;
}

}  // namespace quarn
