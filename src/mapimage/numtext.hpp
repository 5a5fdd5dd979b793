// The sign-reserving decimal text in which every number of the output is written.
//
// Form: a blank before zero and positive values, "-" before negative ones; the
// value rounded to 15 significant digits, ties to even (of the exact binary
// value); trailing zeros and a bare point dropped; no 0 before the point for
// magnitudes below 1 (" .5"); exponent form ("d.dddE+XX", at least two exponent
// digits) exactly when the decimal exponent after rounding is below -4 or at
// least 15. Always "." as the point, whatever the locale; no allocation on the
// fast path.
#pragma once

namespace v2bsp {

// The longest text numtext writes (" -1.23456789012345E-308" and the like) fits this.
inline constexpr int kNumTextMax = 32;

// Writes the text of `value` at `out` (at least kNumTextMax bytes, all of
// which it may use as scratch) and returns the end of the text. Negative
// zero is zero and is written " 0". Infinities and NaNs, which no decoded
// value is, are written as " inf", "-inf" and " nan".
char* numtext(char* out, double value);

}  // namespace v2bsp
