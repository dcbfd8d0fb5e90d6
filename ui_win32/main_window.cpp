// The Win32 main window: its controls at their fixed places (scaled to the
// monitor's dots per inch), its handlers, and the window operations the
// scan driver calls.
#include "ui_win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "engine/directory_listing.h"
#include "ui_win32/dialogs.h"
#include "ui_win32/error_display.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::win32 {
namespace {

constexpr int kFontPixelSize = 11;  // character height, at 96 dpi
constexpr UINT kDefaultDpi = 96;
// The drop of a single name, when asked how many names there are.
constexpr UINT kDropCountQuery = 0xFFFFFFFF;

// One control of the window: where it sits at 96 dpi, what it is and what
// it says at the start. Labels size themselves to their text: their width
// and height are measured.
struct TControlPlace {
  TControlId Id;
  const wchar_t* ClassName;
  DWORD Style;
  int Left, Top, Width, Height;
  const char* Text;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | SS_LEFT | SS_NOPREFIX;
constexpr DWORD kEdit = kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kReadOnlyEdit = kEdit | ES_READONLY;
constexpr DWORD kButton = kChild | WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD kCheckBox = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;

// In tab order, which is the order the controls are made in: "Recursive"
// before "Scan whole directory", the log before the Scan button, "Accept
// incomplete streams" last. The labels take no focus.
constexpr TControlPlace kPlaces[] = {
    {kLabel1Id, L"STATIC", kLabel, 8, 16, 0, 0, "Input file(s):"},
    {kEdit1Id, L"EDIT", kEdit, 88, 16, 359, 21, ""},
    {kButton1Id, L"BUTTON", kButton, 450, 14, 77, 25, "Browse..."},
    {kCheckBox1Id, L"BUTTON", kCheckBox, 135, 43, 66, 17, "Recursive"},
    {kCheckBox2Id, L"BUTTON", kCheckBox, 8, 43, 121, 17, "Scan whole directory"},
    {kCheckBox4Id, L"BUTTON", kCheckBox, 207, 43, 74, 17, "Headerless"},
    // Read-only, yet selectable and copyable; wraps long lines (a name
    // without blanks anywhere) and has no scroll bars. It scrolls with the
    // caret: without that, a multi-line box takes no more lines than it
    // shows, and a long report would be cut.
    {kMemo1Id, L"EDIT", kChild | WS_TABSTOP | WS_BORDER | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 8, 115, 519,
     306, ""},
    {kButton2Id, L"BUTTON", kButton, 450, 45, 77, 64, "Scan"},
    {kEdit2Id, L"EDIT", kReadOnlyEdit, 8, 88, 105, 21, ""},
    {kEdit3Id, L"EDIT", kReadOnlyEdit, 119, 88, 91, 21, ""},
    {kEdit4Id, L"EDIT", kReadOnlyEdit, 216, 88, 97, 21, ""},
    {kCheckBox3Id, L"BUTTON", kCheckBox, 287, 43, 157, 17, "Accept incomplete streams"},
    {kLabel3Id, L"STATIC", kLabel, 8, 69, 0, 0, "Potential Zlib streams:"},
    {kLabel4Id, L"STATIC", kLabel, 119, 69, 0, 0, "Total zlibbed input:"},
    {kLabel5Id, L"STATIC", kLabel, 216, 69, 0, 0, "Total zlibbed output:"},
    {kLabel6Id, L"STATIC", kLabel, 320, 88, 0, 0, kStatusNotInitialized},
    // Not one of the designed controls: shown only while a scan runs, in
    // the free space under the status line, clear of every other control.
    {kScanProgressId, PROGRESS_CLASSW, WS_CHILD | PBS_SMOOTH, 320, 104, 124, 8, ""},
};

// The controls a scan disables, in tab order.
constexpr TControlId kInputControls[] = {kEdit1Id,  kButton1Id, kCheckBox1Id, kCheckBox2Id,
                                         kCheckBox4Id, kMemo1Id, kButton2Id,  kEdit2Id,
                                         kEdit3Id, kEdit4Id,   kCheckBox3Id};

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// Per-monitor scaling needs calls that came with Windows 10 1607; found at
// run time, so that the program starts on older systems too (at the
// system's dots per inch there).
using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Function>
Function User32Entry(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT DpiOf(HWND window) {
  static const auto getDpiForWindow = User32Entry<TGetDpiForWindow>("GetDpiForWindow");
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kDefaultDpi)); }

// The outer size of a window whose client area is the designed one at `dpi`.
SIZE FormSize(UINT dpi) {
  RECT frame{0, 0, Scaled(kClientWidthPx, dpi), Scaled(kClientHeightPx, dpi)};
  static const auto adjustForDpi = User32Entry<TAdjustWindowRectExForDpi>("AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr) {
    adjustForDpi(&frame, kFormStyle, FALSE, 0, dpi);
  } else {
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
  }
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

// One name or report line is one line of the log, whatever it holds.
std::wstring OneLine(const std::string& line) {
  std::wstring text = platform::WideFromUtf8(line);
  std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c == L'\n' || c == L'\r'; }, L'\uFFFD');
  return text;
}

void RegisterFormClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;  // replaced once the window knows its object
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kFormClassName;
    windowClass.hIcon = LoadIconW(windowClass.hInstance, L"MAINICON");
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(windowClass.hInstance, L"MAINICON", IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    if (RegisterClassExW(&windowClass) == 0) throw std::runtime_error("Cannot register the window class");
    return true;
  }();
  (void)registered;
}

}  // namespace

TForm1::TForm1(const TDarkTheme* theme, bool endsProgram) : FTheme(theme), FEndsProgram(endsProgram) {
  static const bool controlsReady = [] {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)controlsReady;
  RegisterFormClass();
  const SIZE size = FormSize(kDefaultDpi);
  FHandle = CreateWindowExW(0, kFormClassName, kFormCaption, kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, size.cx,
                            size.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (FHandle == nullptr) throw std::runtime_error("Cannot create the window");
  SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm1::WindowProc));
  if (FTheme != nullptr) TDarkTheme::UseDarkTitleBar(FHandle);
  CreateControls();
  // Created at the default size; now at the size its monitor asks for.
  FDpi = DpiOf(FHandle);
  const SIZE scaled = FormSize(FDpi);
  SetWindowPos(FHandle, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut(FDpi);
  FormCreate();
}

TForm1::~TForm1() {
  if (IsWindow(FHandle)) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
  if (FFont != nullptr) DeleteObject(FFont);
}

void TForm1::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const TControlPlace& place : kPlaces) {
    HWND control = CreateWindowExW(0, place.ClassName, platform::WideFromUtf8(place.Text).c_str(), place.Style, 0, 0,
                                   0, 0, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.Id)), instance,
                                   nullptr);
    if (control == nullptr) throw std::runtime_error("Cannot create the window's controls");
    if (FTheme != nullptr && (place.Style & BS_AUTOCHECKBOX) == BS_AUTOCHECKBOX) FTheme->Prepare(control);
  }
  // No limit of the system's default 32 KiB on the log or a typed name.
  SendMessageW(Control(kMemo1Id), EM_SETLIMITTEXT, 0, 0);
  SendMessageW(Control(kEdit1Id), EM_SETLIMITTEXT, 0, 0);
  HWND progress = Control(kScanProgressId);
  SendMessageW(progress, PBM_SETRANGE32, 0, 1000);
  if (FTheme != nullptr) FTheme->Prepare(progress);
}

void TForm1::LayOut(UINT dpi) {
  HFONT font = CreateFontW(-Scaled(kFontPixelSize, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                           L"Tahoma");
  for (const TControlPlace& place : kPlaces) {
    HWND control = Control(place.Id);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    MoveWindow(control, Scaled(place.Left, dpi), Scaled(place.Top, dpi), Scaled(place.Width, dpi),
               Scaled(place.Height, dpi), FALSE);
    if (place.ClassName == std::wstring_view(L"STATIC")) FitLabel(place.Id);
  }
  if (FFont != nullptr) DeleteObject(FFont);
  FFont = font;
  InvalidateRect(FHandle, nullptr, TRUE);
}

void TForm1::FitLabel(TControlId id) {
  HWND label = Control(id);
  const std::wstring text = WindowText(label);
  HDC dc = GetDC(label);
  HGDIOBJ before = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, before);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(FHandle, nullptr, TRUE);  // the old text's width may have been wider
}

void TForm1::SetControlText(TControlId id, const std::wstring& text) {
  FSettingEdit1 = id == kEdit1Id;
  SetWindowTextW(Control(id), text.c_str());
  FSettingEdit1 = false;
}

void TForm1::SetLabelText(TControlId id, const std::string& text) {
  SetControlText(id, platform::WideFromUtf8(text));
  FitLabel(id);
}

void TForm1::FormCreate() { DragAcceptFiles(FHandle, TRUE); }

void TForm1::FormClose() { DragAcceptFiles(FHandle, FALSE); }

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      if (FEndsProgram) PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      FDpi = HIWORD(wParam);
      SetWindowPos(FHandle, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut(FDpi);
      return 0;
    }
    case WM_SETCURSOR:
      if (Scanning()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_ERASEBKGND:
      if (FTheme != nullptr) {
        RECT client;
        GetClientRect(FHandle, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, FTheme->WindowBrush());
        return 1;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      if (FTheme != nullptr) {
        return reinterpret_cast<LRESULT>(
            FTheme->ControlColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message));
      }
      break;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType != ODT_BUTTON) break;
      if (FTheme != nullptr) {
        FTheme->DrawButton(item);
      } else {
        // The system's own look for a window without the theme.
        RECT box = item.rcItem;
        const bool pressed = (item.itemState & ODS_SELECTED) != 0;
        DrawFrameControl(item.hDC, &box, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
        const std::wstring text = WindowText(item.hwndItem);
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor((item.itemState & ODS_DISABLED) != 0 ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        DrawTextW(item.hDC, text.c_str(), -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        if ((item.itemState & ODS_FOCUS) != 0) {
          InflateRect(&box, -3, -3);
          DrawFocusRect(item.hDC, &box);
        }
      }
      return TRUE;
    }
    default:
      break;
  }
  return DefWindowProcW(FHandle, message, wParam, lParam);
}

void TForm1::OnCommand(int id, int notification) {
  if (id == kEdit1Id && notification == EN_CHANGE) {
    // What the user did last wins: a name typed after a drop replaces the
    // dropped items.
    if (!FSettingEdit1) FileList.clear();
    return;
  }
  if (notification != BN_CLICKED) return;
  // A click that reaches a button during a scan (its message queued before
  // the button was disabled) is dropped, not kept for afterwards.
  if (Scanning()) return;
  if (id == kButton1Id) RunHandler([this] { Button1Click(); });
  if (id == kButton2Id) RunHandler([this] { Button2Click(); });
}

void TForm1::OnDropFiles(HDROP drop) {
  if (Scanning()) {  // refused: nothing is dropped during a scan
    DragFinish(drop);
    return;
  }
  std::vector<std::string> names;
  RunHandler([&] {
    const UINT count = DragQueryFileW(drop, kDropCountQuery, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
      // Each name read whole, however long: the system says its length.
      const UINT length = DragQueryFileW(drop, index, nullptr, 0);
      std::wstring name(static_cast<std::size_t>(length) + 1, L'\0');
      const UINT copied = DragQueryFileW(drop, index, name.data(), length + 1);
      name.resize(copied);
      if (!name.empty()) names.push_back(platform::Utf8FromWide(name));
    }
  });
  DragFinish(drop);
  RunHandler([&] { DropFiles(names); });
}

// Closing during a scan stops it; the window closes once the scan handler
// has unwound (Button2Click), so nothing of the scan outlives the window.
void TForm1::OnClose() {
  if (Scanning()) {
    FCloseRequested = true;
    FScanControl->RequestCancel();
    return;
  }
  FormClose();
  DestroyWindow(FHandle);
}

void TForm1::Button1Click() {
  const std::optional<std::string> name = OpenFileName(FHandle, CurrentDirectory());
  if (!name) return;
  SetControlText(kEdit1Id, platform::WideFromUtf8(*name));
  FileList.clear();  // the browsed name replaces any dropped items
  SetStatus(kStatusReady);
  ClearLog();
}

void TForm1::Button2Click() {
  struct TCloseAfterScan {
    TForm1& form;
    ~TCloseAfterScan() {
      if (form.FCloseRequested) PostMessageW(form.FHandle, WM_CLOSE, 0, 0);
      form.FCloseRequested = false;
    }
  } closeAfterScan{*this};
  quarn::Button2Click(*this);
}

void TForm1::DropFiles(const std::vector<std::string>& names) {
  FileList.clear();
  ClearLog();
  for (const std::string& name : names) {
    FileList.push_back(name);
    AppendLogLine(name);
  }
  SetControlText(kEdit1Id, L"");
  if (FileList.size() == 1 && IsExistingDirectory(FileList[0])) {
    SendMessageW(Control(kCheckBox2Id), BM_SETCHECK, BST_CHECKED, 0);
  }
  if (LogLineCount() >= 1) SetStatus(kStatusReady);
}

std::string TForm1::Edit1Text() const { return platform::Utf8FromWide(WindowText(Control(kEdit1Id))); }

bool TForm1::IsChecked(TScanCheckBox box) const {
  TControlId id = kCheckBox2Id;
  switch (box) {
    case TScanCheckBox::ScanWholeDirectory: id = kCheckBox2Id; break;
    case TScanCheckBox::Recursive: id = kCheckBox1Id; break;
    case TScanCheckBox::Headerless: id = kCheckBox4Id; break;
    case TScanCheckBox::AcceptIncomplete: id = kCheckBox3Id; break;
  }
  return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The log's lines as they were added, not as they wrap on the screen.
int64_t TForm1::LogLineCount() const { return FLogLines; }

void TForm1::ClearLog() {
  SetControlText(kMemo1Id, L"");
  FLogLines = 0;
}

void TForm1::AppendLogLine(const std::string& line) {
  HWND memo = Control(kMemo1Id);
  const std::wstring text = (FLogLines > 0 ? L"\r\n" : L"") + OneLine(line);
  const LRESULT end = SendMessageW(memo, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ++FLogLines;
}

void TForm1::SetStatus(const std::string& text) { SetLabelText(kLabel6Id, text); }

void TForm1::SetStreamsText(const std::string& text) { SetControlText(kEdit2Id, platform::WideFromUtf8(text)); }

void TForm1::SetZlibbedInputText(const std::string& text) { SetControlText(kEdit3Id, platform::WideFromUtf8(text)); }

void TForm1::SetZlibbedOutputText(const std::string& text) { SetControlText(kEdit4Id, platform::WideFromUtf8(text)); }

void TForm1::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // For the program's own loop, once this handler has returned; a scan
      // still running is asked to stop.
      FQuitSeen = true;
      FQuitCode = static_cast<int>(message.wParam);
      if (FScanControl != nullptr) FScanControl->RequestCancel();
      continue;
    }
    if (IsDialogMessageW(FHandle, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TForm1::ProcessWaitingEvents() {
  PumpMessages();
  UpdateWindow(FHandle);
  if (FQuitSeen && !Scanning()) {
    FQuitSeen = false;
    PostQuitMessage(FQuitCode);
  }
}

void TForm1::ShowMessageBox(const std::string& text, const std::string& caption) {
  quarn::win32::ShowMessageBox(text, caption);
}

void TForm1::ScanStarting(TScanControl& control) {
  FScanControl = &control;
  FCloseRequested = false;
  ++FScansStarted;
  FTitle = WindowText(FHandle);
  HWND focused = GetFocus();
  FFocusBefore = focused != nullptr && IsChild(FHandle, focused) ? focused : nullptr;
  FEnabledBefore.clear();
  for (TControlId id : kInputControls) {
    HWND input = Control(id);
    FEnabledBefore.emplace_back(input, IsWindowEnabled(input) != FALSE);
    EnableWindow(input, FALSE);
  }
  // A disabled control cannot keep the focus: the window holds it, so that
  // keys still reach the window's thread.
  SetFocus(FHandle);
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  FScanStart = std::chrono::steady_clock::now();
  FTimeLeft = {};
  SendMessageW(Control(kScanProgressId), PBM_SETPOS, 0, 0);
  ShowWindow(Control(kScanProgressId), SW_SHOWNA);
  ShowProgress();
}

void TForm1::WaitForScan(TBackgroundScan& scan) {
  auto nextTick = std::chrono::steady_clock::now() + kProgressInterval;
  while (!scan.Ended()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextTick) {
      ShowProgress();
      nextTick = now + kProgressInterval;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now);
    // Sleeps until a message comes, the next tick at the latest.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::max<int64_t>(wait.count(), 1)), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    PumpMessages();
  }
}

void TForm1::ScanEnded() {
  for (const auto& [control, enabled] : FEnabledBefore) EnableWindow(control, enabled ? TRUE : FALSE);
  FEnabledBefore.clear();
  if (FFocusBefore != nullptr && IsWindowEnabled(FFocusBefore) != FALSE) SetFocus(FFocusBefore);
  FFocusBefore = nullptr;
  ShowWindow(Control(kScanProgressId), SW_HIDE);
  SetWindowTextW(FHandle, FTitle.c_str());
  FScanControl = nullptr;
  if (FQuitSeen) {
    FQuitSeen = false;
    PostQuitMessage(FQuitCode);
  }
}

void TForm1::ShowProgress() {
  if (FScanControl == nullptr) return;
  const TScanProgress progress = FScanControl->Progress();
  SendMessageW(Control(kScanProgressId), PBM_SETPOS, static_cast<WPARAM>(ProgressPermille(progress)), 0);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FScanStart);
  FTimeLeft.Add(elapsed.count(), progress.BytesScanned);
  const std::string text = ProgressText(progress, FTimeLeft.SecondsLeft(progress.BytesTotal));
  SetWindowTextW(FHandle, (platform::WideFromUtf8(text) + L" - " + FTitle).c_str());
}

}  // namespace quarn::win32
