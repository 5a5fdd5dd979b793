// The OBJ lines of a mesh's sections given as hex text (two digits per byte,
// file order), built through the text routes: hextofloat for each coordinate,
// hextonum for each index, numtext for every number. The same lines as
// appendVertexLines and appendFaceLines (writers/meshobj.hpp) give for the
// bytes themselves, in the same form: "v  1.5  .25 -2" and "f  1  2  3 ", each
// ended by CR LF; a face with two equal indices writes no line, and a partial
// trailing group writes nothing.
#pragma once

#include <string>
#include <string_view>

#include "mapimage/mapimage.hpp"

namespace v2bsp {

// The vertex lines: one per 24 hex digits (x, y, z as stored singles).
std::string objvertextext(std::string_view vertexhex);

// The face lines: one per 12 hex digits (a, b, c as stored little-endian
// 16-bit indices), each index written plus 1.
std::string objfacetext(std::string_view facehex);

// A whole mesh file held at once, made by the mesh file writer's own line
// writers: vertex lines, CR LF CR LF, face lines, CR LF.
std::string objfiletext(ByteView vertexsection, ByteView facesection);

}  // namespace v2bsp
