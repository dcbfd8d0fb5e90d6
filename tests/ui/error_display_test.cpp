// The error display: its caption (the executable's name up to the first full
// stop, in lower case but for its first character), its text (own text, innermost non-empty cause, or the
// whole text of a failed scan's combined error) with the closing full stop
// rule, and the application's net that keeps errors from crossing Qt's
// event loop while letting the loop go on.
#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <exception>
#include <functional>
#include <stdexcept>

#include "engine/aggregate_error.h"
#include "fake_dialogs.h"
#include "ui/application.h"
#include "ui/error_display.h"
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
