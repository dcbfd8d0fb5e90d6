// The Win32 window, driven through window messages as a user would: its
// controls and their places, the report after a scan (the same as the scan
// driver gives any window, so the same as the Qt window and quarn-scan),
// drops, the file-open dialog, the message boxes, and a scan of a 4 GiB
// file with its progress, a click and a drop that have no effect, and a
// close that stops it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "../engine/fake_window.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "tests/ui_win32/window_driver.h"
#include "ui_win32/dialogs.h"
#include "ui_win32/main_window.h"

namespace quarn::test {
namespace {

using win32::TControlId;
using win32::TForm1;
using namespace std::chrono_literals;

struct TPlace {
  TControlId id;
  int left, top, width, height;
  const char* text;
};

// Positions and sizes at 96 dpi; labels size themselves (width and height
// 0: not checked).
constexpr TPlace kDesigned[] = {
    {win32::kLabel1Id, 8, 16, 0, 0, "Input file(s):"},
    {win32::kEdit1Id, 88, 16, 359, 21, ""},
    {win32::kButton1Id, 450, 14, 77, 25, "Browse..."},
    {win32::kCheckBox2Id, 8, 43, 121, 17, "Scan whole directory"},
    {win32::kCheckBox1Id, 135, 43, 66, 17, "Recursive"},
    {win32::kCheckBox4Id, 207, 43, 74, 17, "Headerless"},
    {win32::kCheckBox3Id, 287, 43, 157, 17, "Accept incomplete streams"},
    {win32::kButton2Id, 450, 45, 77, 64, "Scan"},
    {win32::kLabel3Id, 8, 69, 0, 0, "Potential Zlib streams:"},
    {win32::kLabel4Id, 119, 69, 0, 0, "Total zlibbed input:"},
    {win32::kLabel5Id, 216, 69, 0, 0, "Total zlibbed output:"},
    {win32::kEdit2Id, 8, 88, 105, 21, ""},
    {win32::kEdit3Id, 119, 88, 91, 21, ""},
    {win32::kEdit4Id, 216, 88, 97, 21, ""},
    {win32::kLabel6Id, 320, 88, 0, 0, "Status: Not initialized"},
    {win32::kMemo1Id, 8, 115, 519, 306, ""},
};

RECT ClientRectOf(HWND control) {
  RECT box;
  GetWindowRect(control, &box);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&box), 2);
  return box;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileList.clear();
    form_ = std::make_unique<TForm1>(nullptr, /*endsProgram=*/false);
    ShowWindow(form_->Handle(), SW_SHOWNOACTIVATE);
  }
  void TearDown() override {
    form_.reset();
    FileList.clear();
  }

  HWND Control(TControlId id) const { return form_->Control(id); }
  std::vector<std::string> Log() const { return LogLines(Control(win32::kMemo1Id)); }
  std::string Status() const { return Utf8TextOf(Control(win32::kLabel6Id)); }

  void SetBoxes(bool headerless, bool acceptIncomplete) {
    if (Ticked(Control(win32::kCheckBox4Id)) != headerless) Click(Control(win32::kCheckBox4Id));
    if (Ticked(Control(win32::kCheckBox3Id)) != acceptIncomplete) Click(Control(win32::kCheckBox3Id));
  }

  std::unique_ptr<TForm1> form_;
  TTempDir dir_;
};

// What the scan driver shows in any window for `names` (dropped when there
// are several, else typed) with the two options.
TFakeWindow ExpectedScan(const std::vector<std::string>& names, bool headerless, bool acceptIncomplete) {
  TFakeWindow window;
  if (names.size() == 1) {
    window.Type(names[0]);
  } else {
    window.Drop(names);
  }
  window.headerless = headerless;
  window.acceptIncomplete = acceptIncomplete;
  Button2Click(window);
  FileList.clear();
  return window;
}

TEST_F(WindowTest, ControlsSitAtTheirPlacesWithTheirTextsInTabOrder) {
  RECT client;
  GetClientRect(form_->Handle(), &client);
  EXPECT_EQ(client.right, win32::kClientWidthPx);
  EXPECT_EQ(client.bottom, win32::kClientHeightPx);
  EXPECT_EQ(TextOf(form_->Handle()), std::wstring(win32::kFormCaption));
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(form_->Handle(), GWL_STYLE));
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX) << "the window cannot be maximised";
  EXPECT_FALSE(style & WS_THICKFRAME) << "nor resized";

  for (const TPlace& place : kDesigned) {
    SCOPED_TRACE(place.text);
    HWND control = Control(place.id);
    ASSERT_NE(control, nullptr);
    const RECT box = ClientRectOf(control);
    EXPECT_EQ(box.left, place.left);
    EXPECT_EQ(box.top, place.top);
    if (place.width != 0) {
      EXPECT_EQ(box.right - box.left, place.width);
      EXPECT_EQ(box.bottom - box.top, place.height);
    } else {
      EXPECT_GT(box.right - box.left, 20) << "a label as wide as its text";
    }
    EXPECT_EQ(Utf8TextOf(control), place.text);
  }
  EXPECT_FALSE(IsWindowVisible(Control(win32::kScanProgressId))) << "the bar shows only while a scan runs";
  for (TControlId box : {win32::kCheckBox1Id, win32::kCheckBox2Id, win32::kCheckBox3Id, win32::kCheckBox4Id}) {
    EXPECT_FALSE(Ticked(Control(box)));
  }
  for (TControlId readOnly : {win32::kEdit2Id, win32::kEdit3Id, win32::kEdit4Id, win32::kMemo1Id}) {
    EXPECT_TRUE(GetWindowLongPtrW(Control(readOnly), GWL_STYLE) & ES_READONLY);
  }

  // Tab goes through the controls in the designed order, not the visual one.
  const TControlId order[] = {win32::kEdit1Id,  win32::kButton1Id, win32::kCheckBox1Id, win32::kCheckBox2Id,
                              win32::kCheckBox4Id, win32::kMemo1Id, win32::kButton2Id,   win32::kEdit2Id,
                              win32::kEdit3Id,  win32::kEdit4Id,   win32::kCheckBox3Id, win32::kEdit1Id};
  for (std::size_t k = 0; k + 1 < std::size(order); ++k) {
    EXPECT_EQ(GetNextDlgTabItem(form_->Handle(), Control(order[k]), FALSE), Control(order[k + 1]))
        << "after control " << order[k];
  }
}

// A monitor of twice the dots per inch: the window and every control grow
// to twice their size, and back on the first monitor.
TEST_F(WindowTest, ScalesWithTheMonitorsDotsPerInch) {
  for (const UINT dpi : {192u, 144u, 96u}) {
    SCOPED_TRACE(dpi);
    RECT frame{0, 0, MulDiv(win32::kClientWidthPx, static_cast<int>(dpi), 96),
               MulDiv(win32::kClientHeightPx, static_cast<int>(dpi), 96)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(form_->Handle(), GWL_STYLE)), FALSE, 0);
    SendMessageW(form_->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    RECT client;
    GetClientRect(form_->Handle(), &client);
    EXPECT_EQ(client.right, MulDiv(win32::kClientWidthPx, static_cast<int>(dpi), 96));
    for (const TPlace& place : kDesigned) {
      const RECT box = ClientRectOf(Control(place.id));
      EXPECT_EQ(box.left, MulDiv(place.left, static_cast<int>(dpi), 96)) << place.text;
      EXPECT_EQ(box.top, MulDiv(place.top, static_cast<int>(dpi), 96)) << place.text;
      if (place.width != 0) {
        EXPECT_EQ(box.right - box.left, MulDiv(place.width, static_cast<int>(dpi), 96)) << place.text;
      }
    }
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(win32::kMemo1Id), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(11, static_cast<int>(dpi), 96));
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Tahoma");
  }
}

TEST_F(WindowTest, ReportIsTheDriversInEveryCombinationOfOptions) {
  TLayout mixed;
  mixed.Append(MakeNoise(3000, 1));
  mixed.Append(Zlib(MakeText(40000, 2), 9, 15));
  mixed.Append(MakeNoise(500, 3));
  mixed.Append(Raw(MakeText(30000, 4), 6));
  mixed.Append(Zlib(MakeText(20000, 5), 1, 10));
  const TBytes cut = Zlib(MakeText(60000, 6), 6, 15);
  const std::string mixedName = dir_ / "mixed.bin", cutName = dir_ / "cut short.bin";
  WriteFile(mixedName, mixed.Bytes());
  WriteFile(cutName, TBytes(cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(cut.size() / 2)));
  // A real file nobody wrote for this test: the test program itself.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::string selfName = platform::Utf8FromWide(self);

  for (const std::vector<std::string>& names : {std::vector<std::string>{mixedName},
                                               std::vector<std::string>{mixedName, cutName, selfName}}) {
    for (const bool headerless : {false, true}) {
      for (const bool acceptIncomplete : {false, true}) {
        SCOPED_TRACE(::testing::Message() << names.size() << " names, headerless " << headerless
                                          << ", accept incomplete " << acceptIncomplete);
        const TFakeWindow expected = ExpectedScan(names, headerless, acceptIncomplete);
        if (names.size() == 1) {
          TypeText(Control(win32::kEdit1Id), names[0]);
        } else {
          DropNames(form_->Handle(), names);
        }
        SetBoxes(headerless, acceptIncomplete);
        Click(Control(win32::kButton2Id));  // returns once the scan has ended
        EXPECT_EQ(Log(), expected.log);
        EXPECT_EQ(Utf8TextOf(Control(win32::kEdit2Id)), expected.edit2);
        EXPECT_EQ(Utf8TextOf(Control(win32::kEdit3Id)), expected.edit3);
        EXPECT_EQ(Utf8TextOf(Control(win32::kEdit4Id)), expected.edit4);
        EXPECT_EQ(Status(), "Status: Finished");
        EXPECT_EQ(expected.log.front(), "Files scanned: " + std::to_string(names.size()));
        EXPECT_TRUE(IsWindowEnabled(Control(win32::kButton2Id))) << "every control back as before";
      }
    }
  }
  EXPECT_EQ(form_->ScansStarted(), 8);
}

TEST_F(WindowTest, DropReplacesTheSelectionAndASingleFolderTicksScanWholeDirectory) {
  const std::string folder = dir_ / "folder", file = dir_ / "one.bin";
  std::filesystem::create_directory(std::filesystem::u8path(folder));
  WriteFile(file, Zlib(MakeText(5000, 1)));
  TypeText(Control(win32::kEdit1Id), file);

  // A name longer than the classic 260 characters arrives whole.
  const std::string longName = dir_ / (std::string(200, 'n') + "/" + std::string(200, 'm') + ".bin");
  DropNames(form_->Handle(), {file, folder, longName});
  EXPECT_EQ(FileList, (std::vector<std::string>{file, folder, longName}));
  EXPECT_EQ(Log(), FileList);
  EXPECT_EQ(Utf8TextOf(Control(win32::kEdit1Id)), "");
  EXPECT_EQ(Status(), "Status: Ready");
  EXPECT_FALSE(Ticked(Control(win32::kCheckBox2Id))) << "several names tick nothing";

  DropNames(form_->Handle(), {folder});
  EXPECT_EQ(FileList, std::vector<std::string>{folder});
  EXPECT_EQ(Log(), FileList);
  EXPECT_TRUE(Ticked(Control(win32::kCheckBox2Id)));
  EXPECT_FALSE(Ticked(Control(win32::kCheckBox1Id))) << "Recursive stays as it was";

  // More names than the log shows at once: every one is kept.
  std::vector<std::string> many;
  for (int k = 0; k < 80; ++k) many.push_back(dir_ / ("dropped " + std::to_string(k) + ".bin"));
  DropNames(form_->Handle(), many);
  EXPECT_EQ(Log(), many);
  EXPECT_EQ(form_->LogLineCount(), 80);

  // A name typed after the drop replaces the dropped items.
  TypeText(Control(win32::kEdit1Id), file);
  EXPECT_TRUE(FileList.empty());

  // A drop without names leaves the selection empty and the status as it
  // was.
  SetBoxes(false, false);
  DropNames(form_->Handle(), {});
  EXPECT_TRUE(FileList.empty());
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(Utf8TextOf(Control(win32::kEdit1Id)), "");
  EXPECT_EQ(Status(), "Status: Ready");
}

TEST_F(WindowTest, BrowsePutsTheChosenNameInEdit1AndCancelChangesNothing) {
  const std::string file = dir_ / "chosen.bin";
  WriteFile(file, Zlib(MakeText(5000, 1)));
  DropNames(form_->Handle(), {file, file});
  ASSERT_EQ(Log().size(), 2u);

  {  // cancelled: nothing changes
    TDialogWatcher watcher([](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    Click(Control(win32::kButton1Id));
    ASSERT_TRUE(watcher.Join()) << "no file-open dialog";
  }
  EXPECT_EQ(Log().size(), 2u);
  EXPECT_EQ(FileList.size(), 2u);

  std::string title;
  {
    TDialogWatcher watcher([&](HWND dialog) {
      title = Utf8TextOf(dialog);
      // The name box of the system's file-open dialog (cmb13, or edt1 in
      // the older form), then Open.
      HWND nameBox = NameBoxOf(dialog, 0x47C);
      if (nameBox == nullptr) nameBox = NameBoxOf(dialog, 0x480);
      const std::wstring typed = std::filesystem::u8path(file).make_preferred().wstring();
      SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    Click(Control(win32::kButton1Id));
    ASSERT_TRUE(watcher.Join()) << "no file-open dialog";
  }
  EXPECT_EQ(std::filesystem::u8path(Utf8TextOf(Control(win32::kEdit1Id))), std::filesystem::u8path(file).make_preferred());
  EXPECT_EQ(Status(), "Status: Ready");
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(FileList.empty()) << "the chosen name replaces the dropped ones";
}

TEST_F(WindowTest, NothingSelectedAndAMissingNameAreShownInMessageBoxes) {
  TShownBox nothing;
  {
    TDialogWatcher watcher(ReadAndClose(nothing));
    Click(Control(win32::kButton2Id));
    ASSERT_TRUE(watcher.Join()) << "no message box";
  }
  EXPECT_EQ(nothing.text, "No files were selected");
  EXPECT_EQ(nothing.caption, "");
  EXPECT_FALSE(nothing.hasIcon);
  EXPECT_EQ(Status(), "Status: Not initialized");

  const std::string missing = dir_ / "missing.bin";
  TShownBox error;
  {
    TypeText(Control(win32::kEdit1Id), missing);
    TDialogWatcher watcher(ReadAndClose(error));
    Click(Control(win32::kButton2Id));
    ASSERT_TRUE(watcher.Join()) << "no error box";
  }
  EXPECT_NE(error.text.find("missing.bin"), std::string::npos) << error.text;
  EXPECT_EQ(error.text.back(), '.');
  EXPECT_EQ(error.caption, win32::ApplicationTitle());
  EXPECT_TRUE(error.hasIcon) << "the stop icon";
  EXPECT_TRUE(IsWindowEnabled(Control(win32::kButton2Id))) << "the window goes on";
}

TEST_F(WindowTest, ScanOfFourGiBShowsProgressRefusesInputAndStopsWhenClosed) {
  const std::string large = dir_ / "large.img";
  MakeSparseFile(large, int64_t{4} << 30);
  TypeText(Control(win32::kEdit1Id), large);
  const HWND window = form_->Handle();
  const HWND scanButton = Control(win32::kButton2Id);
  const HWND progressBar = Control(win32::kScanProgressId);

  // From a thread of its own, as the user's hand: watch the progress, click
  // Scan again, drop a file, then close the window.
  std::atomic<int> positionSeen{0};
  std::atomic<bool> titleShowedShare{false}, inputRefused{false};
  std::chrono::steady_clock::time_point closedAt;
  std::thread user([&] {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
      const auto position = static_cast<int>(SendMessageW(progressBar, PBM_GETPOS, 0, 0));
      const std::wstring title = TextOf(window);
      if (position > 0 && position < 1000 && IsWindowVisible(progressBar) &&
          title.find(L"% - 0 of 1 files") != std::wstring::npos) {
        positionSeen = position;
        titleShowedShare = title.find(win32::kFormCaption) != std::wstring::npos;
        break;
      }
      Sleep(5);
    }
    inputRefused = IsWindowEnabled(scanButton) == FALSE && IsWindowEnabled(GetDlgItem(window, win32::kEdit1Id)) == FALSE;
    PostMessageW(scanButton, BM_CLICK, 0, 0);
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({large, large})), 0);
    Sleep(100);
    closedAt = std::chrono::steady_clock::now();
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  Click(scanButton);  // returns once the scan has ended
  const auto scanEnded = std::chrono::steady_clock::now();
  user.join();
  ASSERT_TRUE(PumpUntil([&] { return IsWindow(window) == FALSE; }, 5s)) << "the window did not close";
  const auto closed = std::chrono::steady_clock::now();

  EXPECT_GT(positionSeen.load(), 0) << "no progress was seen";
  EXPECT_TRUE(titleShowedShare) << "the title shows the share done before the caption";
  EXPECT_TRUE(inputRefused) << "controls are disabled during the scan";
  EXPECT_EQ(form_->ScansStarted(), 1) << "a click during the scan started another";
  EXPECT_EQ(FileList, std::vector<std::string>{}) << "the drop during the scan was taken";
  const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(scanEnded - closedAt).count();
  const auto closeMs = std::chrono::duration_cast<std::chrono::milliseconds>(closed - closedAt).count();
  std::printf("close during the scan: the scan ended %lld ms and the window %lld ms after it\n",
              static_cast<long long>(stopMs), static_cast<long long>(closeMs));
  EXPECT_LT(closeMs, 1000);
}

}  // namespace
}  // namespace quarn::test
