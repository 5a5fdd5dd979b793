#include "extract/safename.hpp"

#include <array>

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

bool isUnsafe(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) return true;
    constexpr std::string_view kReserved = "/\\:*?\"<>|";
    return kReserved.find(c) != std::string_view::npos;
}

// The UTF-8 of U+0080-U+009F: C2 followed by 80-9F.
bool isC1Control(std::string_view text, std::size_t at) {
    return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xC2 &&
           static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `part` names a device that Windows reserves in every folder.
bool isDeviceName(std::string_view part) {
    std::string name;
    for (const char c : part) name += upper(c);
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' && name[3] <= '9';
}

std::string withoutDeviceName(std::string name) {
    const std::size_t dot = name.find('.');
    const std::size_t end = dot == std::string::npos ? name.size() : dot;
    if (isDeviceName(std::string_view(name).substr(0, end))) name.insert(end, "_");
    return name;
}

// Decodes one UTF-8 sequence at `at` (advancing it); a malformed byte is itself.
char32_t decodeUtf8(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
    if (length == 1 || at + length > text.size()) return byte(at++);
    char32_t code = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return byte(at++);
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    at += length;
    return code;
}

char32_t foldCase(char32_t code) {
    if (code >= 'A' && code <= 'Z') return code + 32;
    if (code >= 0xC0 && code <= 0xDE && code != 0xD7) return code + 32;
    switch (code) {
        case 0x0160:
            return 0x0161;  // S with caron
        case 0x0152:
            return 0x0153;  // OE
        case 0x017D:
            return 0x017E;  // Z with caron
        case 0x0178:
            return 0x00FF;  // Y with diaeresis
        default:
            return code;
    }
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
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (isC1Control(name, at)) {
            safe += '_';
            ++at;
        } else {
            safe += isUnsafe(name[at]) ? '_' : name[at];
        }
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
    return withoutDeviceName(std::move(name));
}

std::string caseKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t start = at;
        const char32_t code = decodeUtf8(name, at);
        // A malformed byte stays the byte it is.
        if (at - start == 1 && code >= 0x80) {
            key += name[start];
            continue;
        }
        appendUtf8(key, foldCase(code));
    }
    return key;
}

}  // namespace v2bsp
