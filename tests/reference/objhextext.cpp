#include "reference/objhextext.hpp"

#include <array>

#include "mapimage/numtext.hpp"
#include "reference/floattext.hpp"
#include "reference/hexread.hpp"
#include "reference/numtextref.hpp"
#include "writers/meshobj.hpp"

namespace v2bsp {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The value-order hex text of one stored 16-bit index: characters 3-4, then 1-2.
double faceIndexValue(std::string_view stored) {
    const std::array<char, 4> swapped = {stored[2], stored[3], stored[0], stored[1]};
    return hextonum(std::string_view(swapped.data(), swapped.size()));
}

}  // namespace

std::string objvertextext(std::string_view vertexhex) {
    constexpr std::size_t kGroup = 2 * kVertexBytes;
    std::string text;
    const std::size_t groups = vertexhex.size() / kGroup;
    for (std::size_t i = 0; i < groups; ++i) {
        const std::string_view group = vertexhex.substr(i * kGroup, kGroup);
        text += 'v';
        for (std::size_t coordinate = 0; coordinate < 3; ++coordinate) {
            text += ' ';
            text += numtext(hextofloat(group.substr(8 * coordinate, 8)));
        }
        text += kLineEnd;
    }
    return text;
}

std::string objfacetext(std::string_view facehex) {
    constexpr std::size_t kGroup = 2 * kFaceBytes;
    std::string text;
    const std::size_t groups = facehex.size() / kGroup;
    for (std::size_t i = 0; i < groups; ++i) {
        const std::string_view group = facehex.substr(i * kGroup, kGroup);
        const std::string_view a = group.substr(0, 4);
        const std::string_view b = group.substr(4, 4);
        const std::string_view c = group.substr(8, 4);
        // The stored texts are compared, before they are put in value order.
        if (a == b || a == c || b == c) continue;
        text += "f ";
        for (const std::string_view index : {a, b, c}) {
            text += numtext(faceIndexValue(index) + 1);
            text += ' ';
        }
        text += kLineEnd;
    }
    return text;
}

std::string objfiletext(ByteView vertexsection, ByteView facesection) {
    std::string text;
    appendVertexLines(text, vertexsection);
    text += "\r\n\r\n";
    appendFaceLines(text, facesection);
    text += "\r\n";
    return text;
}

}  // namespace v2bsp
