// The engine probe with real libraries on disk. Libraries built from the
// same static zlib as the built-in engine (one complete, one lacking
// deflateTune) and a text file posing as a library are placed beside a copy
// of quarn-engine-probe, which is run: the library that should serve must
// really serve the scan (its inflate code is the one called) with the same
// counters as the built-in engine, and a library lacking a name must stop
// start-up with its line and status 1.
#include <gtest/gtest.h>

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
  EveryName,            // exports zlib's whole interface
  WithoutDeflateTune,   // all of it but deflateTune
  NotALibrary,          // a text file: present, but does not load
};

const char* SourceOf(TKind kind) {
  switch (kind) {
    case TKind::EveryName: return QUARN_ZLIB_EVERY_NAME_PATH;
    case TKind::WithoutDeflateTune: return QUARN_ZLIB_WITHOUT_DEFLATETUNE_PATH;
    case TKind::NotALibrary: return nullptr;
  }
  return nullptr;
}

void Place(TKind kind, const std::string& path) {
  if (kind == TKind::NotALibrary) {
    const std::string text = "this is not a shared library\n";
    test::WriteFile(path, test::TBytes(text.begin(), text.end()));
    return;
  }
  fs::copy_file(SourceOf(kind), path, fs::copy_options::overwrite_existing);
}

class EngineLibraryOnDisk : public test::TEngineProbeFixture {
 protected:
  // A fresh folder holding a copy of the probe program and `files`.
  std::string ProgramBeside(const std::string& name, const std::map<std::string, TKind>& files) {
    const std::string program = CopyOfProgram(name);
    for (const auto& [fileName, kind] : files) Place(kind, dir_ / name + "/" + fileName);
    return program;
  }
};

struct TDiskCase {
  const char* label;
  std::map<std::string, TKind> files;
  const char* serving;   // file that serves; null: the built-in engine
  const char* failure;   // start-up error text, or null
};

TEST_F(EngineLibraryOnDisk, ServingLibraryScansLikeTheBuiltInEngineOrStopsStartUp) {
  using enum TKind;
  const TDiskCase cases[] = {
      {"nothing beside", {}, nullptr, nullptr},
      {"A", {{"libzlibwapi.so", EveryName}}, "libzlibwapi.so", nullptr},
      {"A's fallback", {{"libzlib.so", EveryName}}, "libzlib.so", nullptr},
      {"B", {{"libz.so.1", EveryName}}, "libz.so.1", nullptr},
      {"A and B", {{"libzlibwapi.so", EveryName}, {"libz.so.1", EveryName}}, "libzlibwapi.so", nullptr},
      {"A and its fallback", {{"libzlibwapi.so", EveryName}, {"libzlib.so", EveryName}}, "libzlibwapi.so", nullptr},
      {"fallback and B", {{"libzlib.so", EveryName}, {"libz.so.1", EveryName}}, "libzlib.so", nullptr},
      {"A not a library, B", {{"libzlibwapi.so", NotALibrary}, {"libz.so.1", EveryName}}, "libz.so.1", nullptr},
      {"A not a library, fallback", {{"libzlibwapi.so", NotALibrary}, {"libzlib.so", EveryName}}, "libzlib.so", nullptr},
      {"only files that are not libraries",
       {{"libzlibwapi.so", NotALibrary}, {"libzlib.so", NotALibrary}, {"libz.so.1", NotALibrary}}, nullptr, nullptr},
      {"B incomplete, A serves", {{"libzlibwapi.so", EveryName}, {"libz.so.1", WithoutDeflateTune}}, "libzlibwapi.so", nullptr},
      {"A incomplete", {{"libzlibwapi.so", WithoutDeflateTune}}, nullptr, "Assertion failure (zlibdll, line 164)"},
      {"A's fallback incomplete", {{"libzlib.so", WithoutDeflateTune}}, nullptr, "Assertion failure (zlibdll, line 164)"},
      {"A incomplete, B complete", {{"libzlibwapi.so", WithoutDeflateTune}, {"libz.so.1", EveryName}}, nullptr,
       "Assertion failure (zlibdll, line 164)"},
      {"B incomplete", {{"libz.so.1", WithoutDeflateTune}}, nullptr, "Assertion failure (zlibdll, line 187)"},
  };
  int caseNumber = 0;
  for (const TDiskCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string program = ProgramBeside("case" + std::to_string(caseNumber++), c.files);
    const test::TProgramResult result = test::RunProgram(program, {data_});
    if (c.serving == nullptr) {
      ExpectRun(result, c.failure, std::string("engine: built-in zlib ") + zlibVersion(), "inflate from: (this program)");
    } else {
      const std::string directory = fs::path(program).parent_path().string();
      ExpectRun(result, c.failure, std::string("engine: ") + c.serving + " zlib " + zlibVersion(),
                "inflate from: " + directory + "/" + c.serving);
    }
  }
}

// Only the executable's own directory counts: not the current directory,
// not LD_LIBRARY_PATH, not the directory of a symbolic link to the program,
// and never the system's libz.so.1.
TEST_F(EngineLibraryOnDisk, LibrariesElsewhereThanBesideTheExecutableAreIgnored) {
  const std::string program = ProgramBeside("alone", {});
  const std::string elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  for (const char* name : {"libzlibwapi.so", "libzlib.so", "libz.so.1"}) {
    Place(TKind::EveryName, elsewhere + "/" + name);
  }
  fs::create_symlink(program, elsewhere + "/quarn-engine-probe");

  const std::vector<std::vector<std::string>> runs = {
      {"/usr/bin/env", "-C", elsewhere, "LD_LIBRARY_PATH=" + elsewhere, program, data_},
      {"/usr/bin/env", "-C", elsewhere, "./quarn-engine-probe", data_},
  };
  for (const std::vector<std::string>& run : runs) {
    SCOPED_TRACE(run[run.size() - 2]);
    const test::TProgramResult result =
        test::RunProgram(run[0], std::vector<std::string>(run.begin() + 1, run.end()));
    ExpectRun(result, nullptr, std::string("engine: built-in zlib ") + zlibVersion(), "inflate from: (this program)");
  }
}

}  // namespace
}  // namespace quarn
