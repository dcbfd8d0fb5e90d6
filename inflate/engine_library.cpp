// The start-up probe: which external zlib, if any, serves this run.
//
// The probe runs on the main thread before any worker exists, so it writes
// EngineBinding without a lock; the inflate operations only read it later.
// The order of the loads, the slot that wins and the resolution order of the
// ten names are fixed, because the line number of the start-up error tells
// the user which name the serving library lacks.
#include "inflate/engine_library.h"

#include <cstdio>
#include <cstdlib>

#include "util/errors.h"
#include "util/platform/dynamic_library.h"

namespace quarn {

namespace {

// The loader that loaded the serving library; it also frees it.
TLibraryLoader* gBoundLoader = nullptr;
// The file that slot A holds: kLibraryAFileName or its fallback.
const char* gLibraryAFileName = nullptr;
bool gExitActionRegistered = false;

// Lines reported for the first name of each slot; every later name adds 2.
constexpr int kFirstLineLibraryA = 146;
constexpr int kFirstLineLibraryB = 169;

// A handle counts as loaded when its value is 32 or more: on Windows smaller
// values are error codes of old loaders; no real handle is that small.
bool IsLoaded(TLibraryHandle library) { return reinterpret_cast<uintptr_t>(library) >= 32; }

[[noreturn]] void RaiseMissingEntry(int line) {
  char text[64];
  std::snprintf(text, sizeof text, "%s (%s, line %d)", "Assertion failure", "zlibdll", line);
  throw TQuarnError(text);
}

// Stores the address of `name` into `entry`, then tests it.
template <typename TEntry>
void ResolveEntry(TLibraryLoader& loader, TLibraryHandle library, const char* name, int line,
                  TEntry& entry) {
  entry = reinterpret_cast<TEntry>(loader.FindEntry(library, name));
  if (entry == nullptr) RaiseMissingEntry(line);
}

void ResolveServingLibrary(TLibraryLoader& loader) {
  TEngineBinding& b = EngineBinding;
  const TLibraryHandle library = b.UseLibraryA ? b.LibraryA : b.LibraryB;
  TLibraryEntries& entries = b.UseLibraryA ? b.EntriesA : b.EntriesB;
  int line = b.UseLibraryA ? kFirstLineLibraryA : kFirstLineLibraryB;
  ResolveEntry(loader, library, "zlibVersion", line, b.zlibVersion);
  ResolveEntry(loader, library, "deflateInit2_", line += 2, entries.deflateInit2_);
  ResolveEntry(loader, library, "deflate", line += 2, entries.deflate);
  ResolveEntry(loader, library, "deflateEnd", line += 2, entries.deflateEnd);
  ResolveEntry(loader, library, "inflateInit2_", line += 2, entries.inflateInit2_);
  ResolveEntry(loader, library, "inflate", line += 2, entries.inflate);
  ResolveEntry(loader, library, "inflateEnd", line += 2, entries.inflateEnd);
  ResolveEntry(loader, library, "inflateReset", line += 2, entries.inflateReset);
  ResolveEntry(loader, library, "adler32", line += 2, entries.adler32);
  ResolveEntry(loader, library, "deflateTune", line += 2, entries.deflateTune);
}

// Keeps the error mode of the loads in force for one scope, and gives the
// previous mode back however the scope is left.
class TErrorModeScope {
 public:
  TErrorModeScope(TLibraryLoader& loader, uint32_t mode)
      : loader_(loader), previous_(loader.SetErrorMode(mode)) {}
  ~TErrorModeScope() { loader_.SetErrorMode(previous_); }
  TErrorModeScope(const TErrorModeScope&) = delete;
  TErrorModeScope& operator=(const TErrorModeScope&) = delete;

 private:
  TLibraryLoader& loader_;
  uint32_t previous_;
};

class TSystemLibraryLoader final : public TLibraryLoader {
 public:
  TLibraryHandle Load(const char* fileName) override { return platform::OpenLibraryBesideProgram(fileName); }
  void* FindEntry(TLibraryHandle library, const char* name) override {
    return platform::FindDynamicLibraryEntry(library, name);
  }
  void Free(TLibraryHandle library) override { platform::CloseDynamicLibrary(library); }
  uint32_t SetErrorMode(uint32_t mode) override { return platform::SetProcessErrorMode(mode); }
};

}  // namespace

TLibraryLoader& SystemLibraryLoader() {
  // Never destroyed: the exit action may free a library through it after
  // every static object made later than the first probe is gone.
  static TSystemLibraryLoader& loader = *new TSystemLibraryLoader;
  return loader;
}

void ProbeEngineLibrary() { ProbeEngineLibrary(SystemLibraryLoader()); }

void ProbeEngineLibrary(TLibraryLoader& loader) {
  TEngineBinding& b = EngineBinding;
  if (b.LibraryBound) return;

  const TErrorModeScope errorMode(loader, kNoOpenFileErrorBox);
  gLibraryAFileName = kLibraryAFileName;
  b.LibraryA = loader.Load(kLibraryAFileName);
  b.LibraryB = loader.Load(kLibraryBFileName);
  if (!IsLoaded(b.LibraryA)) {
    gLibraryAFileName = kLibraryAFallbackFileName;
    b.LibraryA = loader.Load(kLibraryAFallbackFileName);
  }
  b.UseLibraryA = IsLoaded(b.LibraryA);
  if (!IsLoaded(b.LibraryA) && !IsLoaded(b.LibraryB)) {
    b.LibraryBound = false;
    return;
  }

  b.LibraryBound = true;
  gBoundLoader = &loader;
  if (!gExitActionRegistered) {
    // Registered once: the action frees whatever is bound when it runs. If
    // registration fails the library simply stays mapped until the process
    // is gone.
    gExitActionRegistered = std::atexit(ReleaseEngineLibrary) == 0;
  }
  ResolveServingLibrary(loader);
}

void ReleaseEngineLibrary() {
  TEngineBinding& b = EngineBinding;
  if (!b.LibraryBound || gBoundLoader == nullptr) return;
  TLibraryLoader& loader = *gBoundLoader;
  const TLibraryHandle serving = b.UseLibraryA ? b.LibraryA : b.LibraryB;
  // Back to the built-in engine before the library's code goes away.
  b = TEngineBinding{};
  gBoundLoader = nullptr;
  gLibraryAFileName = nullptr;
  loader.Free(serving);
}

std::string DescribeServingEngine() {
  const TEngineBinding& b = EngineBinding;
  if (!b.LibraryBound) return std::string("built-in zlib ") + ServingEngineVersion();
  const char* fileName = b.UseLibraryA ? gLibraryAFileName : kLibraryBFileName;
  const char* version = b.zlibVersion != nullptr ? b.zlibVersion() : nullptr;
  return std::string(fileName != nullptr ? fileName : "?") + " zlib " +
         (version != nullptr ? version : "(no version)");
}

namespace detail {
bool ExitActionRegistered() { return gExitActionRegistered; }
}  // namespace detail

}  // namespace quarn
