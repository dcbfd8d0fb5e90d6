// The zlib that the system itself offers a program started with nothing
// beside it: on Windows a zlib1.dll of the system folder (wine has one of
// its own), which serves the programs in place of their built-in engine;
// elsewhere none, and the built-in engine serves.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <optional>
#include <string>

namespace quarn::test {

// How the programs name that zlib ("zlib1.dll zlib <version>"), or nullopt
// where there is none.
inline std::optional<std::string> SystemZlibDescription() {
#ifdef _WIN32
  const HMODULE system = LoadLibraryExW(L"zlib1.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (system == nullptr) return std::nullopt;
  using TVersion = const char* (*)();
  const auto version = reinterpret_cast<TVersion>(reinterpret_cast<void*>(GetProcAddress(system, "zlibVersion")));
  const std::string text = std::string("zlib1.dll zlib ") + (version != nullptr ? version() : "(no version)");
  FreeLibrary(system);
  return text;
#else
  return std::nullopt;
#endif
}

}  // namespace quarn::test
