// Directory listing for the scan driver, over the platform layer.
//
// The walk keeps one frame per directory on the way down: its name, its
// identity (for loop detection) and its entries, read whole when the
// directory is entered. Subdirectories are opened relative to their
// parent's open handle, so no joined name is ever handed to the system.
// Not every frame keeps its handle open, or a deep tree would use up the
// process's descriptors: a frame closes its handle when the walk goes
// below it, unless it is an anchor (every kAnchorEvery-th level); coming
// back, the handle is opened again from the nearest anchor, name by name,
// and must lead to the same directory as before.
#include "engine/directory_listing.h"

#include <algorithm>
#include <map>

#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {
namespace {

constexpr std::size_t kAnchorEvery = 32;

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

// A path in double quotes; a NUL byte in it is written as \0.
std::string Quoted(const std::string& path) {
  std::string quoted = "\"";
  for (const char c : path) quoted += c == '\0' ? std::string("\\0") : std::string(1, c);
  return quoted + "\"";
}

[[noreturn]] void RaiseCannotList(const std::string& path, int errorNumber) {
  throw TPathError("Folder " + Quoted(path) + " cannot be listed: " + platform::SystemErrorText(errorNumber));
}

struct TFrame {
  std::string Path;  // the joined name, as listed
  std::string Name;  // the name inside the parent frame
  platform::TDirectory Handle;
  platform::TFileIdentity Identity;
  std::vector<platform::TDirectoryEntry> Entries;
  std::size_t Next = 0;
};

class TWalker {
 public:
  TWalker(bool recursive, std::vector<std::string>& out, TListingNotes* notes)
      : recursive_(recursive), out_(out), notes_(notes) {}

  void Run(const std::string& directory) {
    int error = 0;
    platform::TDirectory top = platform::TDirectory::Open(directory, error);
    if (!top.IsOpen()) {
      if (platform::IsNoSuchName(error)) throw TPathError("The specified path was not found: " + Quoted(directory));
      if (platform::IsNameTooLong(error)) throw TPathError("The specified path is too long: " + Quoted(directory));
      RaiseCannotList(directory, error);
    }
    Enter(directory, "", std::move(top));
    while (!frames_.empty()) {
      TFrame& frame = frames_.back();
      if (frame.Next == frame.Entries.size()) {
        frames_.pop_back();
        continue;
      }
      // Copies: descending adds a frame, which may move the entries.
      const platform::TDirectoryEntry entry = frame.Entries[frame.Next++];
      const std::string joined = JoinPath(frame.Path, entry.Name);
      switch (entry.Kind) {
        case platform::TEntryKind::Directory:
        case platform::TEntryKind::LinkToDirectory:
          if (recursive_) Descend(joined, entry.Name);
          break;
        case platform::TEntryKind::Special:
          if (notes_ != nullptr) notes_->SpecialsSkipped.push_back(joined);
          break;
        default:
          out_.push_back(joined);
          break;
      }
    }
  }

 private:
  void Enter(const std::string& path, const std::string& name, platform::TDirectory handle) {
    TFrame frame;
    frame.Path = path;
    frame.Name = name;
    frame.Identity = handle.Identity();
    int error = 0;
    if (!handle.ReadEntries(frame.Entries, error)) RaiseCannotList(path, error);
    frame.Handle = std::move(handle);
    // The parent's handle is not needed until the walk comes back to it.
    if (!frames_.empty() && (frames_.size() - 1) % kAnchorEvery != 0) frames_.back().Handle.Close();
    frames_.push_back(std::move(frame));
  }

  void Descend(const std::string& joined, const std::string& name) {
    const platform::TDirectory& parent = ParentHandle();
    int error = 0;
    platform::TDirectory child = parent.OpenChild(name, error);
    if (!child.IsOpen()) RaiseCannotList(joined, error);
    const platform::TFileIdentity identity = child.Identity();
    const bool loop = std::any_of(frames_.begin(), frames_.end(),
                                  [&](const TFrame& f) { return f.Identity == identity; });
    if (loop) {
      if (notes_ != nullptr) notes_->LoopsSkipped.push_back(joined);
      return;
    }
    Enter(joined, name, std::move(child));
  }

  // The open handle of the innermost frame, reopened from the nearest
  // frame above it that kept its own.
  const platform::TDirectory& ParentHandle() {
    std::size_t open = frames_.size() - 1;
    while (!frames_[open].Handle.IsOpen()) --open;  // the first frame is an anchor
    for (std::size_t k = open + 1; k < frames_.size(); ++k) {
      int error = 0;
      platform::TDirectory again = frames_[k - 1].Handle.OpenChild(frames_[k].Name, error);
      if (!again.IsOpen()) RaiseCannotList(frames_[k].Path, error);
      if (!(again.Identity() == frames_[k].Identity)) {
        throw TPathError("Folder " + Quoted(frames_[k].Path) + " changed while it was being listed");
      }
      frames_[k].Handle = std::move(again);
      if ((k - 1) % kAnchorEvery != 0) frames_[k - 1].Handle.Close();
    }
    return frames_.back().Handle;
  }

  const bool recursive_;
  std::vector<std::string>& out_;
  TListingNotes* notes_;
  std::vector<TFrame> frames_;
};

void ValidateDirectoryText(const std::string& directory) {
  const bool blanksOnly = !directory.empty() && directory.find_first_not_of(' ') == std::string::npos;
  if (blanksOnly || directory.find('\0') != std::string::npos) {
    throw TPathError("Invalid characters in path: " + Quoted(directory));
  }
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

std::vector<std::string> ListDirectoryFiles(const std::string& directory, bool recursive, TListingNotes* notes) {
  ValidateDirectoryText(directory);
  std::vector<std::string> files;
  TWalker(recursive, files, notes).Run(directory);
  return files;
}

void LeaveOutSameFiles(std::vector<std::string>& files, TListingNotes* notes) {
  const std::string standardInput = platform::StandardInputName();
  std::map<platform::TFileIdentity, std::size_t> firstIndex;  // into `files`, of a name that stays
  std::size_t kept = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    platform::TFileIdentity identity;
    if (files[k] != standardInput && platform::FileIdentityOf(files[k], identity)) {
      const auto [first, isNew] = firstIndex.try_emplace(identity, kept);
      if (!isNew) {
        if (notes != nullptr) notes->SameFiles.push_back({std::move(files[k]), files[first->second]});
        continue;
      }
    }
    if (kept != k) files[kept] = std::move(files[k]);
    ++kept;
  }
  files.resize(kept);
}

}  // namespace quarn
