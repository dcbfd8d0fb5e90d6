// The error display: its caption (the executable's name up to the first full
// stop, in lower case but for its first character), its text (own text, innermost non-empty cause, or the
// whole text of a failed scan's combined error) with the closing full stop
// rule, the box on screen, which shows every line of its text whatever
// its length and the screen's scale, and the application's net that keeps
// errors from crossing Qt's event loop while letting the loop go on.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <exception>
#include <functional>
#include <stdexcept>

#include "engine/aggregate_error.h"
#include "fake_dialogs.h"
#include "ui/application.h"
#include "ui/error_display.h"
#include "ui/theme.h"
#include "util/errors.h"

using TThrower = std::function<void()>;
Q_DECLARE_METATYPE(TThrower)

namespace {

std::exception_ptr Capture(const TThrower& thrower) {
  try {
    thrower();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// Throws TQuarnError(texts[from]) whose nested cause is texts[from + 1],
// and so on down to the last text.
[[noreturn]] void ThrowChain(const std::vector<std::string>& texts, std::size_t from) {
  if (from + 1 == texts.size()) throw quarn::TQuarnError(texts[from]);
  try {
    ThrowChain(texts, from + 1);
  } catch (...) {
    std::throw_with_nested(quarn::TQuarnError(texts[from]));
  }
}

// `texts` from the outermost error to the innermost cause.
TThrower Chain(std::vector<std::string> texts) {
  return [texts] { ThrowChain(texts, 0); };
}

TThrower Plain(const std::string& text) { return Chain({text}); }

// An object whose handler of one event type throws.
class TThrowingObject : public QObject {
 public:
  static inline const QEvent::Type kThrow = static_cast<QEvent::Type>(QEvent::User + 1);
  static inline const QEvent::Type kQuiet = static_cast<QEvent::Type>(QEvent::User + 2);
  int quietEvents = 0;
  bool event(QEvent* event) override {
    if (event->type() == kThrow) throw quarn::TQuarnError("Handler failed");
    if (event->type() == kQuiet) {
      ++quietEvents;
      return true;
    }
    return QObject::event(event);
  }
};

// The combined error of a scan in which `files` files could not be opened,
// as the window hands it to the error display; one file gives that file's
// own error.
TThrower UnreadableFiles(int files) {
  std::vector<std::exception_ptr> members;
  std::string text = "One or more errors occurred\n" + std::to_string(files) + " exception(s):";
  for (int n = 0; n < files; ++n) {
    const std::string one = "File \"/home/user/disk images/case " + std::to_string(n) +
                            "/partition-" + std::to_string(n) + ".img\" cannot be opened: Permission denied";
    text += "\n#" + std::to_string(n) + " Exception: " + one;
    members.push_back(std::make_exception_ptr(quarn::TQuarnError(one)));
  }
  if (files == 1) return [members] { std::rethrow_exception(members[0]); };
  return [text, members] { throw quarn::TAggregateError(text, members); };
}

// What the error box showed of its text, read while it was up.
struct TShownText {
  bool found = false;
  bool visible = false;
  QString text;
  QRect textInBox;               // the text area, in the box's coordinates
  QSize box;                     // the box's frame
  QSize screen;                  // the screen's available size
  int viewportWidth = 0, viewportHeight = 0;
  double documentWidth = 0, documentHeight = 0;  // as laid out in the text area
  int lastLineBottom = 0;        // of the text's last line, in the document
  int scrollRange = 0;           // the vertical scroll bar's maximum
  bool scrollBarVisible = false;
  int averageCharWidth = 0;
  int lineSpacing = 0;
};

// Shows `error` in the real error box and reads the box once it is up and
// laid out, then presses OK.
TShownText ShowAndRead(const TThrower& thrower) {
  TShownText shown;
  bool answered = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    answered = true;
    if (auto* area = box->findChild<QTextEdit*>(QStringLiteral("ErrorText"))) {
      shown.found = true;
      shown.visible = area->isVisible();
      shown.text = area->toPlainText();
      shown.textInBox = QRect(area->mapTo(box, QPoint(0, 0)), area->size());
      shown.box = box->frameGeometry().size();
      shown.screen = box->screen()->availableGeometry().size();
      shown.viewportWidth = area->viewport()->width();
      shown.viewportHeight = area->viewport()->height();
      const QTextDocument* document = area->document();
      shown.documentWidth = document->idealWidth();
      shown.documentHeight = document->size().height();
      const QTextBlock last = document->lastBlock();
      const QTextLayout* layout = last.layout();
      const QTextLine line = layout->lineAt(layout->lineCount() - 1);
      shown.lastLineBottom = static_cast<int>(layout->position().y() + line.rect().bottom());
      shown.scrollRange = area->verticalScrollBar()->maximum();
      shown.scrollBarVisible = area->verticalScrollBar()->isVisible();
      shown.averageCharWidth = area->fontMetrics().averageCharWidth();
      shown.lineSpacing = area->fontMetrics().lineSpacing();
    }
    box->button(QMessageBox::Ok)->click();
  });
  quarn::ui::TQtDialogs dialogs;
  quarn::ui::ShowHandlerError(dialogs, Capture(thrower));
  if (!answered) shown.found = false;
  return shown;
}

}  // namespace

class TErrorDisplayTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void applicationTitle_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("the program") << "/usr/bin/quarn" << "quarn";
    QTest::newRow("upper case: the first stays") << "/opt/QUARN" << "Quarn";
    QTest::newRow("mixed case, suffix") << "/x/qUaRn.bin" << "quarn";
    QTest::newRow("first full stop ends it") << "/x/My.Tool.exe" << "My";
    QTest::newRow("full stop in the folder only") << "/x.y/SCANNER" << "Scanner";
    QTest::newRow("name starts with a full stop") << "/x/.hidden" << "";
    QTest::newRow("non-ASCII letters") << "/x/ÉCRAN.bin" << "Écran";
    QTest::newRow("non-ASCII first letter kept") << "/x/éCRAN" << "écran";
  }
  void applicationTitle() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(quarn::ui::ApplicationTitle(path), title);
  }

  void errorText_data() {
    QTest::addColumn<TThrower>("thrower");
    QTest::addColumn<QString>("text");
    // A full stop after any character whose code is above U+002E...
    QTest::newRow("letter") << Plain("The specified path was not found") << "The specified path was not found.";
    QTest::newRow("digit") << Plain("line 7") << "line 7.";
    QTest::newRow("colon") << Plain("reason:") << "reason:.";
    QTest::newRow("slash") << Plain("/tmp/") << "/tmp/.";
    QTest::newRow("closing bracket") << Plain("[x]") << "[x].";
    QTest::newRow("non-ASCII letter") << Plain("café") << "café.";
    // ...and none after one at or below it, nor on an empty text.
    QTest::newRow("full stop") << Plain("Done.") << "Done.";
    QTest::newRow("comma") << Plain("a,") << "a,";
    QTest::newRow("hyphen") << Plain("a-") << "a-";
    QTest::newRow("closing parenthesis") << Plain("(zlibdll, line 146)") << "(zlibdll, line 146)";
    QTest::newRow("exclamation mark") << Plain("Stop!") << "Stop!";
    QTest::newRow("blank") << Plain("a ") << "a ";
    QTest::newRow("empty") << Plain("") << "";
    // Inner causes: the innermost whose text is not empty.
    QTest::newRow("one cause") << Chain({"outer", "inner cause"}) << "inner cause.";
    QTest::newRow("two causes") << Chain({"outer", "middle", "root"}) << "root.";
    QTest::newRow("innermost cause empty") << Chain({"outer", "middle", ""}) << "middle.";
    QTest::newRow("every cause empty") << Chain({"outer", "", ""}) << "outer.";
    // The combined error of a failed scan is shown whole.
    const std::string combined =
        "One or more errors occurred\n2 exception(s):\n#0 Exception: File \"/a\" does not exists.\n"
        "#1 Exception: File \"/b\" does not exists.";
    QTest::newRow("combined error, whole text")
        << TThrower([=] { throw quarn::TAggregateError(combined, {}); }) << QString::fromStdString(combined);
    QTest::newRow("combined error ending in a letter")
        << TThrower([] { throw quarn::TAggregateError("One or more errors occurred\n...\n#9 Exception: x", {}); })
        << "One or more errors occurred\n...\n#9 Exception: x.";
    QTest::newRow("library error") << TThrower([] { throw std::runtime_error("bad thing"); }) << "bad thing.";
    QTest::newRow("not a std::exception") << TThrower([] { throw 42; }) << "Unknown error.";
  }
  void errorText() {
    QFETCH(TThrower, thrower);
    QFETCH(QString, text);
    QCOMPARE(quarn::ui::ErrorDisplayText(Capture(thrower)), text);
  }

  // A stop box with OK, captioned with the program's title.
  void showHandlerError() {
    quarn::test::TFakeDialogs dialogs;
    quarn::ui::RunHandler(dialogs, Chain({"outer", "Handler failed"}));
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    QVERIFY(dialogs.boxes[0].error);
    QCOMPARE(dialogs.boxes[0].button, QMessageBox::Ok);
    QCOMPARE(dialogs.boxes[0].text, QStringLiteral("Handler failed."));
    QCOMPARE(dialogs.boxes[0].caption,
             quarn::ui::ApplicationTitle(QCoreApplication::applicationFilePath()));
    QVERIFY(!dialogs.boxes[0].caption.isEmpty());
  }

  // The real box shows every line of its text: wrapped to the text area's
  // width, the area as high as the text, and, past what the screen can
  // hold, a scroll bar over the rest; the box stays on the screen. With the
  // plain look and with the dark theme, whose style sheet gives text areas
  // a border; the same cases run again at 2 device pixels per pixel.
  void errorBoxShowsItsWholeText_data() {
    QTest::addColumn<bool>("themed");
    QTest::addColumn<int>("files");
    for (const bool themed : {false, true}) {
      const char* look = themed ? "dark theme" : "plain";
      QTest::addRow("%s, one file", look) << themed << 1;
      QTest::addRow("%s, three files", look) << themed << 3;
      QTest::addRow("%s, more files than the screen holds", look) << themed << 60;
    }
  }
  void errorBoxShowsItsWholeText() {
    QFETCH(bool, themed);
    QFETCH(int, files);
    const QString originalStyle = QApplication::style()->name();
    quarn::test::TFakeDialogs themeDialogs;
    if (themed) QVERIFY(quarn::ui::ApplyTheme(*qApp, QString::fromLatin1(quarn::ui::kThemeName), themeDialogs));
    const TShownText shown = ShowAndRead(UnreadableFiles(files));
    if (themed) {
      QApplication::setStyle(originalStyle);
      QApplication::setPalette(QApplication::style()->standardPalette());
      qApp->setStyleSheet(QString());
    }

    QVERIFY(shown.found);
    QVERIFY(shown.visible);
    QCOMPARE(shown.text, quarn::ui::ErrorDisplayText(Capture(UnreadableFiles(files))));
    QVERIFY(shown.text.endsWith(QStringLiteral("Permission denied.")));
    const QString sizes = QStringLiteral("area %1x%2 in a box of %3x%4 on a screen of %5x%6, text %7x%8, scroll %9")
                              .arg(shown.viewportWidth)
                              .arg(shown.viewportHeight)
                              .arg(shown.box.width())
                              .arg(shown.box.height())
                              .arg(shown.screen.width())
                              .arg(shown.screen.height())
                              .arg(shown.documentWidth)
                              .arg(shown.documentHeight)
                              .arg(shown.scrollRange);
    // Wide enough to read: a line holds the reason of a short error whole.
    QVERIFY2(shown.viewportWidth >= std::min(40 * shown.averageCharWidth, shown.screen.width() / 2),
             qPrintable(sizes));
    // No line runs past the right edge.
    QVERIFY2(shown.documentWidth <= shown.viewportWidth, qPrintable(sizes));
    // Every line is in the area or within the scroll bar's reach, and a
    // scroll range is never hidden.
    QVERIFY2(shown.lastLineBottom <= shown.viewportHeight + shown.scrollRange, qPrintable(sizes));
    QVERIFY2(shown.documentHeight <= shown.viewportHeight + shown.scrollRange + 1, qPrintable(sizes));
    QVERIFY2(shown.scrollRange == 0 || shown.scrollBarVisible, qPrintable(sizes));
    // A text the screen can hold is shown at once, without scrolling, in an
    // area no higher than the text.
    if (files <= 3) QVERIFY2(shown.scrollRange == 0, qPrintable(sizes));
    if (shown.scrollRange == 0) QVERIFY2(shown.viewportHeight <= shown.documentHeight + shown.lineSpacing, qPrintable(sizes));
    // The area lies inside the box, and the box inside the screen.
    QVERIFY2(QRect(QPoint(0, 0), shown.box).contains(shown.textInBox), qPrintable(sizes));
    QVERIFY2(shown.box.width() <= shown.screen.width() && shown.box.height() <= shown.screen.height(),
             qPrintable(sizes));
  }

  // An error thrown by any event handler is shown, and later events are
  // still delivered, whether the event was posted or sent.
  void errorsStopAtTheApplication() {
    auto* application = qobject_cast<quarn::ui::TQuarnApplication*>(QCoreApplication::instance());
    QVERIFY(application != nullptr);
    quarn::test::TFakeDialogs dialogs;
    application->SetDialogs(&dialogs);
    TThrowingObject target;

    QCoreApplication::postEvent(&target, new QEvent(TThrowingObject::kThrow));
    QCoreApplication::postEvent(&target, new QEvent(TThrowingObject::kQuiet));
    QCoreApplication::processEvents();
    QEvent sent(TThrowingObject::kThrow);
    QCOMPARE(QCoreApplication::sendEvent(&target, &sent), false);
    QEvent quiet(TThrowingObject::kQuiet);
    QCoreApplication::sendEvent(&target, &quiet);
    application->SetDialogs(nullptr);

    QCOMPARE(target.quietEvents, 2);
    QCOMPARE(dialogs.boxes.size(), std::size_t{2});
    for (const auto& box : dialogs.boxes) {
      QVERIFY(box.error);
      QCOMPARE(box.text, QStringLiteral("Handler failed."));
      QCOMPARE(box.caption, quarn::ui::ApplicationTitle());
    }
  }
};

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  TErrorDisplayTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "error_display_test.moc"
