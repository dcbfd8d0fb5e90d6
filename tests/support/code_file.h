// The file that holds a piece of loaded code: the program itself or a
// library loaded beside it, as the system's loader knows it. Lets a test
// program show which library really serves a call.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace quarn::test {

#ifdef _WIN32
// The module (EXE or DLL) that holds the code at `entry`, by its full
// name in UTF-8; "(this program)" for code linked into the executable.
inline std::string FileHoldingCode(void* entry) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(entry), &module)) {
    return "(unknown)";
  }
  if (module == GetModuleHandleW(nullptr)) return "(this program)";
  wchar_t name[32768];
  const DWORD length = GetModuleFileNameW(module, name, 32768);
  if (length == 0) return "(unknown)";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}
#else
namespace detail {

inline void* ThisProgramsBase() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ThisProgramsBase), &info) == 0) return nullptr;
  return info.dli_fbase;
}

}  // namespace detail

// The object file that holds the code at `entry`, as the dynamic linker
// knows it; "(this program)" for code linked into the executable.
inline std::string FileHoldingCode(void* entry) {
  Dl_info info{};
  if (::dladdr(entry, &info) == 0 || info.dli_fname == nullptr) return "(unknown)";
  if (info.dli_fbase == detail::ThisProgramsBase()) return "(this program)";
  return info.dli_fname;
}
#endif

}  // namespace quarn::test
