// File-system services of the platform layer: status of a name, open
// directories and their entries, the current directory and the processor
// count. Names are byte strings as the file system gives them (on Linux not
// always UTF-8). Every name may be longer than the platform's path limit:
// such names are resolved a part at a time, relative to open directories,
// so that only a single over-long component can fail (with the system's
// own "name too long" reason). One implementation per platform:
// file_system_posix.cpp, and file_system_win32.cpp, where names are UTF-8,
// reach the system as UTF-16 full names behind "\\?\" (up to 32,767
// characters) and error numbers are errno values translated from Win32's.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

namespace quarn::platform {

enum class TFileKind {
  Missing,      // the name leads nowhere, or its status cannot be read (see ErrorNumber)
  Regular,
  Directory,
  Pipe,         // FIFO: read to its end, never mapped
  BlockDevice,  // a disk or partition: mapped with the device's own size
  Unreadable,   // character device or socket: never opened
};

struct TFileStatus {
  TFileKind Kind = TFileKind::Missing;
  int64_t SizeBytes = 0;  // regular files only; 0 otherwise
  int ErrorNumber = 0;    // for Missing: the system's reason (no such name, no access, too long)
};

// Status of what `path` leads to, following symbolic links.
TFileStatus StatusOf(const std::string& path);

// True when `errorNumber` says that a name does not exist (as opposed to
// existing but being out of reach).
bool IsNoSuchName(int errorNumber);
// True when `errorNumber` says that a name or one of its parts is too long.
bool IsNameTooLong(int errorNumber);

// Which file or directory a name leads to: equal identities are the same
// one, whatever names lead there (device and inode on POSIX, volume serial
// number and file index on Windows). A walk tells by it when it comes back
// to where it has been, and a file list when it names a file twice.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Node = 0;
  bool operator==(const TFileIdentity&) const = default;
  auto operator<=>(const TFileIdentity&) const = default;
};

// The identity of what `path` leads to (links followed), for a regular file
// or a block device: true, with `identity` set. False for anything else (a
// directory, a pipe, a character device or socket, a name whose status
// cannot be read or that no file can have), which is then taken for no
// other name's file.
bool FileIdentityOf(const std::string& path, TFileIdentity& identity);

// One entry of a directory, as enumeration meets it, with what it leads to
// (links followed).
enum class TEntryKind {
  File,             // a regular file, or a link to one
  Directory,        // a real directory
  LinkToDirectory,  // a symbolic link that leads to a directory
  BlockDevice,
  Special,          // character device, socket or pipe
  Unresolved,       // a link that leads nowhere, or whose target cannot be read
};

struct TDirectoryEntry {
  std::string Name;  // the entry's own name, no directory part
  TEntryKind Kind = TEntryKind::File;
};

// An open directory. Opening children through it works at any depth.
class TDirectory {
 public:
  TDirectory() = default;
  ~TDirectory();
  TDirectory(TDirectory&& other) noexcept;
  TDirectory& operator=(TDirectory&& other) noexcept;
  TDirectory(const TDirectory&) = delete;
  TDirectory& operator=(const TDirectory&) = delete;

  // Opens the directory `path` (links followed; "" is the current
  // directory). On failure returns a closed object and sets `errorNumber`.
  static TDirectory Open(const std::string& path, int& errorNumber);
  // Opens the directory `name` inside this one, the same way.
  TDirectory OpenChild(const std::string& name, int& errorNumber) const;

  bool IsOpen() const { return FHandle >= 0; }
  TFileIdentity Identity() const { return FIdentity; }

  // Every entry except "." and "..", in the order the platform enumerates
  // them. False, with `errorNumber`, when the enumeration failed part way.
  bool ReadEntries(std::vector<TDirectoryEntry>& entries, int& errorNumber) const;

  void Close();

 private:
  // Takes over an open handle; closes it and gives a closed object when
  // the handle's identity cannot be read.
  static TDirectory Adopt(intptr_t handle, int& errorNumber);

  intptr_t FHandle = -1;
  TFileIdentity FIdentity;
#ifdef _WIN32
  // The directory's full name in its long-path form, as UTF-8: Windows
  // lists a directory and opens its children by name.
  std::string FLongName;
#endif
};

// The name under which standard input can be opened like a file.
std::string StandardInputName();

// The process's current directory; empty when it cannot be read.
std::string CurrentDirectory();

// Logical processors available to the process (at least 1).
int ProcessorCount();

// The text of a system error number, e.g. "Permission denied".
std::string SystemErrorText(int errorNumber);

}  // namespace quarn::platform
