// What an extraction read, row by row, taken from its image and its plan:
// the tag rows and the mesh-table rows that the product reads once and does
// not keep.
#pragma once

#include <cstdint>
#include <string>

#include "extract/extraction.hpp"
#include "reference/hexread.hpp"

namespace v2bsp::fixtures {

struct TagRow {
    std::string tagclass;
    std::uint32_t tagid = 0;
    std::int64_t tagoffset = 0;  // the data address less metamagic
    std::uint32_t tagsize = 0;
};

inline TagRow tagrow(const MapExtraction& extraction, std::int64_t tag) {
    const ByteView image(extraction.mapbytes);
    const std::int64_t row = extraction.tagindexstart + tag * 16;
    return {readfourcc(image, row, true), readu32(image, row + 4, true),
            readu32(image, row + 8, true) - extraction.metamagic, readu32(image, row + 12, true)};
}

struct MeshRow {
    std::int64_t meshrawoffset = 0, meshrawsize = 0;
    std::int64_t meshfacestart = 0, meshfacelength = 0;
    std::int64_t meshvertexstart = 0, meshvertexlength = 0;
};

// Mesh `m`'s raw range from its table entry, and its sections as planned
// (zero for a skipped mesh).
inline MeshRow meshrow(const MapExtraction& extraction, std::int64_t m) {
    const ByteView image(extraction.mapbytes);
    const std::int64_t table =
        extraction.bspoffset + readu32(image, extraction.bspoffset + 176, true) - extraction.bspmagic;
    const std::int64_t entry = table + m * 176;
    const PlannedMesh& mesh = extraction.plan.meshes.at(static_cast<std::size_t>(m));
    const auto start = [&](ByteView section) {
        return section.data() == nullptr ? 0 : section.data() - extraction.mapbytes.data();
    };
    return {readu32(image, entry + 40, true),
            readu32(image, entry + 44, true),
            start(mesh.faces),
            static_cast<std::int64_t>(mesh.faces.size()),
            start(mesh.vertices),
            static_cast<std::int64_t>(mesh.vertices.size())};
}

}  // namespace v2bsp::fixtures
