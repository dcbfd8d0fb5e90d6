// The program `quarn`: the window of the scanner.
//
// Start-up runs in this order: the probe for an external zlib engine, before
// anything else (a library that lacks an entry stops the program here,
// with no window); the application; the dark theme; the window; the event
// loop until the window is closed. On the way out FileList is released and
// a bound engine library freed.
#include <QMessageBox>
#include <cstdio>

#include "engine/scan_driver.h"
#include "inflate/engine_library.h"
#include "ui/application.h"
#include "ui/error_display.h"
#include "ui/main_window.h"
#include "ui/theme.h"
#include "util/errors.h"

int main(int argc, char* argv[]) {
  try {
    quarn::ProbeEngineLibrary();
  } catch (const quarn::TQuarnError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    QApplication application(argc, argv);  // for the message box only
    quarn::ui::TQtDialogs dialogs;
    dialogs.ShowErrorBox(quarn::ui::ErrorDisplayText(std::current_exception()), quarn::ui::ApplicationTitle(),
                         QMessageBox::Ok);
    return 1;
  }

  int status = 0;
  {
    quarn::ui::TQuarnApplication application(argc, argv);
    quarn::ui::SetUpIdentity();
    quarn::ui::ApplyTheme(application, QString::fromLatin1(quarn::ui::kThemeName), application.Dialogs());
    quarn::ui::TForm1 form(application.Dialogs());
    form.show();
    status = application.exec();
  }

  quarn::FileList.clear();
  quarn::FileList.shrink_to_fit();
  quarn::ReleaseEngineLibrary();
  return status;
}
