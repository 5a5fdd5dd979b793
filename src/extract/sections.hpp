// The sections of a mesh: where its face and vertex data lie inside its raw
// data, found by a marker. Scanning the raw data at raw, raw + 4, raw + 8 ...
// for the marker's four bytes, the face section lies between the third and
// fourth hit and the vertex section between the seventh and eighth; a hit
// whose four bytes do not all lie inside the raw data does not count.
#pragma once

#include <cstdint>
#include <vector>

#include "mapimage/mapimage.hpp"

namespace v2bsp {

inline constexpr std::uint32_t kSectionMarker = 0x72737263;  // file bytes 63 72 73 72

// The positions of the section marker in `image`, one sorted list for each
// remainder of the position divided by 4. The marker's bytes 63 72 73 72
// cannot overlap themselves, so there are at most length / 4 of them. Made
// once a run, so that finding every mesh's sections is linear in the file's
// length whatever the raw ranges say. Throws std::bad_alloc.
struct MarkerIndex {
    std::vector<std::uint32_t> positions[4];
};
MarkerIndex findMarkers(ByteView image);

// Where the two sections of one mesh's raw data lie; all zero but what the
// hits found (fewer than four hits: no face section; fewer than eight: no
// vertex section). The raw data must lie inside the image the index was made of.
struct MeshSections {
    std::int64_t faceStart = 0, faceLength = 0;
    std::int64_t vertexStart = 0, vertexLength = 0;
};
MeshSections findSections(const MarkerIndex& markers, std::int64_t rawoffset, std::int64_t rawsize);

}  // namespace v2bsp
