// Each file once in a scan: of the names that lead to one file (a symbolic
// link, a hard link, another spelling, a name given twice) only the first
// stays in the file list, the others are noted with the name they repeat,
// and the file's streams and bytes are counted once. Names that lead to no
// file, and different files with the same bytes, stay as given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/directory_listing.h"
#include "engine/scan_run.h"
#include "tests/support/platform_traits.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using TLines = std::vector<std::string>;
using TPairs = std::vector<std::pair<std::string, std::string>>;  // name left out, the name it repeats

TPairs Pairs(const TListingNotes& notes) {
  TPairs pairs;
  for (const TSameFile& same : notes.SameFiles) pairs.emplace_back(same.Name, same.FirstName);
  return pairs;
}

// A folder of one file with one zlib stream under three names where links
// can be made (its own, a hard link, a symbolic link), and a copy of it,
// which is another file with the same bytes.
class SameFile : public testing::Test {
 protected:
  void SetUp() override {
    test::TLayout layout;
    layout.Zeros(64);
    layout.Append(test::Zlib(test::MakeText(20000)));
    layout.Zeros(64);
    bytes_ = layout.Bytes();
    fs::create_directory(dir_ / "d");
    test::WriteFile(dir_ / "d/a.zlib", bytes_);
    test::WriteFile(dir_ / "d/copy.zlib", bytes_);
    fs::create_hard_link(dir_ / "d/a.zlib", dir_ / "d/hard");
    if (test::kCanMakeSymbolicLinks) fs::create_symlink(dir_ / "d/a.zlib", dir_ / "d/link");
  }
  std::string D(const std::string& name) const { return dir_ / ("d/" + name); }

  test::TTempDir dir_;
  test::TBytes bytes_;
};

TEST_F(SameFile, LaterNamesOfAFileAreLeftOutAndNoted) {
  struct TCase {
    const char* name;
    TLines given, files;
    TPairs same;
    bool needsSymbolicLinks = false;
  };
  const std::string a = D("a.zlib"), copy = D("copy.zlib"), hard = D("hard"), link = D("link");
  const std::string missing = D("missing"), spelled = dir_ / "d/./a.zlib";
  const TCase cases[] = {
      {"a name given twice", {a, a}, {a}, {{a, a}}},
      {"another spelling of the name", {a, spelled}, {a}, {{spelled, a}}},
      {"a hard link first: it stays where it was", {copy, hard, a}, {copy, hard}, {{a, hard}}},
      {"a symbolic link", {link, a, hard}, {link}, {{a, link}, {hard, link}}, true},
      {"another file with the same bytes", {a, copy}, {a, copy}, {}},
      {"names of no file stay, each time", {missing, a, missing, hard}, {missing, a, missing}, {{hard, a}}},
      {"a folder named twice stays, for each run to refuse", {D(""), D(".")}, {D(""), D(".")}, {}},
  };
  for (const TCase& c : cases) {
    if (c.needsSymbolicLinks && !test::kCanMakeSymbolicLinks) continue;
    SCOPED_TRACE(c.name);
    TLines files = c.given;
    TListingNotes notes;
    LeaveOutSameFiles(files, &notes);
    EXPECT_EQ(files, c.files);
    EXPECT_EQ(Pairs(notes), c.same);
    EXPECT_TRUE(notes.LoopsSkipped.empty() && notes.SpecialsSkipped.empty());
  }
}

// A folder listed with a name of one of its files: the file is scanned and
// counted once, and every other name of it is noted against the one kept.
TEST_F(SameFile, ListNamesGivesEachFileOnceAndTheScanCountsItOnce) {
  const TNameListing listing = ListNames({dir_ / "d", D("a.zlib")}, {});
  TScanState state;
  RunScan(listing.Files, state);
  const TStreamCounts counts = state.Counts();
  EXPECT_EQ(counts.Files, 2);
  EXPECT_EQ(counts.Z, 2);
  EXPECT_EQ(counts.i, static_cast<int64_t>(2 * bytes_.size()));

  TLines names = {D("a.zlib"), D("hard")};  // of one file
  if (test::kCanMakeSymbolicLinks) names.push_back(D("link"));
  const auto isName = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };

  ASSERT_EQ(listing.Files.size(), 2u);
  const auto kept = std::find_if(listing.Files.begin(), listing.Files.end(), isName);
  ASSERT_NE(kept, listing.Files.end());
  EXPECT_NE(std::find(listing.Files.begin(), listing.Files.end(), D("copy.zlib")), listing.Files.end());

  // The folder's other names of the file, in listing order, then the name given after it.
  TLines leftOut;
  for (const TSameFile& same : listing.Notes.SameFiles) {
    EXPECT_EQ(same.FirstName, *kept) << same.Name;
    leftOut.push_back(same.Name);
  }
  ASSERT_EQ(leftOut.size(), names.size());
  EXPECT_EQ(leftOut.back(), D("a.zlib"));
  leftOut.push_back(*kept);
  names.push_back(D("a.zlib"));
  std::sort(leftOut.begin(), leftOut.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(leftOut, names);
}

}  // namespace
}  // namespace quarn
