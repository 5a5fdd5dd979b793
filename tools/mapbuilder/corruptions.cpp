#include "mapbuilder/mapbuilder.hpp"

#include <algorithm>
#include <string>

namespace v2bsp::mapbuilder {
namespace {

constexpr std::int64_t kNameTableField = 708;

std::uint32_t fileLength(const BuiltMap& map) {
    return static_cast<std::uint32_t>(map.bytes.size());
}

const MeshLayout& firstMesh(const BuiltMap& map) {
    if (map.layout.meshes.empty()) throw std::invalid_argument("this corruption needs a map with a mesh");
    return map.layout.meshes.front();
}

const MeshLayout& lastMesh(const BuiltMap& map) {
    firstMesh(map);
    return map.layout.meshes.back();
}

// Appends `tail` at the next 4-byte boundary of the file; returns where it starts.
std::int64_t appendAligned(BuiltMap& map, const std::vector<std::uint8_t>& tail) {
    while (map.bytes.size() % 4 != 0) map.bytes.push_back(0xEE);
    const auto start = static_cast<std::int64_t>(map.bytes.size());
    map.bytes.insert(map.bytes.end(), tail.begin(), tail.end());
    return start;
}

void writeMapName(BuiltMap& map, std::string_view name) {
    std::fill_n(map.bytes.begin() + kMapNameOffset, kMapNameLength, std::uint8_t{0});
    std::copy(name.begin(), name.end(), map.bytes.begin() + kMapNameOffset);
}

void tagCountHuge(BuiltMap& map) {
    pokeu32(map.bytes, map.layout.indexoffset + 24, 0xFFFFFFFF);
}

void tagIndexPastEnd(BuiltMap& map) {
    const auto remaining = static_cast<std::int64_t>(map.bytes.size()) - map.layout.tagindexstart;
    pokeu32(map.bytes, map.layout.indexoffset + 24, static_cast<std::uint32_t>(remaining / 16 + 1));
}

void nameTableOffsetPastEnd(BuiltMap& map) {
    pokeu32(map.bytes, kNameTableField, fileLength(map));
}

// A copy of the names at the end of the file, cut just before the zero byte
// that ends the last name the reader needs (name tagcount - 1).
void nameTablePastEnd(BuiltMap& map) {
    const auto begin = map.bytes.begin() + map.layout.nametable;
    std::vector<std::uint8_t> names(begin, begin + map.layout.nametablelength);
    std::size_t zeros_needed = map.layout.tags.size() - 1;
    std::size_t cut = 0;
    for (; cut < names.size(); ++cut) {
        if (names[cut] == 0 && --zeros_needed == 0) break;
    }
    names.resize(cut);
    const auto start = appendAligned(map, names);
    pokeu32(map.bytes, kNameTableField, static_cast<std::uint32_t>(start));
}

void nameTableUnterminated(BuiltMap& map) {
    const auto begin = map.bytes.begin() + map.layout.nametable;
    std::replace(begin, begin + map.layout.nametablelength, std::uint8_t{0}, std::uint8_t{'_'});
}

void setScenarioCode(BuiltMap& map, std::string_view code) {
    pokeu32(map.bytes, map.layout.tags[map.layout.scenariorow].row, fourcc(code));
}

void noScenarioRow(BuiltMap& map) {
    setScenarioCode(map, "none");
}

void upperCaseScenario(BuiltMap& map) {
    setScenarioCode(map, "SCNR");
}

// A second row reads scnr. Of the two, the later leads to good scenario data
// and the earlier to none: when the second row comes later it points at a
// copy of the scenario at the end of the file and the original loses its BSP
// block address; when it comes earlier its own address becomes 0. Row 0 keeps
// its address, which fixes metamagic.
void twoScenarioRows(BuiltMap& map) {
    const auto& layout = map.layout;
    const std::size_t scenario = layout.scenariorow;
    const std::size_t rows = layout.tags.size();
    if (scenario + 1 < rows) {
        const std::size_t second = scenario + 1;
        const auto begin = map.bytes.begin() + layout.scenariodata;
        const std::vector<std::uint8_t> copy(begin, begin + layout.tags[scenario].datasize);
        const auto start = appendAligned(map, copy);
        pokeu32(map.bytes, layout.tags[second].row, fourcc("scnr"));
        pokeu32(map.bytes, layout.tags[second].row + 8, static_cast<std::uint32_t>(start + layout.metamagic));
        pokeu32(map.bytes, layout.scenariodata + kScenarioBlockField, 0);
    } else {
        if (scenario < 2) throw std::invalid_argument("two scenario rows need a third tag row");
        const std::size_t second = scenario - 1;
        pokeu32(map.bytes, layout.tags[second].row, fourcc("scnr"));
        pokeu32(map.bytes, layout.tags[second].row + 8, 0);
    }
}

void bspBlockOutside(BuiltMap& map) {
    pokeu32(map.bytes, map.layout.scenariodata + kScenarioBlockField, fileLength(map) + map.layout.metamagic);
}

void bspHeaderOutside(BuiltMap& map) {
    pokeu32(map.bytes, map.layout.bspblock, fileLength(map) - 100);
}

void meshCountHuge(BuiltMap& map) {
    pokeu32(map.bytes, map.layout.bspoffset + 172, 0xFFFFFFFF);
}

// A copy of the mesh table at the end of the file, ending 40 bytes into its
// last entry so that entry's raw offset and size lie past the end.
void meshTableCutShort(BuiltMap& map) {
    const auto& layout = map.layout;
    firstMesh(map);
    const auto begin = map.bytes.begin() + layout.meshtable;
    const auto kept = static_cast<std::int64_t>(kMeshEntrySize * (layout.meshes.size() - 1) + 40);
    const std::vector<std::uint8_t> table(begin, begin + kept);
    const auto start = appendAligned(map, table);
    pokeu32(map.bytes, layout.bspoffset + 176, static_cast<std::uint32_t>(start - layout.bspoffset + layout.bspmagic));
}

void rawOffsetHuge(BuiltMap& map) {
    pokeu32(map.bytes, firstMesh(map).entry + 40, 0xFFFFFFFF);
}

void rawSizeHuge(BuiltMap& map) {
    pokeu32(map.bytes, firstMesh(map).entry + 44, 0xFFFFFFFF);
}

void rawRangePastEnd(BuiltMap& map) {
    const auto& mesh = lastMesh(map);
    const auto size = static_cast<std::int64_t>(map.bytes.size()) - mesh.raw + 64;
    pokeu32(map.bytes, mesh.entry + 44, static_cast<std::uint32_t>(size));
}

void clearMarkers(BuiltMap& map, std::size_t first) {
    const auto& mesh = firstMesh(map);
    for (std::size_t i = first; i < kMarkersPerMesh; ++i) pokeu32(map.bytes, mesh.markers[i], 0);
}

void meshWithoutMarkers(BuiltMap& map) {
    clearMarkers(map, 0);
}

void meshWithThreeMarkers(BuiltMap& map) {
    clearMarkers(map, 3);
}

void markerInLastFourBytes(BuiltMap& map) {
    const auto& mesh = firstMesh(map);
    pokeu32(map.bytes, mesh.entry + 44, static_cast<std::uint32_t>(mesh.markers[7] + 4 - mesh.raw));
}

// Marker 8 moves two bytes on, into the tail that follows it.
void markerNotAligned(BuiltMap& map) {
    const auto at = static_cast<std::size_t>(firstMesh(map).markers[7]);
    const std::array<std::uint8_t, 6> moved = {0xEE, 0xEE, 0x63, 0x72, 0x73, 0x72};
    std::copy(moved.begin(), moved.end(), map.bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void truncated(BuiltMap& map) {
    const auto& mesh = lastMesh(map);
    const auto kept_vertices = mesh.vertexLength / 12 / 2;
    truncateMap(map, static_cast<std::size_t>(mesh.vertexStart + 12 * kept_vertices));
}

void classCount2731(BuiltMap& map) {
    pokeu32(map.bytes, map.layout.indexoffset + 4, 2731);
}

void mapNameWithPath(BuiltMap& map) {
    writeMapName(map, "../../x");
}

void mapNameEmpty(BuiltMap& map) {
    writeMapName(map, "");
}

constexpr CorruptionCase kCorruptions[] = {
    {Corruption::TagCountHuge, "tagcount-huge",
     "tag count 0xFFFFFFFF: the run ends with \"This is not a valid Vorun 2 map file\", nothing allocated for it",
     tagCountHuge},
    {Corruption::TagIndexPastEnd, "tagindex-past-end",
     "the tag rows run past the end of the file: the run ends with the not-a-map message", tagIndexPastEnd},
    {Corruption::NameTableOffsetPastEnd, "nametable-offset-past-end",
     "the name-table offset at 708 equals the file length: the run ends with the not-a-map message",
     nameTableOffsetPastEnd},
    {Corruption::NameTablePastEnd, "nametable-past-end",
     "the name table moves to the end of the file and its last needed zero byte is cut off: not-a-map message",
     nameTablePastEnd},
    {Corruption::NameTableUnterminated, "nametable-unterminated",
     "the table's zero bytes become '_': the names run on into the bytes after the table; no failure, meshes as usual",
     nameTableUnterminated},
    {Corruption::NoScenarioRow, "no-scenario-row",
     "no row reads as scnr: the scenario address comes from header offset 8 (the file length), below metamagic: "
     "not-a-map message",
     noScenarioRow},
    {Corruption::UpperCaseScenario, "scenario-uppercase",
     "the scenario class code is stored as SCNR: it matches like scnr and every mesh is written", upperCaseScenario},
    {Corruption::TwoScenarioRows, "two-scenario-rows",
     "a second row reads scnr; only the later of the two leads to a scenario with a BSP: the later wins and every mesh "
     "is written",
     twoScenarioRows},
    {Corruption::BspBlockOutside, "bspblock-outside",
     "the scenario's BSP block address translates to the file length: the run ends with the not-a-map message",
     bspBlockOutside},
    {Corruption::BspHeaderOutside, "bspheader-outside",
     "bspoffset lies 100 bytes before the end, so meshcount and the table address lie outside: the not-a-map message "
     "at \"Locating BSP...\"",
     bspHeaderOutside},
    {Corruption::MeshCountHuge, "meshcount-huge",
     "meshcount 0xFFFFFFFF: no message box, the run ends in bounded time and allocates only what the file can hold",
     meshCountHuge},
    {Corruption::MeshTableCutShort, "meshtable-cut-short",
     "the mesh table moves to the end of the file, cut 40 bytes into its last entry: every mesh but the last is "
     "written as usual",
     meshTableCutShort},
    {Corruption::RawOffsetHuge, "rawoffset-huge",
     "mesh 0's raw offset is 0xFFFFFFFF: mesh 0 gives no vertex or face line, the other meshes are written as usual",
     rawOffsetHuge},
    {Corruption::RawSizeHuge, "rawsize-huge",
     "mesh 0's raw size is 0xFFFFFFFF: its data runs past the end, so mesh 0 is logged as skipped and not written; the "
     "others as usual",
     rawSizeHuge},
    {Corruption::RawRangePastEnd, "rawrange-past-end",
     "the last mesh's raw range ends 64 bytes past the end of the file: that mesh is logged as skipped and not "
     "written; the others as usual",
     rawRangePastEnd},
    {Corruption::MeshWithoutMarkers, "mesh-without-markers",
     "mesh 0 holds no marker: both sections are empty and mesh0.obj is CR LF CR LF CR LF", meshWithoutMarkers},
    {Corruption::MeshWithThreeMarkers, "mesh-three-markers",
     "mesh 0 keeps markers 1 to 3 only: the face section starts but has length 0; mesh0.obj is CR LF CR LF CR LF",
     meshWithThreeMarkers},
    {Corruption::MarkerInLastFourBytes, "marker-in-last-four-bytes",
     "mesh 0's raw size ends right after marker 8, which still counts (its four bytes lie inside): mesh0.obj as usual",
     markerInLastFourBytes},
    {Corruption::MarkerNotAligned, "marker-not-aligned",
     "mesh 0's marker 8 sits 2 bytes off the 4-byte grid and is not a hit: mesh0.obj has its face lines but no vertex "
     "line",
     markerNotAligned},
    {Corruption::Truncated, "truncated",
     "the file ends after half the vertices of the last mesh: earlier meshes as usual, the last is logged as skipped",
     truncated},
    {Corruption::ClassCount2731, "classcount-2731",
     "classcount 2731 (12 * 2731 passes 32767): the run ends with the not-a-map message", classCount2731},
    {Corruption::MapNameWithPath, "mapname-path",
     "the map name is ../../x: nothing is written outside the chosen output folder; the name is made safe, not "
     "followed",
     mapNameWithPath},
    {Corruption::MapNameEmpty, "mapname-empty",
     "all 33 name bytes are zero: the output folder is named after the map file instead; meshes as usual",
     mapNameEmpty},
};

}  // namespace

std::span<const CorruptionCase> corruptions() {
    return kCorruptions;
}

const CorruptionCase* findCorruption(std::string_view name) {
    for (const auto& c : kCorruptions) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

const CorruptionCase& corruptionCase(Corruption id) {
    for (const auto& c : kCorruptions) {
        if (c.id == id) return c;
    }
    throw std::invalid_argument("unknown corruption");
}

}  // namespace v2bsp::mapbuilder
