#include "extract/safename.hpp"

#include <array>

namespace v2bsp {
namespace {

// Windows-1252 codes 80-9F; the undefined ones keep their C1 code point.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isUnsafe(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) return true;
    constexpr std::string_view kReserved = "/\\:*?\"<>|";
    return kReserved.find(c) != std::string_view::npos;
}

std::string fileStem(std::string_view filename) {
    const std::size_t dot = filename.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(filename);
    return std::string(filename.substr(0, dot));
}

}  // namespace

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x80 && code < 0xA0) {
            appendUtf8(text, kHighControls[code - 0x80]);
        } else {
            appendUtf8(text, code);
        }
    }
    return text;
}

std::string safeFolderName(std::string_view name) {
    std::string safe(name);
    for (char& c : safe) {
        if (isUnsafe(c)) c = '_';
    }
    const std::size_t first = safe.find_first_not_of(" .");
    if (first == std::string::npos) return {};
    const std::size_t last = safe.find_last_not_of(" .");
    return safe.substr(first, last - first + 1);
}

std::string outputFolderName(std::string_view mapnamebytes, std::string_view mapfilename) {
    std::string name = safeFolderName(cp1252ToUtf8(mapnamebytes));
    if (name.empty()) name = safeFolderName(fileStem(mapfilename));
    if (name.empty()) name = "map";
    return name;
}

}  // namespace v2bsp
