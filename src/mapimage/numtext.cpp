#include "mapimage/numtext.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "mapimage/portable.hpp"

// How the 15 digits are found. A finite, non-zero magnitude v = m * 2^q (m
// normalised to 64 bits) is multiplied by a 128-bit significand of 10^k, with
// k = 14 - floor(log10 v), giving v * 10^k in [10^14, 10^15) as a 192-bit
// fixed-point product; its integer part is the 15 digits and its fraction
// decides the rounding. The table's significands are truncated, so the true
// product lies within 2^-73 above the computed one: that decides every
// rounding except a fraction within that distance of one half, where the
// digits come from exact arithmetic instead. Where 10^k is exact (0 <= k <= 55,
// which covers every magnitude from 1e-41 to 1e15) the product is exact and
// ties are settled here, to even. Integers below 10^15 skip all of this.

namespace v2bsp {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr int kDigits = 15;
constexpr std::uint64_t kTen14 = 100'000'000'000'000ULL;
constexpr std::uint64_t kTen15 = 1'000'000'000'000'000ULL;
constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kInfinityBits = 0x7FF0000000000000ULL;

// 10^k lies in [significand, significand + 1) * 2^exp2, the significand in [2^127, 2^128).
struct Pow10 {
    std::uint64_t hi = 0;
    std::uint64_t lo = 0;
    int exp2 = 0;
    bool exact = false;
};

// k = 14 - floor(log10 v) over all positive doubles is -294 to 338; one more
// below for the step that corrects an estimate that came out one too small.
constexpr int kPowMin = -300;
constexpr int kPowMax = 340;

// Unsigned integers of up to 1280 bits for building the table at compile time.
struct BigNum {
    static constexpr int kLimbs = 40;
    std::array<std::uint32_t, kLimbs> limb{};
    int used = 0;

    constexpr void mulSmall(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (int i = 0; i < used; ++i) {
            const std::uint64_t t = std::uint64_t{limb[i]} * factor + carry;
            limb[i] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0) limb[used++] = static_cast<std::uint32_t>(carry);
    }
    constexpr int bitLength() const {
        if (used == 0) return 0;
        return 32 * (used - 1) + 32 - std::countl_zero(limb[used - 1]);
    }
    constexpr bool bit(int i) const { return i >= 0 && i / 32 < used && ((limb[i / 32] >> (i % 32)) & 1U) != 0; }
    constexpr bool lowBitsZero(int count) const {
        for (int i = 0; i < count; ++i)
            if (bit(i)) return false;
        return true;
    }
    // Bits [from, from + 128) as a 128-bit number; bits below 0 read as 0.
    constexpr Uint128 bits128(int from) const {
        Uint128 r = 0;
        for (int i = 127; i >= 0; --i) r = (r << 1) | (bit(from + i) ? 1U : 0U);
        return r;
    }
    // Divides by a small divisor, dropping the remainder.
    constexpr void divSmall(std::uint32_t divisor) {
        std::uint64_t rem = 0;
        for (int i = used - 1; i >= 0; --i) {
            const std::uint64_t t = (rem << 32) | limb[i];
            limb[i] = static_cast<std::uint32_t>(t / divisor);
            rem = t % divisor;
        }
        while (used > 0 && limb[used - 1] == 0) --used;
    }
};

// The significand of `n` * 2^`scale`: its top 128 bits, truncated.
constexpr Pow10 significand(const BigNum& n, int scale) {
    const int length = n.bitLength();
    const Uint128 s = n.bits128(length - 128);
    Pow10 p;
    p.hi = static_cast<std::uint64_t>(s >> 64);
    p.lo = static_cast<std::uint64_t>(s);
    p.exp2 = scale + length - 128;
    p.exact = length <= 128 || n.lowBitsZero(length - 128);
    return p;
}

constexpr std::array<Pow10, kPowMax - kPowMin + 1> makePow10Table() {
    std::array<Pow10, kPowMax - kPowMin + 1> table{};
    // 10^k = 5^k * 2^k.
    BigNum five;
    five.limb[0] = 1;
    five.used = 1;
    for (int k = 0; k <= kPowMax; ++k) {
        table[k - kPowMin] = significand(five, k);
        five.mulSmall(5);
    }
    // 10^-j = floor(2^kScale / 5^j) * 2^(-kScale - j), the division by 5
    // repeated (flooring each time floors the whole quotient). 2^kScale is
    // large enough to leave more than 128 bits for 5^300; 5^j never divides
    // it, so these are never exact.
    constexpr int kScale = 1000;
    BigNum reciprocal;
    reciprocal.used = kScale / 32 + 1;
    reciprocal.limb[kScale / 32] = 1U << (kScale % 32);
    for (int j = 1; j <= -kPowMin; ++j) {
        reciprocal.divSmall(5);
        Pow10 p = significand(reciprocal, -kScale - j);
        p.exact = false;
        table[-j - kPowMin] = p;
    }
    return table;
}

constexpr auto kPow10Table = makePow10Table();

static_assert(kPow10Table[0 - kPowMin].hi == 0x8000000000000000ULL && kPow10Table[0 - kPowMin].lo == 0);
static_assert(kPow10Table[55 - kPowMin].exact && !kPow10Table[56 - kPowMin].exact);
static_assert(!kPow10Table[-1 - kPowMin].exact);

// floor(e * log10(2)) for |e| <= 2620.
constexpr int floorLog10Pow2(int e) {
    return (e * 315653) >> 20;
}

// For every binary exponent of a normalised double (v = m * 2^q, m of 64
// bits) and both decimal exponents fastDecimal may try, the power of ten is
// in the table and the integer part of the product starts inside its top
// word, 1 to 63 bits from its end, so that every shift there is defined.
constexpr bool shiftsInRange() {
    for (int q = -1074 - 63; q <= 1023 - 63; ++q) {
        for (int step = 0; step < 2; ++step) {
            const int k = 14 - floorLog10Pow2(q + 63) - step;
            if (k < kPowMin || k > kPowMax) return false;
            const int sh = -(q + kPow10Table[k - kPowMin].exp2) - 128;
            if (sh < 1 || sh > 63) return false;
        }
    }
    return true;
}
static_assert(shiftsInRange());

// The eight decimal digits of `value` (< 10^8) as the bytes 0 to 9 of one
// word, the first digit in the first byte in memory: the halves by 10^4, the
// quarters by 100 and the digits by 10 are split in parallel lanes of one
// 64-bit number (no lane's product reaches the next lane). Checked for every
// value below 10^8.
inline std::uint64_t eightDigitValues(std::uint32_t value) {
    std::uint64_t x = value / 10000 | std::uint64_t{value % 10000} << 32;
    const std::uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007FULL;
    x = hundreds | (x - hundreds * 100) << 16;
    const std::uint64_t tens = ((x * 103) >> 10) & 0x000F000F000F000FULL;
    x = tens | (x - tens * 10) << 8;
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    return x;
}

// The number of zero bytes at the end and at the start (in memory order) of a
// non-zero word.
inline int zeroBytesAtEnd(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) return std::countl_zero(word) / 8;
    return std::countr_zero(word) / 8;
}
inline int zeroBytesAtStart(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(word) / 8;
    return std::countl_zero(word) / 8;
}

constexpr std::uint64_t kZeroChars = 0x3030303030303030ULL;

// The 15 digits of n (10^14 <= n < 10^15) written at digits[0..15), with
// digits[-1] = '0'; returns how many stand before the trailing zeros. A run
// of trailing zeros has a length that depends on the data, and a loop over
// it costs a branch mispredicted about every other number; in the digit
// words a zero digit is a zero byte, so the run is counted with one bit scan.
inline int writeFifteen(char* digits, std::uint64_t n) {
    const std::uint64_t head = eightDigitValues(static_cast<std::uint32_t>(n / 100'000'000));
    const std::uint64_t tail = eightDigitValues(static_cast<std::uint32_t>(n % 100'000'000));
    const std::uint64_t headChars = head + kZeroChars;
    const std::uint64_t tailChars = tail + kZeroChars;
    std::memcpy(digits - 1, &headChars, 8);
    std::memcpy(digits + 7, &tailChars, 8);
    if (tail != 0) return kDigits - zeroBytesAtEnd(tail);
    return 7 - zeroBytesAtEnd(head);
}

// The digits of 1 <= n < 10^8 without leading zeros; writes 8 bytes.
inline char* writeShortWhole(char* out, std::uint32_t n) {
    const std::uint64_t values = eightDigitValues(n);
    const int leading = zeroBytesAtStart(values);
    std::uint64_t chars = values + kZeroChars;
    if constexpr (std::endian::native == std::endian::little) {
        chars >>= 8 * leading;
    } else {
        chars <<= 8 * leading;
    }
    std::memcpy(out, &chars, 8);
    return out + 8 - leading;
}

// The digits of 1 <= n < 10^15 without leading zeros.
char* writeWhole(char* out, std::uint64_t n) {
    if (n < 100'000'000) return writeShortWhole(out, static_cast<std::uint32_t>(n));
    out = writeShortWhole(out, static_cast<std::uint32_t>(n / 100'000'000));
    const std::uint64_t low = eightDigitValues(static_cast<std::uint32_t>(n % 100'000'000)) + kZeroChars;
    std::memcpy(out, &low, 8);
    return out + 8;
}

// Fifteen significant digits and the decimal exponent of their first one:
// the value is 0.d1d2...d15 * 10^(exp10 + 1).
struct Decimal {
    std::uint64_t digits = 0;  // in [10^14, 10^15)
    int exp10 = 0;
};

// The correctly rounded digits of a positive finite non-zero magnitude, or
// false when the product cannot settle the rounding.
bool fastDecimal(std::uint64_t magnitudeBits, Decimal& result) {
    const int biased = static_cast<int>(magnitudeBits >> 52);
    std::uint64_t m = magnitudeBits & ((std::uint64_t{1} << 52) - 1);
    int q = -1074;
    if (biased != 0) {
        m |= std::uint64_t{1} << 52;
        q = biased - 1075;
    }
    const int shift = std::countl_zero(m);
    m <<= shift;
    q -= shift;  // v = m * 2^q, m in [2^63, 2^64), v in [2^(q+63), 2^(q+64))

    int exp10 = floorLog10Pow2(q + 63);  // floor(log10 v) or one less
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int k = kDigits - 1 - exp10;
        const Pow10& p = kPow10Table[k - kPowMin];
        const Uint128 upper = Uint128{m} * p.hi;
        const Uint128 lower = Uint128{m} * p.lo;
        const Uint128 middle = (upper & ~std::uint64_t{0}) + (lower >> 64);
        const auto w0 = static_cast<std::uint64_t>(lower);
        const auto w1 = static_cast<std::uint64_t>(middle);
        const auto w2 = static_cast<std::uint64_t>(upper >> 64) + static_cast<std::uint64_t>(middle >> 64);
        // v * 10^k = (w2:w1:w0) * 2^-(128 + sh), below 10^16 (sh: see shiftsInRange).
        const int sh = -(q + p.exp2) - 128;
        const std::uint64_t whole = w2 >> sh;
        if (whole >= kTen15) {
            ++exp10;
            continue;
        }
        const std::uint64_t fraction = (w2 << (64 - sh)) | (w1 >> sh);
        const std::uint64_t below = (w1 << (64 - sh)) | w0;
        constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
        if (!p.exact && fraction - (kHalf - 1) <= 1) return false;
        // Bitwise, not short-circuit: the rounding direction is data, and a
        // branch on it is mispredicted half the time.
        const bool roundUp = (fraction > kHalf) | ((fraction == kHalf) & ((below != 0) | ((whole & 1U) != 0)));
        std::uint64_t digits = whole + static_cast<std::uint64_t>(roundUp);
        if (digits == kTen15) {
            digits = kTen14;
            ++exp10;
        }
        if (digits < kTen14) return false;
        result.digits = digits;
        result.exp10 = exp10;
        return true;
    }
    return false;
}

// The same digits by exact arithmetic, which rounds correctly: slow, and
// wanted only for the rare values the product above cannot decide.
Decimal exactDecimal(double magnitude) {
    const RoundedDecimal rounded = exactRounded(magnitude, kDigits);
    Decimal result;
    result.digits = rounded.digits;
    result.exp10 = rounded.exp10;
    return result;
}

// Lays out the sign, the digits and the exponent in the sign-reserving form.
// The copies are of fixed sizes (so that they compile to a few moves) and may
// write past the returned end, never past out + kNumTextMax.
char* writeDecimal(char* out, bool negative, const Decimal& d) {
    out[0] = negative ? '-' : ' ';
    char buffer[33] = {};
    char* const digits = buffer + 1;
    const int count = writeFifteen(digits, d.digits);
    const int x = d.exp10;
    if (x >= 0 && x < kDigits) {  // 1 <= magnitude < 10^15: d...d[.d...d]
        const int whole = x + 1;
        std::memcpy(out + 1, digits, 16);
        out[1 + whole] = '.';
        std::memcpy(out + 2 + whole, digits + whole, 15);  // ends at out + 32 at most
        return count > whole ? out + 2 + count : out + 1 + whole;
    }
    if (x < 0 && x >= -4) {  // 10^-4 <= magnitude < 1: .[000]d...d
        const int zeros = -x - 1;
        out[1] = '.';
        std::memcpy(out + 2, "000", 3);
        std::memcpy(out + 2 + zeros, digits, 16);
        return out + 2 + zeros + count;
    }
    out[1] = digits[0];  // d[.d...d]E+XX
    out[2] = '.';
    std::memcpy(out + 3, digits + 1, 16);
    char* p = count > 1 ? out + 2 + count : out + 2;
    *p++ = 'E';
    *p++ = x < 0 ? '-' : '+';
    const int e = x < 0 ? -x : x;
    if (e >= 100) *p++ = static_cast<char>('0' + e / 100);
    p[0] = static_cast<char>('0' + e / 10 % 10);
    p[1] = static_cast<char>('0' + e % 10);
    return p + 2;
}

// The text of zero, an infinity or a NaN, given the bits of the value.
char* writeSpecial(char* out, std::uint64_t bits) {
    const std::uint64_t magnitudeBits = bits & ~kSignBit;
    if (magnitudeBits == 0) {  // negative zero too: it is zero, so it takes the blank
        std::memcpy(out, " 0", 2);
        return out + 2;
    }
    if (magnitudeBits > kInfinityBits) {
        std::memcpy(out, " nan", 4);
    } else {
        std::memcpy(out, bits == magnitudeBits ? " inf" : "-inf", 4);
    }
    return out + 4;
}

// True for zero, infinities and NaNs: one unsigned comparison, as the
// subtraction takes zero round to the top.
inline bool isSpecial(std::uint64_t bits) {
    return ((bits & ~kSignBit) - 1) >= kInfinityBits - 1;
}

}  // namespace

char* numtext(char* out, double value) {
    const std::uint64_t bits = bitCast<std::uint64_t>(value);
    if (isSpecial(bits)) return writeSpecial(out, bits);
    const bool negative = (bits & kSignBit) != 0;
    const std::uint64_t magnitudeBits = bits & ~kSignBit;
    const double magnitude = bitCast<double>(magnitudeBits);
    if (magnitude < 1e15) {
        const auto whole = static_cast<std::uint64_t>(magnitude);
        if (static_cast<double>(whole) == magnitude) {
            *out++ = negative ? '-' : ' ';
            return writeWhole(out, whole);
        }
    }
    Decimal d;
    if (!fastDecimal(magnitudeBits, d)) d = exactDecimal(magnitude);
    return writeDecimal(out, negative, d);
}

}  // namespace v2bsp
