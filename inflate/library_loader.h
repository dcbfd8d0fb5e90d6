// How the start-up probe reaches external libraries: load one by file name,
// find an exported entry, free it, and set the process error mode around
// the loads. The program uses the platform's loader (SystemLibraryLoader);
// tests hand the probe a loader of their own to play every combination of
// present, missing and incomplete libraries.
#pragma once

#include <cstdint>

#include "inflate/engine_binding.h"

namespace quarn {

class TLibraryLoader {
 public:
  virtual ~TLibraryLoader() = default;

  // Loads the library with this bare file name ("libz.so.1"). Null when it
  // does not load: absent, unreadable, or not a library for this process.
  virtual TLibraryHandle Load(const char* fileName) = 0;

  // The address of `name` in `library`; null when the library lacks it.
  virtual void* FindEntry(TLibraryHandle library, const char* name) = 0;

  // Releases a handle that Load returned.
  virtual void Free(TLibraryHandle library) = 0;

  // Puts `mode` in force for the whole process and returns the mode it
  // replaced. Where the platform has no such mode (Linux) it does nothing
  // and returns 0.
  virtual uint32_t SetErrorMode(uint32_t mode) = 0;
};

// The platform's loader. On Linux each library is looked for only in the
// directory of the running executable, by full path: the system's own
// zlib (found by a bare name through the usual search) must never take the
// built-in engine's place by accident.
TLibraryLoader& SystemLibraryLoader();

}  // namespace quarn
