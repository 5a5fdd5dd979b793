// The text route of the map's single-precision values, the reference that
// decodeFloat (mapimage/floatdecode.hpp) is checked against.
//
// The text route: a value's four stored bytes as hex text (file order) are put
// in value order, expanded to a bit text, and the exponent field and the
// mantissa "1.<fraction bits>" are evaluated through numtext and read back.
// The decoding is not IEEE for the fields 0 and 255: a subnormal is decoded as
// if normal (exponent -127, implicit 1), negative zero gives -2^-127, and
// infinities and NaNs give +-(1 + fraction) * 2^128. Only an all-zero text is 0.
#pragma once

#include <string>
#include <string_view>

namespace v2bsp {

// Each of 0-9 and A-F appends its four bits, most significant first; every other
// character (lower-case a-f included) appends nothing.
std::string hextobin(std::string_view hex);

// numtext of the value of a bit text of 0 and 1 with at most one point.
std::string bintonum(std::string_view bits);

// The reference route: the value of a hex text of stored bytes in file order,
// of any length (short, odd and empty texts are decoded from the bits they have).
double hextofloat(std::string_view hex);

}  // namespace v2bsp
