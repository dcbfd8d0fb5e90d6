// Shared libraries loaded at run time, and the directory of the running
// executable, where the program looks for an external inflate engine. Thin
// wrappers: no search of their own, no state. One implementation per
// platform: dynamic_library_posix.cpp here (dlopen, dlsym, dlclose).
#pragma once

#include <string>

namespace quarn::platform {

// Loads the library at `path` with every symbol resolved now and none made
// visible to later loads (RTLD_NOW | RTLD_LOCAL). Null when it does not load
// (missing, unreadable, not a library, built for another processor, an
// unresolved symbol).
void* OpenDynamicLibrary(const std::string& path);

// The address of the exported symbol `name`; null when the library does not
// export it.
void* FindDynamicLibraryEntry(void* library, const char* name);

// Gives back one reference of `library` (from OpenDynamicLibrary).
void CloseDynamicLibrary(void* library);

// The directory that holds the running executable, from /proc/self/exe,
// without a trailing slash ("/" for the root); empty when it cannot be read.
std::string ExecutableDirectory();

}  // namespace quarn::platform
