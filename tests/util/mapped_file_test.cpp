// Mapped input files: what a missing, empty, special, unreadable or
// truncated file gives, and that a mapped file shows its exact bytes.
#include "util/mapped_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"

namespace quarn {
namespace {

std::string ErrorOf(const std::string& path) {
  try {
    TMappedFile file(path);
  } catch (const TQuarnError& e) {
    return std::string(e.KindName()) + ": " + e.what();
  }
  return "no error";
}

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
  const std::string cases[] = {dir / "nothing-here", dir.Path(), ""};
  for (const std::string& name : cases) {
    EXPECT_EQ(ErrorOf(name), "Exception: File \"" + name + "\" does not exists.");
    EXPECT_FALSE(FileExistsLong(name));
    EXPECT_EQ(GetFileSize64(name), 0);
  }
}

TEST(MappedFile, RelativeAndOneCharacterNamesWork) {
  test::TTempDir dir;
  test::WriteFile(dir / "x", test::TBytes(10, 7));
  const std::string saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  {
    const TMappedFile file("x");
    EXPECT_EQ(file.Size(), 10);
  }
  std::filesystem::current_path(saved);
}

TEST(MappedFile, FifoReadsAsEmptyWithoutBlocking) {
  test::TTempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const TMappedFile file(dir / "pipe");  // would block forever if opened for reading
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Memory(), nullptr);
  EXPECT_TRUE(FileExistsLong(dir / "pipe"));
}

TEST(MappedFile, UnreadableFileNamesTheReason) {
  test::TTempDir dir;
  const std::string path = dir / "secret";
  test::WriteFile(path, test::TBytes(100, 1));
  ::chmod(path.c_str(), 0000);
  ::chmod(dir.Path().c_str(), 0755);
  const auto seen = test::RunAsOrdinaryUser([&] { return ErrorOf(path); });
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(*seen, "Exception: File \"" + path + "\" cannot be opened: Permission denied.");
}

TEST(MappedFile, FileCutShortWhileMappedIsReportedNotFatal) {
  test::TTempDir dir;
  const std::string path = dir / "shrinks";
  test::WriteFile(path, test::TBytes(1 << 20, 0xAB));
  const TMappedFile file(path);
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  EXPECT_EQ(file.Memory()[100], 0xAB);
  EXPECT_FALSE(file.ChangedWhileMapped());
  // Past the new end the pages are gone: without the guard this read
  // would end the process with SIGBUS.
  EXPECT_EQ(file.Memory()[file.Size() - 1], 0);
  EXPECT_TRUE(file.ChangedWhileMapped());
}

}  // namespace
}  // namespace quarn
