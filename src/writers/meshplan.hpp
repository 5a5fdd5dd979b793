// What a run writes: the plan, decided before anything is written.
//
// One PlannedMesh for each mesh-table entry that lies inside the file, each
// either with its two sections (views into the map image) or with the reason
// it is skipped. The writers and the 3D view consume the plan; none of them
// reads the map image otherwise.
//
// A vertex group is 12 bytes: x, y, z as little-endian singles. A face group
// is 6 bytes: three little-endian unsigned 16-bit indices into the same
// mesh's vertices, counted from 0. A section whose length is not a whole
// number of groups is read as its whole groups only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mapimage/mapimage.hpp"

namespace v2bsp {

inline constexpr std::size_t kVertexBytes = 12;
inline constexpr std::size_t kFaceBytes = 6;

// The whole groups of `section`: a trailing part too short for a group dropped.
inline ByteView wholeGroups(ByteView section, std::size_t group) {
    return section.first(section.size() / group * group);
}

enum class MeshSkip {
    none,
    outside,  // the mesh's raw data does not lie inside the file
    shared,   // the meshes share more data than the file holds
};

struct PlannedMesh {
    std::int64_t number = 0;  // its place in the mesh table, from 0
    MeshSkip skip = MeshSkip::none;
    ByteView vertices;  // the vertex section as found (empty when skipped)
    ByteView faces;     // the face section as found (empty when skipped)
};

struct MeshPlan {
    std::int64_t meshcount = 0;       // as the BSP header stores it
    std::vector<PlannedMesh> meshes;  // every entry inside the file, in table order
    // The meshes that are written (not skipped).
    std::int64_t writtenCount() const {
        return std::count_if(meshes.begin(), meshes.end(),
                             [](const PlannedMesh& mesh) { return mesh.skip == MeshSkip::none; });
    }
};

}  // namespace v2bsp
