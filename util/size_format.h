// Size texts of the report: kibibyte counts written as three significant
// digits with a unit ("0.13 MB", "10.0 MB", "977 MB", "0.95 GB").
//
// Both functions are pure and give the same text whatever the process's
// locale: a full stop as the decimal separator and no digit grouping.
#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// `value` widened to double and written in fixed notation with exactly
// `digits` decimals (none and no full stop for 0). Exact halves round away
// from zero: 0.125 with 2 decimals gives "0.13". A negative `digits` counts
// as 0.
std::string FormatFloatPrecision(float value, int32_t digits);

// `count` kibibytes as a size text in MB, GB or TB with three digits in all.
// Counts at or above 999,999,995,904 (1000^4 held as a float) give the
// empty text; callers never pass a negative count.
std::string FormatKBytes(int64_t count);

}  // namespace quarn
