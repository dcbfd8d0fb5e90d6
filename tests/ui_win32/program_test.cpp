// quarn.exe as a user meets it: started, given a name and the Scan button
// through window messages from outside the process, and closed while it
// scans a 4 GiB file. It ends at once, with status 0.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/ui_win32/window_driver.h"
#include "ui_win32/main_window.h"

namespace quarn::test {
namespace {

using namespace std::chrono_literals;

// The window of process `process`, once it shows.
HWND WindowOfProcess(DWORD process, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    for (HWND window = FindWindowW(win32::kFormClassName, nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, win32::kFormClassName, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == process && IsWindowVisible(window)) return window;
    }
    Sleep(20);
  }
  return nullptr;
}

// A resource of the program file, read without running it.
std::string ResourceOf(HMODULE program, const wchar_t* name, const wchar_t* type) {
  HRSRC resource = FindResourceW(program, name, type);
  if (resource == nullptr) return {};
  HGLOBAL loaded = LoadResource(program, resource);
  const auto* bytes = static_cast<const char*>(LockResource(loaded));
  return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(program, resource));
}

std::wstring VersionValue(const std::vector<char>& info, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904E4\\") + key;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(Program, CarriesItsIconManifestThemeAndVersion) {
  const std::wstring path = platform::WideFromUtf8(QUARN_WINDOW_PROGRAM);
  HMODULE program = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(program, nullptr);

  // The icon group: 256, 128, 64, 48, 32 and 16 pixels (0 stands for 256),
  // in 32-bit colour.
  const std::string group = ResourceOf(program, L"MAINICON", MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  ASSERT_GE(group.size(), 6u);
  const auto count = static_cast<std::size_t>(static_cast<uint8_t>(group[4]));
  std::vector<int> sizes;
  for (std::size_t k = 0; k < count && 6 + 14 * k + 14 <= group.size(); ++k) {
    const auto* entry = reinterpret_cast<const uint8_t*>(group.data() + 6 + 14 * k);
    sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    EXPECT_EQ(entry[6], 32) << "bits per pixel of the " << sizes.back() << " px image";
  }
  EXPECT_EQ(sizes, (std::vector<int>{256, 128, 64, 48, 32, 16}));

  const std::string manifest = ResourceOf(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
  for (const char* wanted : {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2<",
                             ">true/pm<", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "level=\"asInvoker\" uiAccess=\"false\""}) {
    EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
  }
  EXPECT_NE(ResourceOf(program, L"WINDOWSDARK", MAKEINTRESOURCEW(10)).find("\"Windows10 Dark\""), std::string::npos);
  FreeLibrary(program);

  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  EXPECT_EQ(VersionValue(info, L"ProductName"), L"quarn");
  EXPECT_EQ(VersionValue(info, L"FileDescription"), L"quarn");
  EXPECT_EQ(VersionValue(info, L"FileVersion"), L"1.0.0.0");
  EXPECT_EQ(VersionValue(info, L"ProductVersion"), L"1.0.0.0");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
}

TEST(Program, ClosedDuringAScanEndsAtOnceWithStatusZero) {
  TTempDir dir;
  const std::string large = dir / "large.img";
  MakeSparseFile(large, int64_t{4} << 30);

  std::wstring commandLine = L"\"" + platform::WideFromUtf8(QUARN_WINDOW_PROGRAM) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &program))
      << "cannot start " << QUARN_WINDOW_PROGRAM;
  CloseHandle(program.hThread);
  struct TEndProgram {
    HANDLE process;
    ~TEndProgram() {
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 99);
      CloseHandle(process);
    }
  } endProgram{program.hProcess};

  const HWND window = WindowOfProcess(program.dwProcessId, 60s);
  ASSERT_NE(window, nullptr) << "the program shows no window";
  EXPECT_EQ(TextOf(window), std::wstring(win32::kFormCaption));
  // The messages cross into the other process as a user's typing and click.
  TypeText(GetDlgItem(window, win32::kEdit1Id), large);
  PostMessageW(GetDlgItem(window, win32::kButton2Id), BM_CLICK, 0, 0);

  bool scanning = false;
  for (const auto end = std::chrono::steady_clock::now() + 60s; !scanning && std::chrono::steady_clock::now() < end;) {
    const auto position = SendMessageW(GetDlgItem(window, win32::kScanProgressId), PBM_GETPOS, 0, 0);
    scanning = position > 0 && position < 1000 && TextOf(window).find(L'%') != std::wstring::npos;
    if (!scanning) Sleep(5);
  }
  ASSERT_TRUE(scanning) << "no progress was seen";

  const auto closedAt = std::chrono::steady_clock::now();
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(program.hProcess, 10000), WAIT_OBJECT_0) << "the program did not end";
  const auto endedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closedAt).count();
  DWORD status = 1;
  GetExitCodeProcess(program.hProcess, &status);
  EXPECT_EQ(status, 0u);
  std::printf("closed during the scan: the program ended %lld ms later\n", static_cast<long long>(endedMs));
  EXPECT_LT(endedMs, 1000);
}

}  // namespace
}  // namespace quarn::test
