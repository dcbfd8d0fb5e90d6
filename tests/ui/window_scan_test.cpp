// The window while a scan runs, on a generated file large enough that the
// scan lasts many progress ticks: the window keeps handling events (timers
// fire, paints arrive), the progress moves forward, every control is
// disabled so clicks, keys and drops made meanwhile change nothing, and
// afterwards the controls, title and pointer are as before. Closing the
// window mid-scan stops the scan and closes it, and the event loop of the
// program then ends with status 0. Also: Enter presses a focused button,
// and the progress texts.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>

#include "engine/scan_driver.h"
#include "fake_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/scan_progress_text.h"

using quarn::FileList;
using quarn::TScanProgress;
using quarn::test::TBytes;
using quarn::test::TFakeDialogs;
using quarn::ui::TForm1;

namespace {

constexpr char kTitle[] = "Quarn - Zlib scanner";

// Runs `tick` every 10 ms while the form scans, from the scan's own event
// handling; counts the ticks that came during the scan.
class TScanTicker {
 public:
  TScanTicker(TForm1& form, std::function<void(int tick)> tick) : form_(form), tick_(std::move(tick)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!form_.Scanning()) return;
      tick_(++ticks_);
    });
    timer_.start(10);
  }
  int Ticks() const { return ticks_; }

 private:
  TForm1& form_;
  std::function<void(int)> tick_;
  QTimer timer_;
  int ticks_ = 0;
};

// Counts the paint events that a widget gets while the form scans.
class TPaintCounter : public QObject {
 public:
  TPaintCounter(QWidget* widget, const TForm1& form) : form_(form) { widget->installEventFilter(this); }
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && form_.Scanning()) ++paints;
    return false;
  }

 private:
  const TForm1& form_;
};

}  // namespace

class TWindowScanTest : public QObject {
  Q_OBJECT

 private:
  quarn::test::TTempDir directory_;
  QString largeFile_;

  // Many copies of one stream of 1 MiB of text: a scan inflates all of
  // them, which takes long enough for many progress ticks.
  void WriteLargeFile() {
    const TBytes stream = quarn::test::Zlib(quarn::test::MakeText(1 << 20, 9), 6);
    quarn::test::TLayout layout;
    while (layout.Bytes().size() < (std::size_t{48} << 20)) {
      layout.Zeros(100);
      layout.Append(stream);
    }
    const std::string name = directory_ / "large.bin";
    quarn::test::WriteFile(name, layout.Bytes());
    largeFile_ = QString::fromStdString(name);
  }

  QList<QWidget*> DesignedControls(TForm1& form) {
    return {form.Edit1, form.Button1, form.CheckBox1, form.CheckBox2, form.CheckBox4, form.Memo1,
            form.Button2, form.Edit2, form.Edit3, form.Edit4, form.CheckBox3};
  }

 private Q_SLOTS:
  void initTestCase() { WriteLargeFile(); }
  void init() { FileList.clear(); }
  void cleanup() { FileList.clear(); }

  // Timers fire and paints arrive while the files are scanned; the bar and
  // the title show progress that only moves forward; the busy pointer is
  // up. Afterwards: the report, the title and the pointer as before.
  void staysAliveAndShowsProgress() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Edit1->setText(largeFile_);
    TPaintCounter paints(form.ScanProgress, form);
    QList<int> values;
    QStringList titles;
    bool busyPointer = true, barShown = true;
    TScanTicker ticker(form, [&](int) {
      values << form.ScanProgress->value();
      titles << form.windowTitle();
      busyPointer = busyPointer && form.cursor().shape() == Qt::WaitCursor;
      barShown = barShown && form.ScanProgress->isVisible();
    });

    QTest::mouseClick(form.Button2, Qt::LeftButton);

    QVERIFY(dialogs.boxes.empty());
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    QVERIFY2(ticker.Ticks() >= 5, qPrintable(QString::number(ticker.Ticks())));
    QVERIFY2(paints.paints >= 2, qPrintable(QString::number(paints.paints)));
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    const auto between = std::count_if(values.begin(), values.end(), [](int v) { return v > 0 && v < 1000; });
    QVERIFY2(between >= 2, qPrintable(QString::number(between)));
    QVERIFY(values.back() > values.front());
    QVERIFY(busyPointer);
    QVERIFY(barShown);
    const QRegularExpression progressTitle(QStringLiteral("^\\d+%( - [01] of 1 files( - [0-9:]+ left)?)? - ") +
                                           QString::fromLatin1(kTitle) + QStringLiteral("$"));
    for (const QString& title : titles) QVERIFY2(progressTitle.match(title).hasMatch(), qPrintable(title));
    QVERIFY2(titles.last().contains(QStringLiteral(" of 1 files")), qPrintable(titles.last()));
    QVERIFY(form.Edit2->text().toInt() >= 48);
    QCOMPARE(form.Memo1->toPlainText().split(QLatin1Char('\n')).first(), QStringLiteral("Files scanned: 1"));
    QCOMPARE(form.windowTitle(), QString::fromLatin1(kTitle));
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!form.ScanProgress->isVisible());
  }

  // Every control is disabled during the scan, so a click on Scan, a click
  // on a check box, typing and a drop made meanwhile change nothing: one
  // scan runs, of the name as it was. Afterwards each control is enabled
  // or disabled as before the scan, and the focus is back.
  void inputDuringAScanHasNoEffect() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Edit1->setText(largeFile_);
    form.CheckBox3->setEnabled(false);  // stays as it was
    form.Button2->setFocus();
    QSignalSpy clicks(form.Button2, &QPushButton::clicked);
    bool allDisabled = true;
    QList<QWidget*> controls = DesignedControls(form);
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/dropped-during-scan"))});
    TScanTicker ticker(form, [&](int tick) {
      for (QWidget* control : controls) allDisabled = allDisabled && !control->isEnabled();
      if (tick == 1) {
        QTest::mouseClick(form.Button2, Qt::LeftButton);
        QTest::mouseDClick(form.Button2, Qt::LeftButton);
        QTest::keyClick(&form, Qt::Key_Space);
        QTest::keyClick(&form, Qt::Key_Return);
        QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
        QTest::keyClicks(form.Edit1, "typed");
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        QDropEvent drop(QPointF(20, 200), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &drop);
      }
    });

    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(ticker.Ticks() >= 2);
    QVERIFY(allDisabled);
    QCOMPARE(clicks.count(), 1);  // the one that started the scan
    QCOMPARE(form.Edit1->text(), largeFile_);
    QVERIFY(!form.CheckBox1->isChecked());
    QVERIFY(dialogs.openDialogDirectories.empty());
    QVERIFY(dialogs.boxes.empty());
    QVERIFY(FileList.empty());
    QCOMPARE(form.Memo1->toPlainText().split(QLatin1Char('\n')).first(), QStringLiteral("Files scanned: 1"));
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    for (QWidget* control : controls) {
      QVERIFY2(control->isEnabled() == (control != form.CheckBox3), qPrintable(control->objectName()));
    }
    QCOMPARE(QApplication::focusWidget(), form.Button2);
  }

  // Closing the window mid-scan stops the workers at once: the handler
  // returns well within a second, with no report and no error, and then
  // the window closes.
  void closeDuringAScan() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Edit1->setText(largeFile_);
    QElapsedTimer sinceClose;
    bool stillOpenDuringScan = false;
    TScanTicker ticker(form, [&](int tick) {
      if (tick == 3) {
        sinceClose.start();
        form.close();
      }
      if (tick > 3) stillOpenDuringScan = true;
    });

    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(sinceClose.isValid());
    const qint64 stopMs = sinceClose.elapsed();
    qInfo("the scan handler returned %lld ms after the close", static_cast<long long>(stopMs));
    QVERIFY2(stopMs < 1000, qPrintable(QString::number(stopMs)));
    Q_UNUSED(stillOpenDuringScan);
    QVERIFY(dialogs.boxes.empty());
    QVERIFY(form.Edit2->text().isEmpty());
    QVERIFY(form.Memo1->toPlainText().isEmpty());
    QVERIFY(FileList.empty());
    QTRY_VERIFY(!form.isVisible());
  }

  // The program's own loop: Scan pressed, the window closed mid-scan, and
  // exec() returns 0 once the window is gone.
  void programEndsWithStatusZeroWhenClosedMidScan() {
    TFakeDialogs dialogs;
    auto form = std::make_unique<TForm1>(dialogs);
    form->Edit1->setText(largeFile_);
    form->show();
    bool closed = false;
    TScanTicker ticker(*form, [&](int tick) {
      if (tick == 3 && !closed) {
        closed = true;
        form->close();
      }
    });
    QTimer::singleShot(0, form.get(), [&] { form->Button2->click(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    watchdog.start(60000);
    const int status = QCoreApplication::exec();
    QVERIFY(closed);
    QCOMPARE(status, 0);
    QVERIFY(!form->isVisible());
    QVERIFY(dialogs.boxes.empty());
  }

  // Enter or Return on a focused button presses it.
  void enterPressesTheFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
  }
  void enterPressesTheFocusedButton() {
    QFETCH(int, key);
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.activateWindow();
    form.Button1->setFocus();
    QTest::keyClick(form.Button1, static_cast<Qt::Key>(key));
    QCOMPARE(dialogs.openDialogDirectories.size(), std::size_t{1});
    form.Button2->setFocus();
    QTest::keyClick(form.Button2, static_cast<Qt::Key>(key));
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    QCOMPARE(dialogs.boxes[0].text, QStringLiteral("No files were selected"));
    QVERIFY(!form.Button1->isDefault() && !form.Button2->isDefault());
    QVERIFY(!form.Button1->autoDefault() && !form.Button2->autoDefault());
  }

  void progressTexts_data() {
    QTest::addColumn<qint64>("scanned");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("filesDone");
    QTest::addColumn<int>("files");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("text");
    QTest::newRow("files not counted yet") << qint64{0} << qint64{0} << 0 << 0 << qint64{0} << "0%";
    QTest::newRow("start") << qint64{0} << qint64{1000} << 0 << 3 << qint64{0} << "0% - 0 of 3 files";
    QTest::newRow("too early to tell") << qint64{500} << qint64{1000} << 1 << 3 << qint64{999}
                                       << "50% - 1 of 3 files";
    QTest::newRow("too little done to tell") << qint64{9} << qint64{1000} << 0 << 3 << qint64{60000}
                                             << "0% - 0 of 3 files";
    QTest::newRow("half in two seconds") << qint64{500} << qint64{1000} << 1 << 3 << qint64{2000}
                                         << "50% - 1 of 3 files - 0:02 left";
    QTest::newRow("a quarter in a minute") << qint64{250} << qint64{1000} << 0 << 1 << qint64{60000}
                                           << "25% - 0 of 1 files - 3:00 left";
    QTest::newRow("hours") << qint64{1} << qint64{100} << 0 << 1 << qint64{3600000}
                           << "1% - 0 of 1 files - 99:00:00 left";
    QTest::newRow("done") << qint64{1000} << qint64{1000} << 3 << 3 << qint64{5000}
                          << "100% - 3 of 3 files - 0:00 left";
    QTest::newRow("only empty files") << qint64{0} << qint64{0} << 1 << 4 << qint64{5000} << "25% - 1 of 4 files";
    QTest::newRow("sizes grew while scanned") << qint64{1500} << qint64{1000} << 1 << 1 << qint64{5000}
                                              << "100% - 1 of 1 files - 0:00 left";
  }
  void progressTexts() {
    QFETCH(qint64, scanned);
    QFETCH(qint64, total);
    QFETCH(int, filesDone);
    QFETCH(int, files);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, text);
    TScanProgress progress;
    progress.BytesScanned = scanned;
    progress.BytesTotal = total;
    progress.FilesDone = filesDone;
    progress.FilesTotal = files;
    quarn::ui::TTimeLeftEstimate timeLeft;
    timeLeft.Add(0, 0);
    timeLeft.Add(elapsedMs, scanned);
    QCOMPARE(quarn::ui::ProgressText(progress, timeLeft.SecondsLeft(total)), text);
  }

  // The time left follows the recent pace: after 20 s at one pace and 10 s
  // at twice that pace, the estimate is that of the faster pace alone; and
  // after a stall, the time left grows.
  void timeLeftFollowsThePace() {
    quarn::ui::TTimeLeftEstimate timeLeft;
    const int64_t total = 100'000'000;
    int64_t bytes = 0;
    for (int64_t ms = 0; ms <= 30000; ms += 50) {
      timeLeft.Add(ms, bytes);
      bytes += ms < 20000 ? 50'000 : 100'000;  // 1000, then 2000 bytes a millisecond
    }
    bytes -= 100'000;  // the last sample added
    // 30 s by the recent pace, 45 s by the average since the start; the
    // samples are a fifth of a second apart, so the window may reach a
    // little into the slower time.
    const int64_t expected = (total - bytes + 2000 * 1000 - 1) / (2000 * 1000);
    QCOMPARE(expected, int64_t{30});
    const int64_t estimate = timeLeft.SecondsLeft(total);
    QVERIFY2(estimate >= expected && estimate <= expected + 1, qPrintable(QString::number(estimate)));
    for (int64_t ms = 30050; ms <= 45000; ms += 50) timeLeft.Add(ms, bytes);  // stalled
    QCOMPARE(timeLeft.SecondsLeft(total), int64_t{-1});
    timeLeft.Add(45050, bytes + 1000);
    QVERIFY(timeLeft.SecondsLeft(total) > 10 * expected);
  }

  void durationTexts() {
    QCOMPARE(quarn::ui::DurationText(0), QStringLiteral("0:00"));
    QCOMPARE(quarn::ui::DurationText(59), QStringLiteral("0:59"));
    QCOMPARE(quarn::ui::DurationText(61), QStringLiteral("1:01"));
    QCOMPARE(quarn::ui::DurationText(3599), QStringLiteral("59:59"));
    QCOMPARE(quarn::ui::DurationText(3600), QStringLiteral("1:00:00"));
    QCOMPARE(quarn::ui::DurationText(36061), QStringLiteral("10:01:01"));
  }
};

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  TWindowScanTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_scan_test.moc"
