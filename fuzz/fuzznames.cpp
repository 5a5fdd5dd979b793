#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "extract/safename.hpp"
#include "extract/uppercase.hpp"
#include "fuzzentries.hpp"

namespace v2bsp::fuzz {
namespace {

// The longest map name and file name taken from one input; longer ones add
// nothing but time.
constexpr std::size_t kMaxName = 256;

// The well-formed UTF-8 byte sequences, as ranges of each byte: the first
// byte decides the range of the second, the rest are 80-BF.
struct Form {
    unsigned char first, last;  // of the lead byte
    unsigned char secondFirst, secondLast;
    std::size_t length;
};
constexpr std::array<Form, 9> kForms = {{
    {0x00, 0x7F, 0, 0, 1},
    {0xC2, 0xDF, 0x80, 0xBF, 2},
    {0xE0, 0xE0, 0xA0, 0xBF, 3},
    {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3},
    {0xEE, 0xEF, 0x80, 0xBF, 3},
    {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4},
    {0xF4, 0xF4, 0x80, 0x8F, 4},
}};

// The code points of `text`, or nothing when it is not well-formed UTF-8.
std::optional<std::u32string> codePoints(std::string_view text) {
    std::u32string codes;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
        const auto form = std::find_if(kForms.begin(), kForms.end(),
                                       [&](const Form& f) { return byte(0) >= f.first && byte(0) <= f.last; });
        if (form == kForms.end() || text.size() - i < form->length) return std::nullopt;
        if (form->length > 1 && (byte(1) < form->secondFirst || byte(1) > form->secondLast)) return std::nullopt;
        for (std::size_t k = 2; k < form->length; ++k) {
            if (byte(k) < 0x80 || byte(k) > 0xBF) return std::nullopt;
        }
        constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t code = byte(0) & kLeadBits[form->length];
        for (std::size_t k = 1; k < form->length; ++k) code = code << 6 | (byte(k) & 0x3F);
        codes += code;
        i += form->length;
    }
    return codes;
}

std::string utf8(std::u32string_view codes) {
    std::string text;
    for (const char32_t c : codes) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += {static_cast<char>(0xC0 + (c >> 6)), static_cast<char>(0x80 + (c & 0x3F))};
        } else if (c < 0x10000) {
            text += {static_cast<char>(0xE0 + (c >> 12)), static_cast<char>(0x80 + ((c >> 6) & 0x3F)),
                     static_cast<char>(0x80 + (c & 0x3F))};
        } else {
            text += {static_cast<char>(0xF0 + (c >> 18)), static_cast<char>(0x80 + ((c >> 12) & 0x3F)),
                     static_cast<char>(0x80 + ((c >> 6) & 0x3F)), static_cast<char>(0x80 + (c & 0x3F))};
        }
    }
    return text;
}

// The names Windows opens as devices in every folder, in upper case, as
// UTF-8: the part of a name before its first dot, without its trailing
// blanks and in upper case, must be none of them.
const std::set<std::string>& deviceNames() {
    static const std::set<std::string> names = [] {
        std::set<std::string> all = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
        for (const std::string port : {"COM", "LPT"}) {
            for (char digit = '1'; digit <= '9'; ++digit) all.insert(port + digit);
            for (const std::string superscript : {"\u00B9", "\u00B2", "\u00B3"}) all.insert(port + superscript);
        }
        return all;
    }();
    return names;
}

bool isDevice(std::string_view name) {
    std::string part(name.substr(0, name.find('.')));
    while (!part.empty() && part.back() == ' ') part.pop_back();
    std::transform(part.begin(), part.end(), part.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return deviceNames().count(part) != 0;
}

bool isUnsafe(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || std::u32string_view(U"/\\:*?\"<>|").find(c) != std::u32string::npos;
}

// The table read as it stands: each letter's uppercase, and each uppercase's
// letters, so that a name can be spelt in every case the table allows.
struct CaseClasses {
    std::map<char32_t, char32_t> upper;
    std::map<char32_t, std::vector<char32_t>> spellings;  // by uppercase, the uppercase first
};

const CaseClasses& caseClasses() {
    static const CaseClasses classes = [] {
        CaseClasses made;
        for (const UpperCase& entry : uppercaseTable()) made.upper.emplace(entry.letter, entry.upper);
        for (const auto& [letter, upper] : made.upper) {
            std::vector<char32_t>& spellings = made.spellings[upper];
            if (spellings.empty()) spellings.push_back(upper);
            spellings.push_back(letter);
        }
        return made;
    }();
    return classes;
}

char32_t upperOf(char32_t c) {
    const auto found = caseClasses().upper.find(c);
    return found == caseClasses().upper.end() ? c : found->second;
}

// `codes` in another case, each letter's spelling chosen by the next byte of `choices`.
std::u32string respelt(std::u32string_view codes, std::string_view choices) {
    std::u32string other;
    std::size_t next = 0;
    for (const char32_t c : codes) {
        const auto found = caseClasses().spellings.find(upperOf(c));
        if (found == caseClasses().spellings.end() || choices.empty()) {
            other += c;
            continue;
        }
        const auto choice = static_cast<unsigned char>(choices[next++ % choices.size()]);
        other += found->second[choice % found->second.size()];
    }
    return other;
}

class Verdict {
public:
    void require(bool holds, const std::string& rule) {
        if (!holds && text_.empty()) text_ = rule;
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

void checkFolderName(const std::string& folder, Verdict& verdict) {
    const std::string shown = "\"" + folder + "\"";
    const std::optional<std::u32string> codes = codePoints(folder);
    verdict.require(codes.has_value(), "outputFolderName gives valid UTF-8, not " + shown);
    verdict.require(!folder.empty(), "outputFolderName gives a name");
    if (!codes || folder.empty()) return;
    verdict.require(std::none_of(codes->begin(), codes->end(), isUnsafe),
                    "outputFolderName gives no separator, control or reserved character: " + shown);
    verdict.require(folder != "." && folder != "..", "outputFolderName names no folder of its own: " + shown);
    verdict.require(!isDevice(folder), "outputFolderName names no device: " + shown);
    for (const char end : {folder.front(), folder.back()}) {
        verdict.require(end != ' ' && end != '.',
                        "outputFolderName neither begins nor ends in a blank or dot: " + shown);
    }
}

void checkCaseKey(std::string_view name, std::string_view choices, Verdict& verdict) {
    const std::string key = caseKey(name);
    verdict.require(caseKey(key) == key, "caseKey of its own key changes nothing: \"" + std::string(name) + "\"");
    const std::optional<std::u32string> codes = codePoints(name);
    if (!codes) return;
    std::u32string upper;
    for (const char32_t c : *codes) upper += upperOf(c);
    verdict.require(key == utf8(upper),
                    "caseKey is each letter's uppercase by the table: \"" + std::string(name) + "\"");
    const std::string other = utf8(respelt(*codes, choices));
    verdict.require(caseKey(other) == key,
                    "caseKey is the same in every case: \"" + std::string(name) + "\", \"" + other + "\"");
}

}  // namespace

std::string checknames(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = std::min(input.find('\0'), input.size());
    const std::string_view mapname = input.substr(0, std::min(cut, kMaxName));
    const std::string_view filename =
        cut < input.size() ? input.substr(cut + 1, std::min(input.size() - cut - 1, kMaxName)) : std::string_view();
    Verdict verdict;
    const std::string folder = outputFolderName(mapname, filename);
    checkFolderName(folder, verdict);
    checkCaseKey(folder, input, verdict);
    checkCaseKey(filename, input, verdict);
    return verdict.text();
}

}  // namespace v2bsp::fuzz
