#include "mapimage/shortestsingle.hpp"

#include <array>
#include <bit>
#include <cstdint>

#include "mapimage/portable.hpp"

namespace v2bsp {
namespace {

__extension__ typedef unsigned __int128 Wide;

// The biased exponents of the exact route: magnitudes from 2^-100 up to 2^24.
constexpr std::uint32_t kLowestExponent = 27;
constexpr std::uint32_t kHighestExponent = 150;

// Decimal places past the point at most: -floor(log10(2^-123)) for the step of
// singles near 2^-100.
constexpr int kMostPlaces = 38;

constexpr std::array<Wide, kMostPlaces + 1> kPowersOfFive = [] {
    std::array<Wide, kMostPlaces + 1> powers{};
    Wide power = 1;
    for (Wide& p : powers) {
        p = power;
        power *= 5;
    }
    return powers;
}();

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t power = 1;
    for (std::uint64_t& p : powers) {
        p = power;
        power *= 10;
    }
    return powers;
}();

int digitCount(std::uint64_t value) {
    const int guess = std::bit_width(value | 1) * 1233 >> 12;  // floor or one below floor of log10
    return guess + (value >= kPowersOfTen[guess] ? 1 : 0);
}

// value / 10^power for a value below 2^32 and a power of 1 to 9: the
// multiplier's error stays below the smallest fraction such a quotient has.
std::uint64_t dividePowerOfTen(std::uint64_t value, int power) {
    static constexpr std::array<std::uint64_t, 10> kInverses = [] {
        std::array<std::uint64_t, 10> inverses{};
        for (int p = 1; p < 10; ++p) inverses[p] = ~std::uint64_t{0} / kPowersOfTen[p] + 1;
        return inverses;
    }();
    return static_cast<std::uint64_t>((static_cast<Wide>(value) * kInverses[power]) >> 64);
}

// Writes the last `count` digits of `value`, zeros in front where it has fewer.
void writeDigits(char* out, std::uint64_t value, int count) {
    char* at = out + count;
    for (; count >= 2; count -= 2) {
        const std::uint64_t pair = value % 100;
        value /= 100;
        at -= 2;
        at[0] = kDigitPairs[2 * pair];
        at[1] = kDigitPairs[2 * pair + 1];
    }
    if (count == 1) *--at = static_cast<char>('0' + value % 10);
}

// Writes digits * 10^exponent, the digits (below 2^32) without trailing
// zeros, in the shorter of the fixed and the exponent form (fixed on a tie).
char* writeDecimal(char* out, std::uint64_t digits, int exponent) {
    const int count = digitCount(digits);
    const int scientific = count - 1 + exponent;  // the exponent of the exponent form
    const int magnitude = scientific < 0 ? -scientific : scientific;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
    const int fixedLength = exponent >= 0 ? count + exponent : scientific >= 0 ? count + 1 : count + 1 - scientific;
    if (fixedLength <= scientificLength) {
        if (exponent >= 0) {
            writeDigits(out, digits, count);
            out += count;
            for (int i = 0; i < exponent; ++i) *out++ = '0';
        } else if (scientific >= 0) {
            const std::uint64_t whole = dividePowerOfTen(digits, -exponent);
            writeDigits(out, whole, scientific + 1);
            out += scientific + 1;
            *out++ = '.';
            writeDigits(out, digits - whole * kPowersOfTen[-exponent], -exponent);
            out += -exponent;
        } else {
            *out++ = '0';
            *out++ = '.';
            for (int i = -1; i > scientific; --i) *out++ = '0';
            writeDigits(out, digits, count);
            out += count;
        }
        return out;
    }
    if (count > 1) {
        const std::uint64_t first = dividePowerOfTen(digits, count - 1);
        *out++ = static_cast<char>('0' + first);
        *out++ = '.';
        writeDigits(out, digits - first * kPowersOfTen[count - 1], count - 1);
        out += count - 1;
    } else {
        *out++ = static_cast<char>('0' + digits);
    }
    *out++ = 'e';
    *out++ = scientific < 0 ? '-' : '+';
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    writeDigits(out, magnitude, 2);
    return out + 2;
}

}  // namespace

char* shortestSingle(char* out, float value) {
    const auto bits = bitCast<std::uint32_t>(value);
    const std::uint32_t biased = (bits >> 23) & 0xFF;
    if (biased < kLowestExponent || biased > kHighestExponent) {
        return shortestText(out, value);
    }
    if ((bits >> 31) != 0) *out++ = '-';

    // The value is c * 2^q; the singles beside it are 2^q away, or 2^(q-1)
    // below the smallest c of an exponent. Reading back rounds to the nearest
    // single, so the texts that read back as the value are those within half a
    // step of it. In units of 2^(q-2) the value and the ends are whole numbers.
    const std::uint32_t fraction = bits & 0x7FFFFF;
    const std::uint64_t c = fraction | 0x800000;
    const int q = static_cast<int>(biased) - 150;
    const std::uint64_t middle = 4 * c;
    const std::uint64_t upper = middle + 2;
    const std::uint64_t lower = middle - (fraction == 0 ? 1 : 2);

    // Scaled by 10^places, one step of singles, 2^q, is 1 to 10 units:
    // places is -floor(q * log10(2)). The scaled numbers are units * 5^places
    // * 2^(places + q - 2), a shift right by at least two bits.
    const int places = -((q * 78913) >> 18);
    const int drop = 2 - places - q;
    const Wide five = kPowersOfFive[places];
    const Wide scaledMiddle = middle * five;

    // The whole numbers (at this scale) that read back as the value: [low,
    // high]. The ends, odd numbers of units shifted right by two bits or more,
    // are never whole, so how a text exactly at an end reads back never matters.
    const std::uint64_t low = static_cast<std::uint64_t>((lower * five) >> drop) + 1;
    const std::uint64_t high = static_cast<std::uint64_t>((upper * five) >> drop);

    // The range is under ten units wide, so it holds at most one multiple of
    // ten; where it holds one, that is the shortest text once its trailing
    // zeros go.
    std::uint64_t tens = high / 10;
    if (tens * 10 >= low) {
        int exponent = 1 - places;
        while (tens % 10 == 0) {
            tens /= 10;
            ++exponent;
        }
        return writeDecimal(out, tens, exponent);
    }
    // Otherwise the whole number nearest the value, a tie to the even one,
    // when the range holds it (it does but where the step below is the
    // smaller one); where it does not, the general route has the last word.
    const std::uint64_t whole = static_cast<std::uint64_t>(scaledMiddle >> drop);
    const Wide rest = scaledMiddle & ((Wide{1} << drop) - 1);
    const Wide half = Wide{1} << (drop - 1);
    const std::uint64_t nearest = whole + (rest > half || (rest == half && (whole & 1) != 0) ? 1 : 0);
    if (nearest < low || nearest > high) {
        if ((bits >> 31) != 0) --out;
        return shortestText(out, value);
    }
    return writeDecimal(out, nearest, -places);
}

}  // namespace v2bsp
