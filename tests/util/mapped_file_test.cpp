// Mapped input files: what a missing, empty, folder or truncated file
// gives, that a file which grows or is written while mapped is reported
// changed, and that a mapped file shows its exact bytes; names longer than
// the path limit work. Pipes, /proc and /sys, devices, sockets and
// unreadable files are in mapped_file_posix_test.cpp.
#include "util/mapped_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/support/cut_file.h"
#include "tests/support/deep_tree.h"
#include "tests/support/platform_traits.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "tests/util/mapped_file_checks.h"
#include "util/errors.h"
#include "util/platform/memory_map.h"

namespace quarn {
namespace {

using test::ContentOf;
using test::ErrorOf;

TEST(MappedFile, MapsTheWholeFile) {
  test::TTempDir dir;
  const test::TBytes bytes = test::MakeNoise(100000, 1);
  test::WriteFile(dir / "a.bin", bytes);
  const TMappedFile file(dir / "a.bin");
  ASSERT_EQ(file.Size(), static_cast<int64_t>(bytes.size()));
  ASSERT_NE(file.Memory(), nullptr);
  EXPECT_EQ(std::memcmp(file.Memory(), bytes.data(), bytes.size()), 0);
  EXPECT_FALSE(file.ChangedWhileMapped());
  EXPECT_TRUE(FileExistsLong(dir / "a.bin"));
  EXPECT_EQ(GetFileSize64(dir / "a.bin"), 100000);
}

TEST(MappedFile, EmptyFileHasNoMemory) {
  test::TTempDir dir;
  test::WriteFile(dir / "empty", {});
  const TMappedFile file(dir / "empty");
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Memory(), nullptr);
}

TEST(MappedFile, MissingNamesRaiseTheMissingFileError) {
  test::TTempDir dir;
  const std::string cases[] = {dir / "nothing-here", ""};
  for (const std::string& name : cases) {
    EXPECT_EQ(ErrorOf(name), "Exception: File \"" + name + "\" does not exists.");
    EXPECT_FALSE(FileExistsLong(name));
    EXPECT_EQ(GetFileSize64(name), 0);
  }
}

// A folder is there: the error says what it is, not that it is missing.
TEST(MappedFile, AFolderIsNamedAsAFolder) {
  test::TTempDir dir;
  EXPECT_EQ(ErrorOf(dir.Path()), "Exception: File \"" + dir.Path() + "\" is a folder, not a file.");
  EXPECT_FALSE(FileExistsLong(dir.Path()));
}

TEST(MappedFile, RelativeAndOneCharacterNamesWork) {
  test::TTempDir dir;
  test::WriteFile(dir / "x", test::TBytes(10, 7));
  const std::string saved = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.Path());
  {
    const TMappedFile file("x");
    EXPECT_EQ(file.Size(), 10);
  }
  std::filesystem::current_path(saved);
}

// Names past the path limit open through their directories; one part
// longer than a name may be says so.
TEST(MappedFile, NamesLongerThanThePathLimit) {
  test::TTempDir dir(test::MemoryBackedTempBase());
  const test::TBytes bytes = test::MakeNoise(5000, 3);
  const int levels = test::kLevelsPastThePathLimit;
  const test::TDeepTree tree(dir.Path(), levels, {levels}, bytes);
  ASSERT_GT(tree.Files().back().size(), test::kPathLimitBytes);
  {
    const TMappedFile file(tree.Files().back());
    EXPECT_EQ(ContentOf(file), bytes);
  }
  EXPECT_TRUE(FileExistsLong(tree.Files().back()));
  EXPECT_EQ(GetFileSize64(tree.Files().back()), 5000);

  const std::string overLong = dir / std::string(300, 'n');
  EXPECT_EQ(ErrorOf(overLong), "Exception: File \"" + overLong + "\" cannot be opened: File name too long.");
}

TEST(MappedFile, FileCutShortWhileMappedIsReportedNotFatal) {
  if (!test::CanCutMappedFiles()) GTEST_SKIP() << "this system keeps mapped files from being cut short";
  test::TTempDir dir;
  const std::string path = dir / "shrinks";
  test::WriteFile(path, test::TBytes(1 << 20, 0xAB));
  const TMappedFile file(path);
  platform::TMapResult second = platform::MapWholeFile(path);
  ASSERT_EQ(second.Failure, platform::TMapFailure::None);
  ASSERT_TRUE(test::CutFileShort(path, 4096));
  // The new size says so before any page is touched.
  EXPECT_TRUE(file.ChangedWhileMapped());
  EXPECT_EQ(file.Memory()[100], 0xAB);
  // Past the new end the pages are gone: without the guard this read
  // would end the process with SIGBUS (EXCEPTION_IN_PAGE_ERROR on Windows).
  EXPECT_EQ(file.Memory()[file.Size() - 1], 0);
  // The guard marks only the mapping whose page was lost, once it is.
  EXPECT_FALSE(platform::MappingLostPages(second.Mapping));
  EXPECT_EQ(second.Mapping.Content[second.Mapping.SizeBytes - 1], 0);
  EXPECT_TRUE(platform::MappingLostPages(second.Mapping));
  platform::ReleaseMapping(second.Mapping);
}

// A file that grows or is written in place while mapped loses no page: the
// view still shows the old bytes and length, and only the file's size or
// modification time, read again from the open file, tell the change. A file
// renamed over the name meanwhile is another file: the mapped one did not
// change.
TEST(MappedFile, FileThatGrowsOrIsWrittenWhileMappedIsReportedChanged) {
  struct TCase {
    const char* name;
    std::function<bool(const std::string&)> change;
    bool changed;
  };
  const TCase cases[] = {
      {"left alone", [](const std::string&) { return true; }, false},
      {"grows by a byte", [](const std::string& path) { return test::GrowFile(path, 1); }, true},
      {"grows by a page", [](const std::string& path) { return test::GrowFile(path, 4096); }, true},
      {"written in place", [](const std::string& path) { return test::TouchFile(path); }, true},
      {"replaced under its name",
       [](const std::string& path) {
         test::WriteFile(path + ".new", test::TBytes(5000, 1));
         std::error_code error;
         std::filesystem::rename(path + ".new", path, error);
         return !error;
       },
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    const std::string path = dir / "data";
    const test::TBytes bytes = test::MakeNoise(100000, 2);
    test::WriteFile(path, bytes);
    const TMappedFile file(path);
    if (!c.change(path)) {
      // Windows keeps an open file's name.
      if (!test::kReplacesNamesOfOpenFiles && std::string(c.name) == "replaced under its name") continue;
      FAIL() << "the change could not be made";
    }
    EXPECT_EQ(file.ChangedWhileMapped(), c.changed);
    ASSERT_EQ(file.Size(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(std::memcmp(file.Memory(), bytes.data(), bytes.size()), 0);
  }
}

}  // namespace
}  // namespace quarn
