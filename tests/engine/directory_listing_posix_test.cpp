// Listings where POSIX is needed: FIFOs, sockets and device nodes left out
// with a note, and folders that an ordinary user may not list. Built only
// where POSIX is, into the same program as directory_listing_test.cpp.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "engine/directory_listing.h"
#include "tests/engine/listing_fixture.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/temp_dir.h"
#include "util/errors.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using TLines = std::vector<std::string>;

// Character devices, sockets and pipes are not listed, and each is named in
// the notes; block devices are listed like files.
TEST(DirectoryListingLinks, DevicesSocketsAndPipesAreLeftOutWithANote) {
  test::TTempDir dir;
  test::WriteFile(dir / "file", {1});
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir / "socket";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  TLines expectedNotes = {dir / "pipe", dir / "socket"};
  TLines expectedFiles = {dir / "file"};
  if (::mknod((dir / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) expectedNotes.push_back(dir / "null");
  if (::mknod((dir / "disk").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) expectedFiles.push_back(dir / "disk");
  fs::create_symlink(dir / "pipe", dir / "link-to-pipe");
  expectedNotes.push_back(dir / "link-to-pipe");

  TListingNotes notes;
  TLines all = ListDirectoryFiles(dir.Path(), false, &notes);
  ::close(sock);
  std::sort(all.begin(), all.end());
  std::sort(expectedFiles.begin(), expectedFiles.end());
  EXPECT_EQ(all, expectedFiles);
  std::sort(notes.SpecialsSkipped.begin(), notes.SpecialsSkipped.end());
  std::sort(expectedNotes.begin(), expectedNotes.end());
  EXPECT_EQ(notes.SpecialsSkipped, expectedNotes);
}

// A folder that cannot be listed, the given one or one met on the way
// down, is an error naming it and the reason, never an empty listing.
TEST_F(Listing, FolderThatCannotBeListedIsAnErrorNamingIt) {
  ::chmod(dir_.Path().c_str(), 0755);
  const std::pair<std::string, std::string> cases[] = {
      {dir_ / "sub", dir_ / "sub"},                 // met on the way down
      {dir_ / "other", dir_ / "other"},             // the given folder itself
      {dir_ / "sub/deeper", dir_ / "sub/deeper"},   // two levels down
  };
  for (const auto& [locked, named] : cases) {
    ::chmod(locked.c_str(), 0000);
    const std::string listed = locked == dir_ / "other" ? locked : dir_.Path();
    const auto seen = test::RunAsOrdinaryUser([&] {
      try {
        ListDirectoryFiles(listed, true);
        return std::string("no error");
      } catch (const TPathError& e) {
        return std::string(e.what());
      }
    });
    ::chmod(locked.c_str(), 0755);
    if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_EQ(*seen, "Folder \"" + named + "\" cannot be listed: Permission denied") << locked;
  }
}

}  // namespace
}  // namespace quarn
