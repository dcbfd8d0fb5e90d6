// Size texts: every row of the size table, the rounding of exact halves,
// and independence from the process's locale.
#include "util/size_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>

namespace quarn {
namespace {

struct TSizeRow {
  int64_t count;
  const char* text;
};

constexpr TSizeRow kRows[] = {
    {0, "0.00 MB"},
    {10, "0.01 MB"},
    {128, "0.13 MB"},  // q is exactly 0.125
    {512, "0.50 MB"},
    {1024, "1.00 MB"},
    {10230, "9.99 MB"},
    {10236, "10.0 MB"},  // 9.996 rounds to 10.00 first, so one decimal
    {102399, "100 MB"},
    {999999, "977 MB"},
    {1000000, "0.95 GB"},
    {1048576, "1.00 GB"},
    {999999999, "954 GB"},
    {1000000000, "0.93 TB"},
    {1073741824, "1.00 TB"},
    {999999995903, "931 TB"},
    {999999995904, ""},
    {INT64_MAX, ""},
};

void ExpectEveryRow() {
  for (const TSizeRow& row : kRows) EXPECT_EQ(FormatKBytes(row.count), row.text) << row.count;
}

TEST(SizeFormat, FormatKBytesTable) { ExpectEveryRow(); }

TEST(SizeFormat, FormatFloatPrecisionRoundsHalvesAwayFromZero) {
  struct TCase {
    float value;
    int digits;
    const char* text;
  };
  const TCase cases[] = {
      {0.125f, 2, "0.13"}, {0.5f, 0, "1"},     {1.5f, 0, "2"},    {2.5f, 0, "3"},
      {-0.5f, 0, "-1"},    {-1.25f, 1, "-1.3"}, {9.996f, 2, "10.00"}, {99.96f, 1, "100.0"},
      {0.0f, 2, "0.00"},   {123.0f, 0, "123"},  {0.1f, 3, "0.100"}, {1e10f, 1, "10000000000.0"},
  };
  for (const TCase& c : cases) EXPECT_EQ(FormatFloatPrecision(c.value, c.digits), c.text) << c.value;
}

// A locale whose numbers use a decimal comma and digit grouping.
struct TCommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(SizeFormat, SameTextsUnderADecimalCommaLocale) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new TCommaPunct));
  const std::string savedC = std::setlocale(LC_ALL, nullptr);
  const char* const commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"};
  for (const char* name : commaLocales) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
  }
  ExpectEveryRow();
  EXPECT_EQ(FormatFloatPrecision(0.125f, 2), "0.13");
  std::setlocale(LC_ALL, savedC.c_str());
  std::locale::global(saved);
}

}  // namespace
}  // namespace quarn
