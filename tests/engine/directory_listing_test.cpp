// Directory parts, listings (order, hidden files, links, unreadable
// subdirectories) and the errors of a directory that cannot be listed.
#include "engine/directory_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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
// own directory walk (which also follows readdir's order).
void ExpectedListing(const std::string& dir, bool recursive, TLines& out) {
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = dir + "/" + e.path().filename().string();
    if (e.is_symlink()) {
      if (!fs::is_directory(e.path())) out.push_back(name);
    } else if (e.is_directory()) {
      if (recursive) ExpectedListing(name, recursive, out);
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
    fs::create_symlink(dir_.Path(), dir_ / "sub/loop");    // a link loop
    fs::create_symlink(dir_ / "a", dir_ / "link-to-a");    // a link to a file
    fs::create_symlink(dir_ / "gone", dir_ / "dangling");  // listed; fails when scanned
  }
  test::TTempDir dir_;
};

TEST_F(Listing, FlatAndRecursiveInFileSystemOrder) {
  for (bool recursive : {false, true}) {
    TLines expected;
    ExpectedListing(dir_.Path(), recursive, expected);
    EXPECT_EQ(ListDirectoryFiles(dir_.Path(), recursive), expected) << "recursive=" << recursive;
  }
  const TLines all = ListDirectoryFiles(dir_.Path(), true);
  EXPECT_EQ(all.size(), 9u);
  for (const char* name : {".hidden", "sub/.d", "link-to-a", "dangling", "sub/deeper/c"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), dir_ / name), all.end()) << name;
  }
  for (const std::string& name : all) EXPECT_EQ(name.find("loop"), std::string::npos) << name;
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

  const std::string saved = fs::current_path();
  fs::current_path(dir_ / "other");
  EXPECT_EQ(ListDirectoryFiles("", false), TLines{"e"});
  fs::current_path(saved);
}

TEST_F(Listing, UnreadableSubdirectoryIsSkippedWithoutError) {
  ::chmod((dir_ / "sub").c_str(), 0000);
  ::chmod(dir_.Path().c_str(), 0755);
  const auto seen = test::RunAsOrdinaryUser([&] {
    std::string joined;
    for (const std::string& name : ListDirectoryFiles(dir_.Path(), true)) joined += name + "\n";
    return joined;
  });
  ::chmod((dir_ / "sub").c_str(), 0755);
  if (!seen) GTEST_SKIP() << "cannot run as an ordinary user here";
  EXPECT_EQ(seen->find("/sub/"), std::string::npos);
  EXPECT_NE(seen->find(dir_ / "other/e"), std::string::npos);
}

TEST(DirectoryListingErrors, CheckedInOrder) {
  test::TTempDir dir;
  test::WriteFile(dir / "file", {1});
  const std::pair<std::string, const char*> cases[] = {
      {"/" + std::string(5000, 'x'), "The specified path is too long"},
      {"   ", "Invalid characters in path"},
      {std::string("a\0b", 3), "Invalid characters in path"},
      {dir / "missing", "The specified path was not found"},
      {dir / "file", "The specified path was not found"},
  };
  for (const auto& [path, text] : cases) {
    try {
      ListDirectoryFiles(path, false);
      ADD_FAILURE() << "no error for " << path;
    } catch (const TPathError& e) {
      EXPECT_STREQ(e.what(), text);
    }
  }
}

}  // namespace
}  // namespace quarn
