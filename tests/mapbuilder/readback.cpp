#include "mapimage/portable.hpp"
#include "readback.hpp"

#include <bit>

namespace readback {
namespace {

constexpr std::uint32_t kMarker = 0x72737263;

bool inside(Bytes bytes, std::int64_t offset, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    return offset >= 0 && length >= 0 && offset <= size && size - offset >= length;
}

class Walk {
public:
    Walk(Bytes bytes, Map& map) : bytes_(bytes), map_(map) {}

    // False (and the failure recorded) when the four bytes are not inside.
    bool read(std::int64_t offset, std::string_view field, std::int64_t& value) {
        if (!fits(offset, 4, field)) return false;
        value = u32(bytes_, offset);
        return true;
    }
    bool fits(std::int64_t offset, std::int64_t length, std::string_view field) {
        if (inside(bytes_, offset, length)) return true;
        return fail(offset, field);
    }
    bool fail(std::int64_t offset, std::string_view field) {
        map_.failedfield = field;
        map_.failedoffset = offset;
        return false;
    }

private:
    Bytes bytes_;
    Map& map_;
};

bool isScenarioCode(Bytes bytes, std::int64_t offset) {
    static constexpr char kStored[] = {'r', 'n', 'c', 's'};
    for (std::int64_t i = 0; i < 4; ++i) {
        auto c = static_cast<char>(bytes[static_cast<std::size_t>(offset + i)]);
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        if (c != kStored[i]) return false;
    }
    return true;
}

bool readHeaderAndIndex(Bytes bytes, Map& m, Walk& walk) {
    if (!walk.fits(408, 33, "map name")) return false;
    for (std::size_t i = 408; i <= 440; ++i) {
        if (bytes[i] != 0) m.mapname.push_back(static_cast<char>(bytes[i]));
    }
    std::int64_t classtable_address = 0, first_row_address = 0, first_data_address = 0;
    if (!walk.read(16, "indexoffset", m.indexoffset) || !walk.read(20, "index length", m.indexlength) ||
        !walk.read(m.indexoffset, "class table address", classtable_address) ||
        !walk.read(m.indexoffset + 8, "first row address", first_row_address))
        return false;
    m.indexmagic = classtable_address - (m.indexoffset + 32);
    if (!walk.read(first_row_address - m.indexmagic + 8, "first tag address", first_data_address)) return false;
    m.metamagic = first_data_address - (m.indexoffset + m.indexlength);
    if (!walk.read(m.indexoffset + 4, "classcount", m.classcount) ||
        !walk.read(m.indexoffset + 24, "tagcount", m.tagcount))
        return false;
    if (m.classcount > 2730) return walk.fail(m.indexoffset + 4, "classcount");
    m.tagindexstart = m.indexoffset + 32 + 12 * m.classcount;
    m.tagindexend = m.tagindexstart + 16 * m.tagcount;
    // The row just after the index is read too.
    if (m.tagcount >= static_cast<std::int64_t>(bytes.size()) / 16 ||
        !walk.fits(m.tagindexstart, 16 * (m.tagcount + 1), "tag index"))
        return walk.fail(m.tagindexstart, "tag index");
    for (std::int64_t r = 0; r < m.tagcount; ++r) m.classcodes.push_back(u32(bytes, m.tagindexstart + 16 * r));
    if (!walk.read(708, "name table offset", m.nametable)) return false;
    if (!readNames(bytes, m.nametable, m.tagcount, m.names)) return walk.fail(m.nametable, "name table");
    return true;
}

bool readScenarioAndBsp(Bytes bytes, Map& m, Walk& walk) {
    for (std::int64_t p = m.tagindexstart; p <= m.tagindexend; p += 4) {
        if (isScenarioCode(bytes, p)) m.scenariorows.push_back(p);
    }
    if (m.scenariorows.empty()) return walk.fail(m.tagindexstart, "scenario row");
    std::int64_t address = 0;
    if (!walk.read(m.scenariorows.back() + 8, "scenario address", address)) return false;
    m.scenariodata = address - m.metamagic;
    if (!walk.read(m.scenariodata + 532, "BSP block address", address)) return false;
    m.bspblock = address - m.metamagic;
    if (!walk.read(m.bspblock, "BSP block", m.bspoffset) || !walk.read(m.bspblock + 8, "BSP block", m.bspmagic))
        return false;
    if (!walk.read(m.bspoffset + 172, "BSP header", m.meshcount) ||
        !walk.read(m.bspoffset + 176, "BSP header", address))
        return false;
    m.meshtable = m.bspoffset + address - m.bspmagic;
    for (std::int64_t j = 0; j < m.meshcount; ++j) {
        Entry e;
        e.entry = m.meshtable + 176 * j;
        if (!walk.fits(e.entry, 176, "mesh table")) return false;
        e.raw = u32(bytes, e.entry + 40);
        e.rawsize = u32(bytes, e.entry + 44);
        m.entries.push_back(e);
    }
    return true;
}

}  // namespace

std::uint32_t u32(Bytes bytes, std::int64_t offset) {
    const auto* p = bytes.data() + offset;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool readNames(Bytes bytes, std::int64_t offset, std::int64_t count, std::vector<std::string>& names) {
    names.clear();
    std::string name;
    for (std::int64_t p = offset; static_cast<std::int64_t>(names.size()) < count; ++p) {
        if (!inside(bytes, p, 1)) return false;
        const auto byte = bytes[static_cast<std::size_t>(p)];
        if (byte == 0) {
            names.push_back(name);
            name.clear();
        } else {
            name.push_back(static_cast<char>(byte));
        }
    }
    return true;
}

Map readMap(Bytes bytes) {
    Map m;
    Walk walk(bytes, m);
    if (readHeaderAndIndex(bytes, m, walk)) readScenarioAndBsp(bytes, m, walk);
    return m;
}

std::vector<std::int64_t> markerHits(Bytes bytes, std::int64_t raw, std::int64_t rawsize) {
    std::vector<std::int64_t> hits;
    for (std::int64_t p = raw; p <= raw + rawsize - 5 && inside(bytes, p, 4); p += 4) {
        if (u32(bytes, p) == kMarker) hits.push_back(p);
    }
    return hits;
}

DecodedMesh decodeMesh(Bytes bytes, const Entry& entry) {
    DecodedMesh out;
    const auto hits = markerHits(bytes, entry.raw, entry.rawsize);
    if (hits.size() < 8) return out;
    const std::int64_t face = hits[2] + 4, face_length = hits[3] - face;
    const std::int64_t vertex = hits[6] + 4, vertex_length = hits[7] - vertex;
    if (vertex_length % 12 != 0 || face_length % 6 > 2) return out;
    for (std::int64_t p = face; p + 6 <= hits[3]; p += 6) {
        const auto at = [&](std::int64_t k) {
            const auto q = static_cast<std::size_t>(p + k);
            return static_cast<std::uint16_t>(bytes[q] | bytes[q + 1] << 8);
        };
        out.mesh.triangles.push_back({at(0), at(2), at(4)});
    }
    for (std::int64_t p = face + face_length / 6 * 6; p < hits[3]; ++p) {
        if (bytes[static_cast<std::size_t>(p)] != 0) return out;
    }
    for (std::int64_t p = vertex; p < hits[7]; p += 12) {
        out.mesh.vertices.push_back({v2bsp::bitCast<float>(u32(bytes, p)), v2bsp::bitCast<float>(u32(bytes, p + 4)),
                                     v2bsp::bitCast<float>(u32(bytes, p + 8))});
    }
    out.ok = true;
    return out;
}

}  // namespace readback
