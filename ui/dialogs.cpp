// The Qt dialogs: the file-open dialog and the two kinds of message box.
// Message boxes have no parent and are application-modal, so every window
// of the program waits for them, as a task-modal box does.
#include "ui/dialogs.h"

#include <QFileDialog>

namespace quarn::ui {

std::optional<QString> TQtDialogs::OpenFileName(QWidget* parent, const QString& initialDirectory) {
  const QString name = QFileDialog::getOpenFileName(parent, QString(), initialDirectory, QString());
  if (name.isEmpty()) return std::nullopt;
  return name;
}

void TQtDialogs::ShowMessageBox(const QString& text, const QString& caption) {
  // Qt puts the application's name in a title left empty; a blank keeps
  // the title bar empty, as asked.
  const QString title = caption.isEmpty() ? QStringLiteral(" ") : caption;
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void TQtDialogs::ShowErrorBox(const QString& text, const QString& caption,
                              QMessageBox::StandardButton button) {
  QMessageBox box(QMessageBox::Critical, caption, text, button);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace quarn::ui
