// The main window on Windows, TForm1, built from the system's own controls:
// the input name, the four scan options, the Scan button, the three summary
// boxes, the status line and the log Memo1.
//
// Like the Qt window it is a thin view over the scan driver
// (engine/scan_driver.h): it implements TScanWindow, and its Scan handler
// hands itself to the driver. Positions are given at 96 dpi and scaled to
// the dots per inch of the monitor the window is on, again whenever that
// changes (the program declares per-monitor awareness in its manifest).
//
// While a scan runs, the window's thread handles the window's messages and
// shows the scan's progress: a thin bar under the status line, and the
// share done, the files done and the time left in the title. Every control
// is disabled meanwhile, and the Scan handler and the drop handler refuse
// to run, so clicks, keys and drops made during a scan have no effect;
// afterwards each control is as it was. Closing the window stops the scan
// and then closes it.
//
// Every handler runs inside RunHandler (error_display.h): an error that
// leaves one is shown in the error box, and the window goes on.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/scan_driver.h"
#include "engine/window_progress_text.h"
#include "ui_win32/dark_theme.h"

namespace quarn::win32 {

// The controls' identifiers, also what tests find them by (GetDlgItem).
// None is IDOK (1) or IDCANCEL (2), which the dialog manager sends for
// Enter and Escape when no button is the default.
enum TControlId : int {
  kLabel1Id = 101,
  kEdit1Id,
  kButton1Id,
  kCheckBox2Id,
  kCheckBox1Id,
  kCheckBox4Id,
  kCheckBox3Id,
  kButton2Id,
  kLabel3Id,
  kLabel4Id,
  kLabel5Id,
  kEdit2Id,
  kEdit3Id,
  kEdit4Id,
  kLabel6Id,
  kMemo1Id,
  kScanProgressId,
};

inline constexpr wchar_t kFormClassName[] = L"TForm1";
inline constexpr wchar_t kFormCaption[] = L"Quarn - Zlib scanner";
inline constexpr int kClientWidthPx = 535;  // at 96 dpi
inline constexpr int kClientHeightPx = 445;

// The status texts the window itself sets (the driver sets the other two).
inline constexpr char kStatusNotInitialized[] = "Status: Not initialized";
inline constexpr char kStatusReady[] = "Status: Ready";

class TForm1 final : public TScanWindow {
 public:
  // Creates the window and its controls, hidden. `theme` paints them (none:
  // the system's colours) and must outlive the window. With `endsProgram`,
  // the window's end ends the thread's message loop (PostQuitMessage).
  TForm1(const TDarkTheme* theme, bool endsProgram);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return FHandle; }
  HWND Control(TControlId id) const { return GetDlgItem(FHandle, id); }

  // The window accepts drops from now on (called once the window is built).
  void FormCreate();
  // The window accepts drops no more (called when it closes).
  void FormClose();

  // "Browse...": one name from the file-open dialog, started in the current
  // directory, into Edit1; "Status: Ready"; the log emptied. A cancel
  // changes nothing.
  void Button1Click();
  // "Scan": one whole scan by the scan driver. Errors leave this function.
  void Button2Click();
  // The drop handler: `names` (UTF-8) replace FileList and the log; Edit1
  // is emptied; a single directory ticks "Scan whole directory"; any name
  // sets "Status: Ready".
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
  void ProcessWaitingEvents() override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  void ScanStarting(TScanControl& control) override;
  void WaitForScan(TBackgroundScan& scan) override;
  void ScanEnded() override;

  bool Scanning() const { return FScanControl != nullptr; }
  // How many scans the Scan button has started since the window was made.
  int ScansStarted() const { return FScansStarted; }

  static constexpr std::chrono::milliseconds kProgressInterval{50};

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  // Places every control for `dpi` and gives them the window font at that
  // size.
  void LayOut(UINT dpi);
  void SetLabelText(TControlId id, const std::string& text);
  void FitLabel(TControlId id);
  void SetControlText(TControlId id, const std::wstring& text);
  void OnCommand(int id, int notification);
  void OnDropFiles(HDROP drop);
  void OnClose();
  void ShowProgress();
  // Handles every queued message, then returns. WM_QUIT is kept for the
  // program's own loop.
  void PumpMessages();

  const TDarkTheme* FTheme;
  bool FEndsProgram;
  HWND FHandle = nullptr;
  UINT FDpi = 96;
  HFONT FFont = nullptr;
  // Set while the window itself sets Edit1's text, which is not the user
  // typing a new name.
  bool FSettingEdit1 = false;
  int64_t FLogLines = 0;
  int FScansStarted = 0;

  // The scan that runs now, if any, and what the window was like before it.
  TScanControl* FScanControl = nullptr;
  bool FCloseRequested = false;
  bool FQuitSeen = false;
  int FQuitCode = 0;
  std::chrono::steady_clock::time_point FScanStart;
  TTimeLeftEstimate FTimeLeft;
  std::wstring FTitle;
  std::vector<std::pair<HWND, bool>> FEnabledBefore;
  HWND FFocusBefore = nullptr;
};

}  // namespace quarn::win32
