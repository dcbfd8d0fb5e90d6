// Shared libraries loaded at run time, and the directory of the running
// executable, where the program looks for an external inflate engine. Thin
// wrappers: no search of their own, no state. One implementation per
// platform: dynamic_library_posix.cpp (dlopen, dlsym, dlclose) and
// dynamic_library_win32.cpp (LoadLibraryExW, GetProcAddress, FreeLibrary,
// SetErrorMode).
#pragma once

#include <cstdint>
#include <string>

namespace quarn::platform {

// Loads the library at `path` with every symbol resolved now and none made
// visible to later loads (RTLD_NOW | RTLD_LOCAL). Null when it does not load
// (missing, unreadable, not a library, built for another processor, an
// unresolved symbol).
void* OpenDynamicLibrary(const std::string& path);

// Loads the library with the bare file name `fileName` from the program's
// own folder only, never from the current directory or a search path:
//   POSIX:   the directory of the executable, by full path (so that the
//            system's own libz.so.1 is never found by accident);
//   Windows: the program's folder, then the system folder
//            (LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
//            LOAD_LIBRARY_SEARCH_SYSTEM32), so that a DLL planted in the
//            folder being scanned or on PATH is never loaded.
// Null when it does not load, as for OpenDynamicLibrary.
void* OpenLibraryBesideProgram(const std::string& fileName);

// The address of the exported symbol `name`; null when the library does not
// export it.
void* FindDynamicLibraryEntry(void* library, const char* name);

// Gives back one reference of `library` (from OpenDynamicLibrary).
void CloseDynamicLibrary(void* library);

// Puts the process error mode `mode` in force (Windows SetErrorMode, e.g.
// SEM_NOOPENFILEERRORBOX) and returns the mode it replaced. POSIX has no
// such mode: there it does nothing and returns 0.
uint32_t SetProcessErrorMode(uint32_t mode);

// The directory that holds the running executable (POSIX: from
// /proc/self/exe), without a trailing separator (except for the root);
// empty when it cannot be read.
std::string ExecutableDirectory();

}  // namespace quarn::platform
