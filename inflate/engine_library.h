// The start-up probe for an external zlib library, its release at exit,
// and the one-line description of the engine that serves the run.
//
// Two slots are tried, each only beside the running executable (on Windows
// also in the system folder; never the current folder or PATH):
//   library A: libzlibwapi.so, or libzlib.so when libzlibwapi.so does not load;
//   library B: libz.so.1 (loaded whatever A gave).
// On Windows the same slots hold zlibwapi.dll, zlib.dll and zlib1.dll.
// When both slots hold a library, A serves; the other one stays loaded but
// is never used or freed. From the serving library ten names are resolved,
// in this order, each stored into EngineBinding and tested before the next:
//   zlibVersion, deflateInit2_, deflate, deflateEnd, inflateInit2_,
//   inflate, inflateEnd, inflateReset, adler32, deflateTune.
// The first name missing stops start-up with TQuarnError
// "Assertion failure (zlibdll, line N)": N runs 146, 148 .. 164 over the ten
// names for library A and 169, 171 .. 187 for library B. When no library
// loads, the built-in engine serves and nothing is reported.
//
// Only the deflate names and adler32 are demanded by this check alone: the
// scan never calls them.
#pragma once

#include <cstdint>
#include <string>

#include "inflate/engine_binding.h"
#include "inflate/library_loader.h"

namespace quarn {

#ifdef _WIN32
inline constexpr const char kLibraryAFileName[] = "zlibwapi.dll";
inline constexpr const char kLibraryAFallbackFileName[] = "zlib.dll";
inline constexpr const char kLibraryBFileName[] = "zlib1.dll";
#else
inline constexpr const char kLibraryAFileName[] = "libzlibwapi.so";
inline constexpr const char kLibraryAFallbackFileName[] = "libzlib.so";
inline constexpr const char kLibraryBFileName[] = "libz.so.1";
#endif

// The error mode in force while the libraries are loaded: no system message
// box for a file that cannot be found. Meaningful on Windows only.
inline constexpr uint32_t kNoOpenFileErrorBox = 0x8000;

// Fills EngineBinding from the platform's loader. Call once during
// start-up, on the main thread, before any stream record exists.
//
// Returns at once, doing nothing, when a library is already bound. A probe
// that bound no library probes again from the start. When it binds one, it
// registers ReleaseEngineLibrary as an exit action (once per process).
//
// Throws TQuarnError with the assertion text when the serving library lacks
// one of the ten names. The binding is then unusable: the program must end
// without a scan (the exit action still frees the library). The error mode
// is back to what it was in either case.
void ProbeEngineLibrary();

// The same with a loader of the caller's: every load, lookup, release and
// error-mode change goes through `loader`, which must outlive the binding
// (until ReleaseEngineLibrary).
void ProbeEngineLibrary(TLibraryLoader& loader);

// Frees the serving library, through the loader that loaded it, and puts
// EngineBinding back to its initial state, so that a late inflate call
// reaches the built-in engine and never the freed code. Does nothing when
// no library is bound; safe to call more than once. Runs as the exit action
// of a bound probe; a program may also call it itself once no stream record
// of the library is left.
void ReleaseEngineLibrary();

// "built-in zlib 1.2.13" when no library is bound, else the serving
// library's file name and what its zlibVersion returns:
// "libzlibwapi.so zlib 1.2.13".
std::string DescribeServingEngine();

namespace detail {
// Whether this process has registered the exit action. For tests.
bool ExitActionRegistered();
}  // namespace detail

}  // namespace quarn
