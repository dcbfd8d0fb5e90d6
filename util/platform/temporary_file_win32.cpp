// Temporary files on Windows: CreateFileW with CREATE_NEW under a fresh
// hidden-style name (".quarn-extract-..."), WriteFile, FlushFileBuffers,
// and MoveFileExW, which without MOVEFILE_REPLACE_EXISTING never replaces
// a file that appeared meanwhile. Windows has no unnamed files: a process
// killed while it writes can leave the stand-in name behind (a failed or
// stopped write removes it). Results are errno values, translated from the
// Win32 errors.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "util/platform/temporary_file.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::platform {
namespace {

int LastErrno() { return ErrnoFromWin32Error(::GetLastError()); }

// A name that no other run or thread uses: process id, tick count, counter.
std::string FreshSuffix() {
  static std::atomic<unsigned> counter{0};
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, "%lx-%llx-%x", ::GetCurrentProcessId(),
                static_cast<unsigned long long>(::GetTickCount64()), counter.fetch_add(1));
  return suffix;
}

}  // namespace

TTemporaryFile::~TTemporaryFile() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
  if (!path_.empty() && !moved_) ::DeleteFileW(LongPathForm(path_).c_str());
}

int TTemporaryFile::Create(const std::string& directory) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = directory + "\\.quarn-extract-" + FreshSuffix();
    const std::wstring longPath = LongPathForm(path);
    if (longPath.empty()) return ENOENT;
    const HANDLE file = ::CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = file;
      path_ = path;
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return ErrnoFromWin32Error(error);
  }
  return EEXIST;
}

int TTemporaryFile::Write(const uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const DWORD piece = bytes > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes);
    DWORD done = 0;
    if (!::WriteFile(handle_, data, piece, &done, nullptr)) return LastErrno();
    data += done;
    bytes -= done;
  }
  return 0;
}

int TTemporaryFile::MoveTo(const std::string& finalPath, bool replace) {
  const HANDLE file = handle_;
  handle_ = nullptr;
  if (!::FlushFileBuffers(file)) {
    const int error = LastErrno();
    ::CloseHandle(file);
    return error;
  }
  if (!::CloseHandle(file)) return LastErrno();
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!::MoveFileExW(LongPathForm(path_).c_str(), LongPathForm(finalPath).c_str(), flags)) return LastErrno();
  moved_ = true;
  return 0;
}

TScratchFile::~TScratchFile() {
  if (fd_ >= 0) ::_close(fd_);
}

int TScratchFile::Open() {
  if (fd_ >= 0) return 0;
  fd_ = OpenScratchFile();
  return fd_ >= 0 ? 0 : errno;
}

int TScratchFile::Append(const uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(bytes, 1u << 30));
    const int written = ::_write(fd_, data, piece);
    if (written < 0) return errno;
    data += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return 0;
}

int TScratchFile::Empty() {
  if (::_chsize_s(fd_, 0) != 0) return errno;
  return ::_lseeki64(fd_, 0, SEEK_SET) == 0 ? 0 : errno;
}

int OpenScratchFile() {
  std::wstring directory(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(directory.size()), directory.data());
  if (length == 0 || length > directory.size()) {
    errno = ENOENT;
    return -1;
  }
  directory.resize(length);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = directory + WideFromUtf8(".quarn-scratch-" + FreshSuffix());
    // No sharing: nobody else opens it; deleted when the last handle closes.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                      nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      errno = ErrnoFromWin32Error(error);
      return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) {
      ::CloseHandle(file);
      errno = EMFILE;
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace quarn::platform
