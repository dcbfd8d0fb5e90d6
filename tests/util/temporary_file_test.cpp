// Files written without a name: nothing is visible in the directory before
// the move, nothing is left behind after a failure or when the process is
// killed, and an existing file is never replaced unless asked.
#include "util/platform/temporary_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

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
#ifndef _WIN32  // Windows files have no permission bits
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
#endif
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
#ifdef _WIN32
    // Windows has no unnamed files: only the stand-in name is there.
    ASSERT_EQ(EntriesIn(dir.Path()), 1u);
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path())->path().filename().string().rfind(".quarn-extract-", 0), 0u);
#else
    EXPECT_EQ(EntriesIn(dir.Path()), 0u) << "no name until it is whole";
#endif
  }
  EXPECT_EQ(EntriesIn(dir.Path()), 0u);
  platform::TTemporaryFile file;
  EXPECT_EQ(file.Create(dir / "missing"), ENOENT);
}

// A writer killed before the move leaves nothing at all.
TEST(TemporaryFile, AKilledWriterLeavesNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no unnamed files: a killed writer leaves its stand-in name";
#else
  test::TTempDir dir;
  const pid_t child = ::fork();
  if (child == 0) {
    platform::TTemporaryFile file;
    if (file.Create(dir.Path()) != 0) ::_exit(2);
    const std::string text(1 << 20, 'x');
    if (file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) != 0) ::_exit(3);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(EntriesIn(dir.Path()), 0u);
#endif
}

}  // namespace
}  // namespace quarn
