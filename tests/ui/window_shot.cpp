// Test helper for scripts/screenshot: opens the window as the program does
// (identity, theme, font), drops the given files on it with a real drop
// event, presses Scan with the mouse, and saves what the screen shows of
// the window once the scan has ended, or with --mid-scan while it runs
// (once a third of it is done). --progress-log prints, twice a second,
// the seconds since Scan was pressed, the share done and the title, so
// that the time-left estimate can be compared with the real time left.
//   quarn-window-shot [--mid-scan] [--progress-log] OUTPUT.png FILE...
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/theme.h"

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  QStringList arguments = QCoreApplication::arguments();
  const bool midScan = arguments.removeAll(QStringLiteral("--mid-scan")) > 0;
  const bool progressLog = arguments.removeAll(QStringLiteral("--progress-log")) > 0;
  if (arguments.size() < 3) {
    std::fprintf(stderr, "usage: quarn-window-shot [--mid-scan] [--progress-log] OUTPUT.png FILE...\n");
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
  auto save = [&] {
    QPixmap picture = form.screen()->grabWindow(form.winId());
    if (picture.isNull()) picture = form.grab();
    if (!picture.save(arguments[1], "PNG")) {
      std::fprintf(stderr, "quarn-window-shot: cannot write %s\n", qPrintable(arguments[1]));
      return false;
    }
    std::printf("%s: %s | %s\n", qPrintable(arguments[1]), qPrintable(form.Label6->text()),
                qPrintable(form.windowTitle()));
    std::fflush(stdout);
    return true;
  };

  // Both run from the window's own event handling while the scan runs.
  QElapsedTimer sinceScan;
  QTimer logTicks;
  QObject::connect(&logTicks, &QTimer::timeout, [&] {
    if (!form.Scanning()) return;
    std::printf("%.1f s %.1f%% %s\n", static_cast<double>(sinceScan.elapsed()) / 1000.0,
                form.ScanProgress->value() / 10.0, qPrintable(form.windowTitle()));
    std::fflush(stdout);
  });
  if (progressLog) logTicks.start(500);
  bool savedMidScan = false, saveFailed = false;
  QTimer shotTicks;
  QObject::connect(&shotTicks, &QTimer::timeout, [&] {
    if (savedMidScan || !form.Scanning() || form.ScanProgress->value() < 333) return;
    savedMidScan = true;  // before the wait, which runs this timer again
    QTest::qWait(200);    // the latest progress painted
    saveFailed = !save();
  });
  if (midScan) shotTicks.start(50);

  sinceScan.start();
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  if (progressLog) std::printf("%.1f s: the scan ended\n", static_cast<double>(sinceScan.elapsed()) / 1000.0);
  if (midScan) {
    if (!savedMidScan) std::fprintf(stderr, "quarn-window-shot: the scan ended before a third was done\n");
    return savedMidScan && !saveFailed ? 0 : 1;
  }
  QTest::qWait(300);  // let the last paint reach the screen
  return save() ? 0 : 1;
}
