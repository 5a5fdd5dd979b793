#include "mapimage/floatdecode.hpp"

#include <cstdint>

#include "mapimage/portable.hpp"

namespace v2bsp {
namespace {

constexpr std::uint64_t kFivePow14 = 6'103'515'625ULL;
constexpr double kTenPow14 = 1e14;  // exact in a double

}  // namespace

double decodeFloat(std::uint32_t bits) {
    if (bits == 0) return 0.0;
    // The mantissa text holds 1 + f / 2^23 to 15 significant digits, that is
    // round((2^23 + f) * 10^14 / 2^23) / 10^14 = round((2^23 + f) * 5^14 / 2^9) / 10^14,
    // rounded half to even. The product stays below 2^57. Reading the text
    // back gives the double nearest to that quotient, which is exactly what
    // IEEE division of the two exactly held integers returns.
    const std::uint64_t scaled = ((std::uint64_t{1} << 23) + (bits & 0x7FFFFFU)) * kFivePow14;
    const std::uint64_t rest = scaled & 511U;
    // Bitwise rather than branching: the rounding and the sign are data, and
    // a branch on either is mispredicted about every other value.
    const std::uint64_t whole = scaled >> 9;
    const bool roundUp = (rest > 256) | ((rest == 256) & ((whole & 1U) != 0));
    const std::uint64_t digits = whole + static_cast<std::uint64_t>(roundUp);
    const double mantissa = static_cast<double>(digits) / kTenPow14;

    // Exponent field minus 127 with no special cases: 2^-127 to 2^128, all
    // normal doubles, so the product is exact.
    const auto biased = static_cast<std::uint64_t>((bits >> 23) & 0xFFU) + (1023 - 127);
    const double magnitude = mantissa * bitCast<double>(biased << 52);
    const std::uint64_t sign = static_cast<std::uint64_t>(bits >> 31) << 63;
    return bitCast<double>(bitCast<std::uint64_t>(magnitude) | sign);
}

}  // namespace v2bsp
