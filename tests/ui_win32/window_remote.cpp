// quarn-window-remote.exe: starts quarn.exe and works its window from
// outside, as a user would, through window messages: types a name, ticks
// boxes, presses Scan, and then prints the report (the log's lines) or
// pictures the window (a PNG of the screen where the window is).
//   quarn-window-remote.exe PROGRAM [options] NAME
//     --headerless --accept-incomplete --whole-directory --recursive
//     --shot OUT.png     picture the window once the scan has finished
//     --mid-scan         ... or while it runs, a third of the way in
// Without --shot the log's lines go to standard output, one a line, and
// the program ends with status 0 once quarn.exe has ended with it. A
// message box that quarn.exe shows is printed to standard error and
// closed, and the status is then 1.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/ui_win32/window_driver.h"
#include "ui_win32/main_window.h"
#include "util/platform/wide_text_win32.h"

namespace {

using namespace std::chrono_literals;
using quarn::platform::Utf8FromWide;
using quarn::platform::WideFromUtf8;

int Fail(const std::string& why) {
  std::fprintf(stderr, "quarn-window-remote: %s\n", why.c_str());
  return 2;
}

HWND WindowOfProcess(DWORD process) {
  for (HWND window = FindWindowW(quarn::win32::kFormClassName, nullptr); window != nullptr;
       window = FindWindowExW(nullptr, window, quarn::win32::kFormClassName, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

// A message box of process `process`, if one is up.
HWND BoxOfProcess(DWORD process) {
  for (HWND box = FindWindowW(L"#32770", nullptr); box != nullptr; box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner == process && IsWindowVisible(box)) return box;
  }
  return nullptr;
}

void PutChunk(std::string& png, const char* type, const std::string& data) {
  const auto size = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((size >> shift) & 0xFF);
  const std::string body = type + data;
  png += body;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((crc >> shift) & 0xFF);
}

// The screen's pixels inside `box`, as an RGB PNG file.
bool SaveScreenPng(const RECT& box, const std::string& path) {
  const int width = box.right - box.left, height = box.bottom - box.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ before = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  GdiFlush();
  std::string rows;
  const auto* pixels = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    rows += '\0';  // no filter
    for (int x = 0; x < width; ++x) {
      const uint8_t* bgra = pixels + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
      rows += static_cast<char>(bgra[2]);
      rows += static_cast<char>(bgra[1]);
      rows += static_cast<char>(bgra[0]);
    }
  }
  SelectObject(memory, before);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(rows.data()),
                static_cast<uLong>(rows.size()), 9) != Z_OK) {
    return false;
  }
  packed.resize(packedSize);
  std::string header;
  for (uint32_t value : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)}) {
    for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((value >> shift) & 0xFF);
  }
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", "");
  FILE* out = _wfopen(WideFromUtf8(path).c_str(), L"wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n", as on Linux
  std::vector<std::string> args;
  for (int k = 1; k < argc; ++k) args.push_back(Utf8FromWide(argv[k]));
  if (args.size() < 2) return Fail("usage: PROGRAM [options] NAME");
  const std::string program = args.front(), name = args.back();
  std::vector<int> ticks;
  std::string shot;
  bool midScan = false;
  for (std::size_t k = 1; k + 1 < args.size(); ++k) {
    if (args[k] == "--headerless") ticks.push_back(quarn::win32::kCheckBox4Id);
    else if (args[k] == "--accept-incomplete") ticks.push_back(quarn::win32::kCheckBox3Id);
    else if (args[k] == "--whole-directory") ticks.push_back(quarn::win32::kCheckBox2Id);
    else if (args[k] == "--recursive") ticks.push_back(quarn::win32::kCheckBox1Id);
    else if (args[k] == "--mid-scan") midScan = true;
    else if (args[k] == "--shot" && k + 2 < args.size()) shot = args[++k];
    else return Fail("unknown option " + args[k]);
  }

  std::wstring commandLine = L"\"" + WideFromUtf8(program) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return Fail("cannot start " + program);
  }
  CloseHandle(started.hThread);
  HWND window = nullptr;
  for (const auto end = std::chrono::steady_clock::now() + 60s; window == nullptr && std::chrono::steady_clock::now() < end;) {
    window = WindowOfProcess(started.dwProcessId);
    if (window == nullptr) Sleep(20);
  }
  if (window == nullptr) {
    TerminateProcess(started.hProcess, 2);
    return Fail("no window");
  }
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  quarn::test::TypeText(GetDlgItem(window, quarn::win32::kEdit1Id), name);
  for (int box : ticks) SendMessageW(GetDlgItem(window, box), BM_CLICK, 0, 0);
  PostMessageW(GetDlgItem(window, quarn::win32::kButton2Id), BM_CLICK, 0, 0);

  // Until the scan has ended (or, for --mid-scan, is a third done); a box
  // shown meanwhile is reported and closed.
  int status = 0;
  const HWND progress = GetDlgItem(window, quarn::win32::kScanProgressId);
  for (const auto end = std::chrono::steady_clock::now() + 600s; std::chrono::steady_clock::now() < end; Sleep(10)) {
    if (HWND box = BoxOfProcess(started.dwProcessId)) {
      std::fprintf(stderr, "%s\n", quarn::test::Utf8TextOf(GetDlgItem(box, 0xFFFF)).c_str());
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      status = 1;
      Sleep(200);
      break;
    }
    const bool scanning = IsWindowVisible(progress) != FALSE;
    if (midScan && scanning && SendMessageW(progress, PBM_GETPOS, 0, 0) >= 333) break;
    if (!midScan && !scanning && quarn::test::Utf8TextOf(GetDlgItem(window, quarn::win32::kLabel6Id)) == "Status: Finished") break;
  }
  Sleep(300);  // the last paint
  if (!shot.empty()) {
    RECT box;
    GetWindowRect(window, &box);
    if (!SaveScreenPng(box, shot)) status = Fail("cannot write " + shot);
  } else {
    for (const std::string& line : quarn::test::LogLines(GetDlgItem(window, quarn::win32::kMemo1Id))) {
      std::printf("%s\n", line.c_str());
    }
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(started.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(started.hProcess, 2);
    status = Fail("the window did not close");
  }
  DWORD exitCode = 1;
  GetExitCodeProcess(started.hProcess, &exitCode);
  CloseHandle(started.hProcess);
  if (exitCode != 0 && status == 0) status = Fail("quarn.exe ended with status " + std::to_string(exitCode));
  std::fflush(stdout);
  return status;
}
