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

// The mesh of `range` appended to `positions` and `indices`, its coarse
// triangles first; sets the range's coarseCount. One mesh's decoded form is
// held at a time, in buffers reused.
void appendMesh(LevelMeshRange& range, const MeshSummary& summary, ByteView stored, ByteView faces, bool asStored,
                std::uint32_t stride, LevelArray<float>& positions, LevelArray<std::uint16_t>& indices) {
    thread_local std::vector<Position> decoded;
    thread_local std::vector<Triangle> triangles;
    const std::size_t positionsAt = positions.size();
    if (kStoredOrder && summary.storedPositions && !stored.empty()) {
        positions.resize(positionsAt + stored.size() / sizeof(float));
        std::memcpy(positions.data() + positionsAt, stored.data(), stored.size());
    } else {
        decoded.clear();
        appendPositions(stored, UpAxis::y, decoded);
        for (const Position& p : decoded) positions.insert(positions.end(), p.begin(), p.end());
    }
    const std::size_t at = indices.size();
    indices.resize(at + range.indexCount);
    if (asStored) {
        range.coarseCount =
            copyCoarseFirst(faces.data(), static_cast<std::size_t>(summary.triangles), indices.data() + at, stride);
    } else {
        triangles.clear();
        appendTriangles(faces, static_cast<std::size_t>(summary.vertices), triangles);
        // A kept triangle names vertices of its own mesh, and the map's indices are 16-bit.
        std::uint16_t* out = indices.data() + at;
        for (const Triangle& t : triangles) {
            for (const std::uint32_t i : t) *out++ = static_cast<std::uint16_t>(i);
        }
        range.coarseCount = putCoarseFirst(std::span(indices).subspan(at, range.indexCount), stride);
    }
}

// Puts a mesh's coarse triangles into the level's coarse arrays, after the
// meshes before it; each vertex they use is copied once, numbered in the
// order it is first used.
class CoarseGathering {
public:
    CoarseGathering(LevelGeometry& level, LevelMeshRange& range) : level_(level), range_(range) {
        compact_.assign(range.vertexCount, kNone);
        range.coarseFirstIndex = static_cast<std::uint32_t>(level.coarseIndices.size());
        range.coarseBaseVertex = static_cast<std::uint32_t>(level.coarsePositions.size() / 3);
    }
    CoarseGathering(const CoarseGathering&) = delete;
    CoarseGathering& operator=(const CoarseGathering&) = delete;
    ~CoarseGathering() {
        range_.coarseCount = static_cast<std::uint32_t>(level_.coarseIndices.size() - range_.coarseFirstIndex);
        range_.coarseVertexCount = used_;
    }

    // `position(vertex, to)` writes the vertex's three coordinates to `to`;
    // it is asked only for a vertex not copied before.
    template <typename Position>
    void corner(std::uint16_t vertex, const Position& position) {
        if (compact_[vertex] == kNone) {
            compact_[vertex] = used_++;
            float p[3];
            position(vertex, p);
            level_.coarsePositions.insert(level_.coarsePositions.end(), p, p + 3);
        }
        level_.coarseIndices.push_back(static_cast<std::uint16_t>(compact_[vertex]));
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    // The coarse number of each vertex of the mesh, kNone for none yet; kept
    // by the thread, so that a mesh's gathering allocates nothing.
    static std::vector<std::uint32_t>& numbers() {
        thread_local std::vector<std::uint32_t> kept;
        return kept;
    }
    std::vector<std::uint32_t>& compact_ = numbers();
    LevelGeometry& level_;
    LevelMeshRange& range_;
    std::uint32_t used_ = 0;
};

// The coarse part of a mesh whose stored bytes serve as they are, read
// straight from them: the faces copyCoarseFirst would put first (every
// `stride`-th from the first) and the vertices they use, so that the rest of
// the mesh is never read.
void appendStoredCoarse(LevelGeometry& level, LevelMeshRange& range, ByteView stored, ByteView faces,
                        std::uint32_t stride) {
    CoarseGathering gathering(level, range);
    const auto position = [stored](std::uint16_t vertex, float* to) {
        std::memcpy(to, stored.data() + std::size_t{vertex} * kVertexBytes, 3 * sizeof(float));
    };
    const std::size_t triangles = faces.size() / kFaceBytes;
    for (std::size_t t = 0; t < triangles; t += stride) {
        std::uint16_t corners[3];
        std::memcpy(corners, faces.data() + t * kFaceBytes, sizeof corners);
        for (const std::uint16_t vertex : corners) gathering.corner(vertex, position);
    }
}

}  // namespace

// Each mesh's summary comes first: its counts size the arrays once and give
// the coarse stride, its bounds are the range's, and it says where the stored
// bytes serve as they are (singles that decode to themselves, every face
// kept), which is copied rather than decoded. Elsewhere one mesh's decoded
// form is held at a time, in buffers reused. Without the level's own arrays
// each mesh is decoded into those buffers alone: the coarse part is all that
// stays, a few megabytes in place of the whole level's fresh pages.
LevelGeometry levelGeometry(const MeshPlan& plan, const std::atomic<bool>* stop, LevelDecode decode) {
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
    const bool whole = decode == LevelDecode::whole || stride <= 1;
    level.arraysToCome = !whole;
    if (whole) {
        level.positions.reserve(vertices * 3);
        level.indices.reserve(static_cast<std::size_t>(kept) * 3);
    }
    if (stride > 1) {
        // At most one coarse triangle in `stride`, the first of each mesh
        // included, and three new vertices each; what is not used is never touched.
        const std::size_t coarse = (static_cast<std::size_t>(kept) / stride + summaries.size()) * 3;
        level.coarseIndices.reserve(coarse);
        level.coarsePositions.reserve(std::min(coarse, vertices) * 3);
    }
    LevelArray<float> meshPositions;
    LevelArray<std::uint16_t> meshIndices;
    LevelArray<float>& positionsTo = whole ? level.positions : meshPositions;
    LevelArray<std::uint16_t>& indicesTo = whole ? level.indices : meshIndices;
    bool bounded = false;         // level.min and level.max hold a position
    std::size_t next = 0;         // the summary of the next mesh written
    std::size_t indexTotal = 0;   // indices of the meshes before this one
    std::size_t vertexTotal = 0;  // vertices of the meshes before this one
    for (const PlannedMesh& planned : plan.meshes) {
        if (stop != nullptr && *stop) break;
        if (planned.skip != MeshSkip::none) continue;
        const MeshSummary& summary = summaries[next++];
        if (!whole) {
            meshPositions.clear();
            meshIndices.clear();
        }
        LevelMeshRange range;
        range.number = planned.number;
        range.firstIndex = static_cast<std::uint32_t>(indexTotal);
        range.indexCount = static_cast<std::uint32_t>(summary.triangles * 3);
        range.vertexCount = static_cast<std::uint32_t>(summary.vertices);
        range.baseVertex = static_cast<std::uint32_t>(vertexTotal);
        std::copy(summary.min.begin(), summary.min.end(), range.min);
        std::copy(summary.max.begin(), summary.max.end(), range.max);
        const ByteView stored = wholeGroups(planned.vertices, kVertexBytes);
        const ByteView faces = wholeGroups(planned.faces, kFaceBytes);
        const bool asStored = kStoredOrder && faces.size() / kFaceBytes == static_cast<std::size_t>(summary.triangles);
        if (!whole && asStored && summary.storedPositions) {
            appendStoredCoarse(level, range, stored, faces, stride);
        } else {
            const std::size_t positionsAt = positionsTo.size(), indicesAt = indicesTo.size();
            appendMesh(range, summary, stored, faces, asStored, stride, positionsTo, indicesTo);
            if (stride > 1) {
                appendCoarse(level, range, std::span<const float>(positionsTo).subspan(positionsAt),
                             std::span<const std::uint16_t>(indicesTo).subspan(indicesAt));
            }
        }
        indexTotal += range.indexCount;
        vertexTotal += range.vertexCount;

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

void appendCoarse(LevelGeometry& level, LevelMeshRange& range) {
    appendCoarse(level, range, std::span<const float>(level.positions).subspan(std::size_t{range.baseVertex} * 3),
                 std::span<const std::uint16_t>(level.indices).subspan(range.firstIndex));
}

// The mesh's positions are at hand, just made, when its coarse vertices are
// copied.
void appendCoarse(LevelGeometry& level, LevelMeshRange& range, std::span<const float> positions,
                  std::span<const std::uint16_t> indices) {
    const std::uint32_t count = range.coarseCount;
    CoarseGathering gathering(level, range);
    const auto position = [positions](std::uint16_t vertex, float* to) {
        std::copy_n(positions.data() + std::size_t{vertex} * 3, 3, to);
    };
    for (std::uint32_t i = 0; i < count; ++i) gathering.corner(indices[i], position);
}

bool rangesFit(const std::vector<LevelMeshRange>& ranges, const LevelGeometry& level) {
    const std::size_t vertices = level.positions.size() / 3, coarseVertices = level.coarsePositions.size() / 3;
    const bool coarse = !level.coarseIndices.empty(), arrays = !level.arraysToCome;
    return std::all_of(ranges.begin(), ranges.end(), [&](const LevelMeshRange& range) {
        return range.coarseCount <= range.indexCount &&
               (!arrays || (range.firstIndex <= level.indices.size() &&
                            range.indexCount <= level.indices.size() - range.firstIndex &&
                            range.baseVertex <= vertices && range.vertexCount <= vertices - range.baseVertex)) &&
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
