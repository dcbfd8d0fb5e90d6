// quarn-scan end to end: the report matches the window's, the JSON keys,
// the stream rows, and the exit statuses. The tests that need POSIX are in
// quarn_scan_posix_test.cpp.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "cli/name_text.h"
#include "engine/scan_driver.h"
#include "tests/cli/quarn_scan_fixture.h"
#include "tests/engine/fake_window.h"
#include "tests/support/reference_scan.h"
#include "tests/support/run_program.h"
#include "tests/support/system_zlib.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

// What serves a quarn-scan run next to nothing: the built-in engine, or on
// Windows a zlib1.dll of the system folder (wine has one of its own).
std::string ExpectedEngine() {
  if (const std::optional<std::string> system = test::SystemZlibDescription()) return *system;
  return std::string("built-in zlib ") + zlibVersion();
}

// The same scan through the window's driver and through the command line.
TEST_F(QuarnScan, ReportLinesAreTheWindowsInEveryOptionCombination) {
  for (bool headerless : {false, true}) {
    for (bool accept : {false, true}) {
      SCOPED_TRACE(testing::Message() << "headerless=" << headerless << " accept=" << accept);
      test::TFakeWindow window;
      window.Drop({dir_.Path()});
      window.scanWholeDirectory = true;
      window.recursive = true;
      window.headerless = headerless;
      window.acceptIncomplete = accept;
      Button2Click(window);

      std::vector<std::string> args = {"--recursive", dir_.Path()};
      if (headerless) args.push_back("--headerless");
      if (accept) args.push_back("--accept-incomplete");
      const test::TProgramResult r = Scan(args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      // The log ends with the two zlibbed totals, as quarn-scan's report does.
      EXPECT_EQ(SplitLines(r.out), window.log);
    }
  }
}

TEST_F(QuarnScan, JsonHasEveryKey) {
  const test::TProgramResult r = Scan({"--json", "--headerless", dir_ / "mixed.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["files_scanned"], 1);
  EXPECT_EQ(j["input_bytes"], std::filesystem::file_size(dir_ / "mixed.bin"));
  EXPECT_EQ(j["header_streams"], 1);
  EXPECT_EQ(j["headerless_streams"], 1);
  EXPECT_EQ(j["streams"], 2);
  EXPECT_EQ(j["compressed_bytes"], zlib_.size() - 6 + raw_.size());
  EXPECT_EQ(j["inflated_bytes"], 2 * text_.size());
  EXPECT_EQ(j["output_bytes"], j["input_bytes"].get<int64_t>() - j["compressed_bytes"].get<int64_t>() +
                                   j["inflated_bytes"].get<int64_t>());
  for (int k = 9; k <= 15; ++k) EXPECT_EQ(j["window_bits"][std::to_string(k)], k == 12 ? 1 : 0) << k;
  for (int f = 0; f <= 3; ++f) EXPECT_EQ(j["flevel"][std::to_string(f)], f == 3 ? 1 : 0) << f;
  EXPECT_FALSE(j.contains("streams_found"));

  // Every key of every listed stream, with "complete" true and false: the
  // two whole streams of mixed.bin, and the cut one of sub/cut.bin.
  const std::string cut = dir_ / "sub/cut.bin";
  const test::TBytes cutBytes(zlib_.begin(), zlib_.begin() + static_cast<long>(zlib_.size() / 2));
  const test::TReferenceResult cutScan =
      test::ReferenceScan(cutBytes.data(), static_cast<int64_t>(cutBytes.size()), true, true);
  ASSERT_EQ(cutScan.streams.size(), 1u);
  const test::TProgramResult listedRun =
      Scan({"--json", "--list", "--headerless", "--accept-incomplete", dir_ / "mixed.bin", cut});
  ASSERT_EQ(listedRun.status, 0) << listedRun.err;
  const nlohmann::ordered_json listed = nlohmann::ordered_json::parse(listedRun.out);
  const nlohmann::ordered_json want = nlohmann::ordered_json::array({
      {{"file", dir_ / "mixed.bin"}, {"offset", zlibAt_ - 2}, {"deflate_offset", zlibAt_}, {"kind", "zlib"},
       {"window_bits", 12}, {"flevel", 3}, {"compressed_bytes", zlib_.size() - 6}, {"inflated_bytes", text_.size()},
       {"complete", true}, {"proven_by", nullptr}, {"beyond_rule", false}},
      {{"file", dir_ / "mixed.bin"}, {"offset", rawAt_}, {"deflate_offset", rawAt_}, {"kind", "raw"},
       {"window_bits", nullptr}, {"flevel", nullptr}, {"compressed_bytes", raw_.size()},
       {"inflated_bytes", text_.size()}, {"complete", true}, {"proven_by", nullptr}, {"beyond_rule", false}},
      {{"file", cut}, {"offset", 0}, {"deflate_offset", 2}, {"kind", "zlib"}, {"window_bits", 12}, {"flevel", 3},
       {"compressed_bytes", cutBytes.size() - 2}, {"inflated_bytes", cutScan.streams[0].OutBytes},
       {"complete", false}, {"proven_by", nullptr}, {"beyond_rule", false}},
  });
  EXPECT_EQ(listed["streams_found"], want) << listed["streams_found"].dump(2);
}

TEST_F(QuarnScan, ListRowsComeBeforeTheReport) {
  const test::TProgramResult r = Scan({"--list", "--headerless", "--accept-incomplete", dir_ / "mixed.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  const TLines lines = SplitLines(r.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "file\toffset\tkind\twindow_bits\tflevel\tcompressed_bytes\tinflated_bytes\tdeflate_offset\tproven_by\t"
            "container");
  // A zlib stream starts at its header, two bytes before its deflate data.
  EXPECT_EQ(lines[1], dir_ / "mixed.bin" + "\t" + std::to_string(zlibAt_ - 2) + "\tzlib\t12\t3\t" +
                          std::to_string(zlib_.size() - 6) + "\t" + std::to_string(text_.size()) + "\t" +
                          std::to_string(zlibAt_) + "\t-\t");
  EXPECT_EQ(lines[2], dir_ / "mixed.bin" + "\t" + std::to_string(rawAt_) + "\traw\t-\t-\t" +
                          std::to_string(raw_.size()) + "\t" + std::to_string(text_.size()) + "\t" +
                          std::to_string(rawAt_) + "\t-\t");
  EXPECT_EQ(lines[3], "Files scanned: 1");
}

TEST_F(QuarnScan, ExitStatuses) {
  struct TCase {
    std::vector<std::string> args;
    int status;
    std::string errStart;
  };
  const std::string missing = dir_ / "missing.bin";
  const TCase cases[] = {
      {{}, 2, "quarn-scan: "},
      {{"--no-such-option", "x"}, 2, "quarn-scan: "},
      {{"--help"}, 0, ""},
      {{"--version"}, 0, ""},
      {{missing}, 1, "quarn-scan: " + missing + ": No such file or directory\n"},
      {{"--fail-fast", missing}, 1,
       "One or more errors occurred\n1 exception(s):\n#0 Exception: File \"" + missing + "\" does not exists.\n"},
      {{dir_ / "mixed.bin"}, 0, ""},
  };
  for (const TCase& c : cases) {
    const test::TProgramResult r = Scan(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
    if (c.args.size() == 2 && c.args[0] == "--fail-fast") {
      EXPECT_EQ(r.out, "") << "no report after a failure";
    }
  }
  EXPECT_EQ(Scan({"--version"}).out, "quarn-scan 1.0.0.0\nengine: " + ExpectedEngine() + "\n");
  EXPECT_NE(Scan({"--help"}).out.find("--headerless"), std::string::npos);
}

TEST_F(QuarnScan, ClosedStdoutEndsQuietly) {
  const test::TProgramResult r = Scan({"--list", "--headerless", "--recursive", dir_.Path()}, true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// Inflates the zlib stream `stream` whole with zlib itself (window up to
// 32 KiB): true when zlib ends it, with `expected` as its output.
bool ZlibInflatesTo(const test::TBytes& stream, const test::TBytes& expected) {
  test::TBytes out(expected.size() + 1);
  uLongf outBytes = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &outBytes, stream.data(), static_cast<uLong>(stream.size())) != Z_OK) return false;
  out.resize(outBytes);
  return out == expected;
}

// The README's list of what is not found, held to the program: each stream
// that the rules leave out, and beside it one just inside the rules that
// is found. Each left-out stream but the cut ones is one zlib inflates.
TEST(QuarnScanRules, WhatIsNotFound) {
  const test::TBytes text = test::MakeText(300000, 8);
  const test::TBytes small = test::MakeText(100000, 9);
  const test::TBytes fixed256 = test::MakeText(262144, 10);
  // CINFO 0 needs a window of 256 bytes: Huffman coding alone uses none.
  const test::TBytes huffmanOnly = test::Deflate(text, {6, -15, Z_HUFFMAN_ONLY, nullptr});
  auto withHeader = [&](uint8_t cmf) {
    const unsigned flg = 0x80u + (31u - (cmf * 256u + 0x80u) % 31u) % 31u;
    test::TBytes stream = {cmf, static_cast<uint8_t>(flg)};
    stream.insert(stream.end(), huffmanOnly.begin(), huffmanOnly.end());
    const uLong check = adler32(adler32(0, nullptr, 0), text.data(), static_cast<uInt>(text.size()));
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<uint8_t>(check >> shift));
    return stream;
  };
  // A stream cut so that its first deflate byte is `fromEnd` bytes before
  // the end of the file.
  const test::TBytes long50k = test::Zlib(test::MakeText(50000, 11));
  auto cutAt = [&](long fromEnd) { return test::TBytes(long50k.begin(), long50k.begin() + 2 + fromEnd); };
  struct TCase {
    const char* name;
    test::TBytes stream;
    std::vector<std::string> options;
    int streams;
    const test::TBytes* inflatesTo;  // checked with zlib when not null
  };
  const TCase cases[] = {
      {"CINFO 0", withHeader(0x08), {}, 0, &text},
      {"the same data with CINFO 7", withHeader(0x78), {}, 1, &text},
      {"fixed first block, under 256 KiB", test::Zlib(small, 6, 15, Z_FIXED), {}, 0, &small},
      {"fixed first block, 256 KiB", test::Zlib(fixed256, 6, 15, Z_FIXED), {}, 1, &fixed256},
      {"stored first block, under 256 KiB", test::Zlib(small, 0), {}, 0, &small},
      {"raw, fixed first block", test::Raw(text, 6, Z_FIXED), {"--headerless"}, 0, nullptr},
      {"raw, stored first block", test::Raw(text, 0), {"--headerless"}, 0, nullptr},
      {"raw, dynamic first block", test::Raw(text), {"--headerless"}, 1, nullptr},
      {"first deflate byte 63 bytes before the end", cutAt(63), {"--accept-incomplete"}, 0, nullptr},
      {"first deflate byte 64 bytes before the end", cutAt(64), {"--accept-incomplete"}, 1, nullptr},
  };
  test::TTempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.inflatesTo != nullptr) {
      ASSERT_TRUE(ZlibInflatesTo(c.stream, *c.inflatesTo));
    }
    test::TLayout layout;
    layout.Zeros(10);
    layout.Append(c.stream);
    const bool cut = std::string(c.name).find("before the end") != std::string::npos;
    if (!cut) layout.Zeros(70);
    test::WriteFile(dir / "t.bin", layout.Bytes());
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--json", dir / "t.bin"});
    const test::TProgramResult r = Scan(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["streams"], c.streams);
  }
}

TEST(Base64, KnownValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe", "//4="}};
  for (const auto& [in, out] : cases) EXPECT_EQ(cli::Base64(in), out) << in;
}

TEST(EscapeName, EveryByteComesBackAndNothingBreaksARow) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain.bin", "plain.bin"},
      {"a\tb", "a\\tb"},
      {"a\tb\nc\\d", "a\\tb\\nc\\\\d"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x1b[31m\x7f", "\\x1b[31m\\x7f"},
      {"\xc2\x9b\xc2\xa0", "\\xc2\\x9b\xc2\xa0"},  // C1 control escaped, no-break space kept
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
      {"\xff\xc3", "\\xff\\xc3"},                    // not UTF-8, cut sequence
      {"\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},  // overlong, surrogate
  };
  for (const auto& [name, escaped] : cases) {
    EXPECT_EQ(cli::EscapeName(name), escaped);
    EXPECT_EQ(cli::EscapeName(name).find_first_of("\t\n\r\x1b"), std::string::npos);
  }
  EXPECT_TRUE(cli::IsUtf8("\xc3\xa9\xf0\x9f\x98\x80"));
  EXPECT_FALSE(cli::IsUtf8("\xed\xa0\x80"));
  EXPECT_FALSE(cli::IsUtf8("\xf4\x90\x80\x80"));
}

}  // namespace
}  // namespace quarn
