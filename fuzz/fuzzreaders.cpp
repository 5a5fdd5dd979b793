#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <concepts>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "extract/extractmap.hpp"
#include "extract/safename.hpp"
#include "extract/sections.hpp"
#include "fuzzentries.hpp"
#include "mapimage/floatdecode.hpp"
#include "mapimage/mapimage.hpp"
#include "mapimage/numtext.hpp"
#include "reference/floattext.hpp"
#include "reference/hexread.hpp"
#include "reference/numtextref.hpp"
#include "reference/objhextext.hpp"
#include "writers/meshobj.hpp"

namespace v2bsp::fuzz {
namespace {

// Enough groups to reach every branch; more only slows each input down.
constexpr std::size_t kMaxFloats = 24;
constexpr std::size_t kMaxDoubles = 12;
constexpr std::size_t kMaxObjBytes = 480;
constexpr std::size_t kMaxRanges = 8;

// The first broken rule wins. A rule's sentence is only made when it breaks.
class Verdict {
public:
    void require(bool holds, std::string_view rule) {
        if (!holds && text_.empty()) text_ = rule;
    }
    template <std::invocable Rule>
    void require(bool holds, Rule&& rule) {
        if (!holds && text_.empty()) text_ = rule();
    }
    bool broken() const { return !text_.empty(); }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Wide enough that no sum of two 64-bit values overflows: the oracle for the bounds rule.
__extension__ typedef __int128 Wide;

std::string_view asText(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::uint64_t loadu64le(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(loadu32le(p)) | static_cast<std::uint64_t>(loadu32le(p + 4)) << 32;
}

// The signed value of eight bytes at `at`, or `fallback` past the end.
std::int64_t wordAt(ByteView data, std::size_t at, std::int64_t fallback) {
    if (data.size() < 8 || data.size() - 8 < at) return fallback;
    return static_cast<std::int64_t>(loadu64le(data.data() + at));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string fileOrderHex(const std::uint8_t* p) {
    return bytestohex(ByteView(p, 4));
}

// readu32, readhex32 and readfourcc at `offset`: the value of the bytes when
// all four are inside, a MapError that names the offset otherwise.
void checkRead(ByteView image, std::int64_t offset, Verdict& verdict) {
    const bool fits = offset >= 0 && static_cast<Wide>(offset) + 4 <= static_cast<Wide>(image.size());
    const auto where = [&](std::string_view what) {
        return [&image, offset, what] {
            return std::string(what) + " at offset " + std::to_string(offset) + " of " + std::to_string(image.size());
        };
    };
    for (const bool little : {true, false}) {
        if (fits) {
            const std::uint8_t* p = image.data() + offset;
            const std::uint8_t b[4] = {p[little ? 3 : 0], p[little ? 2 : 1], p[little ? 1 : 2], p[little ? 0 : 3]};
            const std::uint32_t expected =
                std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | std::uint32_t{b[3]};
            const std::uint32_t value = readu32(image, offset, little);
            const std::string hex = readhex32(image, offset, little);
            const std::string code = readfourcc(image, offset, little);
            verdict.require(value == expected, where("readu32"));
            verdict.require(hextonum(hex) == static_cast<double>(value), where("readu32 is hextonum of readhex32"));
            verdict.require(hex == bytestohex(ByteView(b, 4)), where("readhex32"));
            verdict.require(code == std::string(reinterpret_cast<const char*>(b), 4), where("readfourcc"));
            continue;
        }
        int thrown = 0;
        for (int reader = 0; reader < 3; ++reader) {
            try {
                if (reader == 0) readu32(image, offset, little, "probe");
                if (reader == 1) readhex32(image, offset, little, "probe");
                if (reader == 2) readfourcc(image, offset, little, "probe");
            } catch (const MapError& error) {
                thrown += error.kind() == MapErrorKind::outside && error.offset() == offset &&
                          error.length() == 4 && error.imageLength() == static_cast<std::int64_t>(image.size()) &&
                          std::string_view(error.what()).starts_with("Probe at offset ");
            }
        }
        verdict.require(thrown == 3, where("a read outside the image throws a MapError naming it"));
    }
}

void checkInside(std::int64_t offset, std::int64_t length, std::size_t size, Verdict& verdict) {
    const bool expected = offset >= 0 && length >= 0 && static_cast<Wide>(offset) + length <= static_cast<Wide>(size);
    verdict.require(inside(offset, length, size) == expected, [&] {
        return "inside(" + std::to_string(offset) + ", " + std::to_string(length) + ", " + std::to_string(size) + ")";
    });
}

// hextonum: 0 for any non-digit, an overflow for 256 trailing digits, and
// otherwise the exact value while it has at most 13 digits (52 bits).
void checkHexToNum(std::string_view text, Verdict& verdict) {
    std::size_t trailing = 0;
    while (trailing < text.size() && hexDigit(text[text.size() - 1 - trailing]) >= 0) ++trailing;
    double value = -1;
    bool overflow = false;
    try {
        value = hextonum(text);
    } catch (const std::overflow_error&) {
        overflow = true;
    }
    verdict.require(overflow == (trailing >= 256), "hextonum overflows exactly at 256 trailing digits");
    if (overflow) return;
    if (trailing < text.size()) {
        verdict.require(value == 0, "hextonum of a text with a non-digit is 0");
    } else if (text.size() <= 13) {
        std::uint64_t exact = 0;
        for (const char c : text) exact = exact * 16 + static_cast<std::uint64_t>(hexDigit(c));
        verdict.require(value == static_cast<double>(exact),
                        [&] { return "hextonum of \"" + std::string(text) + "\""; });
    } else {
        verdict.require(std::isfinite(value) && value >= 0, "hextonum of a long text is finite");
    }
}

void checkHexToBin(std::string_view text, Verdict& verdict) {
    std::string expected;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0 || (c >= 'a' && c <= 'f')) continue;
        for (int bit = 3; bit >= 0; --bit) expected += (digit >> bit & 1) ? '1' : '0';
    }
    verdict.require(hextobin(text) == expected, "hextobin keeps 0-9 and A-F only");
}

// The text numtext gives, read back, is the value rounded to 15 significant digits.
void checkNumText(double value, Verdict& verdict) {
    char fast[kNumTextMax];
    char reference[kNumTextMax];
    const std::string_view text(fast, static_cast<std::size_t>(numtext(fast, value) - fast));
    const std::string_view expected(reference,
                                    static_cast<std::size_t>(numtextReference(reference, value) - reference));
    const auto bits = [value](std::string_view what) {
        return [value, what] { return std::string(what) + std::to_string(std::bit_cast<std::uint64_t>(value)); };
    };
    verdict.require(text == expected, bits("numtext agrees with numtextReference for the bits "));
    if (!std::isfinite(value) || text.empty()) return;
    verdict.require(text.front() == (value < 0 ? '-' : ' '), bits("numtext's sign place for the bits "));
    const std::string_view digits = text.substr(text.front() == ' ' ? 1 : 0);
    double back = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), back);
    char rounded[64];
    const auto rounded_end =
        std::to_chars(rounded, rounded + sizeof rounded, value, std::chars_format::scientific, 14).ptr;
    double expected_value = 0;
    const auto expected_error = std::from_chars(rounded, rounded_end, expected_value).ec;
    verdict.require(end == digits.data() + digits.size() && error == expected_error &&
                        (error != std::errc{} || back == expected_value),
                    bits("numtext reads back as the value to 15 digits for the bits "));
}

void checkFloats(ByteView data, Verdict& verdict) {
    for (std::size_t i = 0; i + 4 <= data.size() && i / 4 < kMaxFloats; i += 4) {
        const std::uint32_t bits = loadu32le(data.data() + i);
        const double direct = decodeFloat(bits);
        const double viatext = hextofloat(fileOrderHex(data.data() + i));
        verdict.require(std::bit_cast<std::uint64_t>(direct) == std::bit_cast<std::uint64_t>(viatext),
                        [bits] { return "decodeFloat agrees with hextofloat for " + std::to_string(bits); });
        checkNumText(direct, verdict);
    }
    for (std::size_t i = 0; i + 8 <= data.size() && i / 8 < kMaxDoubles; i += 8) {
        checkNumText(std::bit_cast<double>(loadu64le(data.data() + i)), verdict);
    }
    // Texts that are not four stored bytes: any length, any characters.
    const std::string_view text = asText(data.first(std::min<std::size_t>(data.size(), 40)));
    verdict.require(!std::isnan(hextofloat(text)), "hextofloat of any text is a number");
    std::string bits;
    for (const char c : text) bits += (c & 3) == 0 ? '.' : ((c & 1) ? '1' : '0');
    const std::size_t point = bits.find('.');
    if (point != std::string::npos) {
        bits.erase(std::remove(bits.begin() + static_cast<std::ptrdiff_t>(point) + 1, bits.end(), '.'), bits.end());
    }
    verdict.require(!bintonum(bits).empty(), "bintonum writes a number");
}

// The byte route of the OBJ text against the hex route, and the line counts
// against the section sizes.
void checkObjText(ByteView data, Verdict& verdict) {
    const ByteView bytes = data.first(std::min(data.size(), kMaxObjBytes));
    const std::size_t split = bytes.empty() ? 0 : bytes[0] * bytes.size() / 256;
    const ByteView vertices = bytes.subspan(0, split);
    const ByteView faces = bytes.subspan(split);

    std::string vertex_text;
    appendVertexLines(vertex_text, vertices);
    std::string face_text;
    appendFaceLines(face_text, faces);
    verdict.require(vertex_text == objvertextext(bytestohex(vertices)), "vertex lines: bytes and hex agree");
    verdict.require(face_text == objfacetext(bytestohex(faces)), "face lines: bytes and hex agree");
    verdict.require(objfiletext(vertices, faces) == vertex_text + "\r\n\r\n" + face_text + "\r\n",
                    "a mesh file is vertex lines, two empty lines, face lines, one empty line");

    const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    verdict.require(lines(vertex_text) == static_cast<std::ptrdiff_t>(vertices.size() / kVertexBytes),
                    "one vertex line per whole vertex");
    std::ptrdiff_t kept = 0;
    for (std::size_t i = 0; i + kFaceBytes <= faces.size(); i += kFaceBytes) {
        const auto index = [&](std::size_t k) { return faces[i + k] | faces[i + k + 1] << 8; };
        kept += index(0) != index(2) && index(0) != index(4) && index(2) != index(4);
    }
    verdict.require(lines(face_text) == kept, "one face line per face with three different indices");

    // Hex texts that are not hex at all must still give text, not a fault.
    const std::string_view text = asText(bytes.first(std::min<std::size_t>(bytes.size(), 120)));
    objvertextext(text);
    objfacetext(text);
}

bool validUtf8(std::string_view text, std::size_t& codepoints) {
    codepoints = 0;
    for (std::size_t i = 0; i < text.size(); ++codepoints) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
        if (length == 0 || text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        if (length == 2 && lead < 0xC2) return false;  // overlong
        i += length;
    }
    return true;
}

bool safeName(std::string_view name) {
    if (name.empty()) return true;
    if (name.front() == ' ' || name.front() == '.' || name.back() == ' ' || name.back() == '.') return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code < 32 || code == 127 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    });
}

void checkNames(ByteView data, Verdict& verdict) {
    const std::string_view raw = asText(data.first(std::min<std::size_t>(data.size(), 256)));
    const std::string utf8 = cp1252ToUtf8(raw);
    std::size_t codepoints = 0;
    verdict.require(validUtf8(utf8, codepoints) && codepoints == raw.size(),
                    "cp1252ToUtf8 gives valid UTF-8, one character per byte");
    for (const std::string_view name : {std::string_view(utf8), raw}) {
        const std::string safe = safeFolderName(name);
        verdict.require(safeName(safe),
                        [&] { return "safeFolderName(\"" + std::string(name) + "\") is \"" + safe + "\""; });
        verdict.require(safeFolderName(safe) == safe, "safeFolderName is idempotent");
    }
    const std::size_t cut = raw.empty() ? 0 : static_cast<unsigned char>(raw[0]) % raw.size();
    const std::string folder = outputFolderName(raw.substr(0, std::min<std::size_t>(cut, 33)), raw.substr(cut));
    verdict.require(!folder.empty() && folder != "." && folder != ".." && safeName(folder),
                    [&] { return "outputFolderName gives a safe name, \"" + folder + "\""; });
}

// findSections for a range inside the image against a plain scan of raw + 4i.
void checkSections(ByteView image, const MarkerIndex& markers, std::int64_t raw, std::int64_t size, Verdict& verdict) {
    MeshSections expected;
    int hits = 0;
    for (std::int64_t k = raw; k + 4 <= raw + size; k += 4) {
        if (loadu32le(image.data() + k) != kSectionMarker) continue;
        switch (++hits) {
            case 3:
                expected.faceStart = k + 4;
                break;
            case 4:
                expected.faceLength = k - expected.faceStart;
                break;
            case 7:
                expected.vertexStart = k + 4;
                break;
            case 8:
                expected.vertexLength = k - expected.vertexStart;
                break;
            default:
                break;
        }
    }
    const MeshSections found = findSections(markers, raw, size);
    verdict.require(
        found.faceStart == expected.faceStart && found.faceLength == expected.faceLength &&
            found.vertexStart == expected.vertexStart && found.vertexLength == expected.vertexLength,
        [&] { return "findSections of raw data at " + std::to_string(raw) + ", " + std::to_string(size) + " bytes"; });
}

void checkMarkers(ByteView image, Verdict& verdict) {
    const MarkerIndex markers = findMarkers(image);
    std::size_t listed = 0;
    for (std::uint32_t residue = 0; residue < 4; ++residue) {
        const auto& positions = markers.positions[residue];
        listed += positions.size();
        verdict.require(std::is_sorted(positions.begin(), positions.end()), "marker positions sorted");
        for (const std::uint32_t position : positions) {
            verdict.require(position % 4 == residue && inside(position, 4, image.size()) &&
                                loadu32le(image.data() + position) == kSectionMarker,
                            "a listed marker position holds the marker");
        }
    }
    std::size_t present = 0;
    for (std::size_t k = 0; k + 4 <= image.size(); ++k) present += loadu32le(image.data() + k) == kSectionMarker;
    verdict.require(listed == present, "every marker in the image is listed");

    const auto span = static_cast<std::int64_t>(image.size());
    for (std::size_t r = 0; r < kMaxRanges && span > 0; ++r) {
        const auto a = static_cast<std::uint64_t>(wordAt(image, 8 * r, static_cast<std::int64_t>(r)));
        const auto raw = static_cast<std::int64_t>(a % static_cast<std::uint64_t>(span));
        const auto size = static_cast<std::int64_t>((a >> 32) % static_cast<std::uint64_t>(span - raw + 1));
        checkSections(image, markers, raw, size, verdict);
    }
}

}  // namespace

std::string checkreaders(const std::uint8_t* data, std::size_t size) {
    const ByteView image(data, size);
    Verdict verdict;
    const auto length = static_cast<std::int64_t>(size);
    const std::int64_t fuzzed = wordAt(image, 0, -1);
    for (const std::int64_t offset : {std::int64_t{-4}, std::int64_t{-1}, std::int64_t{0}, length - 5, length - 4,
                                      length - 3, length, fuzzed, fuzzed % (length + 8) - 4}) {
        checkRead(image, offset, verdict);
    }
    checkInside(wordAt(image, 8, 0), wordAt(image, 16, 0), size, verdict);
    // No object is larger than the largest signed size.
    const auto fuzzed_size = static_cast<std::size_t>(wordAt(image, 24, 0) & std::numeric_limits<std::int64_t>::max());
    checkInside(fuzzed, wordAt(image, 8, 4), fuzzed_size, verdict);

    const std::string_view text = asText(image);
    checkHexToNum(text, verdict);
    checkHexToNum(text.substr(0, std::min<std::size_t>(text.size(), 13)), verdict);
    checkHexToBin(text.substr(0, std::min<std::size_t>(text.size(), 64)), verdict);
    checkFloats(image, verdict);
    checkObjText(image, verdict);
    checkNames(image, verdict);
    checkMarkers(image, verdict);
    return verdict.text();
}

}  // namespace v2bsp::fuzz
