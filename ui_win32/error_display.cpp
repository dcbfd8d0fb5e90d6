// Showing an error that left a handler of the Win32 window.
#include "ui_win32/error_display.h"

#include <windows.h>

#include "engine/error_display_text.h"
#include "ui_win32/dialogs.h"

namespace quarn::win32 {

void ShowHandlerError(std::exception_ptr error) {
  try {
    ShowErrorBox(ErrorDisplayTextOf(std::move(error)), ApplicationTitle(), MB_OK);
  } catch (...) {
    // Out of memory for the text itself: the plainest box there is.
    MessageBoxW(nullptr, L"Out of memory", nullptr, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }
}

}  // namespace quarn::win32
