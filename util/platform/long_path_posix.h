// Opening and status of names of any length on POSIX. The system refuses a
// whole name of PATH_MAX bytes or more; these functions then walk it a
// stretch of whole components at a time, each stretch opened relative to
// the directory the last one reached (openat), so that only one component
// longer than the file system allows can still fail, with ENAMETOOLONG.
// Links along the way are followed as the system itself would.
#pragma once

#include <sys/stat.h>

#include <string>

namespace quarn::platform {

// open(2) for any length: a descriptor, or -1 with errno set.
int OpenAnyLength(const std::string& path, int flags);

// stat(2) (links followed) or lstat(2) for any length: 0, or -1 with errno set.
int StatusAnyLength(const std::string& path, struct stat& st, bool followLinks);

}  // namespace quarn::platform
