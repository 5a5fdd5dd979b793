// The tests' own reader of a map, written from the documented layout and
// independent of the builder: header -> index -> rows -> names -> scenario ->
// BSP -> mesh table -> raw data -> markers -> sections.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mapbuilder/mapbuilder.hpp"

namespace readback {

using Bytes = std::span<const std::uint8_t>;

struct Entry {
    std::int64_t entry = 0;
    std::int64_t raw = 0;
    std::int64_t rawsize = 0;
};

// What was read. Reading stops at the first field that does not lie inside
// the file (or is not plausible); `failedfield` names it, empty when all went well.
struct Map {
    std::string failedfield;
    std::int64_t failedoffset = 0;

    std::string mapname;
    std::int64_t indexoffset = 0, indexlength = 0;
    std::int64_t indexmagic = 0, metamagic = 0;
    std::int64_t classcount = 0, tagindexstart = 0, tagcount = 0, tagindexend = 0;
    std::int64_t nametable = 0;
    std::vector<std::uint32_t> classcodes;   // one per row
    std::vector<std::string> names;          // one per row
    std::vector<std::int64_t> scenariorows;  // every position that reads as scnr in any case
    std::int64_t scenariodata = 0, bspblock = 0, bspoffset = 0, bspmagic = 0;
    std::int64_t meshcount = 0, meshtable = 0;
    std::vector<Entry> entries;  // those inside the file

    bool ok() const { return failedfield.empty(); }
};

Map readMap(Bytes bytes);

// `count` zero-terminated names from `offset`; false when one runs past the end.
bool readNames(Bytes bytes, std::int64_t offset, std::int64_t count, std::vector<std::string>& names);

// Marker positions at raw + 4i up to raw + rawsize - 5, among those whose
// four bytes lie inside the file.
std::vector<std::int64_t> markerHits(Bytes bytes, std::int64_t raw, std::int64_t rawsize);

// The mesh between hits 3 and 4 (faces) and 7 and 8 (vertices). The face
// section must hold whole triangles plus at most 2 zero bytes, the vertex
// section whole vertices; otherwise `ok` is false.
struct DecodedMesh {
    bool ok = false;
    v2bsp::mapbuilder::Mesh mesh;
};
DecodedMesh decodeMesh(Bytes bytes, const Entry& entry);

std::uint32_t u32(Bytes bytes, std::int64_t offset);  // unchecked

}  // namespace readback
