// File-system services of the platform layer: status of a name, directory
// enumeration, the current directory and the processor count. Names are
// byte strings as the file system gives them (on Linux not always UTF-8).
// One implementation per platform: file_system_posix.cpp here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quarn::platform {

enum class TFileKind {
  Missing,    // no such name, or its status cannot be read
  Regular,
  Directory,
  Special,    // FIFO, socket or device: never opened for reading
};

struct TFileStatus {
  TFileKind Kind = TFileKind::Missing;
  int64_t SizeBytes = 0;
};

// Status of what `path` leads to, following symbolic links.
TFileStatus StatusOf(const std::string& path);

// One entry of a directory, as enumeration meets it.
struct TDirectoryEntry {
  std::string Name;         // the entry's own name, no directory part
  bool IsDirectory = false;  // a real directory, not a link to one
  bool IsLinkToDirectory = false;
};

// Calls `visit` for each entry of `directory` except "." and "..", in the
// order the platform enumerates them. False when the directory cannot be
// opened (missing, not a directory, no access): then nothing is visited.
bool EnumerateDirectory(const std::string& directory,
                        const std::function<void(const TDirectoryEntry&)>& visit);

// The process's current directory; empty when it cannot be read.
std::string CurrentDirectory();

// The longest path the platform accepts, in bytes.
std::size_t MaxPathBytes();

// Logical processors available to the process (at least 1).
int ProcessorCount();

// The text of a system error number, e.g. "Permission denied".
std::string SystemErrorText(int errorNumber);

}  // namespace quarn::platform
