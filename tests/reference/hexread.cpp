#include "reference/hexread.hpp"

#include <array>
#include <stdexcept>

namespace v2bsp {
namespace {

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

}  // namespace

std::string readhex32(ByteView image, std::int64_t offset, bool littleendian, std::string_view what) {
    requireInside(image, offset, 4, what);
    const std::uint8_t* p = image.data() + offset;
    std::string text(8, '0');
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t byte = p[littleendian ? 3 - i : i];
        text[2 * i] = kHexDigits[byte >> 4];
        text[2 * i + 1] = kHexDigits[byte & 15];
    }
    return text;
}

double hextonum(std::string_view text) {
    // The digits are visited from the last one; the place value of the 257th
    // visited digit would be 16^256, beyond the range of a double. That happens
    // before an earlier non-digit could end the walk with 0.
    constexpr std::size_t kMaxDigits = 256;
    double total = 0;
    double place = 1;
    std::size_t visited = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const char c = *it;
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return 0;
        }
        total = digit * place + total;
        if (++visited == kMaxDigits) {
            throw std::overflow_error("hexadecimal text of " + std::to_string(text.size()) + " digits is too large");
        }
        place *= 16;
    }
    return total;
}

std::string bytestohex(ByteView bytes) {
    std::string text(2 * bytes.size(), '0');
    char* out = text.data();
    for (const std::uint8_t byte : bytes) {
        *out++ = kHexDigits[byte >> 4];
        *out++ = kHexDigits[byte & 15];
    }
    return text;
}

std::string readfourcc(ByteView image, std::int64_t offset, bool littleendian, std::string_view what) {
    requireInside(image, offset, 4, what);
    const std::uint8_t* p = image.data() + offset;
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(p[littleendian ? 3 - i : i]);
    return text;
}

}  // namespace v2bsp
