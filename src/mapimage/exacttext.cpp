#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "mapimage/portable.hpp"

// Decimal texts of binary floating-point values by exact integer arithmetic.
// A finite value is c * 2^q; its decimal digits at a scale of 10^p are the
// quotient of c * 2^q by 10^p, worked out on whole numbers of up to 1280 bits,
// so every rounding is decided on the exact remainder. Slow next to the
// library's routes, and only taken where those are missing or cannot decide.

namespace v2bsp {
namespace {

// An unsigned whole number of up to 1280 bits. The largest the routes below
// make is a double's c * 2^q times 2^2 by 10^341 or 2^1076 shifted by 64
// bits, some 1200 bits.
class BigNumber {
public:
    explicit BigNumber(std::uint64_t value) {
        limb_[0] = static_cast<std::uint32_t>(value);
        limb_[1] = static_cast<std::uint32_t>(value >> 32);
        used_ = limb_[1] != 0 ? 2 : limb_[0] != 0 ? 1 : 0;
    }

    int bitLength() const { return used_ == 0 ? 0 : 32 * used_ - std::countl_zero(limb_[used_ - 1]); }

    void multiply(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (int i = 0; i < used_; ++i) {
            const std::uint64_t t = std::uint64_t{limb_[i]} * factor + carry;
            limb_[i] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0) limb_[used_++] = static_cast<std::uint32_t>(carry);
    }

    void multiplyPowerOfTen(int power) {
        for (; power >= 9; power -= 9) multiply(1'000'000'000);
        static constexpr std::array<std::uint32_t, 9> kSmall = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                                                100000000};
        if (power > 0) multiply(kSmall[power]);
    }

    void shiftLeft(int bits) {
        if (used_ == 0 || bits == 0) return;
        const int limbs = bits / 32;
        const int rest = bits % 32;
        int top = used_ + limbs;
        limb_[top] = 0;
        for (int i = used_ - 1; i >= 0; --i) {
            const std::uint64_t wide = std::uint64_t{limb_[i]} << rest;
            limb_[i + limbs + 1] |= static_cast<std::uint32_t>(wide >> 32);
            limb_[i + limbs] = static_cast<std::uint32_t>(wide);
        }
        for (int i = 0; i < limbs; ++i) limb_[i] = 0;
        used_ = top + 1;
        trim();
    }

    void shiftRightOne() {
        for (int i = 0; i < used_; ++i) {
            const std::uint32_t next = i + 1 < used_ ? limb_[i + 1] : 0;
            limb_[i] = (limb_[i] >> 1) | (next << 31);
        }
        trim();
    }

    // *this -= other, for other <= *this.
    void subtract(const BigNumber& other) {
        std::int64_t borrow = 0;
        for (int i = 0; i < used_; ++i) {
            const std::int64_t t = std::int64_t{limb_[i]} - (i < other.used_ ? other.limb_[i] : 0) - borrow;
            borrow = t < 0 ? 1 : 0;
            limb_[i] = static_cast<std::uint32_t>(t);
        }
        trim();
    }

    friend int compare(const BigNumber& a, const BigNumber& b) {
        if (a.used_ != b.used_) return a.used_ < b.used_ ? -1 : 1;
        for (int i = a.used_ - 1; i >= 0; --i) {
            if (a.limb_[i] != b.limb_[i]) return a.limb_[i] < b.limb_[i] ? -1 : 1;
        }
        return 0;
    }

    bool isZero() const { return used_ == 0; }

private:
    void trim() {
        while (used_ > 0 && limb_[used_ - 1] == 0) --used_;
    }

    static constexpr int kLimbs = 41;  // one past 1280 bits, for a shift's carry
    std::array<std::uint32_t, kLimbs> limb_{};
    int used_ = 0;
};

// The quotient of `dividend` by `divisor`, which the caller knows to be below
// 2^64; `dividend` is left holding the remainder.
std::uint64_t divide(BigNumber& dividend, const BigNumber& divisor) {
    const int shift = dividend.bitLength() - divisor.bitLength();
    if (shift < 0) return 0;
    BigNumber step = divisor;
    step.shiftLeft(shift);
    std::uint64_t quotient = 0;
    for (int bit = shift; bit >= 0; --bit) {
        if (bit < 64 && compare(dividend, step) >= 0) {
            dividend.subtract(step);
            quotient |= std::uint64_t{1} << bit;
        }
        step.shiftRightOne();
    }
    return quotient;
}

// A finite, non-zero magnitude as c * 2^q, and whether the binary value below
// it is nearer than the one above (c is the smallest of its exponent).
struct Binary {
    std::uint64_t c = 0;
    int q = 0;
    bool lowerNearer = false;
};

template <typename Float>
struct Format;
template <>
struct Format<float> {
    using Bits = std::uint32_t;
    static constexpr int kFractionBits = 23;
    static constexpr int kExponentBits = 8;
    static constexpr int kMostDigits = 9;
};
template <>
struct Format<double> {
    using Bits = std::uint64_t;
    static constexpr int kFractionBits = 52;
    static constexpr int kExponentBits = 11;
    static constexpr int kMostDigits = 17;
};

template <typename Float>
Binary binaryOf(typename Format<Float>::Bits magnitudeBits) {
    using F = Format<Float>;
    constexpr int kBias = (1 << (F::kExponentBits - 1)) - 1;
    const std::uint64_t fraction = magnitudeBits & ((std::uint64_t{1} << F::kFractionBits) - 1);
    const int biased = static_cast<int>(magnitudeBits >> F::kFractionBits);
    if (biased == 0) return {fraction, 1 - kBias - F::kFractionBits, false};
    return {fraction | (std::uint64_t{1} << F::kFractionBits), biased - kBias - F::kFractionBits,
            fraction == 0 && biased > 1};
}

// floor(log10(c * 2^q)), or one less.
int decimalExponentEstimate(const Binary& b) {
    const int log2 = std::bit_width(b.c) - 1 + b.q;
    return (log2 * 78913) >> 18;  // floor(log2 * log10(2)) for |log2| < 1700
}

// units * 2^exp2 / 10^power as a numerator and a denominator of whole numbers.
struct Fraction {
    BigNumber numerator{0};
    BigNumber denominator{1};
};
Fraction scaled(std::uint64_t units, int exp2, int power) {
    Fraction f{BigNumber(units), BigNumber(1)};
    if (exp2 > 0) f.numerator.shiftLeft(exp2);
    if (exp2 < 0) f.denominator.shiftLeft(-exp2);
    if (power < 0) f.numerator.multiplyPowerOfTen(-power);
    if (power > 0) f.denominator.multiplyPowerOfTen(power);
    return f;
}

struct Quotient {
    std::uint64_t whole = 0;
    int half = 0;        // the remainder against half the divisor: -1 below, 0 at, 1 above
    bool exact = false;  // no remainder
};
Quotient quotientOf(std::uint64_t units, int exp2, int power) {
    Fraction f = scaled(units, exp2, power);
    Quotient result;
    result.whole = divide(f.numerator, f.denominator);
    result.exact = f.numerator.isZero();
    f.numerator.shiftLeft(1);
    result.half = compare(f.numerator, f.denominator);
    return result;
}

std::uint64_t powerOfTen(int power) {
    std::uint64_t result = 1;
    for (int i = 0; i < power; ++i) result *= 10;
    return result;
}

char* writeDigits(char* out, std::uint64_t digits, int count) {
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    return out + count;
}

int digitCount(std::uint64_t value) {
    int count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

__extension__ typedef unsigned __int128 Wide;

// The decimal digits of `value`.
char* writeWhole(char* out, Wide value) {
    char text[40];
    int count = 0;
    do {
        text[count++] = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = text[--count];
    return out;
}

// digits * 10^exponent, the digits without trailing zeros, in the shorter of
// the fixed and the exponent form (fixed on a tie), as std::to_chars lays
// them out: "12300", "1.23", "0.00123", "1.23e+20", "1e-07". A whole number
// in the fixed form is written exactly, as the value c * 2^q is, not as its
// shortest digits padded with zeros: 50331648, not 50331650.
char* writeShortest(char* out, std::uint64_t digits, int exponent, const Binary& value) {
    const int count = digitCount(digits);
    const int scientific = count - 1 + exponent;
    const int magnitude = scientific < 0 ? -scientific : scientific;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
    const int fixedLength = exponent >= 0 ? count + exponent : scientific >= 0 ? count + 1 : count + 1 - scientific;
    char text[20];
    writeDigits(text, digits, count);
    if (fixedLength <= scientificLength) {
        if (exponent > 0) {
            // At most 22 digits (17 and 5 zeros), so below 2^77. Where the
            // step is below 1 the value is that whole number exactly.
            const Wide c = value.c;
            return writeWhole(out, value.q >= 0 ? c << value.q : c >> -value.q);
        }
        if (exponent == 0) {
            std::memcpy(out, text, count);
            out += count;
        } else if (scientific >= 0) {
            std::memcpy(out, text, scientific + 1);
            out += scientific + 1;
            *out++ = '.';
            std::memcpy(out, text + scientific + 1, -exponent);
            out += -exponent;
        } else {
            *out++ = '0';
            *out++ = '.';
            for (int i = -1; i > scientific; --i) *out++ = '0';
            std::memcpy(out, text, count);
            out += count;
        }
        return out;
    }
    *out++ = text[0];
    if (count > 1) {
        *out++ = '.';
        std::memcpy(out, text + 1, count - 1);
        out += count - 1;
    }
    *out++ = 'e';
    *out++ = scientific < 0 ? '-' : '+';
    return writeDigits(out, static_cast<std::uint64_t>(magnitude), magnitude >= 100 ? 3 : 2);
}

template <typename Float>
char* shortest(char* out, Float value) {
    using Bits = typename Format<Float>::Bits;
    constexpr int kSignShift = 8 * sizeof(Bits) - 1;
    const auto bits = bitCast<Bits>(value);
    const Bits magnitudeBits = bits & ~(Bits{1} << kSignShift);
    const Bits infinityBits = ((Bits{1} << Format<Float>::kExponentBits) - 1) << Format<Float>::kFractionBits;
    if ((bits >> kSignShift) != 0) *out++ = '-';
    if (magnitudeBits >= infinityBits) {
        std::memcpy(out, magnitudeBits == infinityBits ? "inf" : "nan", 3);
        return out + 3;
    }
    if (magnitudeBits == 0) {
        *out = '0';
        return out + 1;
    }

    // In units of 2^(q-2) the value is 4c and the texts that read back as it
    // lie within half a step either way: up to 4c + 2, down to 4c - 2, or
    // 4c - 1 where the step below is the smaller. Reading back rounds a tie to
    // the even c, so the ends belong to the range when c is even.
    const Binary b = binaryOf<Float>(magnitudeBits);
    const int exp2 = b.q - 2;
    // A scale at which the value has more digits than any shortest text, yet
    // fewer than 20: the range holds several whole numbers there.
    const int scale = decimalExponentEstimate(b) - Format<Float>::kMostDigits;
    const Quotient lower = quotientOf(4 * b.c - (b.lowerNearer ? 1 : 2), exp2, scale);
    const Quotient middle = quotientOf(4 * b.c, exp2, scale);
    const Quotient upper = quotientOf(4 * b.c + 2, exp2, scale);
    const bool endsIncluded = (b.c & 1) == 0;
    const std::uint64_t low = lower.whole + (lower.exact && endsIncluded ? 0 : 1);
    const std::uint64_t high = upper.exact && !endsIncluded ? upper.whole - 1 : upper.whole;

    // Drop digits while the range still holds a whole number at the coarser scale.
    int dropped = 0;
    std::uint64_t unit = 1;
    while ((high / (unit * 10)) * (unit * 10) >= low) {
        unit *= 10;
        ++dropped;
    }
    const std::uint64_t lowest = (low + unit - 1) / unit;
    const std::uint64_t highest = high / unit;

    // The nearest of them to the value, a tie to the even one.
    std::uint64_t nearest = middle.whole / unit;
    const std::uint64_t rest = middle.whole % unit;
    int against;  // the value's fraction at this scale against one half
    if (unit == 1) {
        against = middle.half;
    } else {
        against = rest < unit / 2 ? -1 : rest > unit / 2 ? 1 : middle.exact ? 0 : 1;
    }
    if (against > 0 || (against == 0 && (nearest & 1) != 0)) ++nearest;
    if (nearest < lowest) nearest = lowest;
    if (nearest > highest) nearest = highest;

    int exponent = scale + dropped;
    while (nearest % 10 == 0) {
        nearest /= 10;
        ++exponent;
    }
    return writeShortest(out, nearest, exponent, b);
}

}  // namespace

char* exactShortest(char* out, float value) {
    return shortest(out, value);
}

char* exactShortest(char* out, double value) {
    return shortest(out, value);
}

RoundedDecimal exactRounded(double value, int count) {
    const Binary b = binaryOf<double>(bitCast<std::uint64_t>(value) & ~(std::uint64_t{1} << 63));
    const std::uint64_t top = powerOfTen(count);
    int scale = decimalExponentEstimate(b) - (count - 1);
    Quotient q = quotientOf(b.c, b.q, scale);
    if (q.whole >= top) {  // the estimate was one below
        ++scale;
        q = quotientOf(b.c, b.q, scale);
    }
    std::uint64_t digits = q.whole + (q.half > 0 || (q.half == 0 && (q.whole & 1) != 0) ? 1 : 0);
    if (digits == top) {
        digits /= 10;
        ++scale;
    }
    return {digits, scale + count - 1};
}

}  // namespace v2bsp
