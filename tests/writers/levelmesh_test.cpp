#include "writers/levelmesh.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mapimage/floatdecode.hpp"
#include "mapimage/portable.hpp"

namespace v2bsp {
namespace {

// The single nearest to the stored decoding, found the slow way: the double
// that the mesh file's text is made from, clamped to the finite singles.
float nearestSingle(std::uint32_t bits) {
    const double value = decodeFloat(bits);
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (std::abs(value) > kLargest) return std::copysign(std::numeric_limits<float>::max(), static_cast<float>(value));
    return static_cast<float>(value);
}

void putFloat(std::vector<std::uint8_t>& bytes, std::uint32_t bits) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void putVertex(std::vector<std::uint8_t>& bytes, float x, float y, float z) {
    for (const float value : {x, y, z}) putFloat(bytes, v2bsp::bitCast<std::uint32_t>(value));
}

void putFace(std::vector<std::uint8_t>& bytes, std::uint16_t a, std::uint16_t b, std::uint16_t c) {
    for (const std::uint16_t index : {a, b, c}) {
        bytes.push_back(static_cast<std::uint8_t>(index));
        bytes.push_back(static_cast<std::uint8_t>(index >> 8));
    }
}

TEST(DecodePosition, EqualsTheNearestSingleOfTheStoredDecoding) {
    // Every sign and exponent field, with fractions at both ends and random ones.
    std::mt19937 random(20261209);
    std::int64_t checked = 0;
    for (std::uint32_t high = 0; high < 512; ++high) {
        for (const std::uint32_t fraction : {0u, 1u, 0x400000u, 0x7FFFFEu, 0x7FFFFFu}) {
            const std::uint32_t bits = high << 23 | fraction;
            ASSERT_EQ(v2bsp::bitCast<std::uint32_t>(decodePosition(bits)),
                      v2bsp::bitCast<std::uint32_t>(nearestSingle(bits)))
                << std::hex << bits;
            ++checked;
        }
        for (int i = 0; i < 4000; ++i) {
            const std::uint32_t bits = high << 23 | (random() & 0x7FFFFF);
            ASSERT_EQ(v2bsp::bitCast<std::uint32_t>(decodePosition(bits)),
                      v2bsp::bitCast<std::uint32_t>(nearestSingle(bits)))
                << std::hex << bits;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 512 * 4005);
}

struct MeshBytes {
    std::vector<std::uint8_t> vertices, faces;
    PlannedMesh planned() const { return {7, MeshSkip::none, vertices, faces}; }
};

// Each special field decodes to its own single; and a mesh summary takes a
// value as stored (its bounds from the stored bits) only where it decodes to itself.
TEST(DecodePosition, SpecialFields) {
    struct Case {
        std::uint32_t bits;
        float expected;
        bool stored;  // the stored single is the decoded one
    };
    const Case cases[] = {
        {0x00000000, 0.0f, true},                                // only all-zero bits are zero
        {0x80000000, -std::ldexp(1.0f, -127), false},            // negative zero is -2^-127
        {0x00400000, std::ldexp(1.5f, -127), false},             // a subnormal decodes as if normal
        {0x7F800000, std::numeric_limits<float>::max(), false},  // infinity: beyond a single's range
        {0xFF800000, -std::numeric_limits<float>::max(), false},
        {0x7FC00000, std::numeric_limits<float>::max(), false},  // NaN likewise
        {0x7F7FFFFF, std::numeric_limits<float>::max(), true},   // the largest field of a number
        {0x00800000, std::numeric_limits<float>::min(), true},   // the smallest
        {0x3F800000, 1.0f, true},
        {0xC0000000, -2.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(decodePosition(c.bits), c.expected);
        // Five vertices, so that the value is read both in a block of four and after it.
        MeshBytes bytes;
        for (int i = 0; i < 5; ++i) {
            for (const std::uint32_t value : {c.bits, 0x3F800000u, 0x3F800000u}) {
                for (int shift = 0; shift < 32; shift += 8)
                    bytes.vertices.push_back(static_cast<std::uint8_t>(value >> shift));
            }
        }
        const MeshSummary summary = summarizeMesh(bytes.planned());
        EXPECT_EQ(summary.storedPositions, c.stored);
        EXPECT_EQ(summary.min[0], c.expected);
        EXPECT_EQ(summary.max[0], c.expected);
    }
}

// A mesh of 5 vertices whose faces are kept, degenerate, or name a vertex
// the mesh does not have, and whose sections end with partial groups.

MeshBytes mixedMesh() {
    MeshBytes mesh;
    for (int i = 0; i < 5; ++i) putVertex(mesh.vertices, 0.5f * i, -1.0f - i, 100.0f + i);
    mesh.vertices.insert(mesh.vertices.end(), {1, 2, 3, 4, 5});  // partial trailing group
    putFace(mesh.faces, 0, 1, 2);
    putFace(mesh.faces, 1, 1, 2);  // degenerate
    putFace(mesh.faces, 2, 3, 5);  // 5 names no vertex
    putFace(mesh.faces, 4, 3, 2);
    putFace(mesh.faces, 65535, 0, 1);                // names no vertex
    putFace(mesh.faces, 0, 4, 4);                    // degenerate
    mesh.faces.insert(mesh.faces.end(), {9, 0, 9});  // partial trailing group
    return mesh;
}

TEST(DecodeMesh, KeepsFacesOfThreeDifferentVerticesOfItsOwnMesh) {
    const MeshBytes bytes = mixedMesh();
    const DecodedMesh mesh = decodeMesh(bytes.planned());
    EXPECT_EQ(mesh.number, 7);
    ASSERT_EQ(mesh.positions.size(), 5u);
    EXPECT_EQ(mesh.positions[3], (Position{1.5f, -4.0f, 103.0f}));
    EXPECT_EQ(mesh.triangles, (std::vector<Triangle>{{0, 1, 2}, {4, 3, 2}}));
    EXPECT_EQ(mesh.facesOutside, 2);

    const MeshSummary summary = summarizeMesh(bytes.planned());
    EXPECT_EQ(summary.vertices, 5);
    EXPECT_EQ(summary.triangles, 2);
    EXPECT_EQ(summary.facesOutside, 2);
    EXPECT_FALSE(summary.index65535);
    EXPECT_EQ(summary.min, (Position{0.0f, -5.0f, 100.0f}));
    EXPECT_EQ(summary.max, (Position{2.0f, -1.0f, 104.0f}));
}

TEST(DecodeMesh, ZUpTurnsEachPositionSoThatYIsUp) {
    const MeshBytes bytes = mixedMesh();
    const DecodedMesh mesh = decodeMesh(bytes.planned(), UpAxis::z);
    ASSERT_EQ(mesh.positions.size(), 5u);
    EXPECT_EQ(mesh.positions[1], (Position{0.5f, 101.0f, 2.0f}));
    const MeshSummary summary = summarizeMesh(bytes.planned(), UpAxis::z);
    EXPECT_EQ(summary.min, (Position{0.0f, 100.0f, 1.0f}));
    EXPECT_EQ(summary.max, (Position{2.0f, 104.0f, 5.0f}));

    // A zero stays a positive zero.
    std::vector<std::uint8_t> zero;
    putVertex(zero, 1.0f, 0.0f, 2.0f);
    const DecodedMesh turned = decodeMesh({0, MeshSkip::none, zero, {}}, UpAxis::z);
    EXPECT_FALSE(std::signbit(turned.positions[0][2]));
}

TEST(DecodeMesh, Index65535IsFoundAndSkippedMeshesAreEmpty) {
    MeshBytes bytes;
    for (int i = 0; i < 65536; ++i) putVertex(bytes.vertices, 1.0f * i, 0.0f, 0.0f);
    // The index in each place of a face.
    for (const std::array<std::uint16_t, 3> face :
         {std::array<std::uint16_t, 3>{65535, 0, 1}, {0, 65535, 1}, {0, 1, 65535}}) {
        bytes.faces.clear();
        putFace(bytes.faces, face[0], face[1], face[2]);
        EXPECT_TRUE(summarizeMesh(bytes.planned()).index65535);
        EXPECT_FALSE(summarizeMesh(bytes.planned()).storedTriangles);
        EXPECT_EQ(decodeMesh(bytes.planned()).triangles.size(), 1u);
    }

    for (const MeshSkip skip : {MeshSkip::outside, MeshSkip::shared}) {
        const PlannedMesh skipped{3, skip, bytes.vertices, bytes.faces};
        EXPECT_TRUE(decodeMesh(skipped).positions.empty());
        EXPECT_EQ(summarizeMesh(skipped).vertices, 0);
    }
}

TEST(MeshPieces, PiecesJoinToTheWholeDecodedMesh) {
    const MeshBytes bytes = mixedMesh();
    const DecodedMesh whole = decodeMesh(bytes.planned(), UpAxis::z);
    for (const std::size_t limit : {1u, 2u, 3u, 5u, 100u}) {
        SCOPED_TRACE(limit);
        MeshPieces pieces(bytes.planned(), UpAxis::z, limit);
        std::vector<Position> positions, position_piece;
        while (pieces.nextPositions(position_piece)) {
            EXPECT_LE(position_piece.size(), limit);
            positions.insert(positions.end(), position_piece.begin(), position_piece.end());
        }
        std::vector<Triangle> triangles, triangle_piece;
        while (pieces.nextTriangles(triangle_piece)) {
            EXPECT_LE(triangle_piece.size(), limit);
            EXPECT_FALSE(triangle_piece.empty());
            triangles.insert(triangles.end(), triangle_piece.begin(), triangle_piece.end());
        }
        EXPECT_EQ(positions, whole.positions);
        EXPECT_EQ(triangles, whole.triangles);
    }
}

}  // namespace
}  // namespace v2bsp
