// File-system services on Windows: GetFileAttributesExW (and the opened
// file for links), directories opened as handles with CreateFileW (for
// their identity, which catches loops through links and junctions) and
// listed with FindFirstFileExW/FindNextFileW under their full name,
// GetCurrentDirectoryW and the process's affinity mask. Names arrive and
// leave as UTF-8 and reach the system in their long-path form, so names
// over 260 characters work (up to the system's own 32,767). Error numbers
// are errno values translated from the Win32 errors, and their texts are
// those of the C library on Linux, so that both builds say the same.
#include <windows.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include "util/platform/file_system.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::platform {
namespace {

// The name under which standard input is scanned. "<" and ">" are never
// part of a Windows file name, so no file can be taken for it.
constexpr char kStandardInputName[] = "<stdin>";

TFileStatus StatusFromAttributes(DWORD attributes, DWORD sizeHigh, DWORD sizeLow) {
  TFileStatus status;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.Kind = TFileKind::Directory;
  } else {
    status.Kind = TFileKind::Regular;
    status.SizeBytes = static_cast<int64_t>((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow);
  }
  return status;
}

TFileStatus MissingBecause(DWORD errorCode) {
  TFileStatus status;
  status.ErrorNumber = ErrnoFromWin32Error(errorCode);
  return status;
}

// Opens what `longPath` leads to (links followed) for reading its
// attributes; a directory too. INVALID_HANDLE_VALUE on failure.
HANDLE OpenForAttributes(const std::wstring& longPath, DWORD access) {
  return ::CreateFileW(longPath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A symbolic link or junction reports its own attributes; what it leads to
// is read from the file that opening it reaches. A link whose target is
// gone cannot be opened and reads as missing.
TFileStatus StatusThroughLink(const std::wstring& longPath) {
  const HANDLE file = OpenForAttributes(longPath, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return MissingBecause(::GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL read = ::GetFileInformationByHandle(file, &info);
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (!read) return MissingBecause(error);
  return StatusFromAttributes(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow);
}

std::wstring Joined(const std::wstring& directory, const std::wstring& name) {
  if (!directory.empty() && directory.back() == L'\\') return directory + name;
  return directory + L"\\" + name;
}

// Opens the directory (or file: Adopt tells them apart) `longPath` for
// listing. INVALID_HANDLE_VALUE, with `errorNumber`, on failure.
HANDLE OpenDirectoryHandle(const std::wstring& longPath, int& errorNumber) {
  if (longPath.empty()) {
    errorNumber = ENOENT;
    return INVALID_HANDLE_VALUE;
  }
  if (const int error = NameLengthError(longPath); error != 0) {
    errorNumber = error;
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = OpenForAttributes(longPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) errorNumber = ErrnoFromWin32Error(::GetLastError());
  return handle;
}

}  // namespace

TFileStatus StatusOf(const std::string& path) {
  if (path.empty()) return MissingBecause(ERROR_FILE_NOT_FOUND);
  if (path == kStandardInputName) {
    TFileStatus status;
    const DWORD type = ::GetFileType(::GetStdHandle(STD_INPUT_HANDLE));
    status.Kind = type == FILE_TYPE_CHAR ? TFileKind::Unreadable : TFileKind::Pipe;
    return status;
  }
  const std::wstring longPath = LongPathForm(path);
  if (longPath.empty()) return MissingBecause(ERROR_INVALID_NAME);
  if (const int error = NameLengthError(longPath); error != 0) {
    TFileStatus status;
    status.ErrorNumber = error;
    return status;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(longPath.c_str(), GetFileExInfoStandard, &data)) {
    return MissingBecause(::GetLastError());
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return StatusThroughLink(longPath);
  return StatusFromAttributes(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow);
}

// The file is opened for its attributes only, which no other handle's
// sharing mode refuses; a name that cannot be opened (gone, out of reach,
// standard input's stand-in) has no identity here, and its scan says what
// is wrong.
bool FileIdentityOf(const std::string& path, TFileIdentity& identity) {
  if (path.empty() || path == kStandardInputName) return false;
  const std::wstring longPath = LongPathForm(path);
  if (longPath.empty() || NameLengthError(longPath) != 0) return false;
  const HANDLE file = OpenForAttributes(longPath, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
  const bool read = disk && ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  if (!read || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  identity = {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

bool IsNoSuchName(int errorNumber) { return errorNumber == ENOENT || errorNumber == ENOTDIR; }
bool IsNameTooLong(int errorNumber) { return errorNumber == ENAMETOOLONG; }

TDirectory::~TDirectory() { Close(); }

TDirectory::TDirectory(TDirectory&& other) noexcept
    : FHandle(other.FHandle), FIdentity(other.FIdentity), FLongName(std::move(other.FLongName)) {
  other.FHandle = -1;
}

TDirectory& TDirectory::operator=(TDirectory&& other) noexcept {
  if (this != &other) {
    Close();
    FHandle = other.FHandle;
    FIdentity = other.FIdentity;
    FLongName = std::move(other.FLongName);
    other.FHandle = -1;
  }
  return *this;
}

void TDirectory::Close() {
  if (FHandle >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = -1;
}

TDirectory TDirectory::Open(const std::string& path, int& errorNumber) {
  const std::wstring longPath = LongPathForm(path.empty() ? "." : path);
  const HANDLE handle = OpenDirectoryHandle(longPath, errorNumber);
  if (handle == INVALID_HANDLE_VALUE) return {};
  TDirectory dir = Adopt(reinterpret_cast<intptr_t>(handle), errorNumber);
  if (dir.IsOpen()) dir.FLongName = Utf8FromWide(longPath);
  return dir;
}

TDirectory TDirectory::OpenChild(const std::string& name, int& errorNumber) const {
  const std::wstring longPath = Joined(WideFromUtf8(FLongName), WideFromUtf8(name));
  const HANDLE handle = OpenDirectoryHandle(longPath, errorNumber);
  if (handle == INVALID_HANDLE_VALUE) return {};
  TDirectory dir = Adopt(reinterpret_cast<intptr_t>(handle), errorNumber);
  if (dir.IsOpen()) dir.FLongName = Utf8FromWide(longPath);
  return dir;
}

// Takes over an open handle. Opening with backup semantics opens files as
// well as directories: a file is refused here, as opendir would refuse it.
TDirectory TDirectory::Adopt(intptr_t handle, int& errorNumber) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) {
    errorNumber = ErrnoFromWin32Error(::GetLastError());
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
    return {};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errorNumber = ENOTDIR;
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
    return {};
  }
  TDirectory dir;
  dir.FHandle = handle;
  dir.FIdentity = {info.dwVolumeSerialNumber,
                   (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return dir;
}

bool TDirectory::ReadEntries(std::vector<TDirectoryEntry>& entries, int& errorNumber) const {
  const std::wstring directory = WideFromUtf8(FLongName);
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileExW(Joined(directory, L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's root has no "." entry: when empty, it has no entry at all.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    errorNumber = ErrnoFromWin32Error(::GetLastError());
    return false;
  }
  do {
    const wchar_t* name = found.cFileName;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
    const DWORD attributes = found.dwFileAttributes;
    TDirectoryEntry item;
    item.Name = Utf8FromWide(name, std::wcslen(name));
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A symbolic link or junction: what it leads to decides.
      const TFileStatus target = StatusThroughLink(Joined(directory, name));
      if (target.Kind == TFileKind::Missing) {
        item.Kind = TEntryKind::Unresolved;
      } else {
        item.Kind = target.Kind == TFileKind::Directory ? TEntryKind::LinkToDirectory : TEntryKind::File;
      }
    } else {
      item.Kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TEntryKind::Directory : TEntryKind::File;
    }
    entries.push_back(std::move(item));
  } while (::FindNextFileW(search, &found));
  const DWORD end = ::GetLastError();
  ::FindClose(search);
  if (end != ERROR_NO_MORE_FILES) {
    errorNumber = ErrnoFromWin32Error(end);
    return false;
  }
  return true;
}

std::string StandardInputName() { return kStandardInputName; }

std::string CurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::wstring buffer(needed, L'\0');
  const DWORD written = ::GetCurrentDirectoryW(needed, buffer.data());
  if (written == 0 || written >= needed) return {};
  buffer.resize(written);
  return Utf8FromWide(buffer);
}

int ProcessorCount() {
  DWORD_PTR processMask = 0, systemMask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask) && processMask != 0) {
    return std::popcount(static_cast<uint64_t>(processMask));
  }
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

std::string SystemErrorText(int errorNumber) {
  // The values ErrnoFromWin32Error gives, in the words of the C library on
  // Linux (Windows' own C library words some of them differently).
  switch (errorNumber) {
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case EEXIST: return "File exists";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case ENOSPC: return "No space left on device";
    case ENOMEM: return "Cannot allocate memory";
    case ENAMETOOLONG: return "File name too long";
    case EPIPE: return "Broken pipe";
    case EMFILE: return "Too many open files";
    case EIO: return "Input/output error";
    case EINVAL: return "Invalid argument";
    case EFBIG: return "File too large";
    case EBUSY: return "Device or resource busy";
    case EROFS: return "Read-only file system";
    default: break;
  }
  char buffer[256];
  if (::strerror_s(buffer, sizeof buffer, errorNumber) != 0) return "Unknown error " + std::to_string(errorNumber);
  return buffer;
}

}  // namespace quarn::platform
