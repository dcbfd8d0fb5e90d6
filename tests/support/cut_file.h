// Cuts a file short while the program has it mapped, as another program
// would. On Linux that is truncate(2). Windows refuses to cut a file that
// has a mapped view (ERROR_USER_MAPPED_FILE), so there the loss comes only
// from outside, e.g. over the network; under wine the test has the Linux
// truncate program do it, through wine's start /unix. The file can also
// grow, or keep its size and get a new modification time, as it does when
// it is written in place; both work on every platform, mapped or not. Or
// another file can take its name.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "tests/support/run_program.h"
#else
#include <unistd.h>
#endif

namespace quarn::test {

#ifdef _WIN32
namespace detail {

// wine's own entry that turns a Windows name into the Linux one; null when
// this is not wine.
using TUnixFileName = char*(CDECL*)(const wchar_t*);

inline TUnixFileName UnixFileNameEntry() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<TUnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
}

}  // namespace detail
#endif

// Whether CutFileShort can cut a file that is mapped right now.
inline bool CanCutMappedFiles() {
#ifdef _WIN32
  return detail::UnixFileNameEntry() != nullptr;
#else
  return true;
#endif
}

// Makes the file `path` `sizeBytes` long. True when it worked.
inline bool CutFileShort(const std::string& path, int64_t sizeBytes) {
#ifdef _WIN32
  const detail::TUnixFileName unixFileName = detail::UnixFileNameEntry();
  if (unixFileName == nullptr) return false;
  char* unixPath = unixFileName(detail::Wide(path).c_str());
  if (unixPath == nullptr) return false;
  const std::string linuxPath = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  const TProgramResult r = RunProgram(
      "start.exe", {"/wait", "/unix", "/usr/bin/truncate", "-s", std::to_string(sizeBytes), linuxPath});
  if (r.status != 0) return false;
  // start /wait can return before the Linux program has run: wait until
  // the file has its new size.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(detail::Wide(path).c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == sizeBytes) {
      return true;
    }
    Sleep(10);
  }
  return false;
#else
  return ::truncate(path.c_str(), static_cast<off_t>(sizeBytes)) == 0;
#endif
}

namespace detail {

// Names are UTF-8; on Windows a path object has to be told so.
inline std::filesystem::path PathObject(const std::string& path) {
#ifdef _WIN32
  return std::filesystem::u8path(path);
#else
  return path;
#endif
}

}  // namespace detail

// Adds `countBytes` bytes at the end of the file `path`, through a handle
// of its own, as another program appending would. True when it worked.
inline bool GrowFile(const std::string& path, std::size_t countBytes) {
  std::ofstream out(detail::PathObject(path), std::ios::binary | std::ios::app);
  const std::string bytes(countBytes, 'x');
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// Moves the modification time of `path` one second on, leaving its bytes
// alone: what writing in place does to a file. (A write by itself may keep
// the time when the clock has not moved past the file system's
// granularity, which would make a test of it depend on timing.) True when
// it worked.
inline bool TouchFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::path name = detail::PathObject(path);
  const auto before = std::filesystem::last_write_time(name, error);
  if (!error) std::filesystem::last_write_time(name, before + std::chrono::seconds(1), error);
  return !error;
}

// Puts the file `from` in place of `path`, as a program that saves a file
// anew does; the file that had the name lives on in whoever has it open.
// The error when the system refuses (Windows does while a handle that does
// not share deletion holds the old file open).
inline std::error_code ReplaceFile(const std::string& from, const std::string& path) {
  std::error_code error;
  std::filesystem::rename(detail::PathObject(from), detail::PathObject(path), error);
  return error;
}

}  // namespace quarn::test
