// Size formatting. The decimal text comes from std::to_chars, which never
// consults the locale; rounding is done on the exact decimal expansion of
// the value so that exact halves go away from zero, which neither printf
// nor to_chars do (both round half to even).
#include "util/size_format.h"

#include <array>
#include <charconv>
#include <cmath>

namespace quarn {
namespace {

// A float widened to double has at most 149 binary fraction digits, so 160
// decimals hold its expansion exactly.
constexpr int kExactDecimals = 160;

}  // namespace

std::string FormatFloatPrecision(float value, int32_t digits) {
  if (digits < 0) digits = 0;
  if (digits > 100) digits = 100;
  const double wide = static_cast<double>(value);
  if (!std::isfinite(wide)) return wide != wide ? "NAN" : (wide > 0 ? "INF" : "-INF");

  std::array<char, 64 + kExactDecimals> exact{};
  const auto [end, ec] = std::to_chars(exact.data(), exact.data() + exact.size(),
                                       std::fabs(wide), std::chars_format::fixed, kExactDecimals);
  if (ec != std::errc{}) return {};
  std::string text(exact.data(), end);

  const std::size_t point = text.find('.');
  // Keep the integer part and `digits` decimals, then round on the rest.
  std::string kept = text.substr(0, point);
  std::string fraction = text.substr(point + 1);
  kept += fraction.substr(0, static_cast<std::size_t>(digits));
  const bool roundUp = fraction[static_cast<std::size_t>(digits)] >= '5';
  if (roundUp) {
    std::size_t k = kept.size();
    while (k > 0) {
      --k;
      if (kept[k] == '9') {
        kept[k] = '0';
      } else {
        ++kept[k];
        break;
      }
      if (k == 0) kept.insert(kept.begin(), '1');
    }
  }
  const std::size_t integerDigits = kept.size() - static_cast<std::size_t>(digits);
  std::string result = kept.substr(0, integerDigits);
  if (digits > 0) result += '.' + kept.substr(integerDigits);
  const bool allZero = kept.find_first_not_of('0') == std::string::npos;
  if (wide < 0 && !allZero) result.insert(result.begin(), '-');
  return result;
}

std::string FormatKBytes(int64_t count) {
  struct TUnit {
    float limit;
    double divisor;
    const char* name;
  };
  // The limits are powers of 1000 held as floats: the third is 999,999,995,904.
  static constexpr TUnit kUnits[] = {
      {1000.0f * 1000.0f, 1024.0, "MB"},
      {1000.0f * 1000.0f * 1000.0f, 1024.0 * 1024.0, "GB"},
      {1000.0f * 1000.0f * 1000.0f * 1000.0f, 1024.0 * 1024.0 * 1024.0, "TB"},
  };
  const double value = static_cast<double>(count);
  for (const TUnit& unit : kUnits) {
    if (!(value < static_cast<double>(unit.limit))) continue;
    const float q = static_cast<float>(value / unit.divisor);
    const std::string twoDecimals = FormatFloatPrecision(q, 2);
    const std::size_t point = twoDecimals.find('.');
    const std::size_t integerDigits = point == std::string::npos ? 0 : point;
    int32_t decimals;
    switch (integerDigits) {
      case 1: decimals = 2; break;
      case 2: decimals = 1; break;
      case 3: decimals = 0; break;
      default: return {};
    }
    return FormatFloatPrecision(q, decimals) + " " + unit.name;
  }
  return {};
}

}  // namespace quarn
