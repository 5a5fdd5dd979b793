#include <algorithm>
#include <bit>
#include <stdexcept>

#include "corpus.hpp"
#include "mapbuilder/mapbuilder.hpp"

namespace v2bsp::fuzz {
namespace {

namespace mb = mapbuilder;

constexpr std::int64_t kTagCountField = 24;
constexpr std::int64_t kClassCountField = 4;
constexpr std::int64_t kNameTableField = 708;
constexpr std::int64_t kMeshCountField = 172;
constexpr std::int64_t kMeshTableField = 176;
constexpr std::int64_t kRawOffsetField = 40;
constexpr std::int64_t kRawSizeField = 44;
constexpr std::int64_t kEntry = static_cast<std::int64_t>(mb::kMeshEntrySize);
constexpr std::uint8_t kMarkerBytes[4] = {0x63, 0x72, 0x73, 0x72};

// A small valid map of one mesh, grown to `size` bytes: the bytes after it
// (from `free` on, a 4-byte boundary) are the case's to fill.
struct Grown {
    std::vector<std::uint8_t> bytes;
    mb::MapLayout layout;
    std::int64_t free = 0;

    std::int64_t size() const { return static_cast<std::int64_t>(bytes.size()); }
    void poke(std::int64_t offset, std::int64_t value) {
        mb::pokeu32(bytes, offset, static_cast<std::uint32_t>(value));
    }
    // Moves the mesh table to `table`, with `count` entries claimed.
    void moveMeshTable(std::int64_t table, std::int64_t count) {
        poke(layout.bspoffset + kMeshCountField, count);
        poke(layout.bspoffset + kMeshTableField, table - layout.bspoffset + layout.bspmagic);
    }
    void entry(std::int64_t table, std::int64_t index, std::int64_t raw, std::int64_t rawsize) {
        poke(table + index * kEntry + kRawOffsetField, raw);
        poke(table + index * kEntry + kRawSizeField, rawsize);
    }
    void marker(std::int64_t at) { std::copy(std::begin(kMarkerBytes), std::end(kMarkerBytes), bytes.begin() + at); }
};

Grown grow(std::size_t size, std::uint8_t fill) {
    if (size < kMinWorstSize) throw std::invalid_argument("a worst case needs at least 1 MiB");
    mb::Scene scene;
    scene.mapname = "worst";
    scene.tagnames = {"rocks"};
    mb::Mesh mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.triangles = {{0, 1, 2}};
    scene.meshes = {mesh};
    mb::BuiltMap map = mb::buildMap(scene);
    Grown grown{std::move(map.bytes), std::move(map.layout), 0};
    grown.free = (static_cast<std::int64_t>(grown.bytes.size()) + 3) & ~std::int64_t{3};
    grown.bytes.resize(size, fill);
    return grown;
}

// The largest tag count whose rows all lie inside the file.
std::int64_t fittingTagCount(const Grown& map) {
    return (map.size() - map.layout.tagindexstart) / static_cast<std::int64_t>(mb::kTagRowSize);
}

std::vector<std::uint8_t> tagCountMax(std::size_t size) {
    Grown map = grow(size, 0xC5);
    map.poke(map.layout.indexoffset + kTagCountField, 0xFFFFFFFF);
    return std::move(map.bytes);
}

std::vector<std::uint8_t> classCountMax(std::size_t size) {
    Grown map = grow(size, 0xC5);
    map.poke(map.layout.indexoffset + kClassCountField, 0xFFFFFFFF);
    return std::move(map.bytes);
}

std::vector<std::uint8_t> namesUnterminated(std::size_t size) {
    Grown map = grow(size, 'a');
    map.poke(map.layout.indexoffset + kTagCountField, fittingTagCount(map));
    map.poke(kNameTableField, map.free);
    return std::move(map.bytes);
}

// One-letter names to the end of the file, far more than the rows need.
std::vector<std::uint8_t> nameTableEndless(std::size_t size) {
    Grown map = grow(size, 0);
    for (std::int64_t at = map.free; at < map.size(); at += 2) map.bytes[static_cast<std::size_t>(at)] = 'a';
    map.poke(map.layout.indexoffset + kTagCountField, fittingTagCount(map));
    map.poke(kNameTableField, map.free);
    return std::move(map.bytes);
}

std::vector<std::uint8_t> meshCountMax(std::size_t size) {
    Grown map = grow(size, 0xC5);
    const std::int64_t entries = (map.size() - map.free) / kEntry;
    for (std::int64_t j = 0; j < entries; ++j) map.entry(map.free, j, 0xFFFFFFFF, 0xFFFFFFFF);
    map.moveMeshTable(map.free, 0xFFFFFFFF);
    return std::move(map.bytes);
}

std::vector<std::uint8_t> rawRangesPastEnd(std::size_t size) {
    Grown map = grow(size, 0xC5);
    const std::int64_t entries = (map.size() - map.free) / kEntry;
    for (std::int64_t j = 0; j < entries; ++j) {
        const std::int64_t raw = map.free + (j * 4) % (map.size() - map.free);
        map.entry(map.free, j, raw, j % 2 == 0 ? 0xFFFFFFFF : map.size() - raw + 4);
    }
    map.moveMeshTable(map.free, entries);
    return std::move(map.bytes);
}

// Half the file is markers, the other half a mesh table whose entries start
// at successive markers and run to the end of the file.
std::vector<std::uint8_t> markersEverywhere(std::size_t size) {
    Grown map = grow(size, 0xC5);
    const std::int64_t entries = (map.size() - map.free) / 2 / kEntry;
    const std::int64_t markers = map.free + entries * kEntry;
    for (std::int64_t at = markers; at + 4 <= map.size(); at += 4) map.marker(at);
    const std::int64_t count = (map.size() - markers) / 4;
    for (std::int64_t j = 0; j < entries; ++j) {
        const std::int64_t raw = markers + 4 * (j % count);
        map.entry(map.free, j, raw, map.size() - raw);
    }
    map.moveMeshTable(map.free, entries);
    return std::move(map.bytes);
}

// Raw data from `raw` to the end of the file: markers 1-3, a face section of
// `facebytes`, markers 4-7, vertices to the end, marker 8 and four tail bytes.
void fillRawData(Grown& map, std::int64_t raw, std::int64_t end, std::int64_t facebytes) {
    std::int64_t at = raw;
    for (int i = 0; i < 3; ++i, at += 4) map.marker(at);
    for (std::int64_t i = 0; i + 6 <= facebytes; i += 6, at += 6) {
        const auto a = static_cast<std::uint16_t>(i / 6);
        const std::uint16_t corners[3] = {a, static_cast<std::uint16_t>(a + 1), static_cast<std::uint16_t>(a + 2)};
        for (int k = 0; k < 3; ++k) {
            map.bytes[static_cast<std::size_t>(at + 2 * k)] = static_cast<std::uint8_t>(corners[k]);
            map.bytes[static_cast<std::size_t>(at + 2 * k + 1)] = static_cast<std::uint8_t>(corners[k] >> 8);
        }
    }
    at = (at + 3) & ~std::int64_t{3};
    for (int i = 0; i < 4; ++i, at += 4) map.marker(at);
    // Full-precision values give the longest vertex lines; no word spells the marker.
    std::uint32_t state = 0x2545F491;
    const std::int64_t vertex_end = end - 8 - (end - 8 - at) % 12;
    for (; at < vertex_end; at += 4) {
        state = state * 1664525u + 1013904223u;
        const std::uint32_t word = state >> 1 | 0x00800000u;
        mb::pokeu32(map.bytes, at, word == mb::kSectionMarker ? word + 1 : word);
    }
    map.marker(at);
}

std::vector<std::uint8_t> oneHugeMesh(std::size_t size) {
    Grown map = grow(size, 0xC5);
    fillRawData(map, map.free, map.size(), (map.size() - map.free) / 8);
    map.entry(map.layout.meshtable, 0, map.free, map.size() - map.free);
    return std::move(map.bytes);
}

// Every entry of a mesh table as large as half the file names the same raw
// data, which fills the other half.
std::vector<std::uint8_t> sharedRawData(std::size_t size) {
    Grown map = grow(size, 0xC5);
    const std::int64_t entries = (map.size() - map.free) / 2 / kEntry;
    const std::int64_t raw = map.free + entries * kEntry;
    fillRawData(map, raw, map.size(), (map.size() - raw) / 8);
    for (std::int64_t j = 0; j < entries; ++j) map.entry(map.free, j, raw, map.size() - raw);
    map.moveMeshTable(map.free, entries);
    return std::move(map.bytes);
}

constexpr WorstCase kWorstCases[] = {
    {"tagcount-max", "tag count 0xFFFFFFFF", WorstOutcome::notamap, tagCountMax},
    {"classcount-max", "tag-class count 0xFFFFFFFF", WorstOutcome::notamap, classCountMax},
    {"names-unterminated", "as many tag rows as fit, and a name table without a zero byte to the end",
     WorstOutcome::notamap, namesUnterminated},
    {"nametable-endless", "as many tag rows as fit, each with a name, and names on to the end of the file",
     WorstOutcome::finished, nameTableEndless},
    {"meshcount-max", "mesh count 0xFFFFFFFF; the table fills the file, every raw offset and size 0xFFFFFFFF",
     WorstOutcome::finished, meshCountMax},
    {"rawranges-past-end", "a mesh table filling the file, every raw range running past its end",
     WorstOutcome::finished, rawRangesPastEnd},
    {"markers-everywhere", "millions of markers, and a mesh table of half the file scanning them",
     WorstOutcome::finished, markersEverywhere},
    {"one-huge-mesh", "one mesh whose sections fill the file, vertices of full precision", WorstOutcome::finished,
     oneHugeMesh},
    {"shared-raw-data", "a mesh table of half the file whose entries all name the same raw data, the other half",
     WorstOutcome::finished, sharedRawData},
};

}  // namespace

std::span<const WorstCase> worstcases() {
    return kWorstCases;
}

}  // namespace v2bsp::fuzz
