// The carried theme: found by its name without regard to case, and when in
// force the window's background and every control are painted dark with
// light text; a name that no carried theme has gives "Style '<name>' not
// found" with a Close button and leaves the appearance as it was.
#include <QApplication>
#include <algorithm>
#include <QFile>
#include <QImage>
#include <QPalette>
#include <QStyle>
#include <QTest>

#include "fake_dialogs.h"
#include "ui/application.h"
#include "ui/error_display.h"
#include "ui/main_window.h"
#include "ui/theme.h"

namespace {

// Median lightness (0..255) of the pixels of `rect` in `image`: the
// background's, when text covers less than half of the area.
int MedianLightness(const QImage& image, const QRect& rect) {
  std::vector<int> values;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) values.push_back(QColor(image.pixel(x, y)).lightness());
  }
  if (values.empty()) return -1;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
  return values[values.size() / 2];
}

int MaxLightness(const QImage& image, const QRect& rect) {
  int most = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) most = std::max(most, QColor(image.pixel(x, y)).lightness());
  }
  return most;
}

}  // namespace

class TThemeTest : public QObject {
  Q_OBJECT

  QString originalStyle_;

 private Q_SLOTS:
  void initTestCase() { originalStyle_ = QApplication::style()->name(); }

  // Every case starts from the plain appearance.
  void init() {
    QApplication::setStyle(originalStyle_);
    QApplication::setPalette(QApplication::style()->standardPalette());
    qApp->setStyleSheet(QString());
  }

  void carried() {
    QVERIFY(QFile::exists(QStringLiteral(":/themes/WINDOWSDARK")));
    QCOMPARE(quarn::ui::CarriedThemeNames(), QStringList{QStringLiteral("Windows10 Dark")});
    QCOMPARE(QString::fromLatin1(quarn::ui::kThemeName), QStringLiteral("Windows10 Dark"));
  }

  void lookup_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("as named") << "Windows10 Dark";
    QTest::newRow("lower case") << "windows10 dark";
    QTest::newRow("upper case") << "WINDOWS10 DARK";
    QTest::newRow("inverted case") << "wINDOWS10 dARK";
  }
  void lookup() {
    QFETCH(QString, name);
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 128);  // plain to begin with
    quarn::test::TFakeDialogs dialogs;
    QVERIFY(quarn::ui::ApplyTheme(*qApp, name, dialogs));
    QVERIFY(dialogs.boxes.empty());
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() < 64);
    QVERIFY(QApplication::palette().color(QPalette::Base).lightness() < 64);
    QVERIFY(QApplication::palette().color(QPalette::Button).lightness() < 64);
    QVERIFY(QApplication::palette().color(QPalette::WindowText).lightness() > 192);
    QVERIFY(QApplication::palette().color(QPalette::Text).lightness() > 192);
    QVERIFY(!qApp->styleSheet().isEmpty());
    qApp->setStyleSheet(QString());  // uncovers the style under the sheet
    QCOMPARE(QApplication::style()->name(), QStringLiteral("fusion"));
  }

  void missing_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("another theme") << "Windows10 Light";
    QTest::newRow("trailing blank") << "Windows10 Dark ";
    QTest::newRow("resource name, not theme name") << "WINDOWSDARK";
    QTest::newRow("empty") << "";
  }
  void missing() {
    QFETCH(QString, name);
    const QPalette before = QApplication::palette();
    quarn::test::TFakeDialogs dialogs;
    QVERIFY(!quarn::ui::ApplyTheme(*qApp, name, dialogs));
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    QVERIFY(dialogs.boxes[0].error);
    QCOMPARE(dialogs.boxes[0].button, QMessageBox::Close);
    QCOMPARE(dialogs.boxes[0].text, QStringLiteral("Style '%1' not found").arg(name));
    QCOMPARE(dialogs.boxes[0].caption, quarn::ui::ApplicationTitle());
    QCOMPARE(QApplication::style()->name(), originalStyle_);
    QCOMPARE(QApplication::palette(), before);
    QVERIFY(qApp->styleSheet().isEmpty());
  }

  // What the theme is for: the window as painted. Each control's area is
  // dark (its median pixel), and the controls that carry text show light text.
  void windowIsPaintedDark_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("hasText");
    for (const char* name : {"Edit1", "Edit2", "Edit3", "Edit4", "Memo1"}) QTest::newRow(name) << name << false;
    for (const char* name : {"Button1", "Button2", "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "Label1",
                             "Label3", "Label4", "Label5", "Label6"}) {
      QTest::newRow(name) << name << true;
    }
    QTest::newRow("window") << "Form1" << false;
  }
  void windowIsPaintedDark() {
    QFETCH(QString, control);
    QFETCH(bool, hasText);
    quarn::test::TFakeDialogs dialogs;
    QVERIFY(quarn::ui::ApplyTheme(*qApp, QString::fromLatin1(quarn::ui::kThemeName), dialogs));
    quarn::ui::TForm1 form(dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage picture = form.grab().toImage().scaled(form.size());
    QWidget* widget = control == form.objectName() ? &form : form.findChild<QWidget*>(control);
    QVERIFY(widget != nullptr);
    const QRect area(widget->mapTo(&form, QPoint(0, 0)), widget->size());
    QVERIFY2(MedianLightness(picture, area) < 80, qPrintable(QString::number(MedianLightness(picture, area))));
    if (hasText) QVERIFY(MaxLightness(picture, area) > 180);
  }
};

int main(int argc, char* argv[]) {
  quarn::ui::TQuarnApplication application(argc, argv);
  TThemeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "theme_test.moc"
