// The main window: its controls at their fixed places, its handlers, and the
// window operations the scan driver calls.
#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "engine/directory_listing.h"
#include "ui/error_display.h"
#include "ui/scan_progress_text.h"

namespace quarn::ui {
namespace {

// Client area, in device-independent pixels (96 dpi); Qt scales it.
constexpr int kClientWidthPx = 535;
constexpr int kClientHeightPx = 445;
constexpr int kFontPixelSize = 11;
// Where Debian's fonts-wine puts its Tahoma-compatible font, which
// fontconfig does not index.
const char kWineTahomaPath[] = "/usr/share/wine/fonts/tahoma.ttf";

template <typename Control>
Control* Place(QWidget* parent, const char* name, int leftPx, int topPx, int widthPx, int heightPx) {
  auto* control = new Control(parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(leftPx, topPx, widthPx, heightPx);
  return control;
}

// Labels size themselves to their text.
QLabel* PlaceLabel(QWidget* parent, const char* name, int leftPx, int topPx, const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->move(leftPx, topPx);
  label->adjustSize();
  return label;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, int leftPx, int topPx, int widthPx,
                         int heightPx, const char* text) {
  auto* button = Place<QPushButton>(parent, name, leftPx, topPx, widthPx, heightPx);
  button->setText(QString::fromUtf8(text));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QCheckBox* PlaceCheckBox(QWidget* parent, const char* name, int leftPx, int topPx, int widthPx,
                         const char* text) {
  auto* box = Place<QCheckBox>(parent, name, leftPx, topPx, widthPx, 17);
  box->setText(QString::fromUtf8(text));
  return box;
}

QLineEdit* PlaceEdit(QWidget* parent, const char* name, int leftPx, int topPx, int widthPx, bool readOnly) {
  auto* edit = Place<QLineEdit>(parent, name, leftPx, topPx, widthPx, 21);
  edit->setReadOnly(readOnly);
  return edit;
}

}  // namespace

QFont WindowFont() {
  const QString tahoma = QStringLiteral("Tahoma");
  static const bool tahomaInstalled = [&] {
    if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return true;
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kWineTahomaPath));
    return id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(tahoma, Qt::CaseInsensitive);
  }();
  QFont font = tahomaInstalled ? QFont(tahoma) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (!tahomaInstalled) font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kFontPixelSize);
  return font;
}

TForm1::TForm1(TDialogs& dialogs, QWidget* parent) : QWidget(parent), FDialogs(dialogs) {
  setObjectName(QStringLiteral("Form1"));
  // A fixed single-line frame: minimise and close, no maximise, no resize.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidthPx, kClientHeightPx);
  setWindowTitle(QStringLiteral("Quarn - Zlib scanner"));
  setFont(WindowFont());
  BuildControls();
  SetTabOrder();
  FormCreate();
}

void TForm1::BuildControls() {
  Label1 = PlaceLabel(this, "Label1", 8, 16, "Input file(s):");
  Edit1 = PlaceEdit(this, "Edit1", 88, 16, 359, false);
  Button1 = PlaceButton(this, "Button1", 450, 14, 77, 25, "Browse...");
  CheckBox2 = PlaceCheckBox(this, "CheckBox2", 8, 43, 121, "Scan whole directory");
  CheckBox1 = PlaceCheckBox(this, "CheckBox1", 135, 43, 66, "Recursive");
  CheckBox4 = PlaceCheckBox(this, "CheckBox4", 207, 43, 74, "Headerless");
  CheckBox3 = PlaceCheckBox(this, "CheckBox3", 287, 43, 157, "Accept incomplete streams");
  Button2 = PlaceButton(this, "Button2", 450, 45, 77, 64, "Scan");
  Label3 = PlaceLabel(this, "Label3", 8, 69, "Potential Zlib streams:");
  Label4 = PlaceLabel(this, "Label4", 119, 69, "Total zlibbed input:");
  Label5 = PlaceLabel(this, "Label5", 216, 69, "Total zlibbed output:");
  Edit2 = PlaceEdit(this, "Edit2", 8, 88, 105, true);
  Edit3 = PlaceEdit(this, "Edit3", 119, 88, 91, true);
  Edit4 = PlaceEdit(this, "Edit4", 216, 88, 97, true);
  Label6 = PlaceLabel(this, "Label6", 320, 88, kStatusNotInitialized);

  Memo1 = Place<QPlainTextEdit>(this, "Memo1", 8, 115, 519, 306);
  Memo1->setReadOnly(true);
  // Read-only, yet selectable and copyable with mouse and keyboard.
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setFocusPolicy(Qt::StrongFocus);
  Memo1->setTabChangesFocus(true);
  Memo1->setUndoRedoEnabled(false);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Paths have no blanks to break at: wrap them anywhere.
  Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  // In the free space under the status line, clear of every designed
  // control: Label6 ends at 101, Memo1 starts at 115, Button2 at 450.
  ScanProgress = Place<QProgressBar>(this, "ScanProgress", 320, 104, 124, 8);
  ScanProgress->setRange(0, 1000);
  ScanProgress->setTextVisible(false);
  ScanProgress->setFocusPolicy(Qt::NoFocus);
  ScanProgress->hide();

  connect(Button1, &QPushButton::clicked, this, [this] { RunHandler(FDialogs, [this] { Button1Click(); }); });
  // What the user did last wins: a name typed after a drop replaces the
  // dropped items.
  connect(Edit1, &QLineEdit::textEdited, this, [] { FileList.clear(); });
  connect(Button2, &QPushButton::clicked, this, [this] { RunHandler(FDialogs, [this] { Button2Click(); }); });
  // Enter or Return on a focused button presses it, as the platform's own
  // buttons do; neither button becomes the window's default for that.
  Button1->installEventFilter(this);
  Button2->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == Button1 || watched == Button2)) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      auto* button = static_cast<QPushButton*>(watched);
      if (button->isEnabled()) button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Not the visual order: "Recursive" before "Scan whole directory", the log
// before the Scan button, "Accept incomplete streams" last.
void TForm1::SetTabOrder() {
  QWidget* const order[] = {Edit1, Button1, CheckBox1, CheckBox2, CheckBox4, Memo1,
                            Button2, Edit2, Edit3, Edit4, CheckBox3};
  for (std::size_t k = 1; k < std::size(order); ++k) QWidget::setTabOrder(order[k - 1], order[k]);
}

void TForm1::FormCreate() { setAcceptDrops(true); }

void TForm1::FormClose() { setAcceptDrops(false); }

// Closing during a scan stops it; the window closes once the scan handler
// has unwound (Button2Click), so nothing of the scan outlives the window.
void TForm1::closeEvent(QCloseEvent* event) {
  if (Scanning()) {
    FCloseRequested = true;
    FScanControl->RequestCancel();
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::Button1Click() {
  const std::optional<QString> name = FDialogs.OpenFileName(this, QDir::currentPath());
  if (!name) return;
  Edit1->setText(*name);
  FileList.clear();  // the browsed name replaces any dropped items
  SetStatus(kStatusReady);
  Memo1->clear();
}

void TForm1::Button2Click() {
  struct TCloseAfterScan {
    TForm1& form;
    ~TCloseAfterScan() {
      if (form.FCloseRequested) QMetaObject::invokeMethod(&form, &QWidget::close, Qt::QueuedConnection);
    }
  } closeAfterScan{*this};
  quarn::Button2Click(*this);
}

void TForm1::DropFiles(const std::vector<std::string>& names) {
  FileList.clear();
  Memo1->clear();
  for (const std::string& name : names) {
    FileList.push_back(name);
    AppendLog(QFile::decodeName(QByteArray::fromStdString(name)));
  }
  Edit1->clear();
  if (FileList.size() == 1 && IsExistingDirectory(FileList[0])) CheckBox2->setChecked(true);
  if (LogLineCount() >= 1) SetStatus(kStatusReady);
}

std::vector<std::string> DroppedFileNames(const QMimeData& data) {
  std::vector<std::string> names;
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    // The encoded path keeps bytes that are not UTF-8 as %XX, where
    // toLocalFile() would turn them into replacement characters.
    QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
      bytes = QFile::encodeName(url.toLocalFile());  // a share: //host/path
    }
    if (!bytes.isEmpty()) names.push_back(bytes.toStdString());
  }
  return names;
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (Scanning()) return;  // refused: nothing is dropped during a scan
  if (event->mimeData() != nullptr && !DroppedFileNames(*event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (Scanning()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (Scanning()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  if (event->mimeData() == nullptr) return;
  const std::vector<std::string> names = DroppedFileNames(*event->mimeData());
  RunHandler(FDialogs, [&] { DropFiles(names); });
}

// One name or report line is one line of the log, whatever it holds.
void TForm1::AppendLog(const QString& line) {
  QString oneLine = line;
  for (QChar& c : oneLine) {
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator) {
      c = QChar::ReplacementCharacter;
    }
  }
  Memo1->appendPlainText(oneLine);
}

std::string TForm1::Edit1Text() const { return QFile::encodeName(Edit1->text()).toStdString(); }

bool TForm1::IsChecked(TScanCheckBox box) const {
  switch (box) {
    case TScanCheckBox::ScanWholeDirectory: return CheckBox2->isChecked();
    case TScanCheckBox::Recursive: return CheckBox1->isChecked();
    case TScanCheckBox::Headerless: return CheckBox4->isChecked();
    case TScanCheckBox::AcceptIncomplete: return CheckBox3->isChecked();
  }
  return false;
}

// An empty document still has one (empty) block; the log then has no line.
int64_t TForm1::LogLineCount() const {
  if (Memo1->document()->isEmpty()) return 0;
  return Memo1->document()->blockCount();
}

void TForm1::ClearLog() { Memo1->clear(); }

void TForm1::AppendLogLine(const std::string& line) { AppendLog(QString::fromStdString(line)); }

void TForm1::SetStatus(const std::string& text) {
  Label6->setText(QString::fromStdString(text));
  Label6->adjustSize();
}

void TForm1::SetStreamsText(const std::string& text) { Edit2->setText(QString::fromStdString(text)); }

void TForm1::SetZlibbedInputText(const std::string& text) { Edit3->setText(QString::fromStdString(text)); }

void TForm1::SetZlibbedOutputText(const std::string& text) { Edit4->setText(QString::fromStdString(text)); }

void TForm1::ProcessWaitingEvents() { QCoreApplication::processEvents(); }

void TForm1::ShowMessageBox(const std::string& text, const std::string& caption) {
  FDialogs.ShowMessageBox(QString::fromStdString(text), QString::fromStdString(caption));
}

void TForm1::ScanStarting(TScanControl& control) {
  FScanControl = &control;
  FCloseRequested = false;
  FTitle = windowTitle();
  QWidget* const focused = QApplication::focusWidget();
  FFocusBefore = focused != nullptr && isAncestorOf(focused) ? focused : nullptr;
  FEnabledBefore.clear();
  for (QWidget* widget : std::initializer_list<QWidget*>{Edit1, Button1, CheckBox1, CheckBox2, CheckBox4, Memo1,
                                                         Button2, Edit2, Edit3, Edit4, CheckBox3}) {
    FEnabledBefore.emplace_back(widget, widget->isEnabled());
    widget->setEnabled(false);
  }
  setCursor(Qt::WaitCursor);
  FScanClock.start();
  FTimeLeft = {};
  ScanProgress->setValue(0);
  ScanProgress->show();
  ShowProgress();
}

void TForm1::WaitForScan(TBackgroundScan& scan) {
  QTimer ticks;
  connect(&ticks, &QTimer::timeout, this, [this] { ShowProgress(); });
  ticks.start(kProgressIntervalMs);
  // Each pass sleeps until an event comes, the tick at the latest.
  while (!scan.Ended()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TForm1::ScanEnded() {
  for (const auto& [widget, enabled] : FEnabledBefore) widget->setEnabled(enabled);
  FEnabledBefore.clear();
  if (FFocusBefore != nullptr && FFocusBefore->isEnabled()) FFocusBefore->setFocus();
  unsetCursor();
  ScanProgress->hide();
  setWindowTitle(FTitle);
  FScanControl = nullptr;
}

void TForm1::ShowProgress() {
  if (FScanControl == nullptr) return;
  const TScanProgress progress = FScanControl->Progress();
  ScanProgress->setValue(ProgressPermille(progress));
  FTimeLeft.Add(FScanClock.elapsed(), progress.BytesScanned);
  const QString text = ui::ProgressText(progress, FTimeLeft.SecondsLeft(progress.BytesTotal));
  ScanProgress->setToolTip(text);
  setWindowTitle(text + QStringLiteral(" - ") + FTitle);
}

}  // namespace quarn::ui
