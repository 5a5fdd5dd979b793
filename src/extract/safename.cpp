#include "extract/safename.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "extract/uppercase.hpp"

namespace v2bsp {
namespace {

// Windows-1252 codes 80-9F; the undefined ones keep their C1 code point.
constexpr std::array<char16_t, 32> kHighControls = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isUnsafe(char32_t code) {
    if (code < 32 || (code >= 127 && code <= 159)) return true;
    constexpr std::u32string_view kReserved = U"/\\:*?\"<>|";
    return kReserved.find(code) != std::u32string_view::npos;
}

// Decodes the well-formed UTF-8 sequence at `at` (advancing past it); false,
// with `at` unchanged, when the bytes there are not one: a stray or missing
// continuation byte, an overlong form, a surrogate, a code beyond U+10FFFF.
bool decodeUtf8(std::string_view text, std::size_t& at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() - at < length) return false;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return false;
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    code = value;
    at += length;
    return true;
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `part` names a device that Windows reserves in every folder: the
// names are compared without regard to ASCII case, and COM and LPT take a
// digit 1-9 or a superscript one, two or three.
bool isDeviceName(std::string_view part) {
    std::string name;
    for (const char c : part) name += upper(c);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (name == device) return true;
    }
    if (!name.starts_with("COM") && !name.starts_with("LPT")) return false;
    const std::string_view number = std::string_view(name).substr(3);
    if (number.size() == 1) return number[0] >= '1' && number[0] <= '9';
    return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";  // U+00B9, U+00B2, U+00B3
}

// Windows drops the blanks at the end of the part before the first dot
// before it looks for a device name, so "_" goes right after the name.
std::string withoutDeviceName(std::string name) {
    const std::size_t dot = name.find('.');
    std::size_t end = dot == std::string::npos ? name.size() : dot;
    while (end > 0 && name[end - 1] == ' ') --end;
    if (isDeviceName(std::string_view(name).substr(0, end))) {
        name.insert(name.begin() + static_cast<std::ptrdiff_t>(end), '_');
    }
    return name;
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
    std::string safe;
    safe.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t start = at;
        char32_t code = 0;
        if (!decodeUtf8(name, at, code)) {
            safe += '_';
            ++at;
        } else if (isUnsafe(code)) {
            safe += '_';
        } else {
            safe.append(name.substr(start, at - start));
        }
    }
    const std::size_t first = safe.find_first_not_of(" .");
    if (first == std::string::npos) return {};
    const std::size_t last = safe.find_last_not_of(" .");
    return safe.substr(first, last - first + 1);
}

std::string outputFolderName(std::string_view mapNameBytes, std::string_view mapFileName) {
    std::string name = safeFolderName(cp1252ToUtf8(mapNameBytes));
    if (name.empty()) name = safeFolderName(fileStem(mapFileName));
    if (name.empty()) name = "map";
    return withoutDeviceName(std::move(name));
}

std::string caseKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        char32_t code = 0;
        if (decodeUtf8(name, at, code)) {
            appendUtf8(key, uppercaseOf(code));
        } else {
            // A malformed byte stays the byte it is.
            key += name[at++];
        }
    }
    return key;
}

char32_t uppercaseOf(char32_t code) {
    const std::span<const UpperCase> table = uppercaseTable();
    if (code > 0xFFFF) return code;
    const auto found = std::lower_bound(table.begin(), table.end(), code,
                                        [](const UpperCase& entry, char32_t letter) { return entry.letter < letter; });
    return found != table.end() && found->letter == code ? found->upper : code;
}

}  // namespace v2bsp
