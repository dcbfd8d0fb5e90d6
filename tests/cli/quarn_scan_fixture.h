// The folder of files that the end-to-end tests of quarn-scan scan, and
// the way they run it; shared by the tests that run everywhere and those
// that need POSIX (quarn_scan_posix_test.cpp), which form one program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/scan_driver.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {

using TLines = std::vector<std::string>;

inline TLines SplitLines(const std::string& text) {
  TLines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline test::TProgramResult Scan(const std::vector<std::string>& args, bool closeStdout = false) {
  return test::RunProgram(QUARN_SCAN_PATH, args, closeStdout);
}

class QuarnScan : public testing::Test {
 protected:
  void SetUp() override {
    text_ = test::MakeText(40000, 2);
    zlib_ = test::Zlib(text_, 9, 12);
    raw_ = test::Raw(text_);
    test::TLayout mixed;
    mixed.Zeros(50);
    zlibAt_ = static_cast<int64_t>(mixed.Append(zlib_)) + 2;
    mixed.Zeros(50);
    rawAt_ = static_cast<int64_t>(mixed.Append(raw_));
    mixed.Zeros(80);
    test::WriteFile(dir_ / "mixed.bin", mixed.Bytes());
    std::filesystem::create_directory(dir_ / "sub");
    test::WriteFile(dir_ / "sub/noise.bin", test::MakeNoise(300000, 5));
    test::WriteFile(dir_ / "sub/cut.bin",
                    test::TBytes(zlib_.begin(), zlib_.begin() + static_cast<long>(zlib_.size() / 2)));
  }
  void TearDown() override { FileList.clear(); }

  test::TTempDir dir_;
  test::TBytes text_, zlib_, raw_;
  int64_t zlibAt_ = 0, rawAt_ = 0;
};

}  // namespace quarn
