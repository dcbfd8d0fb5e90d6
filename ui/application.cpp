// The application object: identity, and the net under every event handler.
#include "ui/application.h"

#include <QFile>
#include <QIcon>

#include "ui/error_display.h"

namespace quarn::ui {

TQuarnApplication::TQuarnApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQuarnApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowHandlerError(Dialogs(), std::current_exception());
    return false;
  }
}

void SetUpIdentity() {
  QApplication::setApplicationName(QStringLiteral("quarn"));
  QApplication::setApplicationVersion(QStringLiteral(QUARN_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("quarn"));
  QIcon icon;
  for (const int sizePx : {256, 128, 64, 48, 32, 16}) {
    const QString resource = QStringLiteral(":/icons/quarn-%1.png").arg(sizePx);
    if (QFile::exists(resource)) icon.addFile(resource, QSize(sizePx, sizePx));
  }
  if (!icon.isNull()) QApplication::setWindowIcon(icon);
}

}  // namespace quarn::ui
