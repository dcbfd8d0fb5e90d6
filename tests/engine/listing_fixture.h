// A small folder for the listing tests: files at three depths, hidden
// ones, and where links can be made a link loop, a link to a file, a
// dangling link and a link to another folder. Shared by
// directory_listing_test.cpp and directory_listing_posix_test.cpp, which
// form one program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/platform_traits.h"
#include "tests/support/temp_dir.h"

namespace quarn {

class Listing : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"sub", "sub/deeper", "other"}) std::filesystem::create_directory(dir_ / d);
    for (const char* f : {"a", ".hidden", "sub/b", "sub/deeper/c", "sub/.d", "other/e", "z"}) {
      test::WriteFile(dir_ / f, {1, 2, 3});
    }
    if (!test::kCanMakeSymbolicLinks) return;
    std::filesystem::create_symlink(dir_.Path(), dir_ / "sub/loop");    // a link loop
    std::filesystem::create_symlink(dir_ / "a", dir_ / "link-to-a");    // a link to a file
    std::filesystem::create_symlink(dir_ / "gone", dir_ / "dangling");  // listed; fails when scanned
    std::filesystem::create_symlink(dir_ / "other", dir_ / "sub/deeper/to-other");  // entered
  }
  test::TTempDir dir_;
};

}  // namespace quarn
