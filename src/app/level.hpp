// The level as the 3D View draws and lists it: one array of positions and
// one of triangles, split into meshes by index ranges; each mesh's colour;
// the rows of the View's mesh list.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/matrix.hpp"
#include "app/texts.hpp"
#include "platform/bulkmemory.hpp"
#include "writers/meshplan.hpp"

namespace v2bsp::app {

// One mesh's part of a LevelGeometry.
struct LevelMeshRange {
    std::int64_t number = 0;        // the mesh's number in the map; chooses its colour
    std::uint32_t firstIndex = 0;   // into LevelGeometry::indices
    std::uint32_t indexCount = 0;   // three per triangle
    std::uint32_t coarseCount = 0;  // of those, the first ones drawn while the camera moves
    std::uint32_t vertexCount = 0;
    std::uint32_t baseVertex = 0;  // the mesh's first vertex in positions; its indices count from it
    float min[3] = {0, 0, 0};      // bounds of its vertices, as stored
    float max[3] = {0, 0, 0};
    // Where the level has the cheap picture's own arrays, the coarse
    // triangles there: coarseCount indices from coarseFirstIndex, counted
    // from coarseBaseVertex, over coarseVertexCount vertices.
    std::uint32_t coarseFirstIndex = 0;
    std::uint32_t coarseBaseVertex = 0;
    std::uint32_t coarseVertexCount = 0;
};

// The level's large arrays are filled as soon as they are sized: their memory
// is not zeroed first, and a large one is offered huge pages.
template <typename T>
using LevelArray = std::vector<T, BulkAllocator<T>>;

struct LevelGeometry {
    LevelArray<float> positions;  // x, y, z per vertex, as stored (Y up)
    // Three per triangle, each counted from its mesh's baseVertex: the map's
    // indices are 16-bit, and half the bytes of 32-bit ones are half the
    // memory and the fetching.
    LevelArray<std::uint16_t> indices;
    // The coarse triangles again with only the vertices they use, so that the
    // cheap picture can be drawn, and uploaded, on its own: empty where the
    // level draws them from the arrays above.
    LevelArray<float> coarsePositions;
    LevelArray<std::uint16_t> coarseIndices;
    std::vector<LevelMeshRange> meshes;
    Vec3 min, max;  // bounds of every position; zero when there is none
    // Only the meshes' ranges, the bounds and the coarse arrays: positions
    // and indices are empty and come later (LevelDecode::firstPicture).
    bool arraysToCome = false;
};

// Appends the coarse triangles of `range` (a mesh of `level`) and the
// vertices they use to the level's coarse arrays, and says where in the range.
void appendCoarse(LevelGeometry& level, LevelMeshRange& range);
// The same from the mesh's own `positions` (x, y, z per vertex, from its
// first) and `indices` (from its first, coarse ones first), which must hold
// the range's vertexCount vertices and coarseCount indices.
void appendCoarse(LevelGeometry& level, LevelMeshRange& range, std::span<const float> positions,
                  std::span<const std::uint16_t> indices);

// Gives the level given to the renderer again, for a new GL context.
using LevelSource = std::function<LevelGeometry()>;

// What levelGeometry decodes of a level that has coarse arrays; one without
// them is decoded whole either way.
enum class LevelDecode {
    whole,         // every array
    firstPicture,  // what the cheap picture, the list and the status line need: no positions, no indices
};

// The geometry of the meshes `plan` writes, decoded as stored (Y up), each
// mesh's triangles in the order that draws a large level cheaply while the
// camera moves (putCoarseFirst), and for a large level the coarse arrays;
// the ranges, bounds and coarse arrays are the same whatever `decode` says.
// Ends early, with what it has, when `stop` turns true. The plan's views
// must stay valid meanwhile.
LevelGeometry levelGeometry(const MeshPlan& plan, const std::atomic<bool>* stop = nullptr,
                            LevelDecode decode = LevelDecode::whole);

// Whether every range of `ranges` lies inside the data of `level` (its
// coarse ranges inside the coarse arrays, where there are any), so that no
// draw reads past its buffers.
bool rangesFit(const std::vector<LevelMeshRange>& ranges, const LevelGeometry& level);

struct Rgb {
    float red = 0, green = 0, blue = 0;  // 0 to 1
    bool operator==(const Rgb&) const = default;
};

// The colour of mesh `number`: the same for a number in every run, and far
// apart in hue for neighbouring numbers (hue steps by the golden ratio;
// saturation 0.6, value 0.95).
Rgb meshColour(std::int64_t number);
// Its hue, 0 to 1.
double meshHue(std::int64_t number);

// The counts the 3D View's status line gives of a level.
LevelCounts levelCounts(const LevelGeometry& level);

// One row of the 3D View's mesh list.
struct MeshRow {
    std::int64_t number = 0;
    std::string name;       // "mesh<N>"
    std::string vertices;   // grouped by the separator
    std::string triangles;  // grouped by the separator
    Rgb colour;
};

// A row for each range of `level`, in its order.
std::vector<MeshRow> meshRows(const LevelGeometry& level, std::string_view separator);

}  // namespace v2bsp::app
