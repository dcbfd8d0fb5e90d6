// Directory parts, listings (order, hidden files, links and their loops,
// devices, depth past the path limit) and the errors of a directory that
// cannot be listed.
#include "engine/directory_listing.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#endif

#include <filesystem>

#include "tests/support/deep_tree.h"
#include "tests/support/temp_dir.h"
#include "util/errors.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using TLines = std::vector<std::string>;

TEST(DirectoryListing, DirectoryPart) {
  const std::pair<std::string, std::string> cases[] = {
      {"/data/a.bin", "/data"}, {"/a.bin", "/"}, {"a.bin", ""},     {"/data/sub", "/data"},
      {"/data/sub/", "/data/sub"}, {"rel/a.bin", "rel"}, {"//a", "//"}, {"", ""},
  };
  for (const auto& [path, part] : cases) EXPECT_EQ(DirectoryPart(path), part) << path;
}

// The listing the scan should give, worked out with the standard library's
// own directory walk (which also follows readdir's order): links to
// directories are entered unless they lead to a directory on the way down.
void ExpectedListing(const std::string& dir, bool recursive, TLines& out, std::vector<std::string> above = {}) {
  above.push_back(dir);
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = dir + "/" + e.path().filename().string();
    if (fs::is_directory(e.path())) {
      const bool loop = std::any_of(above.begin(), above.end(), [&](const auto& a) { return fs::equivalent(a, name); });
      if (recursive && !loop) ExpectedListing(name, recursive, out, above);
    } else {
      out.push_back(name);
    }
  }
}

class Listing : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"sub", "sub/deeper", "other"}) fs::create_directory(dir_ / d);
    for (const char* f : {"a", ".hidden", "sub/b", "sub/deeper/c", "sub/.d", "other/e", "z"}) {
      test::WriteFile(dir_ / f, {1, 2, 3});
    }
#ifndef _WIN32  // symbolic links need a privilege on Windows; wine makes none
    fs::create_symlink(dir_.Path(), dir_ / "sub/loop");    // a link loop
    fs::create_symlink(dir_ / "a", dir_ / "link-to-a");    // a link to a file
    fs::create_symlink(dir_ / "gone", dir_ / "dangling");  // listed; fails when scanned
    fs::create_symlink(dir_ / "other", dir_ / "sub/deeper/to-other");  // entered
#endif
  }
  test::TTempDir dir_;
};

TEST_F(Listing, FlatAndRecursiveInFileSystemOrder) {
  for (bool recursive : {false, true}) {
    TLines expected;
    ExpectedListing(dir_.Path(), recursive, expected);
    EXPECT_EQ(ListDirectoryFiles(dir_.Path(), recursive), expected) << "recursive=" << recursive;
  }
  TListingNotes notes;
  const TLines all = ListDirectoryFiles(dir_.Path(), true, &notes);
#ifdef _WIN32
  EXPECT_EQ(all.size(), 7u);
  for (const char* name : {".hidden", "sub/.d", "sub/deeper/c", "other/e"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), dir_ / name), all.end()) << name;
  }
  EXPECT_TRUE(notes.LoopsSkipped.empty());
#else
  EXPECT_EQ(all.size(), 10u);
  for (const char* name : {".hidden", "sub/.d", "link-to-a", "dangling", "sub/deeper/c", "sub/deeper/to-other/e"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), dir_ / name), all.end()) << name;
  }
  for (const std::string& name : all) EXPECT_EQ(name.find("loop"), std::string::npos) << name;
  EXPECT_EQ(notes.LoopsSkipped, TLines{dir_ / "sub/loop"});
#endif
  EXPECT_TRUE(notes.SpecialsSkipped.empty());
}

// Only the link that closes a loop is left out: the same directory reached
// twice side by side is listed twice, and a loop met below a link is
// caught on the way down through that link.
TEST(DirectoryListingLinks, OnlyLinksThatCloseALoopAreSkipped) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows; wine makes none";
#else
  test::TTempDir dir;
  fs::create_directories(dir / "top/data");
  test::WriteFile(dir / "top/data/x", {1});
  fs::create_symlink(dir / "top/data", dir / "top/again");       // side by side: listed twice
  fs::create_symlink(dir / "top", dir / "top/data/up");           // back to the top
  fs::create_symlink(dir / "top/data", dir / "top/data/self");    // back to itself
  TListingNotes notes;
  TLines all = ListDirectoryFiles(dir / "top", true, &notes);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (TLines{dir / "top/again/x", dir / "top/data/x"}));
  std::sort(notes.LoopsSkipped.begin(), notes.LoopsSkipped.end());
  EXPECT_EQ(notes.LoopsSkipped, (TLines{dir / "top/again/self", dir / "top/again/up", dir / "top/data/self",
                                        dir / "top/data/up"}));
#endif
}

// Character devices, sockets and pipes are not listed, and each is named in
// the notes; block devices are listed like files.
TEST(DirectoryListingLinks, DevicesSocketsAndPipesAreLeftOutWithANote) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs, sockets and device nodes in the file system are POSIX";
#else
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
#endif
}

// A tree deeper than the path limit is listed whole, by names longer than
// the limit.
TEST(DirectoryListingDepth, TreeDeeperThanThePathLimitIsListedWhole) {
  test::TTempDir dir(test::MemoryBackedTempBase());
#ifdef _WIN32
  const test::TDeepTree tree(dir.Path(), test::kLevelsPastThePathLimit, {1, 100, 200, 299, 300}, {1, 2, 3});
#else
  const test::TDeepTree tree(dir.Path(), test::kLevelsPastThePathLimit, {1, 700, 1400, 2047, 2048, 2100}, {1, 2, 3});
#endif
  ASSERT_GT(tree.Files().back().size(), test::kPathLimitBytes);
  auto sorted = [](TLines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted(ListDirectoryFiles(dir.Path(), true)), sorted(tree.Files()));
  EXPECT_EQ(ListDirectoryFiles(dir.Path(), false), TLines{});
  // A listing that starts below the limit's depth.
  const std::string deep = DirectoryPart(tree.Files()[3]);
  EXPECT_EQ(sorted(ListDirectoryFiles(deep, true)), sorted({tree.Files().begin() + 3, tree.Files().end()}));
}

TEST_F(Listing, SubdirectoryResultsStandWhereItWasMet) {
  const TLines all = ListDirectoryFiles(dir_.Path(), true);
  // Every file under sub/ forms one run, deeper/ inside it.
  auto first = std::find_if(all.begin(), all.end(), [&](const auto& n) { return n.rfind(dir_ / "sub/", 0) == 0; });
  auto last = std::find_if(first, all.end(), [&](const auto& n) { return n.rfind(dir_ / "sub/", 0) != 0; });
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](const auto& n) { return n.rfind(dir_ / "sub/", 0) == 0; }),
            last - first);
}

TEST_F(Listing, TrailingSlashAndTheCurrentDirectory) {
  const TLines withSlash = ListDirectoryFiles(dir_.Path() + "/", false);
  ASSERT_FALSE(withSlash.empty());
  EXPECT_EQ(withSlash[0].rfind(dir_.Path() + "/", 0), 0u);
  EXPECT_EQ(withSlash[0].find("//"), std::string::npos);

  const std::string saved = fs::current_path().string();
  fs::current_path(dir_ / "other");
  EXPECT_EQ(ListDirectoryFiles("", false), TLines{"e"});
  fs::current_path(saved);
}

// A folder that cannot be listed, the given one or one met on the way
// down, is an error naming it and the reason, never an empty listing.
TEST_F(Listing, FolderThatCannotBeListedIsAnErrorNamingIt) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and an ordinary user to drop to are POSIX";
#else
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
#endif
}

TEST(DirectoryListingErrors, EachNamesThePathAndTheReason) {
  test::TTempDir dir;
  test::WriteFile(dir / "file", {1});
  const std::string longPart = "/" + std::string(5000, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"   ", "Invalid characters in path: \"   \""},
      {std::string("a\0b", 3), "Invalid characters in path: \"a\\0b\""},
      {longPart, "The specified path is too long: \"" + longPart + "\""},
      {dir / "missing", "The specified path was not found: \"" + dir / "missing" + "\""},
      {dir / "file", "The specified path was not found: \"" + dir / "file" + "\""},
      {dir / "file/below", "The specified path was not found: \"" + dir / "file/below" + "\""},
  };
  for (const auto& [path, text] : cases) {
    try {
      ListDirectoryFiles(path, false);
      ADD_FAILURE() << "no error for " << path;
    } catch (const TPathError& e) {
      EXPECT_EQ(e.what(), text);
    }
  }
}

}  // namespace
}  // namespace quarn
