// The main window, driven as a person would (clicks, typing, drops) but
// with the dialogs answered by the test: the controls and their places, the
// tab order, the log box, the drop handler, Browse, the status line through
// a scan, a scan that fails, and "No files were selected". Scans run on
// real files made here; the expected report comes from the plain reference
// scan, not from the engine under the window.
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "engine/scan_driver.h"
#include "engine/scan_report.h"
#include "fake_dialogs.h"
#include "tests/support/reference_scan.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "ui/application.h"
#include "ui/error_display.h"
#include "ui/main_window.h"

using quarn::FileList;
using quarn::test::TBytes;
using quarn::test::TFakeDialogs;
using quarn::ui::TForm1;
using TNames = std::vector<std::string>;
Q_DECLARE_METATYPE(TNames)

namespace {

QStringList LogLines(const TForm1& form) {
  if (form.Memo1->document()->isEmpty()) return {};
  return form.Memo1->toPlainText().split(QLatin1Char('\n'));
}

QStringList AsLines(const TNames& names) {
  QStringList lines;
  for (const auto& name : names) lines << QFile::decodeName(QByteArray::fromStdString(name));
  return lines;
}

QStringList AsLines(const std::vector<std::string>& utf8Lines, bool) {
  QStringList lines;
  for (const auto& line : utf8Lines) lines << QString::fromStdString(line);
  return lines;
}

// Files with zlib and raw deflate streams among noise, and the report that
// the reference scan gives for them.
struct TScanFixture {
  quarn::test::TTempDir directory;
  TNames names;
  quarn::TScanReport expected;

  explicit TScanFixture(bool headerless = false) {
    const TBytes text = quarn::test::MakeText(20000, 3);
    const std::vector<TBytes> contents = {
        [&] {
          quarn::test::TLayout layout;
          layout.Append(quarn::test::MakeNoise(3000, 1));
          layout.Append(quarn::test::Zlib(text, 9));
          layout.Append(quarn::test::MakeNoise(500, 2));
          layout.Append(quarn::test::Raw(text, 1));
          return layout.Bytes();
        }(),
        quarn::test::Zlib(quarn::test::MakeText(70000, 5), 1, 12),
    };
    quarn::TScanState state;
    for (std::size_t k = 0; k < contents.size(); ++k) {
      names.push_back(directory / ("input-" + std::to_string(k) + ".bin"));
      quarn::test::WriteFile(names.back(), contents[k]);
      const auto result = quarn::test::ReferenceScan(contents[k].data(), static_cast<int64_t>(contents[k].size()),
                                                     headerless, false);
      quarn::test::AddToState(result, static_cast<int64_t>(contents[k].size()), state);
    }
    quarn::TStreamCounts counts = state.Counts();
    counts.Files = static_cast<int64_t>(names.size());
    expected = quarn::BuildScanReport(counts, headerless);
  }
};

// A drag entering the window and dropped on it, as a file manager does.
void SendDrop(TForm1& form, QMimeData* data) {
  QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &enter);
  QDropEvent drop(QPointF(20, 200), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &drop);
}

QMimeData* UriList(const QByteArray& uris) {
  auto* data = new QMimeData;
  data->setData(QStringLiteral("text/uri-list"), uris);
  return data;
}

}  // namespace

class TWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { FileList.clear(); }
  void cleanup() { FileList.clear(); }

  void controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");  // labels: width and height 0, sized to their text
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readOnly");
    const QString label = "QLabel", edit = "QLineEdit", button = "QPushButton", box = "QCheckBox";
    QTest::newRow("Label1") << "Label1" << label << QRect(8, 16, 0, 0) << "Input file(s):" << false;
    QTest::newRow("Edit1") << "Edit1" << edit << QRect(88, 16, 359, 21) << "" << false;
    QTest::newRow("Button1") << "Button1" << button << QRect(450, 14, 77, 25) << "Browse..." << false;
    QTest::newRow("CheckBox2") << "CheckBox2" << box << QRect(8, 43, 121, 17) << "Scan whole directory" << false;
    QTest::newRow("CheckBox1") << "CheckBox1" << box << QRect(135, 43, 66, 17) << "Recursive" << false;
    QTest::newRow("CheckBox4") << "CheckBox4" << box << QRect(207, 43, 74, 17) << "Headerless" << false;
    QTest::newRow("CheckBox3") << "CheckBox3" << box << QRect(287, 43, 157, 17) << "Accept incomplete streams"
                               << false;
    QTest::newRow("Button2") << "Button2" << button << QRect(450, 45, 77, 64) << "Scan" << false;
    QTest::newRow("Label3") << "Label3" << label << QRect(8, 69, 0, 0) << "Potential Zlib streams:" << false;
    QTest::newRow("Label4") << "Label4" << label << QRect(119, 69, 0, 0) << "Total zlibbed input:" << false;
    QTest::newRow("Label5") << "Label5" << label << QRect(216, 69, 0, 0) << "Total zlibbed output:" << false;
    QTest::newRow("Edit2") << "Edit2" << edit << QRect(8, 88, 105, 21) << "" << true;
    QTest::newRow("Edit3") << "Edit3" << edit << QRect(119, 88, 91, 21) << "" << true;
    QTest::newRow("Edit4") << "Edit4" << edit << QRect(216, 88, 97, 21) << "" << true;
    QTest::newRow("Label6") << "Label6" << label << QRect(320, 88, 0, 0) << "Status: Not initialized" << false;
    QTest::newRow("Memo1") << "Memo1" << "QPlainTextEdit" << QRect(8, 115, 519, 306) << "" << true;
  }
  void controls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, readOnly);
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    auto* control = form.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->pos(), geometry.topLeft());
    if (geometry.width() > 0) {
      QCOMPARE(control->size(), geometry.size());
    } else {
      QCOMPARE(control->size(), control->sizeHint());
    }
    if (auto* asLabel = qobject_cast<QLabel*>(control)) QCOMPARE(asLabel->text(), text);
    if (auto* asButton = qobject_cast<QAbstractButton*>(control)) QCOMPARE(asButton->text(), text);
    if (auto* asBox = qobject_cast<QCheckBox*>(control)) QVERIFY(!asBox->isChecked());
    if (auto* asPush = qobject_cast<QPushButton*>(control)) QVERIFY(!asPush->isDefault() && !asPush->autoDefault());
    if (auto* asEdit = qobject_cast<QLineEdit*>(control)) {
      QCOMPARE(asEdit->text(), text);
      QCOMPARE(asEdit->isReadOnly(), readOnly);
    }
    if (auto* asMemo = qobject_cast<QPlainTextEdit*>(control)) {
      QCOMPARE(asMemo->toPlainText(), text);
      QCOMPARE(asMemo->isReadOnly(), readOnly);
    }
  }

  void window() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    QCOMPARE(form.windowTitle(), QStringLiteral("Quarn - Zlib scanner"));
    QCOMPARE(form.size(), QSize(535, 445));
    QCOMPARE(form.minimumSize(), QSize(535, 445));
    QCOMPARE(form.maximumSize(), QSize(535, 445));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.font().pixelSize(), 11);
    if (QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
      QCOMPARE(QFontInfo(form.font()).family(), QStringLiteral("Tahoma"));
    }
    // A drop target from FormCreate (when built) until it closes.
    QVERIFY(form.acceptDrops());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Painted at the screen's density: device pixels = pixels × ratio.
    const QPixmap picture = form.grab();
    QCOMPARE(picture.devicePixelRatio(), form.devicePixelRatio());
    QCOMPARE(picture.size(), (QSizeF(535, 445) * form.devicePixelRatio()).toSize());
    form.close();
    QVERIFY(!form.acceptDrops());
  }

  // Name, version and the icon drawn for the program, at every size.
  void identity() {
    quarn::ui::SetUpIdentity();
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("quarn"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.0"));
    QList<QSize> sizes;
    for (const int sizePx : {16, 32, 48, 64, 128, 256}) sizes << QSize(sizePx, sizePx);
    const auto sorted = [](QList<QSize> list) {
      std::sort(list.begin(), list.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
      return list;
    };
    QCOMPARE(sorted(QApplication::windowIcon().availableSizes()), sizes);
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    QCOMPARE(sorted(form.windowIcon().availableSizes()), sizes);
    QCOMPARE(form.windowIcon().pixmap(QSize(48, 48)).toImage().pixelColor(24, 24).alpha(), 255);
  }

  // The order of the table, not the visual one; Tab from the last control
  // comes back to the first.
  void tabOrder() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Edit1->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int k = 0; k < 11; ++k) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, QStringList({"Edit1", "Button1", "CheckBox1", "CheckBox2", "CheckBox4", "Memo1", "Button2",
                                   "Edit2", "Edit3", "Edit4", "CheckBox3", "Edit1"}));
  }

  // Read-only but selectable, no scroll bars, long lines wrapped.
  void memo() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.Memo1->isReadOnly());
    QVERIFY(form.Memo1->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    QVERIFY(form.Memo1->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    QVERIFY(!form.Memo1->textInteractionFlags().testFlag(Qt::TextEditable));
    QCOMPARE(form.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    const std::string longName = "/" + std::string(300, 'x') + "/" + std::string(200, 'y') + ".bin";
    form.DropFiles({longName});
    QCOMPARE(form.LogLineCount(), int64_t{1});
    QTRY_VERIFY(form.Memo1->document()->firstBlock().layout()->lineCount() > 2);
    QCOMPARE(form.Memo1->horizontalScrollBar()->maximum(), 0);
    QTest::keyClicks(form.Memo1, "typed");
    QCOMPARE(LogLines(form), AsLines(TNames{longName}));
  }

  // What a drop does to the selection, the log, Edit1, the ticks and the
  // status line. Ticks are written as the digits of the boxes ticked:
  // "12" is CheckBox1 and CheckBox2.
  void drop_data() {
    QTest::addColumn<QStringList>("kinds");  // of each name: dir, file, missing, link-to-dir
    QTest::addColumn<QString>("ticksBefore");
    QTest::addColumn<QString>("ticksAfter");
    QTest::newRow("one directory") << QStringList{"dir"} << "" << "2";
    QTest::newRow("one directory, Recursive stays as it was") << QStringList{"dir"} << "1" << "12";
    QTest::newRow("one directory, others stay as they were") << QStringList{"dir"} << "34" << "234";
    QTest::newRow("one link to a directory") << QStringList{"link-to-dir"} << "" << "2";
    QTest::newRow("one file") << QStringList{"file"} << "" << "";
    QTest::newRow("one missing name") << QStringList{"missing"} << "" << "";
    QTest::newRow("directory among several") << QStringList{"dir", "file"} << "" << "";
    QTest::newRow("two directories") << QStringList{"dir", "dir"} << "" << "";
    QTest::newRow("nothing is ever unticked") << QStringList{"file", "dir"} << "1234" << "1234";
    QTest::newRow("no name") << QStringList{} << "1" << "1";
  }
  void drop() {
    QFETCH(QStringList, kinds);
    QFETCH(QString, ticksBefore);
    QFETCH(QString, ticksAfter);
    quarn::test::TTempDir temp;
    TNames names;
    for (const QString& kind : kinds) {
      const std::string path = temp / (kind.toStdString() + std::to_string(names.size()));
      if (kind == "dir") std::filesystem::create_directory(path);
      if (kind == "file") quarn::test::WriteFile(path, {1, 2, 3});
      if (kind == "link-to-dir") {
        std::filesystem::create_directory(path + ".target");
        std::filesystem::create_directory_symlink(path + ".target", path);
      }
      names.push_back(path);
    }
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    QCheckBox* const boxes[] = {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4};
    for (int k = 0; k < 4; ++k) boxes[k]->setChecked(ticksBefore.contains(QString::number(k + 1)));
    form.Edit1->setText(QStringLiteral("typed.bin"));
    FileList = {"earlier-1", "earlier-2"};
    form.Memo1->setPlainText(QStringLiteral("earlier-1\nearlier-2"));

    form.DropFiles(names);

    QCOMPARE(FileList, names);
    QCOMPARE(LogLines(form), AsLines(names));
    QCOMPARE(form.LogLineCount(), static_cast<int64_t>(names.size()));
    QVERIFY(form.Edit1->text().isEmpty());
    QString ticks;
    for (int k = 0; k < 4; ++k) {
      if (boxes[k]->isChecked()) ticks += QString::number(k + 1);
    }
    QCOMPARE(ticks, ticksAfter);
    QCOMPARE(form.Label6->text(), names.empty() ? QStringLiteral("Status: Not initialized")
                                                : QStringLiteral("Status: Ready"));
  }

  // Names as file managers send them: file URLs, percent-encoded, read
  // whole; bytes that are not UTF-8 reach FileList unchanged.
  void droppedNames_data() {
    QTest::addColumn<QByteArray>("uriList");
    QTest::addColumn<TNames>("names");
    QTest::newRow("one file") << QByteArray("file:///tmp/a.bin\r\n") << TNames{"/tmp/a.bin"};
    QTest::newRow("blank and UTF-8 escaped") << QByteArray("file:///tmp/a%20b/caf%C3%A9.bin\r\n")
                                             << TNames{"/tmp/a b/caf\xC3\xA9.bin"};
    QTest::newRow("not UTF-8") << QByteArray("file:///tmp/%FF%FEx.bin\r\n") << TNames{"/tmp/\xFF\xFEx.bin"};
    QTest::newRow("localhost") << QByteArray("file://localhost/tmp/a.bin\r\n") << TNames{"/tmp/a.bin"};
    const std::string longName = "/tmp/" + std::string(250, 'd') + "/" + std::string(200, 'f') + ".bin";
    QTest::newRow("longer than 259 characters")
        << QByteArray("file://" + QByteArray::fromStdString(longName) + "\r\n") << TNames{longName};
    QTest::newRow("several, in order, other URLs skipped")
        << QByteArray("file:///b\r\nhttps://example.org/x\r\n# comment\r\nfile:///a\r\n") << TNames{"/b", "/a"};
    QTest::newRow("no file URL") << QByteArray("https://example.org/x\r\n") << TNames{};
  }
  void droppedNames() {
    QFETCH(QByteArray, uriList);
    QFETCH(TNames, names);
    std::unique_ptr<QMimeData> data(UriList(uriList));
    QCOMPARE(quarn::ui::DroppedFileNames(*data), names);

    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QCOMPARE(enter.isAccepted(), !names.empty());
    if (names.empty()) return;
    QDropEvent drop(QPointF(20, 200), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    QCOMPARE(FileList, names);
    QCOMPARE(form.LogLineCount(), static_cast<int64_t>(names.size()));
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Ready"));
  }

  // Scan of dropped files fills the report; FileList is emptied, and since
  // the drop emptied Edit1, a second Scan finds nothing selected.
  void secondScanAfterDrop() {
    TScanFixture fixture;
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& name : fixture.names) urls << QUrl::fromLocalFile(QFile::decodeName(name.c_str()));
    data.setUrls(urls);
    SendDrop(form, &data);
    QCOMPARE(FileList, fixture.names);

    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(dialogs.boxes.empty());
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    // The report, then the totals of the two lower boxes as the command
    // line prints them, so that a report copied from the log is whole.
    const QStringList report = AsLines(fixture.expected.Lines, true)
                               << QStringLiteral("Total zlibbed input: ") + form.Edit3->text()
                               << QStringLiteral("Total zlibbed output: ") + form.Edit4->text();
    QCOMPARE(LogLines(form), report);
    QCOMPARE(form.Edit2->text(), QString::fromStdString(fixture.expected.PotentialStreams));
    QCOMPARE(form.Edit3->text(), QString::fromStdString(fixture.expected.ZlibbedInput));
    QCOMPARE(form.Edit4->text(), QString::fromStdString(fixture.expected.ZlibbedOutput));
    QVERIFY(form.Edit2->text().toInt() >= 2);  // the fixture is not empty
    QVERIFY(FileList.empty());

    const QStringList log = LogLines(form);
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    QCOMPARE(dialogs.boxes[0].text, QStringLiteral("No files were selected"));
    QCOMPARE(dialogs.boxes[0].caption, QString());
    QVERIFY(!dialogs.boxes[0].error);
    QCOMPARE(dialogs.boxes[0].button, QMessageBox::Ok);
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    QCOMPARE(LogLines(form), log);
    QCOMPARE(form.Edit2->text(), QString::fromStdString(fixture.expected.PotentialStreams));
  }

  // Browse after a drop: a pick empties the log, fills Edit1 and replaces
  // the dropped items (FileList empties); a cancel changes nothing. The
  // dialog opens in the current directory either way.
  void browseAfterDrop_data() {
    QTest::addColumn<bool>("picked");
    QTest::newRow("a name is picked") << true;
    QTest::newRow("the dialog is cancelled") << false;
  }
  void browseAfterDrop() {
    QFETCH(bool, picked);
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    const TNames dropped{"/tmp/dropped-1", "/tmp/dropped-2"};
    form.DropFiles(dropped);
    form.Label6->setText(QStringLiteral("Status: Finished"));
    const QString name = QDir::temp().filePath(QStringLiteral("picked.bin"));
    if (picked) dialogs.nextFileName = name;

    QTest::mouseClick(form.Button1, Qt::LeftButton);

    QCOMPARE(dialogs.openDialogDirectories, std::vector<QString>{QDir::currentPath()});
    QCOMPARE(FileList, picked ? TNames{} : dropped);
    QCOMPARE(form.Edit1->text(), picked ? name : QString());
    QCOMPARE(LogLines(form), picked ? QStringList() : AsLines(dropped));
    QCOMPARE(form.Label6->text(), picked ? QStringLiteral("Status: Ready") : QStringLiteral("Status: Finished"));
  }

  // Typing after a drop replaces the dropped items: what the user did last
  // wins.
  void typingAfterDrop() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.DropFiles({"/tmp/dropped-1"});
    QTest::keyClicks(form.Edit1, "typed");
    QVERIFY(FileList.empty());
    QCOMPARE(form.Edit1->text(), QStringLiteral("typed"));
  }

  // The status line through a session: typing never changes it; a pick
  // and a drop say Ready; a scan paints Scanning before its files are
  // scanned and ends at Finished.
  void statusTexts() {
    TScanFixture fixture;
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QStringList painted;  // the status line's text at each of its paints
    struct TPaintSpy : QObject {
      QStringList* painted;
      explicit TPaintSpy(QStringList* list) : painted(list) {}
      bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) *painted << qobject_cast<QLabel*>(watched)->text();
        return false;
      }
    } spy(&painted);
    form.Label6->installEventFilter(&spy);
    const auto status = [&] { return form.Label6->text(); };

    QCOMPARE(status(), QStringLiteral("Status: Not initialized"));
    QTest::keyClicks(form.Edit1, "typed");
    QCOMPARE(status(), QStringLiteral("Status: Not initialized"));
    dialogs.nextFileName = QString::fromStdString(fixture.names[0]);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QCOMPARE(status(), QStringLiteral("Status: Ready"));

    painted.clear();
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(dialogs.boxes.empty());
    QVERIFY2(painted.contains(QStringLiteral("Status: Scanning")), qPrintable(painted.join(", ")));
    QCOMPARE(status(), QStringLiteral("Status: Finished"));
    QTest::keyClicks(form.Edit1, "x");
    QCOMPARE(status(), QStringLiteral("Status: Finished"));
    form.DropFiles(fixture.names);
    QCOMPARE(status(), QStringLiteral("Status: Ready"));
    form.Label6->removeEventFilter(&spy);
  }

  // A scan in which a file fails shows the combined error whole, and
  // keeps what the other files gave: the report of the files scanned whole
  // in the log and the boxes, the failed files after it, "Status:
  // Finished"; FileList empties as after a good scan; the window goes on.
  void failedScan() {
    TScanFixture fixture;
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    form.Edit1->setText(QString::fromStdString(fixture.names[1]));
    form.Button2->click();
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    const QString edit2 = form.Edit2->text(), edit3 = form.Edit3->text(), edit4 = form.Edit4->text();
    QVERIFY(!edit2.isEmpty() && !edit3.isEmpty() && !edit4.isEmpty());

    const TNames dropped{fixture.names[0], fixture.directory / "gone.bin"};
    form.DropFiles(dropped);
    std::string thrown;
    try {
      form.Button2Click();  // the handler itself lets the error out
    } catch (const quarn::TAggregateError& error) {
      thrown = error.what();
    }
    QVERIFY(thrown.find("gone.bin") != std::string::npos);
    QVERIFY(thrown.find('\n') != std::string::npos);
    QVERIFY(dialogs.boxes.empty());

    form.DropFiles(dropped);
    form.Button2->click();  // through the window: shown by the error display
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    const auto& box = dialogs.boxes[0];
    QVERIFY(box.error);
    QCOMPARE(box.button, QMessageBox::Ok);
    QCOMPARE(box.caption, quarn::ui::ApplicationTitle());
    QCOMPARE(box.text, QString::fromStdString(thrown) + (thrown.back() > '.' ? "." : ""));
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Finished"));
    const QStringList log = LogLines(form);
    QVERIFY(log.size() >= 3);
    QCOMPARE(log.front(), QStringLiteral("Files scanned: 1"));
    QCOMPARE(log[log.size() - 2], QStringLiteral("Files not scanned: 1"));
    QVERIFY(log.back().contains(QStringLiteral("gone.bin")));
    QVERIFY(!form.Edit2->text().isEmpty() && !form.Edit3->text().isEmpty() && !form.Edit4->text().isEmpty());
    QVERIFY(FileList.empty());

    dialogs.nextFileName = QStringLiteral("/tmp/next.bin");
    form.Button1->click();
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Ready"));
  }

  // An error before any file is scanned (a directory that cannot be listed)
  // is shown with its own text, naming the directory, and changes nothing.
  void pathErrorBeforeTheScan() {
    TFakeDialogs dialogs;
    TForm1 form(dialogs);
    quarn::test::TTempDir temp;
    form.Edit1->setText(QString::fromStdString(temp / "no-such-directory/x.bin"));
    form.CheckBox2->setChecked(true);
    form.Button2->click();
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    QCOMPARE(dialogs.boxes[0].text,
             QString::fromStdString("The specified path was not found: \"" + temp / "no-such-directory" + "\""));
    QCOMPARE(form.Label6->text(), QStringLiteral("Status: Not initialized"));
  }
};

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  TWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
