// quarn-scan on inputs that are not plain files in a plain folder: pipes
// and standard input, linked folders and their loops, files reached by
// several names, trees deeper than the path limit; /proc files, devices,
// sockets, and what an ordinary user may not read are in
// quarn_scan_inputs_posix_test.cpp. Each must tell the truth: every byte
// counted once, or an error that names the path and the reason.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>

#include "tests/cli/quarn_scan_inputs_fixture.h"
#include "tests/support/deep_tree.h"
#include "tests/support/platform_traits.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

// The same stream through a pipe that another thread fills, as a file
// given as standard input, and where there is a shell also through its
// pipe, standard input, process substitution and /dev/stdin: one stream and
// every byte, as for the file itself.
TEST_F(QuarnScanInputs, PipesAndStandardInputAreScannedWhole) {
  const std::string file = dir_ / "one.bin";
  const test::TProgramResult results[] = {
      test::RunProgram(kScan, {"--json", file}),
      test::RunProgramWithInput(kScan, {"--json", "-"}, file, true),
      test::RunProgramWithInput(kScan, {"--json", "-"}, file, false),
  };
  for (const test::TProgramResult& r : results) {
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["input_bytes"], bytes_.size());
    EXPECT_EQ(j["header_streams"], 1);
    EXPECT_EQ(j["inflated_bytes"], text_.size());
  }
  if (test::kWindows) return;  // no bash there

  const std::string quoted = Quote(file);
  const std::string scan = Quote(kScan);
  const std::string scripts[] = {
      scan + " --json " + quoted,
      "cat " + quoted + " | " + scan + " --json -",
      "cat " + quoted + " | " + scan + " --json /dev/stdin",
      scan + " --json <(cat " + quoted + ")",
      scan + " --json - < " + quoted,
  };
  for (const std::string& script : scripts) {
    const test::TProgramResult r = Shell(script);
    ASSERT_EQ(r.status, 0) << script << "\n" << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["input_bytes"], bytes_.size()) << script;
    EXPECT_EQ(j["header_streams"], 1) << script;
    EXPECT_EQ(j["inflated_bytes"], text_.size()) << script;
  }
}

// A linked folder is scanned; a link that leads back up is skipped with a
// notice, and everything else is still counted.
TEST_F(QuarnScanInputs, LinkedFoldersAreEnteredAndLoopsSkippedWithANotice) {
  if (!test::kCanMakeSymbolicLinks) GTEST_SKIP() << "symbolic links need a privilege on Windows; wine makes none";
  std::filesystem::create_directories(dir_ / "top/real");
  test::WriteFile(dir_ / "top/real/in.bin", bytes_);
  std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "top/linked");
  std::filesystem::create_directory(dir_ / "elsewhere");
  test::WriteFile(dir_ / "elsewhere/there.bin", bytes_);
  std::filesystem::create_symlink(dir_ / "top", dir_ / "top/real/up");
  const test::TProgramResult r = test::RunProgram(kScan, {"--recursive", "--json", dir_ / "top"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], 2);
  EXPECT_EQ(j["header_streams"], 2);
  EXPECT_EQ(r.err, "quarn-scan: not entering \"" + dir_ / "top/real/up" + "\": it leads back to a folder above it\n");
}

// A file reached by several names (a name given twice, a hard link, a
// symbolic link) is scanned once, and each other name is told on stderr
// with the name scanned: in a folder, the first in the file system's order
// (the standard library's walk and its own test of sameness give the
// expected lines). Standard input is never taken for a file named beside
// it, even when it is that file.
TEST_F(QuarnScanInputs, FileReachedBySeveralNamesIsScannedOnce) {
  namespace fs = std::filesystem;
  const std::string one = dir_ / "one.bin";
  fs::create_hard_link(one, dir_ / "hard");
  if (test::kCanMakeSymbolicLinks) fs::create_symlink(one, dir_ / "link");
  std::string folderNotes, kept;
  for (const fs::directory_entry& e : fs::directory_iterator(dir_.Path())) {
    const std::string name = dir_ / e.path().filename().string();
    if (kept.empty()) {
      kept = name;
    } else {
      ASSERT_TRUE(fs::equivalent(kept, name)) << name;
      folderNotes += "quarn-scan: left out \"" + name + "\": same file as \"" + kept + "\"\n";
    }
  }
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"a name given twice", {one, one}, "quarn-scan: left out \"" + one + "\": same file as \"" + one + "\"\n"},
      {"a folder with links", {dir_.Path()}, folderNotes},
      {"a folder and a name in it", {dir_.Path(), one},
       folderNotes + "quarn-scan: left out \"" + one + "\": same file as \"" + kept + "\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TProgramResult r = test::RunProgram(kScan, c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Files scanned: 1");
    EXPECT_NE(r.out.find("\nPotential zlib streams: 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, c.err);
  }

  const test::TProgramResult r = test::RunProgramWithInput(kScan, {"--json", one, "-"}, one, false);
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], 2);
  EXPECT_EQ(j["header_streams"], 2);
  EXPECT_EQ(r.err, "");
}

// Every file of a tree deeper than the path limit is scanned.
TEST_F(QuarnScanInputs, TreesDeeperThanThePathLimitAreScannedWhole) {
  test::TTempDir memory(test::MemoryBackedTempBase());
  std::set<int> levels;
  const int depth = test::kLevelsPastThePathLimit;
  for (int level = depth / 20; level <= depth; level += depth / 20) levels.insert(level);
  levels.insert(1);
  const test::TDeepTree tree(memory.Path(), depth, levels, bytes_);
  const test::TProgramResult r = test::RunProgram(kScan, {"--recursive", "--json", memory.Path()});
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 500);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], levels.size());
  EXPECT_EQ(j["header_streams"], levels.size());
}

}  // namespace
}  // namespace quarn
