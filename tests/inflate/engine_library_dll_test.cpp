// The engine probe on Windows with real DLLs on disk: DLLs built from the
// same static zlib as the built-in engine (one complete, one lacking
// deflateTune), Debian's zlib1.dll for mingw-w64, and a text file posing as
// a DLL are placed beside a copy of quarn-engine-probe.exe, which is run.
// The DLL that should serve must really serve the scan (its inflate code is
// the one called) with the counters of the reference scan; a DLL lacking a
// name must stop start-up with its line and status 1; DLLs in the current
// folder or on PATH must never be loaded.
//
// The system folder is searched too: wine keeps a zlib1.dll of its own
// there, which then serves when nothing lies beside the program. The tests
// ask the system the same way the program does and expect what it finds.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/inflate/engine_probe_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

enum class TKind {
  EveryName,           // zlib's interface, built here from the static zlib
  WithoutDeflateTune,  // the same without deflateTune
  DebianZlib1,         // Debian's zlib1.dll for mingw-w64
  NotALibrary,         // a text file: present, but does not load
};

void Place(TKind kind, const std::string& path) {
  const char* source = nullptr;
  switch (kind) {
    case TKind::EveryName: source = QUARN_ZLIB_EVERY_NAME_PATH; break;
    case TKind::WithoutDeflateTune: source = QUARN_ZLIB_WITHOUT_DEFLATETUNE_PATH; break;
    case TKind::DebianZlib1: source = QUARN_DEBIAN_ZLIB1_PATH; break;
    case TKind::NotALibrary: {
      const std::string text = "this is not a DLL\n";
      test::WriteFile(path, test::TBytes(text.begin(), text.end()));
      return;
    }
  }
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
}

std::string Utf8(const wchar_t* text, DWORD length) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

// The engine and inflate lines of a run with nothing beside the program:
// the system folder's zlib1.dll when it has one, else the built-in engine.
std::pair<std::string, std::string> EngineWithNothingBeside() {
  const HMODULE system = LoadLibraryExW(L"zlib1.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (system == nullptr) {
    return {std::string("engine: built-in zlib ") + zlibVersion(), "inflate from: (this program)"};
  }
  using TVersion = const char* (*)();
  const auto version = reinterpret_cast<TVersion>(reinterpret_cast<void*>(GetProcAddress(system, "zlibVersion")));
  wchar_t name[MAX_PATH];
  const DWORD length = GetModuleFileNameW(system, name, MAX_PATH);
  std::pair<std::string, std::string> lines = {std::string("engine: zlib1.dll zlib ") + version(),
                                               "inflate from: " + Utf8(name, length)};
  FreeLibrary(system);
  return lines;
}

// A name as the system reports it: backslashes, no long-path prefix.
std::string SystemName(const std::string& path) { return fs::path(path).make_preferred().string(); }

class EngineLibraryDlls : public test::TEngineProbeFixture {
 protected:
  // A fresh folder holding a copy of the probe program and `files`.
  std::string ProgramBeside(const std::string& name, const std::map<std::string, TKind>& files) {
    const std::string program = CopyOfProgram(name);
    for (const auto& [fileName, kind] : files) Place(kind, dir_ / name + "/" + fileName);
    return program;
  }
};

struct TDllCase {
  const char* label;
  std::map<std::string, TKind> files;
  const char* serving;  // DLL beside the program that serves; null: as with nothing beside
  const char* failure;  // start-up error text, or null
};

TEST_F(EngineLibraryDlls, ServingDllScansLikeTheReferenceOrStopsStartUp) {
  using enum TKind;
  const TDllCase cases[] = {
      {"nothing beside", {}, nullptr, nullptr},
      {"A", {{"zlibwapi.dll", EveryName}}, "zlibwapi.dll", nullptr},
      {"A's fallback", {{"zlib.dll", EveryName}}, "zlib.dll", nullptr},
      {"B, Debian's zlib1.dll", {{"zlib1.dll", DebianZlib1}}, "zlib1.dll", nullptr},
      {"A and B", {{"zlibwapi.dll", EveryName}, {"zlib1.dll", DebianZlib1}}, "zlibwapi.dll", nullptr},
      {"A and its fallback", {{"zlibwapi.dll", EveryName}, {"zlib.dll", WithoutDeflateTune}}, "zlibwapi.dll",
       nullptr},
      {"fallback and B", {{"zlib.dll", EveryName}, {"zlib1.dll", DebianZlib1}}, "zlib.dll", nullptr},
      {"A not a DLL, B", {{"zlibwapi.dll", NotALibrary}, {"zlib1.dll", DebianZlib1}}, "zlib1.dll", nullptr},
      {"A not a DLL, fallback", {{"zlibwapi.dll", NotALibrary}, {"zlib.dll", EveryName}}, "zlib.dll", nullptr},
      {"B incomplete, A serves", {{"zlibwapi.dll", EveryName}, {"zlib1.dll", WithoutDeflateTune}}, "zlibwapi.dll",
       nullptr},
      {"A incomplete", {{"zlibwapi.dll", WithoutDeflateTune}}, nullptr, "Assertion failure (zlibdll, line 164)"},
      {"A's fallback incomplete", {{"zlib.dll", WithoutDeflateTune}}, nullptr,
       "Assertion failure (zlibdll, line 164)"},
      {"A incomplete, B complete", {{"zlibwapi.dll", WithoutDeflateTune}, {"zlib1.dll", DebianZlib1}}, nullptr,
       "Assertion failure (zlibdll, line 164)"},
      // Beside the program comes before the system folder.
      {"B incomplete", {{"zlib1.dll", WithoutDeflateTune}}, nullptr, "Assertion failure (zlibdll, line 187)"},
  };
  const auto [engineAlone, inflateAlone] = EngineWithNothingBeside();
  int caseNumber = 0;
  for (const TDllCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string program = ProgramBeside("case" + std::to_string(caseNumber++), c.files);
    const test::TProgramResult result = test::RunProgram(program, {data_});
    if (c.serving == nullptr) {
      ExpectRun(result, c.failure, engineAlone, inflateAlone);
    } else {
      const std::string beside = SystemName(fs::path(program).parent_path().string() + "/" + c.serving);
      ExpectRun(result, c.failure, std::string("engine: ") + c.serving + " zlib " + zlibVersion(),
                "inflate from: " + beside);
    }
  }
}

// DLLs planted in the current folder or in a folder on PATH are never
// loaded, even when they would stop start-up: only the program's folder
// and the system folder count.
TEST_F(EngineLibraryDlls, DllsInTheCurrentFolderOrOnPathAreNeverLoaded) {
  const std::string program = ProgramBeside("alone", {});
  const std::string planted = dir_ / "planted";
  fs::create_directory(planted);
  for (const char* name : {"zlibwapi.dll", "zlib.dll", "zlib1.dll"}) {
    Place(TKind::WithoutDeflateTune, planted + "/" + name);
  }
  // The child inherits this process's current folder and environment.
  const fs::path savedFolder = fs::current_path();
  const DWORD pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring savedPath(pathLength, L'\0');
  GetEnvironmentVariableW(L"PATH", savedPath.data(), pathLength);
  if (!savedPath.empty()) savedPath.pop_back();  // the terminating zero
  fs::current_path(planted);
  SetEnvironmentVariableW(L"PATH", (fs::path(planted).make_preferred().wstring() + L";" + savedPath).c_str());
  const test::TProgramResult result = test::RunProgram(program, {data_});
  SetEnvironmentVariableW(L"PATH", savedPath.c_str());
  fs::current_path(savedFolder);
  const auto [engineAlone, inflateAlone] = EngineWithNothingBeside();
  ExpectRun(result, nullptr, engineAlone, inflateAlone);
}

}  // namespace
}  // namespace quarn
