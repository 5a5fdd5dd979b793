#include "app/level.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <span>

#include "app/framing.hpp"
#include "writers/levelmesh.hpp"

namespace v2bsp::app {

namespace {

// The map's numbers are little-endian: on such a machine its stored singles
// and indices are the arrays' bytes.
constexpr bool kStoredOrder = std::endian::native == std::endian::little;

}  // namespace

// Each mesh's summary comes first: its counts size the arrays once and give
// the coarse stride, its bounds are the range's, and it says where the stored
// bytes serve as they are (singles that decode to themselves, every face
// kept), which is copied rather than decoded. Elsewhere one mesh's decoded
// form is held at a time, in buffers reused.
LevelGeometry levelGeometry(const MeshPlan& plan, const std::atomic<bool>* stop) {
    LevelGeometry level;
    std::vector<MeshSummary> summaries;
    std::size_t vertices = 0;
    std::int64_t kept = 0;
    for (const PlannedMesh& planned : plan.meshes) {
        if (stop != nullptr && *stop) return level;
        if (planned.skip != MeshSkip::none) continue;
        summaries.push_back(summarizeMesh(planned, UpAxis::y));
        vertices += static_cast<std::size_t>(summaries.back().vertices);
        kept += summaries.back().triangles;
    }
    const std::uint32_t stride = coarseStride(kept);
    level.positions.reserve(vertices * 3);
    level.indices.reserve(static_cast<std::size_t>(kept) * 3);
    if (stride > 1) {
        // At most one coarse triangle in `stride`, the first of each mesh
        // included, and three new vertices each; what is not used is never touched.
        const std::size_t coarse = (static_cast<std::size_t>(kept) / stride + summaries.size()) * 3;
        level.coarseIndices.reserve(coarse);
        level.coarsePositions.reserve(std::min(coarse, vertices) * 3);
    }
    std::vector<Position> positions;
    std::vector<Triangle> triangles;
    bool bounded = false;  // level.min and level.max hold a position
    std::size_t next = 0;  // the summary of the next mesh written
    for (const PlannedMesh& planned : plan.meshes) {
        if (stop != nullptr && *stop) break;
        if (planned.skip != MeshSkip::none) continue;
        const MeshSummary& summary = summaries[next++];
        LevelMeshRange range;
        range.number = planned.number;
        range.firstIndex = static_cast<std::uint32_t>(level.indices.size());
        range.indexCount = static_cast<std::uint32_t>(summary.triangles * 3);
        range.vertexCount = static_cast<std::uint32_t>(summary.vertices);
        range.baseVertex = static_cast<std::uint32_t>(level.positions.size() / 3);
        std::copy(summary.min.begin(), summary.min.end(), range.min);
        std::copy(summary.max.begin(), summary.max.end(), range.max);

        const ByteView stored = wholeGroups(planned.vertices, kVertexBytes);
        if (kStoredOrder && summary.storedPositions && !stored.empty()) {
            const std::size_t at = level.positions.size();
            level.positions.resize(at + stored.size() / sizeof(float));
            std::memcpy(level.positions.data() + at, stored.data(), stored.size());
        } else {
            positions.clear();
            appendPositions(stored, UpAxis::y, positions);
            for (const Position& p : positions) level.positions.insert(level.positions.end(), p.begin(), p.end());
        }

        const ByteView faces = wholeGroups(planned.faces, kFaceBytes);
        const std::size_t at = level.indices.size();
        level.indices.resize(at + range.indexCount);
        if (kStoredOrder && faces.size() / kFaceBytes == static_cast<std::size_t>(summary.triangles)) {
            range.coarseCount = copyCoarseFirst(faces.data(), static_cast<std::size_t>(summary.triangles),
                                                level.indices.data() + at, stride);
        } else {
            triangles.clear();
            appendTriangles(faces, static_cast<std::size_t>(summary.vertices), triangles);
            // A kept triangle names vertices of its own mesh, and the map's indices are 16-bit.
            std::uint16_t* out = level.indices.data() + at;
            for (const Triangle& t : triangles) {
                for (const std::uint32_t i : t) *out++ = static_cast<std::uint16_t>(i);
            }
            range.coarseCount = putCoarseFirst(std::span(level.indices).subspan(at, range.indexCount), stride);
        }
        if (stride > 1) appendCoarse(level, range);

        if (range.vertexCount > 0) {
            const Vec3 low{range.min[0], range.min[1], range.min[2]};
            const Vec3 high{range.max[0], range.max[1], range.max[2]};
            level.min = bounded ? lowest(level.min, low) : low;
            level.max = bounded ? highest(level.max, high) : high;
            bounded = true;
        }
        level.meshes.push_back(range);
    }
    return level;
}

// The mesh's positions are at hand, just made, when its coarse vertices are
// copied; a vertex used by several coarse triangles is copied once.
void appendCoarse(LevelGeometry& level, LevelMeshRange& range) {
    constexpr std::uint32_t kNone = 0xFFFFFFFF;
    thread_local std::vector<std::uint32_t> compact;
    compact.assign(range.vertexCount, kNone);
    range.coarseFirstIndex = static_cast<std::uint32_t>(level.coarseIndices.size());
    range.coarseBaseVertex = static_cast<std::uint32_t>(level.coarsePositions.size() / 3);
    std::uint32_t used = 0;
    for (std::uint32_t i = 0; i < range.coarseCount; ++i) {
        const std::uint16_t vertex = level.indices[range.firstIndex + i];
        if (compact[vertex] == kNone) {
            compact[vertex] = used++;
            const float* p = level.positions.data() + (std::size_t{range.baseVertex} + vertex) * 3;
            level.coarsePositions.insert(level.coarsePositions.end(), p, p + 3);
        }
        level.coarseIndices.push_back(static_cast<std::uint16_t>(compact[vertex]));
    }
    range.coarseVertexCount = used;
}

bool rangesFit(const std::vector<LevelMeshRange>& ranges, const LevelGeometry& level) {
    const std::size_t vertices = level.positions.size() / 3, coarseVertices = level.coarsePositions.size() / 3;
    const bool coarse = !level.coarseIndices.empty();
    return std::all_of(ranges.begin(), ranges.end(), [&](const LevelMeshRange& range) {
        return range.firstIndex <= level.indices.size() &&
               range.indexCount <= level.indices.size() - range.firstIndex && range.coarseCount <= range.indexCount &&
               range.baseVertex <= vertices && range.vertexCount <= vertices - range.baseVertex &&
               (!coarse || (range.coarseFirstIndex <= level.coarseIndices.size() &&
                            range.coarseCount <= level.coarseIndices.size() - range.coarseFirstIndex &&
                            range.coarseBaseVertex <= coarseVertices &&
                            range.coarseVertexCount <= coarseVertices - range.coarseBaseVertex));
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
