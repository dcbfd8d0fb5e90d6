// How an error that left a handler is turned into the caption and text of
// its message box.
#include "ui/error_display.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <string>

#include "engine/error_display_text.h"

namespace quarn::ui {

QString ApplicationTitle(const QString& executablePath) {
  const QString stem = QFileInfo(executablePath).fileName().section(QLatin1Char('.'), 0, 0);
  return stem.left(1) + stem.mid(1).toLower();
}

QString ApplicationTitle() { return ApplicationTitle(QCoreApplication::applicationFilePath()); }

QString ErrorDisplayText(std::exception_ptr error) {
  return QString::fromStdString(ErrorDisplayTextOf(std::move(error)));
}

void ShowHandlerError(TDialogs& dialogs, std::exception_ptr error) {
  dialogs.ShowErrorBox(ErrorDisplayText(std::move(error)), ApplicationTitle(), QMessageBox::Ok);
}

}  // namespace quarn::ui
