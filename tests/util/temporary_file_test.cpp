// Files written without a name: nothing is visible in the directory before
// the move, nothing is left behind after a failure, and an existing file is
// never replaced unless asked; a scratch file holds what was appended since
// it was last emptied. A writer that is killed is in
// temporary_file_posix_test.cpp.
#include "util/platform/temporary_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "tests/support/platform_traits.h"
#include "tests/support/temp_dir.h"

namespace quarn {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t EntriesIn(const std::string& directory) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory),
                                                std::filesystem::directory_iterator()));
}

void WriteText(platform::TTemporaryFile& file, const std::string& text) {
  ASSERT_EQ(file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0);
}

TEST(TemporaryFile, AppearsUnderItsNameOnlyWhenMoved) {
  test::TTempDir dir;
  const std::string target = dir / "out.bin";
  {
    platform::TTemporaryFile file;
    ASSERT_EQ(file.Create(dir.Path()), 0);
    WriteText(file, "first ");
    WriteText(file, "second");
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(file.MoveTo(target, false), 0);
  }
  EXPECT_EQ(ReadText(target), "first second");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "no temporary name is left";
  if (test::kHasPermissionBits) {
    const std::filesystem::perms bits = std::filesystem::status(target).permissions();
    EXPECT_EQ(static_cast<unsigned>(bits & std::filesystem::perms::all), 0644u);
  }
}

TEST(TemporaryFile, AnExistingFileIsReplacedOnlyWhenAsked) {
  test::TTempDir dir;
  const std::string target = dir / "out.bin";
  test::WriteFile(target, {'o', 'l', 'd'});
  {
    platform::TTemporaryFile file;
    ASSERT_EQ(file.Create(dir.Path()), 0);
    WriteText(file, "new");
    EXPECT_EQ(file.MoveTo(target, false), EEXIST);
  }
  EXPECT_EQ(ReadText(target), "old");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "the temporary file is removed";
  {
    platform::TTemporaryFile file;
    ASSERT_EQ(file.Create(dir.Path()), 0);
    WriteText(file, "new");
    EXPECT_EQ(file.MoveTo(target, true), 0);
  }
  EXPECT_EQ(ReadText(target), "new");
}

TEST(TemporaryFile, UnwrittenFileLeavesNothingAndAMissingDirectoryFails) {
  test::TTempDir dir;
  {
    platform::TTemporaryFile file;
    ASSERT_EQ(file.Create(dir.Path()), 0);
    WriteText(file, "never moved");
    if (test::kHasUnnamedFiles) {
      EXPECT_EQ(EntriesIn(dir.Path()), 0u) << "no name until it is whole";
    } else {
      // Only the stand-in name is there.
      ASSERT_EQ(EntriesIn(dir.Path()), 1u);
      EXPECT_EQ(std::filesystem::directory_iterator(dir.Path())->path().filename().string().rfind(".quarn-extract-", 0),
                0u);
    }
  }
  EXPECT_EQ(EntriesIn(dir.Path()), 0u);
  platform::TTemporaryFile file;
  EXPECT_EQ(file.Create(dir / "missing"), ENOENT);
}

}  // namespace
}  // namespace quarn

namespace quarn {
namespace {

// The whole content of the scratch file, read through its descriptor.
std::string ScratchText(int fd) {
  std::string text(64, '\0');
#ifdef _WIN32
  _lseeki64(fd, 0, SEEK_SET);
  const int got = _read(fd, text.data(), static_cast<unsigned>(text.size()));
#else
  lseek(fd, 0, SEEK_SET);
  const auto got = read(fd, text.data(), text.size());
#endif
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// A scratch file holds what was appended since it was last emptied, and
// an append after emptying starts at the beginning again.
TEST(ScratchFile, HoldsWhatWasAppendedSinceItWasEmptied) {
  platform::TScratchFile file;
  EXPECT_EQ(file.Descriptor(), -1);
  ASSERT_EQ(file.Open(), 0);
  const int fd = file.Descriptor();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Descriptor(), fd) << "opened once";
  const std::string first = "a longer first content";
  ASSERT_EQ(file.Append(reinterpret_cast<const uint8_t*>(first.data()), first.size()), 0);
  ASSERT_EQ(file.Append(reinterpret_cast<const uint8_t*>("!"), 1), 0);
  EXPECT_EQ(ScratchText(fd), first + "!");
  ASSERT_EQ(file.Empty(), 0);
  EXPECT_EQ(ScratchText(fd), "");
  ASSERT_EQ(file.Empty(), 0);
  ASSERT_EQ(file.Append(reinterpret_cast<const uint8_t*>("short"), 5), 0);
  EXPECT_EQ(ScratchText(fd), "short");
}

}  // namespace
}  // namespace quarn
