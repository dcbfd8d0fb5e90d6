// Path rules of the scan driver: the directory part of a name, whether a
// name is an existing directory, and the listing of a directory's files.
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

// The names of the non-directory entries of `directory`, each the directory
// text joined with the entry's name, in the order the file system lists
// them; with `recursive`, each subdirectory's names stand where that
// subdirectory was met (depth first). Hidden files are listed. A link to a
// file is listed like the file; a link to a directory is neither listed nor
// entered, so link loops cannot make a listing endless. Subdirectories that
// cannot be read add nothing. The empty text lists the current directory.
// Raises TPathError, checking in this order:
//   longer than the platform allows: "The specified path is too long"
//   blanks only, or a NUL byte:       "Invalid characters in path"
//   not an existing directory:        "The specified path was not found"
std::vector<std::string> ListDirectoryFiles(const std::string& directory, bool recursive);

}  // namespace quarn
