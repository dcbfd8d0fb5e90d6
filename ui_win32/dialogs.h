// The dialogs and message boxes of the Win32 window: the system's file-open
// dialog and MessageBoxW. Texts are UTF-8 here and UTF-16 at the system.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace quarn::win32 {

// The file-open dialog for one existing file, owned by `owner`, started in
// `initialDirectory`, with no file-type filter and no title of its own.
// Returns the chosen name in full, or nothing when the user cancels.
// Raises std::runtime_error when the dialog itself fails.
std::optional<std::string> OpenFileName(HWND owner, const std::string& initialDirectory);

// `text` with an OK button and no icon, owned by no window and task-modal:
// every window of the thread is disabled until it is closed. An empty
// caption leaves the title empty.
void ShowMessageBox(const std::string& text, const std::string& caption);

// An error: stop icon, `text`, `caption` as the title and the buttons of
// `buttons` (MB_OK), task-modal. The system lets the user copy the box's
// text with Ctrl+C.
void ShowErrorBox(const std::string& text, const std::string& caption, UINT buttons);

// The executable's file name up to its first full stop, in lower case but
// for its first character, which stays as it is: "C:\Tools\QUARN.exe"
// gives "Quarn". The caption of the error boxes.
std::string ApplicationTitle();
std::string ApplicationTitle(const std::wstring& executablePath);

// The process's current directory.
std::string CurrentDirectory();

}  // namespace quarn::win32
