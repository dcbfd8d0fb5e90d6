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

#include "tests/support/reference_scan.h"
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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

class EngineLibraryOnDisk : public testing::Test {
 protected:
  void SetUp() override {
    // Header streams of several windows and levels, raw deflate and noise.
    const test::TBytes text = test::MakeText(60000, 4);
    test::TLayout layout;
    layout.Append(test::MakeNoise(3000, 1));
    layout.Append(test::Zlib(text, 9, 15));
    layout.Zeros(40);
    layout.Append(test::Zlib(text, 1, 10));
    layout.Append(test::MakeNoise(2000, 2));
    layout.Append(test::Raw(test::MakeText(20000, 5)));
    layout.Zeros(100);
    layout.Append(test::Zlib(text, 6, 12, Z_FIXED));
    layout.Append(test::MakeNoise(5000, 3));
    data_ = dir_ / "data.bin";
    test::WriteFile(data_, layout.Bytes());

    // The counters line that the probe program must print, from the plain
    // reference scan (zlib called directly) over the same bytes.
    const test::TReferenceResult r =
        test::ReferenceScan(layout.Bytes().data(), static_cast<int64_t>(layout.Bytes().size()), true, false);
    ASSERT_GT(r.Z, 0);
    ASSERT_GT(r.hless, 0);
    expectedCounters_ = test::CountersLine(r);
  }

  // A fresh directory holding a copy of the probe program and `files`.
  std::string ProgramBeside(const std::string& name, const std::map<std::string, TKind>& files) {
    const std::string directory = dir_ / name;
    fs::create_directory(directory);
    const std::string program = directory + "/quarn-engine-probe";
    fs::copy_file(QUARN_ENGINE_PROBE_PATH, program);
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
    for (const auto& [fileName, kind] : files) Place(kind, directory + "/" + fileName);
    return program;
  }

  test::TTempDir dir_;
  std::string data_;
  std::string expectedCounters_;
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
    if (c.failure != nullptr) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string(c.failure) + "\n");
      EXPECT_EQ(result.out, "");
      continue;
    }
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    const std::string directory = fs::path(program).parent_path().string();
    if (c.serving == nullptr) {
      EXPECT_EQ(lines[0], std::string("engine: built-in zlib ") + zlibVersion());
      EXPECT_EQ(lines[1], "inflate from: (this program)");
    } else {
      EXPECT_EQ(lines[0], std::string("engine: ") + c.serving + " zlib " + zlibVersion());
      EXPECT_EQ(lines[1], "inflate from: " + directory + "/" + c.serving);
    }
    EXPECT_EQ(lines[2], expectedCounters_);
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
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0], std::string("engine: built-in zlib ") + zlibVersion());
    EXPECT_EQ(lines[1], "inflate from: (this program)");
    EXPECT_EQ(lines[2], expectedCounters_);
  }
}

}  // namespace
}  // namespace quarn
