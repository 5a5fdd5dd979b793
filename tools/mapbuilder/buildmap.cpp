#include "mapbuilder/mapbuilder.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <string>

#include "mapimage/portable.hpp"

namespace v2bsp::mapbuilder {
namespace {

constexpr std::size_t kFileLengthField = 8;
constexpr std::size_t kIndexOffsetField = 16;
constexpr std::size_t kIndexLengthField = 20;
constexpr std::size_t kNameTableField = 708;
constexpr std::size_t kIndexTailSize = 16;
constexpr std::size_t kScenarioBodySize = 544;
constexpr std::size_t kBspBlockElementSize = 16;
constexpr std::size_t kBspRecordSize = 16;
constexpr std::size_t kOtherTagDataSize = 32;
constexpr std::size_t kMeshCountField = 172;
constexpr std::size_t kMeshTableField = 176;
constexpr std::size_t kRawOffsetField = 40;
constexpr std::size_t kRawSizeField = 44;
constexpr std::uint32_t kFirstTagId = 0xE1740000;
constexpr std::string_view kBspClass = "bspt";
constexpr std::array<std::string_view, 6> kOtherClasses = {"txtr", "shdr", "modl", "snds", "matl", "phys"};

std::int64_t align4(std::int64_t value) {
    return (value + 3) & ~std::int64_t{3};
}

// Bytes that no structure claims; all lie in 0xC0..0xFF, so no aligned word
// of filler is the marker, a class code or zero.
std::uint8_t fillerByte(std::int64_t offset) {
    return static_cast<std::uint8_t>(0xC0 | ((offset * 7 + (offset >> 6)) & 0x3F));
}

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    void u16(std::int64_t offset, std::uint16_t value) {
        auto* p = bytes_.data() + offset;
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
    }
    void u32(std::int64_t offset, std::uint32_t value) {
        auto* p = bytes_.data() + offset;
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
        p[2] = static_cast<std::uint8_t>(value >> 16);
        p[3] = static_cast<std::uint8_t>(value >> 24);
    }
    void f32(std::int64_t offset, float value) { u32(offset, v2bsp::bitCast<std::uint32_t>(value)); }
    void text(std::int64_t offset, std::string_view value) {
        std::copy(value.begin(), value.end(), bytes_.begin() + offset);
    }
    void zeros(std::int64_t offset, std::int64_t count) {
        std::fill_n(bytes_.begin() + offset, count, std::uint8_t{0});
    }

private:
    std::vector<std::uint8_t>& bytes_;
};

std::uint32_t loadu32(const std::vector<std::uint8_t>& bytes, std::int64_t offset) {
    const auto* p = bytes.data() + offset;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool readsAsScenario(const std::vector<std::uint8_t>& bytes, std::int64_t offset) {
    static constexpr std::array<char, 4> kStored = {'r', 'n', 'c', 's'};
    for (std::size_t i = 0; i < kStored.size(); ++i) {
        auto c = static_cast<char>(bytes[static_cast<std::size_t>(offset) + i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kStored[i]) return false;
    }
    return true;
}

void checkName(std::string_view name, std::string_view what) {
    if (name.find('\0') != std::string_view::npos)
        throw std::invalid_argument(std::string(what) + " \"" + std::string(name) + "\" holds a zero byte");
}

void checkScene(const Scene& scene) {
    if (scene.mapname.size() > kMapNameLength)
        throw std::invalid_argument("map name has " + std::to_string(scene.mapname.size()) + " bytes, at most 33 fit");
    const std::size_t rows = scene.tagnames.size() + 2;
    if (scene.scenariorow >= rows || scene.bsprow >= rows || scene.scenariorow == scene.bsprow)
        throw std::invalid_argument("scenario row " + std::to_string(scene.scenariorow) + " and BSP row " +
                                    std::to_string(scene.bsprow) + " must be distinct and below " +
                                    std::to_string(rows));
    for (const auto& name : scene.tagnames) checkName(name, "tag name");
    checkName(scene.scenarioname, "scenario name");
    checkName(scene.bspname, "BSP name");
    if (scene.filler % 4 != 0)
        throw std::invalid_argument("filler " + std::to_string(scene.filler) + " is not a multiple of 4");
    if (scene.indexmagic == 0 || scene.metamagic == 0 || scene.bspmagic == 0 || scene.indexmagic == scene.metamagic ||
        scene.indexmagic == scene.bspmagic || scene.metamagic == scene.bspmagic)
        throw std::invalid_argument("the three magics must be non-zero and distinct");
}

struct RowPlan {
    std::string_view name;
    std::uint32_t classcode;
};

std::vector<RowPlan> planRows(const Scene& scene) {
    std::vector<RowPlan> rows;
    const std::size_t count = scene.tagnames.size() + 2;
    std::size_t next_name = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i == scene.scenariorow) {
            rows.push_back({scene.scenarioname, fourcc(scene.uppercasescenario ? "SCNR" : "scnr")});
        } else if (i == scene.bsprow) {
            rows.push_back({scene.bspname, fourcc(kBspClass)});
        } else {
            rows.push_back({scene.tagnames[next_name], fourcc(kOtherClasses[next_name % kOtherClasses.size()])});
            ++next_name;
        }
    }
    return rows;
}

// Places every structure; the byte image is not touched yet.
MapLayout planLayout(const Scene& scene, const std::vector<RowPlan>& rows) {
    MapLayout layout;
    const std::int64_t filler = scene.filler;
    layout.indexmagic = scene.indexmagic;
    layout.metamagic = scene.metamagic;
    layout.bspmagic = scene.bspmagic;
    layout.scenariorow = scene.scenariorow;
    layout.bsprow = scene.bsprow;
    layout.classcount = scene.classcount;

    std::int64_t pos = kHeaderSize + filler;
    layout.nametable = pos;
    for (const auto& row : rows) layout.nametablelength += static_cast<std::int64_t>(row.name.size()) + 1;
    pos = align4(pos + layout.nametablelength) + filler;

    layout.indexoffset = pos;
    layout.classtable = pos + kIndexHeaderSize;
    layout.tagindexstart = layout.classtable + static_cast<std::int64_t>(kClassRowSize) * scene.classcount;
    layout.tagindexend = layout.tagindexstart + static_cast<std::int64_t>(kTagRowSize * rows.size());
    layout.tagdataarea = layout.tagindexend + kIndexTailSize + filler;
    layout.indexlength = layout.tagdataarea - layout.indexoffset;

    pos = layout.tagdataarea;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        TagRowLayout tag;
        tag.name = std::string(rows[i].name);
        tag.classcode = rows[i].classcode;
        tag.id = kFirstTagId + static_cast<std::uint32_t>(i);
        tag.row = layout.tagindexstart + static_cast<std::int64_t>(kTagRowSize * i);
        tag.data = pos;
        if (i == scene.scenariorow) {
            tag.datasize = kScenarioBodySize + kBspBlockElementSize;
            layout.scenariodata = pos;
            layout.bspblock = pos + kScenarioBodySize;
        } else if (i == scene.bsprow) {
            tag.datasize = kBspRecordSize;
        } else {
            tag.datasize = kOtherTagDataSize;
        }
        pos += tag.datasize + filler;
        layout.tags.push_back(std::move(tag));
    }

    layout.bspoffset = pos;
    layout.meshtable = pos + kBspHeaderSize + filler;
    pos = layout.meshtable + static_cast<std::int64_t>(kMeshEntrySize * scene.meshes.size()) + filler;
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        const Mesh& mesh = scene.meshes[m];
        MeshLayout ml;
        ml.entry = layout.meshtable + static_cast<std::int64_t>(kMeshEntrySize * m);
        ml.raw = pos;
        auto& mk = ml.markers;
        mk[0] = pos;
        mk[1] = mk[0] + 4 + filler;
        mk[2] = mk[1] + 4 + filler;
        ml.faceStart = mk[2] + 4;
        ml.faceLength = align4(static_cast<std::int64_t>(6 * mesh.triangles.size()));
        mk[3] = ml.faceStart + ml.faceLength;
        mk[4] = mk[3] + 4 + filler;
        mk[5] = mk[4] + 4 + filler;
        mk[6] = mk[5] + 4 + filler;
        ml.vertexStart = mk[6] + 4;
        ml.vertexLength = static_cast<std::int64_t>(12 * mesh.vertices.size());
        mk[7] = ml.vertexStart + ml.vertexLength;
        // Four tail bytes keep marker 8 out of the last four bytes, where it would not count.
        ml.rawsize = mk[7] + 4 + 4 + filler - ml.raw;
        pos = ml.raw + ml.rawsize + filler;
        layout.meshes.push_back(ml);
    }
    layout.filelength = pos;
    return layout;
}

void checkFits(const Scene& scene, const MapLayout& layout) {
    if (layout.filelength > std::numeric_limits<std::int32_t>::max())
        throw std::invalid_argument("map would be " + std::to_string(layout.filelength) +
                                    " bytes, more than 2147483647");
    const std::uint64_t top_magic = std::max({scene.indexmagic, scene.metamagic, scene.bspmagic});
    if (static_cast<std::uint64_t>(layout.filelength) + top_magic > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("an address would pass 2^32 with magic " + std::to_string(top_magic));
}

void writeStructures(const Scene& scene, const MapLayout& layout, std::vector<std::uint8_t>& bytes) {
    Writer out(bytes);
    const auto u = [](std::int64_t value) { return static_cast<std::uint32_t>(value); };

    out.zeros(0, kHeaderSize);
    out.u32(kFileLengthField, u(layout.filelength));
    out.u32(kIndexOffsetField, u(layout.indexoffset));
    out.u32(kIndexLengthField, u(layout.indexlength));
    out.text(kMapNameOffset, scene.mapname);
    out.u32(kNameTableField, u(layout.nametable));

    std::int64_t pos = layout.nametable;
    for (const auto& tag : layout.tags) {
        out.text(pos, tag.name);
        pos += static_cast<std::int64_t>(tag.name.size());
        out.zeros(pos, 1);
        ++pos;
    }
    out.zeros(pos, align4(pos) - pos);

    out.zeros(layout.indexoffset, kIndexHeaderSize);
    out.u32(layout.indexoffset, u(layout.classtable + scene.indexmagic));
    out.u32(layout.indexoffset + 4, scene.classcount);
    out.u32(layout.indexoffset + 8, u(layout.tagindexstart + scene.indexmagic));
    out.u32(layout.indexoffset + 24, u(static_cast<std::int64_t>(layout.tags.size())));
    for (std::uint32_t k = 0; k < scene.classcount; ++k) {
        const auto row = layout.classtable + static_cast<std::int64_t>(kClassRowSize) * k;
        out.u32(row, layout.tags[k % layout.tags.size()].classcode);
        out.u32(row + 4, 0xFFFFFFFF);
        out.u32(row + 8, 0xFFFFFFFF);
    }
    for (const auto& tag : layout.tags) {
        out.u32(tag.row, tag.classcode);
        out.u32(tag.row + 4, tag.id);
        out.u32(tag.row + 8, u(tag.data + scene.metamagic));
        out.u32(tag.row + 12, tag.datasize);
    }

    const auto bsp_size =
        u(layout.meshtable + static_cast<std::int64_t>(kMeshEntrySize * layout.meshes.size()) - layout.bspoffset);
    out.u32(layout.scenariodata + 528, 1);
    out.u32(layout.scenariodata + kScenarioBlockField, u(layout.bspblock + scene.metamagic));
    const TagRowLayout& bsp_tag = layout.tags[scene.bsprow];
    for (const std::int64_t record : {layout.bspblock, bsp_tag.data}) {
        out.u32(record, u(layout.bspoffset));
        out.u32(record + 4, bsp_size);
        out.u32(record + 8, scene.bspmagic);
        out.u32(record + 12, record == layout.bspblock ? bsp_tag.id : 0);
    }

    out.u32(layout.bspoffset + kMeshCountField, u(static_cast<std::int64_t>(layout.meshes.size())));
    out.u32(layout.bspoffset + kMeshTableField, u(layout.meshtable - layout.bspoffset + scene.bspmagic));
    for (std::size_t m = 0; m < layout.meshes.size(); ++m) {
        const MeshLayout& ml = layout.meshes[m];
        const Mesh& mesh = scene.meshes[m];
        out.u32(ml.entry + kRawOffsetField, u(ml.raw));
        out.u32(ml.entry + kRawSizeField, u(ml.rawsize));
        for (const auto marker : ml.markers) out.u32(marker, kSectionMarker);
        std::int64_t at = ml.faceStart;
        for (const auto& t : mesh.triangles) {
            out.u16(at, t.a);
            out.u16(at + 2, t.b);
            out.u16(at + 4, t.c);
            at += 6;
        }
        out.zeros(at, ml.markers[3] - at);
        at = ml.vertexStart;
        for (const auto& v : mesh.vertices) {
            out.f32(at, v.x);
            out.f32(at + 4, v.y);
            out.f32(at + 8, v.z);
            at += 12;
        }
    }
}

void checkScenarioCodes(const MapLayout& layout, const std::vector<std::uint8_t>& bytes) {
    const std::int64_t scenario_row = layout.tags[layout.scenariorow].row;
    for (std::int64_t p = layout.tagindexstart; p <= layout.tagindexend; p += 4) {
        if (p != scenario_row && readsAsScenario(bytes, p))
            throw std::invalid_argument("the tag index would read as \"scnr\" at offset " + std::to_string(p) +
                                        " besides the scenario row; choose other magics");
    }
}

void checkMarkers(const MapLayout& layout, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t m = 0; m < layout.meshes.size(); ++m) {
        const MeshLayout& ml = layout.meshes[m];
        std::size_t next = 0;
        for (std::int64_t p = ml.raw; p <= ml.raw + ml.rawsize - 5; p += 4) {
            if (loadu32(bytes, p) != kSectionMarker) continue;
            if (next < kMarkersPerMesh && ml.markers[next] == p) {
                ++next;
                continue;
            }
            std::string culprit = "filler";
            if (p >= ml.faceStart && p < ml.faceStart + ml.faceLength)
                culprit = "triangle " + std::to_string((p - ml.faceStart) / 6);
            else if (p >= ml.vertexStart && p < ml.vertexStart + ml.vertexLength)
                culprit = "vertex " + std::to_string((p - ml.vertexStart) / 12);
            throw MarkerCollision(m, p, culprit);
        }
    }
}

}  // namespace

MarkerCollision::MarkerCollision(std::size_t mesh, std::int64_t offset, const std::string& culprit)
    : std::invalid_argument("mesh " + std::to_string(mesh) + ": " + culprit + " puts the section marker at offset " +
                            std::to_string(offset) + "; choose other data"),
      mesh_(mesh),
      offset_(offset) {}

std::uint32_t fourcc(std::string_view text) {
    if (text.size() != 4) throw std::invalid_argument("a class code has four characters");
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[3]));
}

BuiltMap buildMap(const Scene& scene) {
    checkScene(scene);
    const auto rows = planRows(scene);
    BuiltMap map;
    map.layout = planLayout(scene, rows);
    checkFits(scene, map.layout);
    map.bytes.resize(static_cast<std::size_t>(map.layout.filelength));
    for (std::size_t i = 0; i < map.bytes.size(); ++i) map.bytes[i] = fillerByte(static_cast<std::int64_t>(i));
    writeStructures(scene, map.layout, map.bytes);
    checkScenarioCodes(map.layout, map.bytes);
    checkMarkers(map.layout, map.bytes);
    return map;
}

void pokeu32(std::vector<std::uint8_t>& bytes, std::int64_t offset, std::uint32_t value) {
    if (offset < 0 || offset > static_cast<std::int64_t>(bytes.size()) ||
        static_cast<std::int64_t>(bytes.size()) - offset < 4)
        throw std::out_of_range("pokeu32 at offset " + std::to_string(offset) + " outside " +
                                std::to_string(bytes.size()) + " bytes");
    Writer(bytes).u32(offset, value);
}

void truncateMap(BuiltMap& map, std::size_t length) {
    if (length < map.bytes.size()) map.bytes.resize(length);
}

}  // namespace v2bsp::mapbuilder
