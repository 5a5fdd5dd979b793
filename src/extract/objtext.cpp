#include "extract/objtext.hpp"

#include <array>
#include <cstring>

#include "mapimage/floatdecode.hpp"
#include "mapimage/numtext.hpp"

namespace v2bsp {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
// The longest face line: "f " and three of " 65536 ", then CR LF.
constexpr std::size_t kMaxFaceLine = 2 + 3 * 7 + 2;
constexpr std::size_t kMaxVertexLine = 2 + 3 * (kNumTextMax + 1) + 2;

std::uint16_t loadu16le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The text numtext gives for a whole number from 1 to 65536: a blank and its digits.
char* writeIndex(char* out, std::uint32_t value) {
    std::array<char, 8> digits{};
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    *out++ = ' ';
    while (count > 0) *out++ = digits[--count];
    return out;
}

// A mesh file numbers its vertices from `first`: 1, as OBJ counts them.
char* writeFaceLine(char* out, std::uint32_t first, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    *out++ = 'f';
    *out++ = ' ';
    for (const std::uint32_t index : {a, b, c}) {
        out = writeIndex(out, index + first);
        *out++ = ' ';
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

char* writeVertexLine(char* out, double x, double y, double z) {
    *out++ = 'v';
    for (const double value : {x, y, z}) {
        *out++ = ' ';
        out = numtext(out, value);
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// Appends through a fixed-size scratch line so that `out` grows once per section.
template <typename WriteLine>
void appendLines(std::string& out, std::size_t groups, std::size_t max_line, WriteLine write_line) {
    const std::size_t start = out.size();
    out.resize(start + groups * max_line);
    char* const begin = out.data() + start;
    char* cursor = begin;
    for (std::size_t i = 0; i < groups; ++i) cursor = write_line(cursor, i);
    out.resize(start + static_cast<std::size_t>(cursor - begin));
}

}  // namespace

void appendvertexlines(std::string& out, ByteView section) {
    const std::uint8_t* data = section.data();
    appendLines(out, section.size() / kVertexBytes, kMaxVertexLine, [&](char* line, std::size_t i) {
        const std::uint8_t* p = data + i * kVertexBytes;
        return writeVertexLine(line, decodefloat(loadu32le(p)), decodefloat(loadu32le(p + 4)),
                               decodefloat(loadu32le(p + 8)));
    });
}

void appendfacelines(std::string& out, ByteView section) {
    const std::uint8_t* data = section.data();
    appendLines(out, section.size() / kFaceBytes, kMaxFaceLine, [&](char* line, std::size_t i) {
        const std::uint8_t* p = data + i * kFaceBytes;
        const std::uint32_t a = loadu16le(p);
        const std::uint32_t b = loadu16le(p + 2);
        const std::uint32_t c = loadu16le(p + 4);
        if (a == b || a == c || b == c) return line;
        return writeFaceLine(line, 1, a, b, c);
    });
}

void appendobjfile(std::string& out, ByteView vertexsection, ByteView facesection) {
    appendvertexlines(out, vertexsection);
    out.append(kLineEnd);
    out.append(kLineEnd);
    appendfacelines(out, facesection);
    out.append(kLineEnd);
}

std::string objfiletext(ByteView vertexsection, ByteView facesection) {
    std::string text;
    appendobjfile(text, vertexsection, facesection);
    return text;
}

}  // namespace v2bsp
