#include "reference/floattext.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "mapimage/numtext.hpp"
#include "mapimage/portable.hpp"
#include "reference/numtextref.hpp"

namespace v2bsp {
namespace {

// Reads numtext output back as the nearest double (std::from_chars rounds
// correctly and ignores the locale, but does not skip the leading blank).
double readBack(std::string_view text) {
    const std::size_t start = std::min(text.find_first_not_of(' '), text.size());
    double value = 0;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    return value;
}

// 2^e for a bit position of any size, built from its bits; positions beyond
// the range of a double give infinity or 0, as repeated doubling or halving
// would.
double powerOfTwo(std::size_t position, bool negative) {
    if (position > 1074) return negative ? 0.0 : HUGE_VAL;
    const int e = negative ? -static_cast<int>(position) : static_cast<int>(position);
    if (e > 1023) return HUGE_VAL;
    if (e >= -1022) return v2bsp::bitCast<double>(static_cast<std::uint64_t>(e + 1023) << 52);
    return v2bsp::bitCast<double>(std::uint64_t{1} << (e + 1074));  // subnormal
}

constexpr const char* kNibbleBits[16] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
                                         "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};

}  // namespace

std::string hextobin(std::string_view hex) {
    std::string bits;
    bits.reserve(hex.size() * 4);
    for (const char c : hex) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            continue;
        }
        bits.append(kNibbleBits[digit], 4);
    }
    return bits;
}

std::string bintonum(std::string_view bits) {
    const std::size_t point = bits.find('.');
    const std::string_view whole = bits.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : bits.substr(point + 1);
    // The order of the additions is the text route's own: the integer bits
    // from the second-to-last leftwards, then the fraction bits, then the
    // last integer bit. Every sum the decoder makes has at most 24 bits and
    // is exact in any order.
    double sum = 0;
    for (std::size_t i = 1; i < whole.size(); ++i) {
        if (whole[whole.size() - 1 - i] == '1') sum += powerOfTwo(i, false);
    }
    for (std::size_t i = 1; i <= fraction.size(); ++i) {
        if (fraction[i - 1] == '1') sum += powerOfTwo(i, true);
    }
    if (!whole.empty() && whole.back() == '1') sum += 1;
    return numtext(sum);
}

double hextofloat(std::string_view hex) {
    if (hex.find_first_not_of('0') == std::string_view::npos) return 0.0;

    // Pieces of two characters (an odd last one alone), last piece first.
    std::string ordered;
    ordered.reserve(hex.size());
    for (std::size_t start = (hex.size() - 1) / 2 * 2;; start -= 2) {
        ordered.append(hex.substr(start, 2));
        if (start == 0) break;
    }

    const std::string bits = hextobin(ordered);
    const std::string_view view = bits;
    const double sign = !view.empty() && view[0] == '0' ? 1.0 : -1.0;
    const double exponent = readBack(bintonum(view.substr(std::min<std::size_t>(1, view.size()), 8))) - 127;
    std::string mantissa_bits = "1.";
    mantissa_bits.append(view.substr(std::min<std::size_t>(9, view.size()), 23));
    const double mantissa = readBack(bintonum(mantissa_bits));
    return std::ldexp(sign * mantissa, static_cast<int>(exponent));
}

}  // namespace v2bsp
