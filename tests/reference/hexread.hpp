// The reference reading of the format: values of the map image as hex text and
// the value of a hex text. The programs read the bytes directly (readu32,
// decodeFloat, the OBJ text from section bytes); the tests, the fuzz targets
// and the tools check those readers against these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mapimage/mapimage.hpp"

namespace v2bsp {

// The four bytes at `offset` as eight upper-case hex digits: b3 b2 b1 b0 with
// `littleendian` true, b0 b1 b2 b3 otherwise. Throws MapError (naming `what`)
// when the four bytes are not all inside, as readu32 does.
std::string readhex32(ByteView image, std::int64_t offset, bool littleendian, std::string_view what = "value");

// The value of `text` read as hexadecimal digits (0-9, A-F, a-f), the last
// character being the least significant. Any other character gives 0, and so
// does the empty text. Throws std::overflow_error when the last 256 characters
// are all digits: the place value of the 257th digit from the right leaves the
// range of a double, so such a text has no value.
double hextonum(std::string_view text);

// The four bytes at `offset` as four characters, one per byte (a zero byte
// included): c3 c2 c1 c0 with `littleendian` true, c0 c1 c2 c3 otherwise.
// Throws as readu32.
std::string readfourcc(ByteView image, std::int64_t offset, bool littleendian, std::string_view what = "value");

// Two upper-case hex digits for each byte, in order, no separators.
std::string bytestohex(ByteView bytes);

}  // namespace v2bsp
