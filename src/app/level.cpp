#include "app/level.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "app/framing.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp::app {

// The arrays are sized once from the sections' lengths (12 bytes a vertex, 6
// a face), and one mesh's decoded form is held at a time, in buffers reused.
LevelGeometry levelGeometry(const MeshPlan& plan, const std::atomic<bool>* stop) {
    LevelGeometry level;
    std::size_t vertices = 0, faces = 0;
    for (const PlannedMesh& planned : plan.meshes) {
        if (planned.skip != MeshSkip::none) continue;
        vertices += planned.vertices.size() / kVertexBytes;
        faces += planned.faces.size() / kFaceBytes;
    }
    level.positions.reserve(vertices * 3);
    level.indices.reserve(faces * 3);
    std::vector<Position> positions;
    std::vector<Triangle> triangles;
    bool bounded = false;  // level.min and level.max hold a position
    for (const PlannedMesh& planned : plan.meshes) {
        if (stop != nullptr && *stop) break;
        if (planned.skip != MeshSkip::none) continue;
        positions.clear();
        triangles.clear();
        appendPositions(planned.vertices, UpAxis::y, positions);
        appendTriangles(planned.faces, positions.size(), triangles);
        LevelMeshRange range;
        range.number = planned.number;
        range.firstIndex = static_cast<std::uint32_t>(level.indices.size());
        range.indexCount = static_cast<std::uint32_t>(triangles.size() * 3);
        range.vertexCount = static_cast<std::uint32_t>(positions.size());
        range.baseVertex = static_cast<std::uint32_t>(level.positions.size() / 3);
        for (std::size_t axis = 0; axis < 3 && !positions.empty(); ++axis) {
            range.min[axis] = range.max[axis] = positions.front()[axis];
        }
        for (const Position& p : positions) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                range.min[axis] = std::min(range.min[axis], p[axis]);
                range.max[axis] = std::max(range.max[axis], p[axis]);
            }
            level.positions.insert(level.positions.end(), p.begin(), p.end());
        }
        for (const Triangle& t : triangles) {
            // A kept triangle names vertices of its own mesh, and the map's indices are 16-bit.
            for (const std::uint32_t i : t) level.indices.push_back(static_cast<std::uint16_t>(i));
        }
        if (range.vertexCount > 0) {
            const Vec3 low{range.min[0], range.min[1], range.min[2]};
            const Vec3 high{range.max[0], range.max[1], range.max[2]};
            level.min = bounded ? lowest(level.min, low) : low;
            level.max = bounded ? highest(level.max, high) : high;
            bounded = true;
        }
        level.meshes.push_back(range);
    }
    std::int64_t kept = 0;
    for (const LevelMeshRange& range : level.meshes) kept += range.indexCount / 3;
    const std::uint32_t stride = coarseStride(kept);
    for (LevelMeshRange& range : level.meshes) {
        range.coarseCount =
            putCoarseFirst(std::span(level.indices).subspan(range.firstIndex, range.indexCount), stride);
    }
    return level;
}

bool rangesFit(const std::vector<LevelMeshRange>& ranges, const LevelGeometry& level) {
    const std::size_t vertices = level.positions.size() / 3;
    return std::all_of(ranges.begin(), ranges.end(), [&](const LevelMeshRange& range) {
        return range.firstIndex <= level.indices.size() &&
               range.indexCount <= level.indices.size() - range.firstIndex && range.coarseCount <= range.indexCount &&
               range.baseVertex <= vertices && range.vertexCount <= vertices - range.baseVertex;
    });
}

double meshHue(std::int64_t number) {
    constexpr double kGolden = 0.6180339887498949;
    return std::fmod(0.05 + static_cast<double>(number) * kGolden, 1.0);
}

Rgb meshColour(std::int64_t number) {
    constexpr float kSaturation = 0.6f, kValue = 0.95f;
    const double sector = meshHue(number) * 6;
    const int i = static_cast<int>(sector) % 6;
    const auto f = static_cast<float>(sector - std::floor(sector));
    const float p = kValue * (1 - kSaturation);
    const float q = kValue * (1 - kSaturation * f);
    const float t = kValue * (1 - kSaturation * (1 - f));
    switch (i) {
        case 0:
            return {kValue, t, p};
        case 1:
            return {q, kValue, p};
        case 2:
            return {p, kValue, t};
        case 3:
            return {p, q, kValue};
        case 4:
            return {t, p, kValue};
        default:
            return {kValue, p, q};
    }
}

LevelCounts levelCounts(const LevelGeometry& level) {
    LevelCounts counts;
    counts.meshes = static_cast<std::int64_t>(level.meshes.size());
    for (const LevelMeshRange& range : level.meshes) {
        counts.vertices += range.vertexCount;
        counts.triangles += range.indexCount / 3;
    }
    return counts;
}

std::vector<MeshRow> meshRows(const LevelGeometry& level, std::string_view separator) {
    std::vector<MeshRow> rows;
    rows.reserve(level.meshes.size());
    for (const LevelMeshRange& range : level.meshes) {
        rows.push_back({range.number, "mesh" + std::to_string(range.number), grouped(range.vertexCount, separator),
                        grouped(range.indexCount / 3, separator), meshColour(range.number)});
    }
    return rows;
}

}  // namespace v2bsp::app
