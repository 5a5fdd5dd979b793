#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "mapbuilder/mapbuilder.hpp"
#include "readback.hpp"
#include "testmeshes.hpp"

namespace mb = v2bsp::mapbuilder;
using mb::Corruption;

namespace {

using Check = std::function<void(const mb::BuiltMap& before, const mb::BuiltMap& after)>;

std::vector<std::int64_t> hitsOf(const mb::BuiltMap& map, const readback::Entry& e) {
    return readback::markerHits(map.bytes, e.raw, e.rawsize);
}

std::vector<std::int64_t> firstMarkers(const mb::MeshLayout& mesh, std::size_t count) {
    return {mesh.markers.begin(), mesh.markers.begin() + static_cast<std::ptrdiff_t>(count)};
}

// The meshes of `after` from `first` on decode to those of `before`.
void expectMeshesKept(const mb::BuiltMap& before, const readback::Map& after_map, const mb::BuiltMap& after,
                      std::size_t first) {
    const auto before_map = readback::readMap(before.bytes);
    ASSERT_GE(after_map.entries.size(), before_map.entries.size());
    for (std::size_t m = first; m < before_map.entries.size(); ++m) {
        SCOPED_TRACE("mesh " + std::to_string(m));
        const auto expected = readback::decodeMesh(before.bytes, before_map.entries[m]);
        const auto actual = readback::decodeMesh(after.bytes, after_map.entries[m]);
        ASSERT_TRUE(actual.ok);
        EXPECT_TRUE(testmeshes::sameMesh(expected.mesh, actual.mesh));
    }
}

void expectFailureAt(const mb::BuiltMap& after, std::string_view field) {
    const auto map = readback::readMap(after.bytes);
    EXPECT_EQ(map.failedfield, field);
}

const std::vector<std::pair<Corruption, Check>>& checks() {
    static const std::vector<std::pair<Corruption, Check>> table = {
        {Corruption::TagCountHuge,
         [](const auto& b, const auto& a) {
             EXPECT_EQ(readback::u32(a.bytes, b.layout.indexoffset + 24), 0xFFFFFFFFu);
             expectFailureAt(a, "tag index");
         }},
        {Corruption::TagIndexPastEnd,
         [](const auto& b, const auto& a) {
             const auto tagcount = readback::u32(a.bytes, b.layout.indexoffset + 24);
             const auto index_end = b.layout.tagindexstart + 16 * static_cast<std::int64_t>(tagcount);
             EXPECT_GT(index_end, static_cast<std::int64_t>(a.bytes.size()));
             EXPECT_LE(index_end - 16, static_cast<std::int64_t>(a.bytes.size()));
             expectFailureAt(a, "tag index");
         }},
        {Corruption::NameTableOffsetPastEnd,
         [](const auto&, const auto& a) {
             EXPECT_EQ(readback::u32(a.bytes, 708), a.bytes.size());
             expectFailureAt(a, "name table");
         }},
        {Corruption::NameTablePastEnd,
         [](const auto& b, const auto& a) {
             const auto needed = static_cast<std::int64_t>(b.layout.tags.size()) - 1;
             std::vector<std::string> names;
             const std::int64_t table = readback::u32(a.bytes, 708);
             EXPECT_TRUE(readback::readNames(a.bytes, table, needed - 1, names));
             EXPECT_EQ(names.size(), static_cast<std::size_t>(needed - 1));
             for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], b.layout.tags[i].name);
             EXPECT_FALSE(readback::readNames(a.bytes, table, needed, names));
         }},
        {Corruption::NameTableUnterminated,
         [](const auto& b, const auto& a) {
             const auto table = a.bytes.begin() + b.layout.nametable;
             EXPECT_EQ(std::count(table, table + b.layout.nametablelength, 0), 0);
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             EXPECT_EQ(map.names[0].rfind(b.layout.tags[0].name + "_" + b.layout.tags[1].name, 0), 0u);
             expectMeshesKept(b, map, a, 0);
         }},
        {Corruption::NoScenarioRow,
         [](const auto& b, const auto& a) {
             expectFailureAt(a, "scenario row");
             EXPECT_LT(readback::u32(a.bytes, 8), b.layout.metamagic);
         }},
        {Corruption::UpperCaseScenario,
         [](const auto& b, const auto& a) {
             EXPECT_EQ(readback::u32(a.bytes, b.layout.tags[b.layout.scenariorow].row), mb::fourcc("SCNR"));
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             expectMeshesKept(b, map, a, 0);
         }},
        {Corruption::TwoScenarioRows,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             ASSERT_EQ(map.scenariorows.size(), 2u);
             EXPECT_TRUE(std::find(map.scenariorows.begin(), map.scenariorows.end(),
                                   b.layout.tags[b.layout.scenariorow].row) != map.scenariorows.end());
             const std::int64_t earlier = readback::u32(a.bytes, map.scenariorows[0] + 8) - map.metamagic;
             EXPECT_TRUE(earlier < 0 || readback::u32(a.bytes, earlier + 532) == 0);
             expectMeshesKept(b, map, a, 0);
         }},
        {Corruption::BspBlockOutside,
         [](const auto&, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             EXPECT_EQ(map.failedfield, "BSP block");
             EXPECT_EQ(map.failedoffset, static_cast<std::int64_t>(a.bytes.size()));
         }},
        {Corruption::BspHeaderOutside, [](const auto&, const auto& a) { expectFailureAt(a, "BSP header"); }},
        {Corruption::MeshCountHuge,
         [](const auto& b, const auto& a) {
             EXPECT_EQ(readback::u32(a.bytes, b.layout.bspoffset + 172), 0xFFFFFFFFu);
             const auto map = readback::readMap(a.bytes);
             EXPECT_EQ(map.failedfield, "mesh table");
             EXPECT_GE(map.entries.size(), b.layout.meshes.size());
         }},
        {Corruption::MeshTableCutShort,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             EXPECT_EQ(map.failedfield, "mesh table");
             ASSERT_EQ(map.entries.size(), b.layout.meshes.size() - 1);
             EXPECT_EQ(map.meshtable + 176 * static_cast<std::int64_t>(map.entries.size()) + 40,
                       static_cast<std::int64_t>(a.bytes.size()));
             for (std::size_t m = 0; m < map.entries.size(); ++m) EXPECT_EQ(map.entries[m].raw, b.layout.meshes[m].raw);
         }},
        {Corruption::RawOffsetHuge,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             EXPECT_EQ(map.entries[0].raw, 0xFFFFFFFF);
             EXPECT_TRUE(hitsOf(a, map.entries[0]).empty());
             expectMeshesKept(b, map, a, 1);
         }},
        {Corruption::RawSizeHuge,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             EXPECT_EQ(map.entries[0].rawsize, 0xFFFFFFFF);
             auto hits = hitsOf(a, map.entries[0]);
             ASSERT_GE(hits.size(), 8u);
             hits.resize(8);
             EXPECT_EQ(hits, firstMarkers(b.layout.meshes[0], 8));
             expectMeshesKept(b, map, a, 0);
         }},
        {Corruption::RawRangePastEnd,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             const auto& last = map.entries.back();
             EXPECT_EQ(last.raw + last.rawsize, static_cast<std::int64_t>(a.bytes.size()) + 64);
             EXPECT_EQ(hitsOf(a, last), firstMarkers(b.layout.meshes.back(), 8));
             expectMeshesKept(b, map, a, 0);
         }},
        {Corruption::MeshWithoutMarkers,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_FALSE(map.entries.empty()) << map.failedfield;
             EXPECT_TRUE(hitsOf(a, map.entries[0]).empty());
             expectMeshesKept(b, map, a, 1);
         }},
        {Corruption::MeshWithThreeMarkers,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_FALSE(map.entries.empty()) << map.failedfield;
             EXPECT_EQ(hitsOf(a, map.entries[0]), firstMarkers(b.layout.meshes[0], 3));
             expectMeshesKept(b, map, a, 1);
         }},
        {Corruption::MarkerInLastFourBytes,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_FALSE(map.entries.empty()) << map.failedfield;
             const auto& m0 = b.layout.meshes[0];
             EXPECT_EQ(map.entries[0].raw + map.entries[0].rawsize, m0.markers[7] + 4);
             EXPECT_EQ(readback::u32(a.bytes, m0.markers[7]), mb::kSectionMarker);
             EXPECT_EQ(hitsOf(a, map.entries[0]), firstMarkers(m0, 7));
         }},
        {Corruption::MarkerNotAligned,
         [](const auto& b, const auto& a) {
             const auto map = readback::readMap(a.bytes);
             ASSERT_FALSE(map.entries.empty()) << map.failedfield;
             const auto& m0 = b.layout.meshes[0];
             EXPECT_EQ(readback::u32(a.bytes, m0.markers[7] + 2), mb::kSectionMarker);
             EXPECT_EQ(hitsOf(a, map.entries[0]), firstMarkers(m0, 7));
             expectMeshesKept(b, map, a, 1);
         }},
        {Corruption::Truncated,
         [](const auto& b, const auto& a) {
             const auto& last = b.layout.meshes.back();
             EXPECT_EQ(static_cast<std::int64_t>(a.bytes.size()), last.vertexStart + last.vertexLength / 24 * 12);
             const auto map = readback::readMap(a.bytes);
             ASSERT_TRUE(map.ok()) << map.failedfield;
             EXPECT_EQ(hitsOf(a, map.entries.back()), firstMarkers(last, 7));
         }},
        {Corruption::ClassCount2731,
         [](const auto& b, const auto& a) {
             EXPECT_EQ(readback::u32(a.bytes, b.layout.indexoffset + 4), 2731u);
             expectFailureAt(a, "classcount");
         }},
        {Corruption::MapNameWithPath,
         [](const auto&, const auto& a) { EXPECT_EQ(readback::readMap(a.bytes).mapname, "../../x"); }},
        {Corruption::MapNameEmpty,
         [](const auto& b, const auto& a) {
             EXPECT_EQ(readback::readMap(a.bytes).mapname, "");
             EXPECT_EQ(a.bytes.size(), b.bytes.size());
         }},
    };
    return table;
}

std::vector<std::pair<const char*, mb::Scene>> bases() {
    mb::Scene after_bsp;
    after_bsp.tagnames = {"one", "two"};
    after_bsp.bsprow = 0;
    after_bsp.scenariorow = 3;
    after_bsp.meshes = {testmeshes::fan(6, 3.0f), testmeshes::fan(3, -1.0f)};
    after_bsp.mapname = "after bsp";
    mb::Scene first_rows;
    first_rows.mapname = "first rows";
    first_rows.meshes = {testmeshes::fan(5, 0.5f)};
    return {{"sample scene", mb::samplescene()},
            {"scenario after BSP row, no filler", after_bsp},
            {"scenario and BSP in rows 0 and 1", first_rows}};
}

TEST(MapBuilderCorruption, EachChangesWhatItSays) {
    for (const auto& [label, scene] : bases()) {
        SCOPED_TRACE(label);
        const auto before = mb::buildMap(scene);
        for (const auto& [id, check] : checks()) {
            const auto& c = mb::corruptionCase(id);
            SCOPED_TRACE(std::string(c.name));
            auto after = before;
            c.apply(after);
            EXPECT_NE(after.bytes, before.bytes);
            check(before, after);
        }
    }
}

TEST(MapBuilderCorruption, TableIsCompleteAndNamed) {
    std::set<std::string_view> names;
    for (const auto& c : mb::corruptions()) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_TRUE(names.insert(c.name).second);
        EXPECT_FALSE(c.expected.empty());
        EXPECT_EQ(mb::findCorruption(c.name), &c);
        const auto checked =
            std::find_if(checks().begin(), checks().end(), [&](const auto& e) { return e.first == c.id; });
        EXPECT_NE(checked, checks().end()) << "no check for this corruption";
    }
    EXPECT_EQ(mb::findCorruption("no-such-corruption"), nullptr);
}

TEST(MapBuilderCorruption, RefusesMapWithoutMesh) {
    const auto empty = mb::buildMap(mb::Scene{});
    for (const auto id : {Corruption::RawOffsetHuge, Corruption::MeshTableCutShort, Corruption::Truncated}) {
        auto map = empty;
        EXPECT_THROW(mb::corruptionCase(id).apply(map), std::invalid_argument);
    }
}

}  // namespace
