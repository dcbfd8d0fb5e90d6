// The Qt dialogs: the file-open dialog and the two kinds of message box.
// Message boxes have no parent and are application-modal, so every window
// of the program waits for them, as a task-modal box does.
#include "ui/dialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

namespace quarn::ui {
namespace {

// The widest an error text gets before it wraps, in average characters of
// its font, so that it keeps its proportions whatever the font and the
// screen's scale; and the share of the screen the text may take at most,
// so that the box, with its icon, button and title bar, stays on a small
// screen too.
constexpr int kErrorTextWidthChars = 72;
constexpr int kScreenShareNumerator = 2;
constexpr int kScreenShareDenominator = 3;

// Qt's message box wraps its text at blanks only, so a long file name is
// cut off at the box's edge. This puts a read-only text area in the place
// of the box's label, that wraps anywhere when a word does not fit, and
// whose text can be selected and copied. When the box is not laid out as
// expected, Qt's label stays, made selectable at least.
//
// The area is sized to the text before the box is shown, for Qt's box then
// takes its own size from its contents: as wide as the longest line, up to
// the width above; as high as the text wrapped to that width, up to the
// screen's share, past which it scrolls. Every size is measured with the
// area's own font and frame, as the style sheet in force sets them.
void ShowWrappedText(QMessageBox& box) {
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (label == nullptr || grid == nullptr || grid->indexOf(label) < 0) return;
  int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
  grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);

  auto* text = new QTextEdit(&box);
  text->setObjectName(QStringLiteral("ErrorText"));
  text->setReadOnly(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text->setFrameShape(QFrame::NoFrame);
  text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  text->setLineWrapMode(QTextEdit::WidgetWidth);
  text->viewport()->setAutoFillBackground(false);
  text->setPlainText(box.text());
  text->ensurePolished();  // the style sheet's font and border

  // The document's own ideal width follows the area's width at the time
  // (about 100 pixels before the box is shown), so the longest line is
  // measured on its own.
  const QFontMetricsF metrics(text->font());
  qreal longestLinePx = 0;
  for (const QString& line : box.text().split(QLatin1Char('\n'))) {
    longestLinePx = std::max(longestLinePx, metrics.horizontalAdvance(line));
  }
  const QRect screen = box.screen()->availableGeometry();
  const int widestPx = std::min(kErrorTextWidthChars * text->fontMetrics().averageCharWidth(),
                                screen.width() * kScreenShareNumerator / kScreenShareDenominator);
  const int widthPx = std::min(static_cast<int>(std::ceil(longestLinePx)) + 1, widestPx);

  // The area's own document is laid out to the area's width whenever the
  // area sees fit; a copy with the same font and wrap is laid out here.
  text->document()->setDocumentMargin(0);
  QTextDocument measured;
  measured.setDefaultFont(text->font());
  measured.setDefaultTextOption(text->document()->defaultTextOption());
  measured.setDocumentMargin(0);
  measured.setPlainText(box.text());
  measured.setTextWidth(widthPx);
  const int textHeightPx = static_cast<int>(std::ceil(measured.size().height())) + 1;
  const int highestPx = screen.height() * kScreenShareNumerator / kScreenShareDenominator;
  // A text that scrolls keeps its wrap: the scroll bar's width is added.
  const int scrollBarPx =
      textHeightPx > highestPx ? text->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, text) : 0;
  const int framePx = 2 * text->frameWidth();
  text->setFixedSize(widthPx + scrollBarPx + framePx, std::min(textHeightPx, highestPx) + framePx);

  label->hide();
  grid->removeWidget(label);
  grid->addWidget(text, row, column, rowSpan, columnSpan);
}

}  // namespace

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
  ShowWrappedText(box);
  box.exec();
}

}  // namespace quarn::ui
