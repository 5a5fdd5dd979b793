// The level's meshes as the whole-level writers and the 3D view see them.
//
// The decoded form of a mesh, shared by every consumer that is not the
// per-mesh OBJ text: positions in single precision and triangles as three
// 0-based indices into the same mesh's positions.
//
// Conventions, stated once:
// - A position is the value the mesh file's number text is made from (the
//   stored single decoded as the mesh file decodes it), rounded to the
//   nearest single; a value beyond the range of a single becomes the largest
//   finite single of that sign. The stored decoding is not IEEE for the
//   exponent fields 0 and 255 (see floatdecode.hpp), so this is not a plain
//   reinterpretation of the stored bits.
// - A kept triangle is a stored face with three different indices that all
//   name a vertex of its own mesh. A face with two equal indices is dropped
//   (the mesh file writes no line for it either); a face naming a vertex the
//   mesh does not have is counted in `facesOutside` and dropped, though the
//   mesh file writes it as stored.
// - With UpAxis::z the map is taken to store Z up, and each position
//   (x, y, z) becomes (x, z, -y), so that Y is up.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "writers/meshplan.hpp"

namespace v2bsp {

enum class UpAxis { y, z };

using Position = std::array<float, 3>;
using Triangle = std::array<std::uint32_t, 3>;

struct DecodedMesh {
    std::int64_t number = 0;
    std::vector<Position> positions;
    std::vector<Triangle> triangles;  // kept triangles, in stored order
    std::int64_t facesOutside = 0;    // faces left out for naming a missing vertex
};

// The single-precision value of one stored 32-bit pattern (its little-endian
// load), as the conventions above define.
float decodePosition(std::uint32_t bits);

// Appends the positions of the whole 12-byte groups of `section`.
void appendPositions(ByteView section, UpAxis up, std::vector<Position>& out);

// Appends the kept triangles of the whole 6-byte groups of `section` for a
// mesh of `vertexCount` vertices; returns how many faces were left out for
// naming a vertex the mesh does not have.
std::int64_t appendTriangles(ByteView section, std::size_t vertexCount, std::vector<Triangle>& out);

// The whole of one planned mesh decoded (empty for a skipped one).
DecodedMesh decodeMesh(const PlannedMesh& mesh, UpAxis up = UpAxis::y);

// What a writer must know of a mesh before writing it, found without holding
// its decoded form: counts, the bounds of its positions, and whether a kept
// triangle uses the index 65535.
struct MeshSummary {
    std::int64_t number = 0;
    std::int64_t vertices = 0;
    std::int64_t triangles = 0;  // kept
    std::int64_t facesOutside = 0;
    bool index65535 = false;
    Position min{0, 0, 0};  // bounds of every position; zero when there is none
    Position max{0, 0, 0};
    // Every position is its stored 12 bytes (up is Y and every stored single
    // decodes to itself), so a writer of singles may take them as they lie.
    bool storedPositions = false;
    // Every stored face is kept and no index is 65535, so a writer of 16-bit
    // triangle lists may take the face section as it lies.
    bool storedTriangles = false;
};

MeshSummary summarizeMesh(const PlannedMesh& mesh, UpAxis up = UpAxis::y);

// One planned mesh's decoded form in pieces of at most `limit` positions or
// triangles, so that a writer never holds a large mesh whole: every piece of
// positions in order, then every piece of kept triangles in order.
class MeshPieces {
public:
    MeshPieces(const PlannedMesh& mesh, UpAxis up, std::size_t limit);
    // Replaces `piece` by the next positions; false (and `piece` empty) when none are left.
    bool nextPositions(std::vector<Position>& piece);
    // Replaces `piece` by the next kept triangles; false (and `piece` empty) when none are left.
    bool nextTriangles(std::vector<Triangle>& piece);

private:
    ByteView vertices_;
    ByteView faces_;
    std::size_t vertexCount_;
    UpAxis up_;
    std::size_t limit_;
};

}  // namespace v2bsp
