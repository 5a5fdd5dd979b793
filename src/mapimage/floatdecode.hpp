// Single-precision values of the map, decoded the way the text route defines
// (reference/floattext.hpp states the route and gives it as hextofloat).
//
// The decoding is not IEEE for the fields 0 and 255: a subnormal is decoded as
// if normal (exponent -127, implicit 1), negative zero gives -2^-127, and
// infinities and NaNs give +-(1 + fraction) * 2^128. Only an all-zero value is 0.
#pragma once

#include <cstdint>

namespace v2bsp {

// The direct route: for the value-order bits of the four stored bytes (the
// little-endian load of them), exactly the double that hextofloat gives for the
// same bytes' hex text, for every one of the 2^32 patterns.
double decodeFloat(std::uint32_t bits);

}  // namespace v2bsp
