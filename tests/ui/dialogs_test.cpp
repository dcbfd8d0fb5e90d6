// The real Qt dialogs, answered by the test from inside their own event
// loop: a message box has the asked text, no icon or a stop icon, only the
// asked button, no owner and blocks the whole application; an empty caption
// gives an empty title bar; the file-open dialog asks for one existing
// file, starts in the given folder, has no filter and no title of its own,
// and reports a cancel as nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <functional>

#include "tests/support/temp_dir.h"
#include "ui/dialogs.h"

namespace {

// Runs `answer` on the modal window that `show` opens, once it is up.
void Answer(const std::function<void(QWidget*)>& answer, const std::function<void()>& show) {
  bool answered = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    QVERIFY(modal != nullptr);
    answered = true;
    answer(modal);
  });
  show();
  QVERIFY(answered);
}

}  // namespace

class TDialogsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void messageBoxes_data() {
    QTest::addColumn<bool>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("title");  // as the platform gets it
    QTest::newRow("plain, empty caption") << false << "No files were selected" << "" << int(QMessageBox::Ok) << " ";
    QTest::newRow("plain, caption") << false << "Note" << "quarn" << int(QMessageBox::Ok) << "quarn";
    QTest::newRow("error with OK") << true << "The specified path was not found." << "quarn"
                                   << int(QMessageBox::Ok) << "quarn";
    QTest::newRow("error with Close") << true << "Style 'x' not found" << "quarn" << int(QMessageBox::Close)
                                      << "quarn";
  }
  void messageBoxes() {
    QFETCH(bool, error);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(int, button);
    QFETCH(QString, title);
    quarn::ui::TQtDialogs dialogs;
    Answer(
        [&](QWidget* modal) {
          auto* box = qobject_cast<QMessageBox*>(modal);
          QVERIFY(box != nullptr);
          QCOMPARE(box->text(), text);
          QCOMPARE(box->windowTitle(), title);
          QCOMPARE(box->icon(), error ? QMessageBox::Critical : QMessageBox::NoIcon);
          QCOMPARE(int(box->standardButtons()), button);
          QCOMPARE(box->windowModality(), Qt::ApplicationModal);
          QVERIFY(box->parentWidget() == nullptr);
          box->button(static_cast<QMessageBox::StandardButton>(button))->click();
        },
        [&] {
          if (error) {
            dialogs.ShowErrorBox(text, caption, static_cast<QMessageBox::StandardButton>(button));
          } else {
            dialogs.ShowMessageBox(text, caption);
          }
        });
  }

  // An error box's text can be selected and copied, and a name too long
  // for one line wraps inside the box instead of being cut off.
  void errorTextWrapsAndIsSelectable() {
    const QString name = QStringLiteral("/data/") + QString(300, QLatin1Char('x')) + QStringLiteral("/image.bin");
    const QString text = QStringLiteral("One or more errors occurred\n1 exception(s):\n#0 Exception: File \"") + name +
                         QStringLiteral("\" does not exists.");
    quarn::ui::TQtDialogs dialogs;
    // Read while the box is up, checked once it is closed.
    bool found = false, visible = false, selectable = false, fitsWidth = false, fitsHeight = false, inside = false;
    QString boxText, shownText;
    int nameLines = 0;
    qsizetype selected = 0;
    Answer(
        [&](QWidget* modal) {
          auto* box = qobject_cast<QMessageBox*>(modal);
          QVERIFY(box != nullptr);
          boxText = box->text();
          if (auto* shown = box->findChild<QTextEdit*>(QStringLiteral("ErrorText"))) {
            found = true;
            visible = shown->isVisible();
            shownText = shown->toPlainText();
            selectable = (shown->textInteractionFlags() & Qt::TextSelectableByMouse) &&
                         (shown->textInteractionFlags() & Qt::TextSelectableByKeyboard);
            fitsWidth = shown->document()->idealWidth() <= shown->viewport()->width();
            fitsHeight = shown->document()->size().height() <= shown->viewport()->height() + 1;
            inside = box->rect().contains(QRect(shown->mapTo(box, QPoint(0, 0)), shown->size()));
            nameLines = shown->document()->findBlockByNumber(2).layout()->lineCount();
            shown->selectAll();
            selected = shown->textCursor().selectedText().size();
          }
          box->button(QMessageBox::Ok)->click();
        },
        [&] { dialogs.ShowErrorBox(text, QStringLiteral("Quarn"), QMessageBox::Ok); });
    QCOMPARE(boxText, text);
    QVERIFY(found);
    QVERIFY(visible);
    QCOMPARE(shownText, text);
    QVERIFY(selectable);
    QVERIFY(fitsWidth);
    QVERIFY(fitsHeight);
    QVERIFY(inside);
    QVERIFY2(nameLines > 1, qPrintable(QString::number(nameLines)));
    QCOMPARE(selected, text.size());
  }

  void openFileName_data() {
    QTest::addColumn<bool>("accept");
    QTest::newRow("a file is chosen") << true;
    QTest::newRow("cancelled") << false;
  }
  void openFileName() {
    QFETCH(bool, accept);
    quarn::test::TTempDir temp;
    quarn::test::WriteFile(temp / "chosen.bin", {1});
    const QString folder = QString::fromStdString(temp.Path());
    quarn::ui::TQtDialogs dialogs;
    std::optional<QString> name;
    Answer(
        [&](QWidget* modal) {
          auto* dialog = qobject_cast<QFileDialog*>(modal);
          QVERIFY(dialog != nullptr);
          QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
          QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
          QCOMPARE(QFileInfo(dialog->directory().path()).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
          QVERIFY(dialog->nameFilters().size() <= 1);  // Qt's own "All files (*)" at most
          QVERIFY(dialog->nameFilters().isEmpty() || dialog->nameFilters()[0].contains(QStringLiteral("(*)")));
          if (accept) {
            dialog->selectFile(QStringLiteral("chosen.bin"));
            static_cast<QDialog*>(dialog)->accept();  // as the Open button does
          } else {
            dialog->reject();
          }
        },
        [&] { name = dialogs.OpenFileName(nullptr, folder); });
    if (accept) {
      QVERIFY(name.has_value());
      QCOMPARE(QFileInfo(*name).canonicalFilePath(), QFileInfo(folder + "/chosen.bin").canonicalFilePath());
      QVERIFY(QFileInfo(*name).isAbsolute());
    } else {
      QVERIFY(!name.has_value());
    }
  }
};

QTEST_MAIN(TDialogsTest)
#include "dialogs_test.moc"
