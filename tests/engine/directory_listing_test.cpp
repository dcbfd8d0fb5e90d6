// Directory parts, listings (order, hidden files, links and their loops,
// devices, depth past the path limit) and the errors of a directory that
// cannot be listed.
#include "engine/directory_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/listing_fixture.h"
#include "tests/support/deep_tree.h"
#include "tests/support/platform_traits.h"
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

TEST_F(Listing, FlatAndRecursiveInFileSystemOrder) {
  for (bool recursive : {false, true}) {
    TLines expected;
    ExpectedListing(dir_.Path(), recursive, expected);
    EXPECT_EQ(ListDirectoryFiles(dir_.Path(), recursive), expected) << "recursive=" << recursive;
  }
  TListingNotes notes;
  const TLines all = ListDirectoryFiles(dir_.Path(), true, &notes);
  if (test::kCanMakeSymbolicLinks) {
    EXPECT_EQ(all.size(), 10u);
    for (const char* name : {".hidden", "sub/.d", "link-to-a", "dangling", "sub/deeper/c", "sub/deeper/to-other/e"}) {
      EXPECT_NE(std::find(all.begin(), all.end(), dir_ / name), all.end()) << name;
    }
    for (const std::string& name : all) EXPECT_EQ(name.find("loop"), std::string::npos) << name;
    EXPECT_EQ(notes.LoopsSkipped, TLines{dir_ / "sub/loop"});
  } else {
    EXPECT_EQ(all.size(), 7u);
    for (const char* name : {".hidden", "sub/.d", "sub/deeper/c", "other/e"}) {
      EXPECT_NE(std::find(all.begin(), all.end(), dir_ / name), all.end()) << name;
    }
    EXPECT_TRUE(notes.LoopsSkipped.empty());
  }
  EXPECT_TRUE(notes.SpecialsSkipped.empty());
}

// Only the link that closes a loop is left out: the same directory reached
// twice side by side is listed twice, and a loop met below a link is
// caught on the way down through that link.
TEST(DirectoryListingLinks, OnlyLinksThatCloseALoopAreSkipped) {
  if (!test::kCanMakeSymbolicLinks) GTEST_SKIP() << "symbolic links need a privilege on Windows; wine makes none";
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
}

// A tree deeper than the path limit is listed whole, by names longer than
// the limit.
TEST(DirectoryListingDepth, TreeDeeperThanThePathLimitIsListedWhole) {
  test::TTempDir dir(test::MemoryBackedTempBase());
  const test::TDeepTree tree(dir.Path(), test::kLevelsPastThePathLimit, test::kFileLevelsAcrossThePathLimit, {1, 2, 3});
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
