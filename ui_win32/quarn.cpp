// The program `quarn.exe`: the scanner's window on Windows.
//
// Start-up runs in this order: the probe for an external zlib engine, before
// anything else (a library that lacks an entry stops the program here, with
// no window); the dark theme; the window; the message loop until the window
// is closed. On the way out FileList is released and a bound engine library
// freed.
#include <windows.h>

#include <memory>
#include <optional>

#include "engine/scan_driver.h"
#include "inflate/engine_library.h"
#include "ui_win32/dark_theme.h"
#include "ui_win32/dialogs.h"
#include "ui_win32/error_display.h"
#include "ui_win32/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  try {
    quarn::ProbeEngineLibrary();
  } catch (...) {
    quarn::win32::ShowHandlerError(std::current_exception());
    return 1;
  }

  int status = 0;
  try {
    std::unique_ptr<quarn::win32::TDarkTheme> theme;
    quarn::win32::RunHandler([&] {
      const std::optional<quarn::win32::TThemeColours> colours =
          quarn::win32::FindCarriedTheme(quarn::win32::kThemeName);
      if (colours) {
        theme = std::make_unique<quarn::win32::TDarkTheme>(*colours);
      } else {
        quarn::win32::ShowErrorBox(std::string("Style '") + quarn::win32::kThemeName + "' not found",
                                   quarn::win32::ApplicationTitle(), MB_OK);
      }
    });
    quarn::win32::TForm1 form(theme.get(), /*endsProgram=*/true);
    ShowWindow(form.Handle(), showCommand);
    UpdateWindow(form.Handle());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (IsDialogMessageW(form.Handle(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    status = message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
  } catch (...) {
    quarn::win32::ShowHandlerError(std::current_exception());
    status = 1;
  }

  quarn::FileList.clear();
  quarn::FileList.shrink_to_fit();
  quarn::ReleaseEngineLibrary();
  return status;
}
