// The shortest decimal text of a single that reads back as the same single:
// the text std::to_chars(first, last, value) writes, made faster for the
// magnitudes level coordinates have.
#pragma once

#include "mapimage/portable.hpp"

namespace v2bsp {

// The longest text shortestSingle writes ("-1.1754944e-38" and the like) fits this.
inline constexpr int kShortestSingleMax = kShortestFloatMax;

// Writes the text of `value` at `out` (room for kShortestSingleMax bytes) and
// returns its end. The text is byte for byte std::to_chars's without a format:
// the fewest significant digits that read back as `value`, the nearest such
// decimal where there are several (ties to even), in fixed or exponent form,
// whichever is shorter (fixed on a tie). Magnitudes from 2^-100 up to 2^24
// take a route of exact integer steps; the rest, zeros, infinities and NaNs
// are left to shortestText (mapimage/portable.hpp).
char* shortestSingle(char* out, float value);

}  // namespace v2bsp
