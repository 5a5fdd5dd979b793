#include "mapimage/numtext.hpp"
#include "mapimage/portable.hpp"
#include "mapimage/shortestsingle.hpp"
#include "reference/numtextref.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "mapimage/floatdecode.hpp"
#include "reference/floattext.hpp"

namespace v2bsp {
namespace {

// The expected text by another road: glibc's printf("%.14e") rounds the
// exact binary value correctly, ties to even; this reshapes its digits and
// exponent by plain string work. Needs the "C" locale.
std::string independentText(double value) {
    if (value == 0) return " 0";
    char printed[64];
    std::snprintf(printed, sizeof printed, "%.14e", std::fabs(value));
    std::string digits = std::string(1, printed[0]) + std::string(printed + 2, 14);
    const int exponent = std::atoi(std::strchr(printed, 'e') + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    const auto count = static_cast<int>(digits.size());
    std::string body;
    if (exponent < -4 || exponent >= 15) {
        body = digits.substr(0, 1);
        if (count > 1) body += "." + digits.substr(1);
        char tail[16];
        std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        body += tail;
    } else if (exponent < 0) {
        body = "." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else if (count <= exponent + 1) {
        body = digits + std::string(static_cast<std::size_t>(exponent + 1 - count), '0');
    } else {
        body = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
               digits.substr(static_cast<std::size_t>(exponent + 1));
    }
    return (value < 0 ? "-" : " ") + body;
}

std::string referenceText(double value) {
    char buffer[kNumTextMax];
    return std::string(buffer, numtextReference(buffer, value));
}

TEST(NumText, ExactTexts) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, " 0"},
        {-0.0, " 0"},  // negative zero is zero
        {1.0, " 1"},
        {-1.0, "-1"},
        {65536.0, " 65536"},
        {10.0, " 10"},
        {0.5, " .5"},
        {-0.25, "-.25"},
        {-2.5, "-2.5"},
        {1.5, " 1.5"},
        {100.0, " 100"},
        {3.75, " 3.75"},
        {std::ldexp(1.0, 128), " 3.40282366920938E+38"},
        {std::ldexp(1.0, -28), " 3.72529029846191E-09"},
        {-std::ldexp(1.0, -127), "-5.87747175411144E-39"},
        {0.10000000149011612, " .100000001490116"},
        // The switch to the exponent form, after rounding.
        {1e-4, " .0001"},
        {0.00012345, " .00012345"},
        {9.99999999999999912e-05, " .0001"},  // rounds up to 1E-04
        {9.9999999999999e-05, " 9.9999999999999E-05"},
        {1e-5, " 1E-05"},
        {1e15, " 1E+15"},
        {999999999999999.0, " 999999999999999"},
        {999999999999999.4, " 999999999999999"},
        {999999999999999.5, " 1E+15"},            // a tie, to even: up
        {999999999999998.5, " 999999999999998"},  // a tie, to even: down
        {123456789012345.6, " 123456789012346"},
        {1000000000000005.0, " 1E+15"},  // a tie above 10^15
        {1000000000000015.0, " 1.00000000000002E+15"},
        {123456789012345678.0, " 1.23456789012346E+17"},
        {1e100, " 1E+100"},
        {-1.5e-300, "-1.5E-300"},
        {std::numeric_limits<double>::max(), " 1.79769313486232E+308"},
        {std::numeric_limits<double>::denorm_min(), " 4.94065645841247E-324"},
        {std::numeric_limits<double>::min(), " 2.2250738585072E-308"},
        {std::numeric_limits<double>::infinity(), " inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), " nan"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(numtext(c.value), c.text);
        EXPECT_EQ(referenceText(c.value), c.text);
    }
}

std::string wholeText(char sign, std::uint64_t n) {
    std::string text(1, sign);
    text += std::to_string(n);
    return text;
}

TEST(NumText, WholeNumbersHaveNoPoint) {
    for (std::uint64_t n = 1; n <= 100000; ++n) {
        const std::string expected = wholeText(' ', n);
        if (numtext(static_cast<double>(n)) != expected) {
            ADD_FAILURE() << n << " gives \"" << numtext(static_cast<double>(n)) << "\"";
            break;
        }
    }
    for (std::uint64_t n = 10; n < 1'000'000'000'000'000ULL; n *= 10) {
        for (const std::uint64_t v : {n - 1, n, n + 1, n * 7 + 3}) {
            if (v >= 1'000'000'000'000'000ULL) continue;
            SCOPED_TRACE(v);
            EXPECT_EQ(numtext(static_cast<double>(v)), wholeText(' ', v));
            EXPECT_EQ(numtext(-static_cast<double>(v)), wholeText('-', v));
        }
    }
}

// Values whose rounding is hardest: near and at the midpoints between two
// 15-digit decimals, near powers of ten, and exact ties.
std::vector<double> boundaryValues() {
    std::vector<double> values;
    std::mt19937_64 random(7);
    auto around = [&values](double v) {
        double below = v;
        double above = v;
        values.push_back(v);
        for (int i = 0; i < 3; ++i) {
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, std::numeric_limits<double>::infinity());
            values.push_back(below);
            values.push_back(above);
        }
    };
    for (int e = -330; e <= 310; ++e) {
        const double power = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
        if (power == 0 || std::isinf(power)) continue;
        around(power);
        // The midpoint below the power: 9.999999999999995 * 10^(e-1).
        around(std::strtod(("9.999999999999995e" + std::to_string(e - 1)).c_str(), nullptr));
    }
    std::uniform_int_distribution<std::uint64_t> fifteen(100'000'000'000'000ULL, 999'999'999'999'999ULL);
    std::uniform_int_distribution<int> exponent(-320, 300);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t n = fifteen(random);
        // Exact ties: n + 1/2 is a double below 2^50, 10n + 5 below 2^53.
        values.push_back(static_cast<double>(n) + 0.5);
        if (n < 900'000'000'000'000ULL) values.push_back(static_cast<double>(n * 10 + 5));
        // The double nearest a midpoint d.dddddddddddddd5 * 10^e, and its neighbours.
        const std::string midpoint = std::to_string(n) + "5e" + std::to_string(exponent(random));
        const double near_midpoint = std::strtod(midpoint.c_str(), nullptr);
        if (near_midpoint != 0 && !std::isinf(near_midpoint)) around(near_midpoint);
    }
    return values;
}

// Random bit patterns over every magnitude, values from the float decoder,
// coordinates of everyday size, and the boundary values.
std::vector<double> sampleValues() {
    std::vector<double> values = boundaryValues();
    std::mt19937_64 random(11);
    for (int i = 0; i < 400000; ++i) {
        const double any = std::bit_cast<double>(random());
        if (!std::isnan(any)) values.push_back(any);
        values.push_back(decodeFloat(static_cast<std::uint32_t>(random())));
        const float coordinate = std::uniform_real_distribution<float>(-5000.0F, 5000.0F)(random);
        values.push_back(decodeFloat(std::bit_cast<std::uint32_t>(coordinate)));
    }
    return values;
}

TEST(NumText, AgreesWithAnIndependentFormatter) {
    int mismatches = 0;
    const std::vector<double> values = sampleValues();
    for (const double v : values) {
        const std::string expected = independentText(v);
        const std::string actual = numtext(v);
        if (actual != expected && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << v << ": \"" << actual << "\" instead of \"" << expected << "\"";
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << values.size();
}

TEST(NumText, FastRouteAgreesWithTheReferenceRoute) {
    int mismatches = 0;
    for (const double v : sampleValues()) {
        char fast[kNumTextMax];
        char reference[kNumTextMax];
        const std::string a(fast, numtext(fast, v));
        const std::string b(reference, numtextReference(reference, v));
        if (a != b && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << v << ": \"" << a << "\" against \"" << b << "\"";
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(NumText, StaysInsideItsBuffer) {
    const double values[] = {-1.23456789012345e-308,
                             -1.23456789012345e+308,
                             -123456789012345.6,
                             -0.000123456789012345,
                             -1.23456789012345e-5,
                             -999999999999999.0,
                             -std::numeric_limits<double>::denorm_min()};
    for (const double v : values) {
        SCOPED_TRACE(independentText(v));
        char buffer[kNumTextMax + 16];
        std::memset(buffer, '#', sizeof buffer);
        char* end = numtext(buffer, v);
        EXPECT_LE(end - buffer, kNumTextMax);
        for (std::size_t i = kNumTextMax; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
        EXPECT_EQ(std::string(buffer, end), independentText(v));
    }
}

// LOCPATH set to `folder`, or removed when empty. putenv is there wherever the
// tests run; it keeps the entry itself, so the entry lives on.
void setLocalePath(const std::string& folder) {
    static std::string entry;
    entry = folder.empty() ? "LOCPATH" : "LOCPATH=" + folder;
    ::putenv(entry.data());
}

// Switches the process to a comma-decimal locale for one test and back.
class CommaLocale {
public:
    CommaLocale() {
        saved_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) return;
        }
        // Not installed: build one in a scratch folder, when the machine has
        // localedef and the locale sources.
        folder_ = std::filesystem::temp_directory_path() / ("v2bsp-locale-" + std::to_string(::getpid()));
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + folder_.string() + "/de_DE.UTF-8' >/dev/null 2>&1";
        std::filesystem::create_directories(folder_);
        if (std::system(command.c_str()) == 0) {
            setLocalePath(folder_.string());
            std::setlocale(LC_ALL, "de_DE.UTF-8");
        }
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, saved_.c_str());
        setLocalePath("");
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }
    // True when printf now writes a comma as the decimal point.
    static bool active() {
        char printed[16];
        std::snprintf(printed, sizeof printed, "%.1f", 0.5);
        return std::string(printed) == "0,5";
    }

private:
    std::string saved_;
    std::filesystem::path folder_;
};

TEST(NumText, PointWhateverTheLocale) {
    const CommaLocale locale;
    if (!CommaLocale::active()) {
        GTEST_SKIP() << "no comma-decimal locale: install the locales package or localedef";
    }
    EXPECT_EQ(numtext(0.5), " .5");
    EXPECT_EQ(numtext(-1234.5678), "-1234.5678");
    EXPECT_EQ(numtext(std::ldexp(1.0, 128)), " 3.40282366920938E+38");
    EXPECT_EQ(numtext(1e15 + 5), " 1E+15");                               // the reference route, through std::to_chars
    EXPECT_EQ(hextofloat("CDCCCC3D"), std::ldexp(1.60000002384186, -4));  // reads back too
}

// The whole-level OBJ's numbers: shortestSingle must give std::to_chars's
// text for every single (v2bsp-exhaustive --shortest checks all 2^32), and so
// must the exact route that stands in for std::to_chars where a library lacks
// it (--exact). Here: each end of the fast route and of every exponent (where
// the step below halves), the forms' turning points, and a stride through all
// bit patterns.
std::vector<std::uint32_t> singlePatterns() {
    std::vector<std::uint32_t> patterns;
    for (std::uint32_t biased = 0; biased < 256; ++biased) {
        for (const std::uint32_t fraction : {0U, 1U, 2U, 0x400000U, 0x7FFFFEU, 0x7FFFFFU}) {
            patterns.push_back(biased << 23 | fraction);
        }
    }
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFULL; bits += 65521)
        patterns.push_back(static_cast<std::uint32_t>(bits));
    for (const float value : {0.1F, 1e-4F, 1e-5F, 123456.7F, 1234567.0F, 16777215.0F, 9999999.0F, 0.125F, 1e7F, 3e-31F,
                              -2.375F, 1.5773232F}) {
        patterns.push_back(std::bit_cast<std::uint32_t>(value));
    }
    std::vector<std::uint32_t> signed_patterns;
    for (const std::uint32_t bits : patterns) {
        signed_patterns.push_back(bits);
        signed_patterns.push_back(bits | 0x80000000U);
    }
    return signed_patterns;
}

// Compares `write`'s text of each value with std::to_chars's, and checks that
// it stays inside `room` bytes.
template <typename Float>
void expectTextsOfToChars(const std::vector<Float>& values, char* (*write)(char*, Float), int room) {
    int mismatches = 0;
    for (const Float value : values) {
        char expected[64];
        const std::string want(expected, std::to_chars(expected, expected + sizeof expected, value).ptr);
        char buffer[kShortestDoubleMax + 8];
        std::memset(buffer, '#', sizeof buffer);
        const std::string got(buffer, write(buffer, value));
        const bool inside = std::string_view(buffer + room, 8) == "########";
        if ((got != want || !inside) && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << value << ": \"" << got << "\" against \"" << want << "\""
                          << (inside ? "" : ", written past its room");
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << values.size();
}

TEST(ShortestSingle, GivesTheTextOfToChars) {
    std::vector<float> values;
    for (const std::uint32_t bits : singlePatterns()) values.push_back(std::bit_cast<float>(bits));
    expectTextsOfToChars<float>(values, shortestSingle, kShortestSingleMax);
    expectTextsOfToChars<float>(values, exactShortest, kShortestFloatMax);
}

// The glb's bounds are singles widened to doubles; the rest of the doubles
// are checked at every exponent's ends, powers of ten and at random.
TEST(ExactShortest, GivesTheTextOfToCharsForDoubles) {
    std::vector<double> values;
    for (const std::uint32_t bits : singlePatterns()) {
        const auto single = std::bit_cast<float>(bits);
        if (!std::isnan(single)) values.push_back(single);
    }
    for (std::uint64_t biased = 0; biased < 2048; biased += 7) {
        for (const std::uint64_t fraction : {0ULL, 1ULL, 0x8000000000000ULL, 0xFFFFFFFFFFFFFULL})
            values.push_back(std::bit_cast<double>(biased << 52 | fraction));
    }
    for (int power = -325; power <= 308; ++power) values.push_back(std::pow(10.0, power));
    values.insert(values.end(), {5e-324, 1.7976931348623157e308, 2.2250738585072014e-308, 9007199254740993.0, 1e22,
                                 1e23, 0.3, 2.0 / 3.0, -0.0});
    std::mt19937_64 random(26);
    for (int i = 0; i < 20000; ++i) values.push_back(std::bit_cast<double>(random() >> 1));
    expectTextsOfToChars<double>(values, exactShortest, kShortestDoubleMax);
}

// numtext's digits where its product cannot decide: rounded as std::to_chars
// rounds, exact ties to even included.
TEST(ExactRounded, RoundsAsToChars) {
    std::vector<double> values = {0.5, 2.5, 0.125, 1e15 + 5, 123456789012345.5, 5e-324, 1.7976931348623157e308,
                                  9.5, 0.95, 999999999999999.5, 0.000123456789012345};
    std::mt19937_64 random(15);
    for (int i = 0; i < 20000; ++i) values.push_back(std::bit_cast<double>(random() >> 2));
    int mismatches = 0;
    for (const double value : values) {
        for (const int count : {1, 2, 15, 17}) {
            char text[64];
            char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, count - 1).ptr;
            const RoundedDecimal got = exactRounded(value, count);
            char mine[64];
            const std::string digits = std::to_string(got.digits);
            std::snprintf(mine, sizeof mine, "%c%s%se%c%02d", digits[0], count > 1 ? "." : "", digits.substr(1).c_str(),
                          got.exp10 < 0 ? '-' : '+', got.exp10 < 0 ? -got.exp10 : got.exp10);
            if (std::string(mine) != std::string(text, end) && ++mismatches <= 10) {
                ADD_FAILURE() << std::hexfloat << value << " to " << count << " digits: " << mine << " against "
                              << std::string(text, end);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace v2bsp
