// The Qt dialogs: the file-open dialog and the two kinds of message box.
// Message boxes have no parent and are application-modal, so every window
// of the program waits for them, as a task-modal box does.
#include "ui/dialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QTextEdit>
#include <algorithm>

namespace quarn::ui {
namespace {

// The widest an error text gets before it wraps, in pixels.
constexpr int kErrorTextWidthPx = 480;

// Qt's message box wraps its text at blanks only, so a long file name is
// cut off at the box's edge. This puts a read-only text box in the place
// of the box's label, sized to the text, that wraps anywhere when a word
// does not fit, and whose text can be selected and copied. When the box
// is not laid out as expected, Qt's label stays, made selectable at least.
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
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  text->setLineWrapMode(QTextEdit::WidgetWidth);
  text->viewport()->setAutoFillBackground(false);
  text->setPlainText(box.text());

  QTextDocument* document = text->document();
  document->setDocumentMargin(0);
  document->setTextWidth(-1);
  const int naturalWidthPx = static_cast<int>(document->idealWidth()) + 1;
  const int widthPx = std::min(naturalWidthPx, kErrorTextWidthPx);
  document->setTextWidth(widthPx);
  text->setFixedSize(widthPx, static_cast<int>(document->size().height()) + 1);

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
