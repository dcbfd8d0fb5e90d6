// Path rules of the scan driver: the directory part of a name, whether a
// name is an existing directory, the listing of a directory's files, and
// the rule that a file list names each file once.
#pragma once

#include <string>
#include <vector>

namespace quarn {

// The text up to its last '/', without that '/' unless it is the first
// character or follows another '/': "/data/a.bin" gives "/data", "/a.bin"
// gives "/", "a.bin" gives "" (the current directory).
std::string DirectoryPart(const std::string& path);

// True when `path` leads to an existing directory (links followed).
bool IsExistingDirectory(const std::string& path);

// A name left out of a file list because an earlier name of the list
// leads to the same file (through a symbolic link, a hard link or another
// spelling of the name).
struct TSameFile {
  std::string Name;       // the name left out
  std::string FirstName;  // the earlier name, which stays in the list
};

// What a listing left out, for the caller to tell the user.
struct TListingNotes {
  // Folders not entered because they lead back to a folder above them on
  // the way down (a link loop); each as a joined name.
  std::vector<std::string> LoopsSkipped;
  // Character devices, sockets and pipes: not files with content at rest
  // (a pipe read from a listing could wait forever).
  std::vector<std::string> SpecialsSkipped;
  // Names of files that the list already held under another name, in the
  // order of the list.
  std::vector<TSameFile> SameFiles;
};

// The names of the file entries of `directory`, each the directory text
// joined with the entry's name, in the order the file system lists them;
// with `recursive`, each subdirectory's names stand where that
// subdirectory was met (depth first). Hidden files, links to files,
// dangling links (their scan says what is wrong) and block devices are
// listed. Links to directories are entered like directories; a directory
// that is already on the way down from `directory` is not entered again
// (loops), and is put in `notes`. Depth and the length of the joined names
// set no limit: directories are opened relative to their parents. The empty
// text lists the current directory.
// Raises TPathError, naming the path:
//   blanks only, or a NUL byte:     Invalid characters in path: "x"
//   no such directory:              The specified path was not found: "x"
//   a part of the name too long:    The specified path is too long: "x"
//   a directory (the given one or one met on the way down) that cannot be
//   opened or read:                 Folder "x" cannot be listed: <system reason>
std::vector<std::string> ListDirectoryFiles(const std::string& directory, bool recursive,
                                            TListingNotes* notes = nullptr);

// Leaves out of `files` every name that leads to the same file as an
// earlier name of `files` (links followed; by device and inode, or by
// volume and file ID on Windows), so that each file is scanned and counted
// once; the rest keep their order, and each name left out goes to
// `notes`, when given, with the name it repeats. Only regular files and
// block devices are compared: a name whose status cannot be read (its
// run reports why), a pipe, and standard input's name always stay.
void LeaveOutSameFiles(std::vector<std::string>& files, TListingNotes* notes = nullptr);

}  // namespace quarn
