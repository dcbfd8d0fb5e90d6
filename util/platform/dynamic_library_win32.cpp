// Run-time loading of DLLs on Windows: LoadLibraryExW with a search limited
// to the program's folder and the system folder, GetProcAddress,
// FreeLibrary, SetErrorMode, and the folder of the running executable.
#include <windows.h>

#include "util/platform/dynamic_library.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::platform {

void* OpenDynamicLibrary(const std::string& path) {
  const std::wstring longPath = LongPathForm(path);
  if (longPath.empty()) return nullptr;
  // The DLL's own dependencies come from its folder and the system folder.
  return ::LoadLibraryExW(longPath.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void* OpenLibraryBesideProgram(const std::string& fileName) {
  const std::wstring wide = WideFromUtf8(fileName);
  if (wide.empty()) return nullptr;
  return ::LoadLibraryExW(wide.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void* FindDynamicLibraryEntry(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseDynamicLibrary(void* library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

uint32_t SetProcessErrorMode(uint32_t mode) { return ::SetErrorMode(mode); }

std::string ExecutableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return {};  // a cut name would lead elsewhere
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  // "C:\" keeps its separator; every other folder loses it.
  const std::size_t end = separator > 0 && path[separator - 1] == L':' ? separator + 1 : separator;
  return Utf8FromWide(path.substr(0, end));
}

}  // namespace quarn::platform
