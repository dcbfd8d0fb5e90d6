// The file that the tests of quarn-scan's inputs feed it (one zlib stream
// between zeros), and the shell they use where there is one; shared by the
// tests that run everywhere and those that need POSIX
// (quarn_scan_inputs_posix_test.cpp), which form one program.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {

inline const std::string kScan = QUARN_SCAN_PATH;

// bash, for the forms of input that only a shell makes (pipes, process
// substitution, redirection); POSIX only.
inline test::TProgramResult Shell(const std::string& script) {
  return test::RunProgram("/bin/bash", {"-c", script});
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

class QuarnScanInputs : public testing::Test {
 protected:
  void SetUp() override {
    text_ = test::MakeText(30000, 3);
    test::TLayout layout;
    layout.Zeros(40);
    layout.Append(test::Zlib(text_));
    layout.Zeros(40);
    bytes_ = layout.Bytes();
    test::WriteFile(dir_ / "one.bin", bytes_);
  }
  test::TTempDir dir_;
  test::TBytes text_, bytes_;
};

}  // namespace quarn
