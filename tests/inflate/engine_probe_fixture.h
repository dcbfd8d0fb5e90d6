// What the tests of the engine probe with real libraries on disk share, on
// Linux and on Windows: a data file with header streams of several windows
// and levels, raw deflate and noise; the counters line that the plain
// reference scan (zlib called directly) gives for it, which the probe
// program must print whatever engine serves; and fresh folders, each
// holding a copy of the probe program.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/reference_scan.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn::test {

// The probe's output, one entry a line.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

class TEngineProbeFixture : public testing::Test {
 protected:
  void SetUp() override {
    const TBytes text = MakeText(60000, 4);
    TLayout layout;
    layout.Append(MakeNoise(3000, 1));
    layout.Append(Zlib(text, 9, 15));
    layout.Zeros(40);
    layout.Append(Zlib(text, 1, 10));
    layout.Append(MakeNoise(2000, 2));
    layout.Append(Raw(MakeText(20000, 5)));
    layout.Zeros(100);
    layout.Append(Zlib(text, 6, 12, Z_FIXED));
    layout.Append(MakeNoise(5000, 3));
    data_ = dir_ / "data.bin";
    WriteFile(data_, layout.Bytes());

    const TReferenceResult r =
        ReferenceScan(layout.Bytes().data(), static_cast<int64_t>(layout.Bytes().size()), true, false);
    ASSERT_GT(r.Z, 0);
    ASSERT_GT(r.hless, 0);
    expectedCounters_ = CountersLine(r);
  }

  // A fresh folder `name` holding a copy of the probe program, which may
  // be run; returns the copy's name.
  std::string CopyOfProgram(const std::string& name) {
    const std::string directory = dir_ / name;
    std::filesystem::create_directory(directory);
    // The original's own file name, ".exe" and all where it has one.
    const std::string program = directory + "/" + std::filesystem::path(QUARN_ENGINE_PROBE_PATH).filename().string();
    std::filesystem::copy_file(QUARN_ENGINE_PROBE_PATH, program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    return program;
  }

  // Checks one run of the probe over the data file. With `failure`:
  // start-up stopped with that text and status 1, and nothing was scanned.
  // Without: the engine line `engineLine`, the line naming where inflate
  // came from `inflateLine`, and the reference scan's counters.
  void ExpectRun(const TProgramResult& result, const char* failure, const std::string& engineLine,
                 const std::string& inflateLine) {
    if (failure != nullptr) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string(failure) + "\n");
      EXPECT_EQ(result.out, "");
      return;
    }
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0], engineLine);
    EXPECT_EQ(lines[1], inflateLine);
    EXPECT_EQ(lines[2], expectedCounters_);
  }

  TTempDir dir_;
  std::string data_;
  std::string expectedCounters_;
};

}  // namespace quarn::test
