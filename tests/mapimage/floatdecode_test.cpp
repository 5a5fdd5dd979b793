#include "mapimage/floatdecode.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "mapimage/numtext.hpp"
#include "reference/floattext.hpp"
#include "reference/numtextref.hpp"

namespace v2bsp {
namespace {

// The hex text of the four stored bytes of `bits` in file order (least
// significant byte first), made here rather than by the readers.
std::string storedHex(std::uint32_t bits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const unsigned byte = (bits >> (8 * i)) & 0xFFU;
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xFU];
    }
    return text;
}

// Equal as doubles and in sign, so that 0 and -0 differ.
::testing::AssertionResult sameDouble(double actual, double expected) {
    if (actual == expected && std::signbit(actual) == std::signbit(expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << numtext(actual) << " (" << actual << ") instead of " << numtext(expected)
                                         << " (" << expected << ")";
}

TEST(HexToBin, FourBitsPerUpperCaseDigitAndNothingForOtherCharacters) {
    struct Case {
        const char* hex;
        const char* bits;
    };
    const Case cases[] = {
        {"", ""},
        {"0", "0000"},
        {"9", "1001"},
        {"A", "1010"},
        {"F", "1111"},
        {"3F80", "0011111110000000"},
        {"a", ""},       // lower case is not a digit here
        {"f0", "0000"},  // so the bits after it move up
        {"1 G-2", "00010010"},
        {"0000803f", "0000000000000000100000000011"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(hextobin(c.hex), c.bits);
    }
}

TEST(BinToNum, ValueOfTheBitsAsNumberText) {
    struct Case {
        const char* bits;
        const char* text;
    };
    const Case cases[] = {
        {"", " 0"},
        {"1", " 1"},
        {"10", " 2"},
        {"00000000", " 0"},
        {"11111111", " 255"},
        {"01111111", " 127"},
        {"1.", " 1"},
        {"0.1", " .5"},
        {".01", " .25"},
        {"1.1", " 1.5"},
        {"1.10011001100110011001101", " 1.60000002384186"},
        // All 23 fraction bits set: rounds to 15 digits, never up to 2.
        {"1.11111111111111111111111", " 1.99999988079071"},
        {"1.00000000000000000000001", " 1.00000011920929"},
        {"1000000000000000000000000000000", " 1073741824"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(bintonum(c.bits), c.text);
    }
}

struct TextCase {
    const char* hex;
    double value;
    const char* text;  // numtext of the value
};

// Rows whose expected values are written from the layout by hand: sign,
// exponent field - 127, and 1 + fraction rounded to 15 digits.
const TextCase kTextCases[] = {
    // Worked examples.
    {"0000803F", 1.0, " 1"},
    {"000020C0", -2.5, "-2.5"},
    {"CDCCCC3D", std::ldexp(1.60000002384186, -4), " .100000001490116"},
    {"0000003F", 0.5, " .5"},
    // Zero, negative zero, smallest subnormal, infinity, a NaN, largest finite.
    {"00000000", 0.0, " 0"},
    {"00000080", -std::ldexp(1.0, -127), "-5.87747175411144E-39"},
    {"01000000", std::ldexp(1.00000011920929, -127), " 5.87747245476067E-39"},
    {"0000807F", std::ldexp(1.0, 128), " 3.40282366920938E+38"},
    {"0000C07F", std::ldexp(1.5, 128), " 5.10423550381408E+38"},
    {"FFFF7F7F", std::ldexp(1.99999988079071, 127), " 3.40282346638529E+38"},
    {"FFFFFFFF", -std::ldexp(1.99999988079071, 128), "-6.80564693277058E+38"},
    // 1 + 2^-15 = 1.000030517578125 has 16 digits: a tie, to the even ...812;
    // 1 + 3 * 2^-15 = 1.000091552734375 rounds up to the even ...838.
    {"0001803F", 1.00003051757812, " 1.00003051757812"},
    {"0003803F", 1.00009155273438, " 1.00009155273438"},
    // Texts of other lengths are decoded from the bits they have.
    {"", 0.0, " 0"},
    {"0", 0.0, " 0"},
    {"0000000000", 0.0, " 0"},
    {"63", std::ldexp(1.0, -28), " 3.72529029846191E-09"},
    {"0000803f", std::ldexp(1.0, -15), " 3.0517578125E-05"},
    {"0000000000001", std::ldexp(1.0, -95), " 2.52435489670724E-29"},
    {"8", -std::ldexp(1.0, -127), "-5.87747175411144E-39"},
    {"3F8", -std::ldexp(1.875, -120), "-1.41059322098675E-36"},
    // Bits past the 32nd are ignored: 00 3F 80 00 00 puts 0000000000111111 first.
    {"0000803F00", std::ldexp(1.49609375, -127), " 8.79324875712766E-39"},
    // No digit at all is not zero: no sign bit reads as negative.
    {"abc", -std::ldexp(1.0, -127), "-5.87747175411144E-39"},
};

TEST(HexToFloat, TextRouteGivesTheTableValues) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(std::string("hex text \"") + c.hex + "\"");
        const double value = hextofloat(c.hex);
        EXPECT_TRUE(sameDouble(value, c.value));
        EXPECT_EQ(numtext(value), c.text);
    }
}

TEST(DecodeFloat, DirectRouteGivesTheTableValues) {
    for (const TextCase& c : kTextCases) {
        const std::string hex = c.hex;
        if (hex.size() != 8 || hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            continue;
        }
        SCOPED_TRACE(c.hex);
        const std::uint32_t bits = static_cast<std::uint32_t>(std::stoul(c.hex, nullptr, 16));
        // The text is in file order; the value order swaps the bytes.
        const std::uint32_t value_order =
            (bits >> 24) | ((bits >> 8) & 0xFF00U) | ((bits << 8) & 0xFF0000U) | (bits << 24);
        EXPECT_TRUE(sameDouble(decodeFloat(value_order), c.value));
    }
}

// Every sign and every exponent field, each with the fraction patterns that
// decide the rounding of the mantissa text (zero, the extremes, exact ties
// f = 256 + 512j and their neighbours) and random ones: 10,240,000 patterns.
TEST(DecodeFloat, EqualsTheTextRouteOverEveryExponentAndSign) {
    constexpr int kPerField = 20000;
    const std::vector<std::uint32_t> fixed_fractions = {0,        1,        2,        255,      256,      257,
                                                        511,      512,      768,      0x3FFFFF, 0x400000, 0x400001,
                                                        0x7FFEFF, 0x7FFF00, 0x7FFF01, 0x7FFFFE, 0x7FFFFF};
    std::mt19937 random(20240511);
    std::uniform_int_distribution<std::uint32_t> any_fraction(0, 0x7FFFFF);
    long checked = 0;
    long mismatches = 0;
    for (std::uint32_t top = 0; top < 512; ++top) {  // sign and exponent field
        for (int i = 0; i < kPerField; ++i) {
            std::uint32_t fraction = 0;
            if (i < static_cast<int>(fixed_fractions.size())) {
                fraction = fixed_fractions[i];
            } else {
                fraction = any_fraction(random);
                if (i % 4 == 0) fraction = (fraction & ~0x1FFU) | 0x100U;              // a tie
                if (i % 4 == 1) fraction = (fraction & ~0x1FFU) | (0xFFU + (i & 2U));  // beside one
            }
            const std::uint32_t bits = top << 23 | fraction;
            const double direct = decodeFloat(bits);
            const double text = hextofloat(storedHex(bits));
            ++checked;
            if (!sameDouble(direct, text) && ++mismatches <= 10) {
                ADD_FAILURE() << "pattern " << storedHex(bits) << ": " << sameDouble(direct, text).message();
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(checked, 512L * kPerField);
}

TEST(DecodeFloat, OnlyTheAllZeroPatternIsZero) {
    EXPECT_TRUE(sameDouble(decodeFloat(0), 0.0));
    EXPECT_TRUE(sameDouble(decodeFloat(0x80000000U), -std::ldexp(1.0, -127)));
    EXPECT_TRUE(sameDouble(decodeFloat(0x00000001U), std::ldexp(1.00000011920929, -127)));
}

}  // namespace
}  // namespace v2bsp
