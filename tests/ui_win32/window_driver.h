// Driving the Win32 window as a user would, through window messages only:
// text typed into a box (WM_SETTEXT), clicks (BM_CLICK), files dropped
// from the shell (a WM_DROPFILES made here, as the shell makes it), and the
// boxes and dialogs the window shows, found by their window class and read
// back or answered from a thread of their own. Used by the window's tests
// and by the tools that print and picture the window.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ui_win32/main_window.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::test {

// A window's text, asked of the window itself, so that a control of
// another process answers too (GetWindowText would give its caption).
inline std::wstring TextOf(HWND window) {
  const auto length = static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const auto copied = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
  return text;
}

inline std::string Utf8TextOf(HWND window) { return platform::Utf8FromWide(TextOf(window)); }

// The log's lines: its text split at the line ends the window puts between
// lines (the wrapping on screen is not part of the text).
inline std::vector<std::string> LogLines(HWND memo) {
  const std::string text = Utf8TextOf(memo);
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

inline void TypeText(HWND box, const std::string& text) {
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(platform::WideFromUtf8(text).c_str()));
}

inline void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

inline bool Ticked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// A drop as the shell hands it over: a DROPFILES block followed by the
// names in UTF-16, each ended by a zero, the list by another. The window
// releases it (DragFinish).
inline HDROP MakeDrop(const std::vector<std::string>& names) {
  std::wstring list;
  for (const std::string& name : names) list += platform::WideFromUtf8(name) + L'\0';
  list += names.empty() ? std::wstring(2, L'\0') : std::wstring(1, L'\0');
  const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::copy(list.begin(), list.end(), reinterpret_cast<wchar_t*>(drop + 1));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

inline void DropNames(HWND window, const std::vector<std::string>& names) {
  SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(names)), 0);
}

// A sparse file of `sizeBytes` zero bytes, made with the system's own
// calls, under the UTF-8 name `name`.
inline void MakeSparseFile(const std::string& name, int64_t sizeBytes) {
  HANDLE file = CreateFileW(platform::WideFromUtf8(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make " + name);
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = sizeBytes;
  SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);
}

// Handles the thread's messages until `done` holds or `timeout` passes;
// whether it holds.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return true;
}

// A top-level window of this process of the class `className` (a dialog or
// message box: "#32770"), or null.
inline HWND FindOwnWindow(const wchar_t* className) {
  struct TSearch {
    const wchar_t* className;
    HWND found;
  } search{className, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<TSearch*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (process == GetCurrentProcessId() && lstrcmpW(name, s.className) == 0 && IsWindowVisible(window)) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// What a message box showed.
struct TShownBox {
  std::string text, caption;
  bool hasIcon = false;
};

// Waits on a thread of its own for a dialog of this process, hands it to
// `answer` (which reads it and closes it), and records what it saw. The
// window's thread is inside the dialog's own loop meanwhile.
class TDialogWatcher {
 public:
  explicit TDialogWatcher(std::function<void(HWND)> answer, std::chrono::milliseconds timeout = std::chrono::seconds(30))
      : thread_([this, answer = std::move(answer), timeout] {
          const auto end = std::chrono::steady_clock::now() + timeout;
          while (std::chrono::steady_clock::now() < end) {
            if (HWND dialog = FindOwnWindow(L"#32770")) {
              answer(dialog);
              found_ = true;
              // A dialog that the answer did not close is cancelled, so that
              // the test fails rather than waits for ever.
              for (int k = 0; k < 500 && IsWindow(dialog) && IsWindowVisible(dialog); ++k) Sleep(20);
              if (IsWindow(dialog) && IsWindowVisible(dialog)) {
                closed_ = false;
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
              }
              return;
            }
            Sleep(20);
          }
        }) {}
  ~TDialogWatcher() { Join(); }
  TDialogWatcher(const TDialogWatcher&) = delete;
  TDialogWatcher& operator=(const TDialogWatcher&) = delete;

  // Waits for the watcher to end; whether it met a dialog and the answer
  // closed it.
  bool Join() {
    if (thread_.joinable()) thread_.join();
    return found_ && closed_;
  }

 private:
  std::atomic<bool> found_{false}, closed_{true};
  std::thread thread_;
};

// The box inside `dialog` in which a name is typed: an edit control with
// the identifier `id`, at any depth (in the file-open dialog it sits inside
// a combo box).
inline HWND NameBoxOf(HWND dialog, int id) {
  struct TSearch {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<TSearch*>(data);
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (GetDlgCtrlID(child) == s.id && lstrcmpiW(name, L"Edit") == 0) {
          s.found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Reads a message box's text, caption and icon, and presses its first
// button.
inline std::function<void(HWND)> ReadAndClose(TShownBox& shown) {
  return [&shown](HWND box) {
    shown.caption = Utf8TextOf(box);
    // The text is the static control 0xFFFF; the icon, when there is one,
    // a visible static control of the icon kind.
    shown.text = Utf8TextOf(GetDlgItem(box, 0xFFFF));
    EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
          wchar_t name[16] = {};
          GetClassNameW(child, name, 16);
          const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
          if (lstrcmpiW(name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
              SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            *reinterpret_cast<bool*>(data) = true;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&shown.hasIcon));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
}

}  // namespace quarn::test
