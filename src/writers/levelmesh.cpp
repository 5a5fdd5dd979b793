#include "writers/levelmesh.hpp"

#include <algorithm>
#include <limits>

#include "mapimage/floatdecode.hpp"
#include "mapimage/portable.hpp"

namespace v2bsp {
namespace {

Position positionAt(const std::uint8_t* p, UpAxis up) {
    const float x = decodePosition(loadu32le(p));
    const float y = decodePosition(loadu32le(p + 4));
    const float z = decodePosition(loadu32le(p + 8));
    // 0 - y rather than -y: a zero stays a positive zero.
    if (up == UpAxis::z) return {x, z, 0.0f - y};
    return {x, y, z};
}

enum class Face { kept, degenerate, outside };

Face faceAt(const std::uint8_t* p, std::size_t vertexCount, Triangle& triangle) {
    triangle = {loadu16le(p), loadu16le(p + 2), loadu16le(p + 4)};
    const auto [a, b, c] = triangle;
    if (a == b || a == c || b == c) return Face::degenerate;
    if (a >= vertexCount || b >= vertexCount || c >= vertexCount) return Face::outside;
    return Face::kept;
}

}  // namespace

float decodePosition(std::uint32_t bits) {
    // For the exponent fields 1 to 254 the stored decoding is the single
    // itself to 15 significant digits, which rounds back to that single.
    const std::uint32_t exponent = bits >> 23 & 0xFF;
    if (exponent != 0 && exponent != 255) return bitCast<float>(bits);
    const double value = decodeFloat(bits);
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (value > kLargest) return std::numeric_limits<float>::max();
    if (value < -kLargest) return -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

void appendPositions(ByteView section, UpAxis up, std::vector<Position>& out) {
    const ByteView groups = wholeGroups(section, kVertexBytes);
    out.reserve(out.size() + groups.size() / kVertexBytes);
    for (std::size_t at = 0; at < groups.size(); at += kVertexBytes) out.push_back(positionAt(groups.data() + at, up));
}

std::int64_t appendTriangles(ByteView section, std::size_t vertexCount, std::vector<Triangle>& out) {
    const ByteView groups = wholeGroups(section, kFaceBytes);
    std::int64_t outside = 0;
    Triangle triangle;
    for (std::size_t at = 0; at < groups.size(); at += kFaceBytes) {
        switch (faceAt(groups.data() + at, vertexCount, triangle)) {
            case Face::kept:
                out.push_back(triangle);
                break;
            case Face::outside:
                ++outside;
                break;
            case Face::degenerate:
                break;
        }
    }
    return outside;
}

DecodedMesh decodeMesh(const PlannedMesh& mesh, UpAxis up) {
    DecodedMesh decoded;
    decoded.number = mesh.number;
    if (mesh.skip != MeshSkip::none) return decoded;
    appendPositions(mesh.vertices, up, decoded.positions);
    decoded.facesOutside = appendTriangles(mesh.faces, decoded.positions.size(), decoded.triangles);
    return decoded;
}

namespace {

// Whether every value of `vertices` (whole groups) is its own position: up is
// Y and each stored single decodes to itself, as one with an exponent field
// from 1 to 254 or a positive zero does. Sets the bounds when it is.
bool storedPositionBounds(ByteView vertices, MeshSummary& summary) {
    const std::uint8_t* const data = vertices.data();
    const std::size_t count = vertices.size() / kVertexBytes;
    if (count == 0) return true;
    // Four vertices at a time, as twelve values in a row whose axes repeat
    // x y z x y z ...: each of the twelve places keeps its own bounds and
    // test, which the compiler can do side by side, and the places of one
    // axis are joined at the end.
    constexpr std::size_t kBlock = 12;
    std::array<float, kBlock> low{}, high{};
    std::array<std::uint32_t, kBlock> stored{};
    for (std::size_t k = 0; k < kBlock; ++k) {
        low[k] = high[k] = bitCast<float>(loadu32le(data + 4 * (k % 3)));
        stored[k] = 1;
    }
    const auto take = [&](const std::uint8_t* values, std::size_t k) {
        const std::uint32_t bits = loadu32le(values + 4 * k);
        stored[k] &=
            static_cast<std::uint32_t>((bits >> 23 & 0xFF) - 1u < 254u) | static_cast<std::uint32_t>(bits == 0);
        const float value = bitCast<float>(bits);
        low[k] = value < low[k] ? value : low[k];
        high[k] = value > high[k] ? value : high[k];
    };
    const std::size_t blocks = count / 4;
    for (std::size_t block = 0; block < blocks; ++block) {
        const std::uint8_t* values = data + block * 4 * kVertexBytes;
        for (std::size_t k = 0; k < kBlock; ++k) take(values, k);
    }
    // The last vertices fill the first places of a block.
    const std::uint8_t* rest = data + blocks * 4 * kVertexBytes;
    for (std::size_t k = 0; k < (count % 4) * 3; ++k) take(rest, k);
    bool allStored = true;
    for (std::size_t k = 0; k < kBlock; ++k) {
        allStored &= stored[k] != 0;
        const std::size_t axis = k % 3;
        summary.min[axis] = k < 3 || low[k] < summary.min[axis] ? low[k] : summary.min[axis];
        summary.max[axis] = k < 3 || high[k] > summary.max[axis] ? high[k] : summary.max[axis];
    }
    if (!allStored) summary.min = summary.max = Position{0, 0, 0};
    return allStored;
}

}  // namespace

MeshSummary summarizeMesh(const PlannedMesh& mesh, UpAxis up) {
    MeshSummary summary;
    summary.number = mesh.number;
    if (mesh.skip != MeshSkip::none) return summary;
    const ByteView vertices = wholeGroups(mesh.vertices, kVertexBytes);
    const std::size_t vertexCount = vertices.size() / kVertexBytes;
    summary.vertices = static_cast<std::int64_t>(vertexCount);
    summary.storedPositions = up == UpAxis::y && storedPositionBounds(vertices, summary);
    if (!summary.storedPositions) {
        for (std::size_t at = 0; at < vertices.size(); at += kVertexBytes) {
            const Position position = positionAt(vertices.data() + at, up);
            for (int axis = 0; axis < 3; ++axis) {
                if (at == 0 || position[axis] < summary.min[axis]) summary.min[axis] = position[axis];
                if (at == 0 || position[axis] > summary.max[axis]) summary.max[axis] = position[axis];
            }
        }
    }
    const ByteView faces = wholeGroups(mesh.faces, kFaceBytes);
    Triangle triangle;
    for (std::size_t at = 0; at < faces.size(); at += kFaceBytes) {
        switch (faceAt(faces.data() + at, vertexCount, triangle)) {
            case Face::kept:
                ++summary.triangles;
                summary.index65535 |= triangle[0] == 65535 || triangle[1] == 65535 || triangle[2] == 65535;
                break;
            case Face::outside:
                ++summary.facesOutside;
                break;
            case Face::degenerate:
                break;
        }
    }
    summary.storedTriangles =
        !summary.index65535 && summary.triangles == static_cast<std::int64_t>(faces.size() / kFaceBytes);
    return summary;
}

MeshPieces::MeshPieces(const PlannedMesh& mesh, UpAxis up, std::size_t limit)
    : vertices_(mesh.skip == MeshSkip::none ? wholeGroups(mesh.vertices, kVertexBytes) : ByteView{}),
      faces_(mesh.skip == MeshSkip::none ? wholeGroups(mesh.faces, kFaceBytes) : ByteView{}),
      vertexCount_(vertices_.size() / kVertexBytes),
      up_(up),
      limit_(std::max<std::size_t>(limit, 1)) {}

bool MeshPieces::nextPositions(std::vector<Position>& piece) {
    piece.clear();
    const std::size_t take = std::min(vertices_.size(), limit_ * kVertexBytes);
    appendPositions(vertices_.first(take), up_, piece);
    vertices_ = vertices_.subspan(take);
    return !piece.empty();
}

bool MeshPieces::nextTriangles(std::vector<Triangle>& piece) {
    piece.clear();
    // Faces are taken until the piece is full: dropped faces take no room.
    while (piece.size() < limit_ && !faces_.empty()) {
        const std::size_t room = limit_ - piece.size();
        const std::size_t take = std::min(faces_.size(), room * kFaceBytes);
        appendTriangles(faces_.first(take), vertexCount_, piece);
        faces_ = faces_.subspan(take);
    }
    return !piece.empty();
}

}  // namespace v2bsp
