// What not every C++ library the core is built with has yet, in one place: a
// bit cast, an array left uninitialised, and the texts of floating-point
// numbers that std::to_chars writes. Where the library has std::to_chars for
// float and double, those texts are its own; elsewhere they come from exact
// routes of our own (exacttext.cpp) that write the same bytes, and that are
// built everywhere so that they are checked against the library's.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <version>

namespace v2bsp {

template <typename To, typename From>
constexpr To bitCast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From));
    return __builtin_bit_cast(To, from);
}

// An array of `count` elements that are not initialised (new T[count]).
template <typename T>
std::unique_ptr<T[]> makeUninitialisedArray(std::size_t count) {
    return std::unique_ptr<T[]>(new T[count]);
}

// The longest shortest texts of a float ("-1.17549435e-38") and of a double
// ("-2.2250738585072014e-308") fit these.
inline constexpr int kShortestFloatMax = 16;
inline constexpr int kShortestDoubleMax = 24;

// Writes at `out` (room for kShortestFloatMax or kShortestDoubleMax bytes)
// what std::to_chars(first, last, value) writes without a format, and returns
// its end: the fewest significant digits that read back as `value`, the
// nearest such decimal where there are several (ties to even), in fixed or
// exponent form, whichever is shorter (fixed on a tie; a whole number in the
// fixed form exactly); "inf", "-inf", "nan", "-nan", "0", "-0".
char* exactShortest(char* out, float value);
char* exactShortest(char* out, double value);

// The same text: the library's where it has one, else exactShortest's.
template <typename Float>
    requires std::is_same_v<Float, float> || std::is_same_v<Float, double>
char* shortestText(char* out, Float value) {
#if defined(__cpp_lib_to_chars)
    return std::to_chars(out, out + (sizeof(Float) == 4 ? kShortestFloatMax : kShortestDoubleMax), value).ptr;
#else
    return exactShortest(out, value);
#endif
}

// A finite positive `value` rounded to `count` (1 to 17) significant digits,
// to the nearest, ties to even: digits * 10^(exp10 - count + 1), the digits
// in [10^(count - 1), 10^count). Exact whatever the value.
struct RoundedDecimal {
    std::uint64_t digits = 0;
    int exp10 = 0;  // of the first digit
};
RoundedDecimal exactRounded(double value, int count);

}  // namespace v2bsp
