// The file-open dialog and the message boxes, through the system's own.
#include "ui_win32/dialogs.h"

#include <commdlg.h>

#include <stdexcept>
#include <vector>

#include "util/platform/wide_text_win32.h"

namespace quarn::win32 {
namespace {

// Names past the classic 260 characters, which the dialog can hand back
// when the system allows long names: the longest name Windows takes.
constexpr DWORD kLongestName = 32768;

}  // namespace

std::optional<std::string> OpenFileName(HWND owner, const std::string& initialDirectory) {
  std::vector<wchar_t> name(kLongestName, L'\0');
  const std::wstring folder = platform::WideFromUtf8(initialDirectory);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = kLongestName;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetOpenFileNameW(&dialog) != FALSE) return platform::Utf8FromWide(name.data(), wcslen(name.data()));
  const DWORD failure = CommDlgExtendedError();
  if (failure == 0) return std::nullopt;  // cancelled
  throw std::runtime_error("The file-open dialog failed (error " + std::to_string(failure) + ")");
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  MessageBoxW(nullptr, platform::WideFromUtf8(text).c_str(), platform::WideFromUtf8(caption).c_str(),
              MB_OK | MB_TASKMODAL);
}

void ShowErrorBox(const std::string& text, const std::string& caption, UINT buttons) {
  MessageBoxW(nullptr, platform::WideFromUtf8(text).c_str(), platform::WideFromUtf8(caption).c_str(),
              buttons | MB_ICONSTOP | MB_TASKMODAL);
}

std::string ApplicationTitle(const std::wstring& executablePath) {
  const std::size_t slash = executablePath.find_last_of(L"\\/");
  std::wstring stem = executablePath.substr(slash == std::wstring::npos ? 0 : slash + 1);
  stem = stem.substr(0, stem.find(L'.'));
  if (stem.size() > 1) CharLowerBuffW(stem.data() + 1, static_cast<DWORD>(stem.size() - 1));
  return platform::Utf8FromWide(stem);
}

std::string ApplicationTitle() {
  std::vector<wchar_t> path(kLongestName, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestName);
  return ApplicationTitle(std::wstring(path.data(), length));
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> folder(needed + 1, L'\0');
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  return platform::Utf8FromWide(folder.data(), length);
}

}  // namespace quarn::win32
