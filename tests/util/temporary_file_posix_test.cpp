// A file written without a name and never moved, by a writer that is
// killed, leaves nothing at all: Windows has no unnamed files, so there the
// stand-in name would stay. Built only where POSIX is, into the same
// program as temporary_file_test.cpp.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "util/platform/temporary_file.h"

namespace quarn {
namespace {

// A writer killed before the move leaves nothing at all.
TEST(TemporaryFile, AKilledWriterLeavesNothing) {
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
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace quarn
