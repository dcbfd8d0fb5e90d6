// The main window, TForm1: the input name, the four scan options, the Scan
// button, the three summary boxes, the status line and the log Memo1.
//
// The window is a thin view over the scan driver (engine/scan_driver.h): it
// implements TScanWindow, and its Scan handler hands itself to the driver.
// Dialogs and message boxes go through TDialogs, so tests drive every
// handler without a person. Handlers that Qt calls run inside RunHandler:
// an error that leaves one is shown by the error display and stops there.
//
// While a scan runs, the window's thread handles the window's events (paint,
// timers, the window system) and shows the scan's progress: a thin bar in
// the free space under the status line, and the share done, the files done
// and the time left in the title. Every control is disabled meanwhile, so
// clicks, keys and drops made during a scan have no effect; afterwards each
// control is as it was. Closing the window stops the scan and then closes.
#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QWidget>
#include <string>
#include <utility>
#include <vector>

#include "engine/scan_driver.h"
#include "ui/dialogs.h"
#include "ui/scan_progress_text.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quarn::ui {

// The status texts the window itself sets (the driver sets the other two).
inline constexpr char kStatusNotInitialized[] = "Status: Not initialized";
inline constexpr char kStatusReady[] = "Status: Ready";

class TForm1 : public QWidget, public TScanWindow {
  Q_OBJECT

 public:
  // `dialogs` must outlive the window.
  explicit TForm1(TDialogs& dialogs, QWidget* parent = nullptr);

  // The controls, in tab order; the labels have none. Owned by the window.
  QLineEdit* Edit1 = nullptr;        // input name, typed or browsed
  QPushButton* Button1 = nullptr;    // "Browse..."
  QCheckBox* CheckBox1 = nullptr;    // "Recursive"
  QCheckBox* CheckBox2 = nullptr;    // "Scan whole directory"
  QCheckBox* CheckBox4 = nullptr;    // "Headerless"
  QPlainTextEdit* Memo1 = nullptr;   // the dropped names, later the report
  QPushButton* Button2 = nullptr;    // "Scan"
  QLineEdit* Edit2 = nullptr;        // streams found
  QLineEdit* Edit3 = nullptr;        // compressed size
  QLineEdit* Edit4 = nullptr;        // inflated size
  QCheckBox* CheckBox3 = nullptr;    // "Accept incomplete streams"
  QLabel* Label1 = nullptr;          // "Input file(s):"
  QLabel* Label3 = nullptr;          // "Potential Zlib streams:"
  QLabel* Label4 = nullptr;          // "Total zlibbed input:"
  QLabel* Label5 = nullptr;          // "Total zlibbed output:"
  QLabel* Label6 = nullptr;          // the status line
  // Not one of the designed controls: shown only while a scan runs.
  QProgressBar* ScanProgress = nullptr;

  // The window accepts drops from now on (called once the window is built).
  void FormCreate();
  // The window accepts drops no more (called when it closes).
  void FormClose();

  // The drop handler: `names` (paths as the file system spells them)
  // replace FileList and the log; Edit1 is emptied; a single directory
  // ticks "Scan whole directory"; any name sets "Status: Ready".
  void DropFiles(const std::vector<std::string>& names);

  // TScanWindow, for the scan driver.
  std::string Edit1Text() const override;
  bool IsChecked(TScanCheckBox box) const override;
  int64_t LogLineCount() const override;
  void ClearLog() override;
  void AppendLogLine(const std::string& line) override;
  void SetStatus(const std::string& text) override;
  void SetStreamsText(const std::string& text) override;
  void SetZlibbedInputText(const std::string& text) override;
  void SetZlibbedOutputText(const std::string& text) override;
  // One pass over the waiting events, paint included. The driver calls it
  // at exactly two points of a scan; between them the window is frozen.
  void ProcessWaitingEvents() override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  // Disables the controls, shows the busy pointer and the progress.
  void ScanStarting(TScanControl& control) override;
  // Handles the window's events until the scan has ended, and updates the
  // progress every kProgressIntervalMs.
  void WaitForScan(TBackgroundScan& scan) override;
  // Everything back as before the scan.
  void ScanEnded() override;

  bool Scanning() const { return FScanControl != nullptr; }

  static constexpr int kProgressIntervalMs = 50;

 public Q_SLOTS:
  // "Browse...": one name from the file-open dialog, started in the current
  // directory, into Edit1; "Status: Ready"; the log emptied. A cancel
  // changes nothing. FileList is left alone.
  void Button1Click();
  // "Scan": one whole scan by the scan driver. Errors leave this slot.
  void Button2Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  void SetTabOrder();
  void AppendLog(const QString& line);
  void ShowProgress();

  TDialogs& FDialogs;
  // The scan that runs now, if any, and what the window was like before it.
  TScanControl* FScanControl = nullptr;
  bool FCloseRequested = false;
  QElapsedTimer FScanClock;
  TTimeLeftEstimate FTimeLeft;
  QString FTitle;
  std::vector<std::pair<QWidget*, bool>> FEnabledBefore;
  QPointer<QWidget> FFocusBefore;
};

// The local files named by dropped data (file URLs, as any file manager
// sends them), in their order, each read whole as the bytes the file
// system uses, so names that are not UTF-8 survive. Other URLs are skipped.
std::vector<std::string> DroppedFileNames(const QMimeData& data);

// Tahoma at 11 pixels where it is installed (the system's, or the one that
// Debian's fonts-wine carries), else the system's sans-serif at 11 pixels.
QFont WindowFont();

}  // namespace quarn::ui
