#include "reference/numtextref.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "mapimage/numtext.hpp"

namespace v2bsp {

std::string numtextReferenceText(double value) {
    if (std::isnan(value)) return " nan";
    if (std::isinf(value)) return value > 0 ? " inf" : "-inf";
    if (value == 0) return " 0";
    const std::string sign = value < 0 ? "-" : " ";
    // "d.dddddddddddddde+XX": the 15 significant digits and the exponent.
    char text[40];
    const char* end = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific, 14).ptr;
    std::string digits = std::string(1, text[0]) + std::string(text + 2, 14);
    const int exponent = std::stoi(std::string(static_cast<const char*>(text + 17), end));
    digits.erase(digits.find_last_not_of('0') + 1);
    if (exponent >= 0 && exponent < 15) {
        const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole) return sign + digits + std::string(whole - digits.size(), '0');
        return sign + digits.substr(0, whole) + "." + digits.substr(whole);
    }
    if (exponent < 0 && exponent >= -4)
        return sign + "." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    std::string power = std::to_string(std::abs(exponent));
    if (power.size() < 2) power.insert(power.begin(), '0');
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a
    // literal added in front of a temporary string.
    std::string result = sign;
    result.append(digits, 0, 1);
    if (digits.size() > 1) result.append(".").append(digits, 1);
    result.append("E").append(exponent < 0 ? "-" : "+").append(power);
    return result;
}

char* numtextReference(char* out, double value) {
    const std::string text = numtextReferenceText(value);
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

std::string numtext(double value) {
    char buffer[kNumTextMax];
    return std::string(buffer, numtext(buffer, value));
}

}  // namespace v2bsp
