#include <bit>
#include <cstring>
#include <limits>

#include "corpus.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "meshfixtures.hpp"

namespace v2bsp::fuzz {
namespace {

namespace mb = mapbuilder;

// Values whose text takes every form of the number writer.
mb::Mesh oddValues() {
    mb::Mesh mesh;
    const float values[] = {
        0.0f,     -0.0f, 1e-30f, -3.4e38f, 0.1f, 123456.789f, 1e15f, 1e-5f, std::numeric_limits<float>::denorm_min(),
        65504.0f, -1.0f, 7.0f};
    for (std::size_t i = 0; i + 3 <= std::size(values); i += 3) {
        mesh.vertices.push_back({values[i], values[i + 1], values[i + 2]});
    }
    mesh.triangles = {{0, 1, 2}, {1, 2, 3}, {3, 2, 1}, {65535, 0, 1}};
    return mesh;
}

std::vector<Seed> validMaps() {
    std::vector<Seed> seeds;
    const auto add = [&seeds](std::string name, const mb::Scene& scene) {
        seeds.push_back({std::move(name), mb::buildMap(scene).bytes});
    };

    mb::Scene scene;
    scene.mapname = "empty bsp";
    add("valid-no-meshes", scene);

    scene.mapname = "one";
    scene.meshes = {fixtures::stripMesh(1, 1.0f)};
    scene.classcount = 0;
    add("valid-one-mesh", scene);

    add("valid-three-meshes", fixtures::threeMeshScene("fuzz room"));

    scene = fixtures::threeMeshScene("fuzz room");
    scene.filler = 12;
    scene.scenariorow = 0;
    scene.bsprow = 3;
    scene.tagnames.push_back("caf\xE9\x80 \x81");
    scene.uppercasescenario = true;
    add("valid-filler-and-rows", scene);

    scene = mb::Scene{};
    scene.mapname = std::string(33, 'N');
    scene.mapname[5] = '\xE9';
    scene.mapname[10] = '/';
    for (int i = 0; i < 40; ++i) scene.tagnames.push_back("tag" + std::to_string(i));
    scene.meshes = {mb::Mesh{}, oddValues(), fixtures::stripMesh(2, 3.0f)};
    scene.classcount = 60;
    add("valid-many-tags", scene);

    // The awkward meshes without the one of 65536 vertices, which would make
    // the seed too large to mutate quickly.
    scene = mb::edgeScene();
    scene.meshes.pop_back();
    add("valid-edge-meshes", scene);

    scene = mb::Scene{};
    scene.mapname = ". .";
    scene.meshes = {oddValues()};
    scene.indexmagic = 1;
    scene.metamagic = 2;
    scene.bspmagic = 3;
    add("valid-small-magics", scene);
    return seeds;
}

}  // namespace

std::vector<Seed> extractseeds() {
    std::vector<Seed> seeds = validMaps();
    for (const mb::CorruptionCase& corruption : mb::corruptions()) {
        mb::BuiltMap map = mb::buildMap(fixtures::threeMeshScene("fuzz room"));
        corruption.apply(map);
        seeds.push_back({"corrupt-" + std::string(corruption.name), std::move(map.bytes)});
    }
    return seeds;
}

std::vector<Seed> readerseeds() {
    std::vector<Seed> seeds;
    const auto text = [&seeds](std::string name, std::string_view content) {
        seeds.push_back({std::move(name), std::vector<std::uint8_t>(content.begin(), content.end())});
    };
    text("hex-digits", "0123456789ABCDEFabcdef");
    text("hex-long", std::string(300, 'F'));
    text("hex-bad", "12G4&H10");
    text("markers", "crsrcrsrcrsrxxxxxxxxcrsrcrsrcrsrcrsryyyyyyyyyyyycrsr--crsr");
    text("names", "../../x \x01\x7F:*?\"<>|\\ . \x80\x81\x8D\x9F\xFF");

    std::vector<std::uint8_t> floats;
    const auto word = [&floats](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) floats.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    for (const std::uint32_t bits : {0x00000000u, 0x80000000u, 0x00000001u, 0x007FFFFFu, 0x7F800000u, 0xFF800000u,
                                     0x7FC00000u, 0x3F800000u, 0x3DCCCCCDu, 0x72737263u, 0x4B189680u, 0x5368D4A5u}) {
        word(bits);
    }
    for (const double value : {0.5, -1e-300, 1e15, 999999999999999.5, 5e-324}) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        word(static_cast<std::uint32_t>(bits));
        word(static_cast<std::uint32_t>(bits >> 32));
    }
    seeds.push_back({"floats", floats});

    const std::vector<std::uint8_t> map = mb::buildMap(fixtures::threeMeshScene("fuzz room")).bytes;
    seeds.push_back({"map-header", std::vector<std::uint8_t>(map.begin(), map.begin() + 1024)});
    seeds.push_back({"map-tail", std::vector<std::uint8_t>(map.end() - 600, map.end())});
    return seeds;
}

std::vector<Seed> nameseeds() {
    std::vector<Seed> seeds;
    const auto add = [&seeds](std::string name, std::string_view mapname, std::string_view filename) {
        std::vector<std::uint8_t> bytes(mapname.begin(), mapname.end());
        bytes.push_back(0);
        bytes.insert(bytes.end(), filename.begin(), filename.end());
        seeds.push_back({std::move(name), std::move(bytes)});
    };
    add("device", "CON", "x.map");
    add("device-blanks-before-dot", "NUL  .x", "x.map");
    add("device-from-file", "", "con .level.map");
    add("device-console", "CONIN$", "CONOUT$.obj.map");
    add("device-superscript", "COM\xB9", "lpt\u00B3.map");
    add("device-not-quite", "LPT10.x", "COM0.map");
    add("case-latin", "\xC9t\xE9\x8A\x9F", "\u0141\u00F3d\u017A.map");
    add("case-greek-cyrillic", "", "\u03A3\u03C3\u03C2 \u0414\u0434 \u01C5 \u00DF.map");
    add("blanks-and-dots", " . .", "...");
    add("reserved", "a/b\\c:d*e?f\"g<h>i|j\t\x81", "\x7F.map");
    add("not-utf8", "", "\xED\xA0\x80\xC0\xAF\xF5\xE9.map");
    return seeds;
}

}  // namespace v2bsp::fuzz
