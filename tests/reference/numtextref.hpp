// The number text of the mesh files, made from its rules alone: the oracle
// that numtext's fast route is checked against. It shares no code with
// numtext; the digits come from std::to_chars, which rounds correctly.
//
// A blank before zero and positive values, "-" before negative ones; 15
// significant digits, ties to even; trailing zeros and a bare point dropped;
// no 0 before the point below 1 (" .5"); "d.dddE+XX" (at least two exponent
// digits) when the decimal exponent is below -4 or at least 15; " inf",
// "-inf", " nan"; negative zero is " 0".
#pragma once

#include <string>

namespace v2bsp {

std::string numtextReferenceText(double value);

// The same text at `out` (at least 32 bytes); returns its end.
char* numtextReference(char* out, double value);

// numtext's text as a string.
std::string numtext(double value);

}  // namespace v2bsp
