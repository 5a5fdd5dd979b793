#include <bit>
#include <string>

#include <gtest/gtest.h>

#include "mapbuilder/mapbuilder.hpp"
#include "mapimage/portable.hpp"
#include "readback.hpp"
#include "testmeshes.hpp"

namespace mb = v2bsp::mapbuilder;
using testmeshes::fan;
using testmeshes::sameMesh;

namespace {

struct RoundTripCase {
    const char* label;
    mb::Scene scene;
    std::string mapname;  // as read: the name's non-zero bytes
};

mb::Scene withMeshes(mb::Scene scene, std::vector<mb::Mesh> meshes) {
    scene.meshes = std::move(meshes);
    return scene;
}

std::vector<RoundTripCase> roundTripCases() {
    std::vector<RoundTripCase> cases;
    {
        mb::Scene s;
        s.mapname = "one";
        cases.push_back({"one odd mesh, defaults", withMeshes(s, {fan(3, 1.5f)}), "one"});
    }
    {
        mb::Scene s;
        s.mapname = std::string("ab\0cd", 5) + std::string(28, 'z');
        s.tagnames = {"a", "", "c\xE9"};
        s.scenariorow = 4;
        s.bsprow = 0;
        s.classcount = 0;
        s.filler = 12;
        cases.push_back({"scenario last, filler, no class rows",
                         withMeshes(s, {fan(5, -2.0f), mb::Mesh{}, fan(40, 7.25f)}), "abcd" + std::string(28, 'z')});
    }
    {
        mb::Scene s;
        s.mapname = std::string(33, '\xFF');
        s.tagnames = {"x", "y"};
        s.classcount = 2730;
        s.uppercasescenario = true;
        s.scenariorow = 1;
        s.bsprow = 3;
        cases.push_back({"2730 class rows, SCNR", withMeshes(s, {fan(4, 0.0f)}), std::string(33, '\xFF')});
    }
    {
        mb::Scene s;
        s.indexmagic = 1;
        s.metamagic = 2;
        s.bspmagic = 3;
        cases.push_back({"no mesh, tiny magics", s, ""});
    }
    cases.push_back({"sample scene", mb::samplescene(), "sample room"});
    return cases;
}

TEST(MapBuilder, ReadsBackWhatWasPutIn) {
    for (const auto& c : roundTripCases()) {
        SCOPED_TRACE(c.label);
        const auto built = mb::buildMap(c.scene);
        const auto& layout = built.layout;
        const auto map = readback::readMap(built.bytes);
        ASSERT_TRUE(map.ok()) << map.failedfield << " at " << map.failedoffset;
        EXPECT_EQ(map.mapname, c.mapname);
        EXPECT_EQ(static_cast<std::int64_t>(built.bytes.size()), layout.filelength);

        EXPECT_EQ(map.indexmagic, c.scene.indexmagic);
        EXPECT_EQ(map.metamagic, c.scene.metamagic);
        EXPECT_EQ(map.bspmagic, c.scene.bspmagic);
        EXPECT_EQ(map.indexoffset, layout.indexoffset);
        EXPECT_EQ(map.tagindexstart, layout.tagindexstart);
        EXPECT_EQ(map.nametable, layout.nametable);

        std::vector<std::string> names;
        for (std::size_t r = 0, other = 0; r < c.scene.tagnames.size() + 2; ++r) {
            names.push_back(r == c.scene.scenariorow ? c.scene.scenarioname
                            : r == c.scene.bsprow    ? c.scene.bspname
                                                     : c.scene.tagnames[other++]);
        }
        EXPECT_EQ(map.names, names);
        ASSERT_EQ(map.scenariorows.size(), 1u);
        EXPECT_EQ(map.scenariorows[0], map.tagindexstart + 16 * static_cast<std::int64_t>(c.scene.scenariorow));
        EXPECT_EQ(map.classcodes[c.scene.scenariorow], mb::fourcc(c.scene.uppercasescenario ? "SCNR" : "scnr"));

        EXPECT_EQ(map.scenariodata, layout.scenariodata);
        EXPECT_EQ(map.bspblock, layout.bspblock);
        EXPECT_EQ(map.bspoffset, layout.bspoffset);
        EXPECT_EQ(map.meshtable, layout.meshtable);
        ASSERT_EQ(map.entries.size(), c.scene.meshes.size());
        for (std::size_t m = 0; m < c.scene.meshes.size(); ++m) {
            SCOPED_TRACE("mesh " + std::to_string(m));
            const auto& ml = layout.meshes[m];
            EXPECT_EQ(map.entries[m].raw, ml.raw);
            EXPECT_EQ(map.entries[m].rawsize, ml.rawsize);
            const auto hits = readback::markerHits(built.bytes, ml.raw, ml.rawsize);
            EXPECT_EQ(hits, std::vector<std::int64_t>(ml.markers.begin(), ml.markers.end()));
            const auto decoded = readback::decodeMesh(built.bytes, map.entries[m]);
            ASSERT_TRUE(decoded.ok);
            EXPECT_TRUE(sameMesh(c.scene.meshes[m], decoded.mesh));
        }
    }
}

TEST(MapBuilder, MagicsAreNonZeroAndDistinctByDefault) {
    const auto map = readback::readMap(mb::buildMap(withMeshes({}, {fan(3, 1.0f)})).bytes);
    ASSERT_TRUE(map.ok());
    EXPECT_NE(map.indexmagic, 0);
    EXPECT_NE(map.metamagic, 0);
    EXPECT_NE(map.bspmagic, 0);
    EXPECT_NE(map.indexmagic, map.metamagic);
    EXPECT_NE(map.metamagic, map.bspmagic);
    EXPECT_NE(map.indexmagic, map.bspmagic);
}

// Two triangles and two vertices without filler give the 72-byte raw data
// with markers at r, r+4, r+8, r+24, r+28, r+32, r+36 and r+64.
TEST(MapBuilder, RawDataOfTwoTrianglesAndTwoVertices) {
    mb::Mesh mesh;
    mesh.vertices = {{1.5f, 0.25f, -2.0f}, {0.0f, 1.0f, 0.0f}};
    mesh.triangles = {{0, 1, 0}, {1, 0, 1}};
    const auto built = mb::buildMap(withMeshes({}, {mesh}));
    const auto& ml = built.layout.meshes[0];
    const auto r = ml.raw;
    EXPECT_EQ(r % 4, 0);
    EXPECT_EQ(ml.rawsize, 72);
    EXPECT_EQ(ml.markers, (std::array<std::int64_t, 8>{r, r + 4, r + 8, r + 24, r + 28, r + 32, r + 36, r + 64}));
    EXPECT_EQ(ml.faceStart, r + 12);
    EXPECT_EQ(ml.faceLength, 12);
    EXPECT_EQ(ml.vertexStart, r + 40);
    EXPECT_EQ(ml.vertexLength, 24);
    for (const auto marker : ml.markers) {
        const auto at = built.bytes.begin() + marker;
        EXPECT_EQ(std::vector<std::uint8_t>(at, at + 4), (std::vector<std::uint8_t>{0x63, 0x72, 0x73, 0x72}));
    }
    const auto face = built.bytes.begin() + ml.faceStart;
    EXPECT_EQ(std::vector<std::uint8_t>(face, face + 12),
              (std::vector<std::uint8_t>{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(readback::u32(built.bytes, ml.vertexStart), 0x3FC00000u);
}

TEST(MapBuilder, RefusesDataThatSpellsTheMarker) {
    const float marker_float = v2bsp::bitCast<float>(mb::kSectionMarker);
    struct Case {
        const char* label;
        std::size_t mesh;
        std::vector<mb::Triangle> triangles;
        std::size_t vertex;  // the vertex whose coordinate `axis` becomes the marker; none if >= 4
        int axis;
        bool collides;
        std::int64_t (*where)(const mb::MeshLayout&);
    };
    const Case cases[] = {
        {"x of vertex 0", 0, {}, 0, 0, true, [](const mb::MeshLayout& m) { return m.vertexStart; }},
        {"z of vertex 2 in mesh 1", 1, {}, 2, 2, true, [](const mb::MeshLayout& m) { return m.vertexStart + 32; }},
        {"a and b of triangle 0",
         0,
         {{0x7263, 0x7273, 1}},
         9,
         0,
         true,
         [](const mb::MeshLayout& m) { return m.faceStart; }},
        {"c of triangle 0 and a of triangle 1",
         0,
         {{1, 2, 0x7263}, {0x7273, 1, 2}},
         9,
         0,
         true,
         [](const mb::MeshLayout& m) { return m.faceStart + 4; }},
        {"reversed halves", 0, {{0x7273, 0x7263, 1}}, 9, 0, false, nullptr},
        {"marker off the 4-byte grid", 0, {{1, 0x7263, 0x7273}}, 9, 0, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        mb::Scene scene = withMeshes({}, {fan(4, 1.0f), fan(4, 2.0f)});
        const auto clean = mb::buildMap(scene);
        if (!c.triangles.empty()) scene.meshes[c.mesh].triangles = c.triangles;
        if (c.vertex < 4) {
            auto& v = scene.meshes[c.mesh].vertices[c.vertex];
            (c.axis == 0 ? v.x : c.axis == 1 ? v.y : v.z) = marker_float;
        }
        if (!c.collides) {
            EXPECT_NO_THROW(mb::buildMap(scene));
            continue;
        }
        try {
            mb::buildMap(scene);
            ADD_FAILURE() << "no MarkerCollision";
        } catch (const mb::MarkerCollision& e) {
            EXPECT_EQ(e.mesh(), c.mesh);
            EXPECT_EQ(e.offset(), c.where(clean.layout.meshes[c.mesh]));
        }
    }
}

TEST(MapBuilder, RefusesScenesItCannotHonour) {
    const auto scenario_spelled = [] {
        mb::Scene s;
        s.metamagic = mb::fourcc("scnr") - static_cast<std::uint32_t>(mb::buildMap(s).layout.tagdataarea);
        return s;
    };
    struct Case {
        const char* label;
        mb::Scene scene;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* label, auto change) {
        mb::Scene s;
        change(s);
        cases.push_back({label, s});
    };
    add("map name of 34 bytes", [](mb::Scene& s) { s.mapname = std::string(34, 'a'); });
    add("tag name with a zero byte", [](mb::Scene& s) { s.tagnames = {std::string("a\0b", 3)}; });
    add("scenario and BSP in one row", [](mb::Scene& s) { s.bsprow = s.scenariorow; });
    add("scenario row past the rows", [](mb::Scene& s) { s.scenariorow = 2; });
    add("filler of 6 bytes", [](mb::Scene& s) { s.filler = 6; });
    add("zero indexmagic", [](mb::Scene& s) { s.indexmagic = 0; });
    add("metamagic equal to bspmagic", [](mb::Scene& s) { s.metamagic = s.bspmagic; });
    add("address past 2^32", [](mb::Scene& s) { s.bspmagic = 0xFFFFFF00; });
    cases.push_back({"first tag address spells scnr", scenario_spelled()});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_THROW(mb::buildMap(c.scene), std::invalid_argument);
    }
}

TEST(MapBuilder, PokeChecksTheBytesThatRemain) {
    std::vector<std::uint8_t> bytes(8, 0);
    mb::pokeu32(bytes, 4, 0x11223344);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_THROW(mb::pokeu32(bytes, 5, 1), std::out_of_range);
    EXPECT_THROW(mb::pokeu32(bytes, -1, 1), std::out_of_range);
}

}  // namespace
