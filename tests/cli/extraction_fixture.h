// The firmware file that the extraction tests scan (a zlib stream, a raw
// deflate stream and a cut stream among noise and zeros), the run of
// quarn-scan over it, and what the tests read back; shared by the tests
// that run everywhere and those that need POSIX
// (stream_extractor_posix_test.cpp), which form one program.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {

inline test::TBytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return test::TBytes(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// One zlib stream between zeros.
inline test::TBytes Padded(const test::TBytes& stream) {
  test::TLayout layout;
  layout.Zeros(20);
  layout.Append(stream);
  layout.Zeros(70);
  return layout.Bytes();
}

class Extraction : public testing::Test {
 protected:
  void SetUp() override {
    textA_ = test::MakeText(70000, 1);
    textB_ = test::MakeText(300000, 2);  // more than one 64 KiB piece of output
    test::TLayout layout;
    layout.Append(test::MakeNoise(1000, 3));
    zlibAt_ = static_cast<int64_t>(layout.Append(test::Zlib(textA_, 9, 13))) + 2;
    layout.Zeros(30);
    const test::TBytes raw = test::Raw(textB_);
    rawAt_ = static_cast<int64_t>(layout.Append(raw));
    rawBytes_ = raw.size();
    layout.Zeros(40);
    const test::TBytes cut = test::Zlib(textA_);
    cutAt_ = static_cast<int64_t>(layout.Append(test::TBytes(cut.begin(), cut.begin() + 3000))) + 2;
    source_ = dir_ / "firmware.bin";
    layout_ = layout.Bytes();
    test::WriteFile(source_, layout_);
    out_ = dir_ / "out";
  }
  test::TProgramResult Run(std::vector<std::string> args) {
    args.push_back(source_);
    return test::RunProgram(QUARN_SCAN_PATH, args);
  }

  test::TTempDir dir_;
  test::TBytes textA_, textB_, layout_;
  // First deflate bytes; the zlib streams start two bytes before, which is
  // where their extracted files are named after.
  int64_t zlibAt_ = 0, rawAt_ = 0, cutAt_ = 0;
  uint64_t rawBytes_ = 0;
  std::string source_, out_;
};

inline std::string Hex(int64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
  return text;
}

}  // namespace quarn
