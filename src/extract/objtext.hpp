// The text of one mesh's OBJ file.
//
// A mesh file holds, in order: one "v " line per vertex, two empty lines, one
// "f " line per kept face, and one closing CR LF. Every number is written with
// numtext, so a non-negative value has a blank before it ("v  1.5  .25 -2") and
// every face line ends with a blank before its CR LF ("f  1  2  3 "). Face
// indices are the stored 0-based indices plus 1; a face with two equal indices
// writes no line. A section whose length is not a whole number of groups
// writes its whole groups only: a partial trailing group writes nothing.
//
// Vertex groups are 12 bytes (x, y, z as little-endian singles, decoded with
// decodefloat); face groups are 6 bytes (a, b, c as little-endian unsigned
// 16-bit indices).
#pragma once

#include <string>
#include <string_view>

#include "mapimage/mapimage.hpp"

namespace v2bsp {

inline constexpr std::size_t kVertexBytes = 12;
inline constexpr std::size_t kFaceBytes = 6;

// The vertex and face lines of a section, appended to `out`.
void appendvertexlines(std::string& out, ByteView section);
void appendfacelines(std::string& out, ByteView section);

// The whole mesh file: vertex lines, CR LF CR LF, face lines, CR LF.
std::string objfiletext(ByteView vertexsection, ByteView facesection);

// Appends the same text to `out` (which it does not clear).
void appendobjfile(std::string& out, ByteView vertexsection, ByteView facesection);

}  // namespace v2bsp
