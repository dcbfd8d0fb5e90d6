// quarn-scan's exact output, kept beside this test in golden/: for each
// case NAME, golden/NAME.stdout, golden/NAME.stderr and golden/NAME.status
// hold what the program must print and return. The fixtures are made here,
// with zlib, in a fresh directory in which the program runs, so that the
// names in the output are the short relative ones.
//
// After a deliberate change of the output, QUARN_UPDATE_GOLDEN=1 rewrites
// the golden files from what the program prints; review them with git diff.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/file_names.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// One small zlib stream between zeros.
TBytes Padded(const TBytes& stream) {
  test::TLayout layout;
  layout.Zeros(20);
  layout.Append(stream);
  layout.Zeros(70);
  return layout.Bytes();
}

struct TCase {
  const char* name;
  std::vector<std::string> args;
};

const TCase kCases[] = {
    {"list_escaped_names",
     {"-l", "-j", "3", "mixed.bin", "tab\tname.bin", "line\nbreak.bin", "back\\slash.bin", "esc\x1b[31m.bin",
      "c1-\xc2\x9b.bin", "bad\xff\xfe.bin", "utf8-\xc3\xa9t\xc3\xa9.bin"}},
    {"report_all_options", {"--headerless", "--accept-incomplete", "mixed.bin", "cut.bin"}},
    {"keep_going", {"-l", "mixed.bin", "missing.bin", "cut.bin", "dir-missing/"}},
    {"keep_going_json_lines", {"--json-lines", "--headerless", "missing.bin", "mixed.bin", "bad\xff\xfe.bin"}},
    {"fail_fast", {"--fail-fast", "mixed.bin", "missing.bin"}},
    {"fail_fast_json_list", {"--fail-fast", "--json", "-l", "missing.bin", "mixed.bin"}},
    {"json", {"--json", "--headerless", "mixed.bin"}},
    {"json_list", {"--json", "-l", "mixed.bin", "bad\xff\xfe.bin", "bad\xfe\xff.bin"}},
    {"json_list_nothing_found", {"--json", "--list", "cut.bin"}},
    {"usage_min_size_negative", {"-x", "out", "--min-size", "-1", "mixed.bin"}},
    {"usage_min_size_huge", {"-x", "out", "--min-size", "99999999999999999999999", "mixed.bin"}},
    {"usage_extract_empty", {"--extract", "", "mixed.bin"}},
    {"usage_extract_without_dir", {"-x"}},
    {"usage_unknown_option", {"-Z", "mixed.bin"}},
    {"usage_unknown_option_alone", {"-Z"}},
    {"usage_threads_zero", {"-j", "0", "mixed.bin"}},
    {"usage_json_and_json_lines", {"--json", "--json-lines", "mixed.bin"}},
    {"usage_no_path", {}},
    {"help", {"--help"}},
};

void PrintTo(const TCase& c, std::ostream* out) { *out << c.name; }

class QuarnScanGolden : public testing::TestWithParam<TCase> {
 protected:
  void SetUp() override {
    const TBytes text = test::MakeText(40000, 2);
    test::TLayout mixed;
    mixed.Zeros(50);
    mixed.Append(test::Zlib(text, 9, 12));
    mixed.Zeros(50);
    mixed.Append(test::Raw(text));
    mixed.Zeros(80);
    test::WriteFile(dir_ / "mixed.bin", mixed.Bytes());
    const TBytes zlib = test::Zlib(text);
    test::WriteFile(dir_ / "cut.bin", TBytes(zlib.begin(), zlib.begin() + static_cast<long>(zlib.size() / 2)));
    uint32_t seed = 10;
    for (const char* name : {"tab\tname.bin", "line\nbreak.bin", "back\\slash.bin", "esc\x1b[31m.bin",
                             "c1-\xc2\x9b.bin", "bad\xff\xfe.bin", "bad\xfe\xff.bin", "utf8-\xc3\xa9t\xc3\xa9.bin"}) {
      const uint32_t own = seed++;
      if (test::NameCanExist(name)) test::WriteFile(dir_ / name, Padded(test::Zlib(test::MakeText(3000 + own, own))));
    }
  }
  test::TTempDir dir_;
};

TEST_P(QuarnScanGolden, OutputIsTheGoldenOne) {
  const TCase& c = GetParam();
  for (const std::string& arg : c.args) {
    if (!test::NameCanExist(arg)) GTEST_SKIP() << "a file of this case's names cannot exist on this system";
  }
  const test::TProgramResult r = test::RunProgram(QUARN_SCAN_PATH, c.args, false, dir_.Path());
  const std::string base = std::string(QUARN_GOLDEN_DIR) + "/" + c.name;
  const std::string status = std::to_string(r.status) + "\n";
  if (std::getenv("QUARN_UPDATE_GOLDEN") != nullptr) {
    WriteText(base + ".stdout", r.out);
    WriteText(base + ".stderr", r.err);
    WriteText(base + ".status", status);
  }
  EXPECT_EQ(r.out, ReadText(base + ".stdout"));
  EXPECT_EQ(r.err, ReadText(base + ".stderr"));
  EXPECT_EQ(status, ReadText(base + ".status"));
}

INSTANTIATE_TEST_SUITE_P(Cases, QuarnScanGolden, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quarn
