// Test helper for scripts/screenshot: opens the window as the program does
// (identity, theme, font), drops the given files on it with a real drop
// event, presses Scan with the mouse, and saves what the screen shows of
// the window.
//   quarn-window-shot OUTPUT.png FILE...
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <cstdio>

#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/theme.h"

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() < 3) {
    std::fprintf(stderr, "usage: quarn-window-shot OUTPUT.png FILE...\n");
    return 2;
  }
  quarn::ui::SetUpIdentity();
  quarn::ui::ApplyTheme(application, QString::fromLatin1(quarn::ui::kThemeName), application.Dialogs());
  quarn::ui::TForm1 form(application.Dialogs());
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) {
    std::fprintf(stderr, "quarn-window-shot: the window was never shown\n");
    return 1;
  }

  QList<QUrl> urls;
  for (const QString& name : arguments.mid(2)) urls << QUrl::fromLocalFile(name);
  QMimeData data;
  data.setUrls(urls);
  const QPoint middle(form.width() / 2, form.height() / 2);
  QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &enter);
  QDropEvent drop(QPointF(form.width() / 2, form.height() / 2), Qt::CopyAction, &data, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &drop);
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  QTest::qWait(300);  // let the last paint reach the screen

  QPixmap picture = form.screen()->grabWindow(form.winId());
  if (picture.isNull()) picture = form.grab();
  if (!picture.save(arguments[1], "PNG")) {
    std::fprintf(stderr, "quarn-window-shot: cannot write %s\n", qPrintable(arguments[1]));
    return 1;
  }
  std::printf("%s: %s\n", qPrintable(arguments[1]), qPrintable(form.Label6->text()));
  return 0;
}
