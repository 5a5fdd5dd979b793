// The glb of whole extractions of builder maps, read back by an independent
// glTF parser and compared with the builder's own scene: what the map stores
// must come out of the extraction unchanged, bit for bit.
#define TINYGLTF_IMPLEMENTATION
#include "glbreadback.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapimage/portable.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "recordinghost.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;
using fixtures::GlbNode;
using fixtures::MemoryFiles;
using fixtures::RecordingHost;

// A stored normal single or +0 reads as itself. The builder's scenes store no
// other value; the test refuses one that does rather than guess its decoding.
float stored(float value) {
    EXPECT_TRUE(std::isnormal(value) || v2bsp::bitCast<std::uint32_t>(value) == 0)
        << value << " is a value this test has no expectation for";
    return value;
}

// Each mesh of the scene as the glb must hold it.
std::vector<GlbNode> expectedNodes(const mb::Scene& scene, UpAxis up) {
    std::vector<GlbNode> nodes;
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        const mb::Mesh& mesh = scene.meshes[m];
        GlbNode& node = nodes.emplace_back();
        node.name = "mesh" + std::to_string(m);
        for (const mb::Vertex& v : mesh.vertices) {
            // Z up turns (x, y, z) into (x, z, -y), a zero staying positive.
            node.positions.push_back(up == UpAxis::z ? std::array{stored(v.x), stored(v.z), stored(0.0f - v.y)}
                                                     : std::array{stored(v.x), stored(v.y), stored(v.z)});
        }
        for (const mb::Triangle& t : mesh.triangles) fixtures::addFace(node, t.a, t.b, t.c);
    }
    return nodes;
}

struct GlbRun {
    ExtractResult result;
    tinygltf::Model model;
};

// Extracts the map of `scene` with the two whole-level formats into memory
// and reads its glb back.
GlbRun extractGlb(const mb::Scene& scene, UpAxis up) {
    RecordingHost host;
    MemoryFiles files;
    ExtractSettings settings;
    settings.outputParent = "out";
    settings.files = &files;
    settings.formats = {.meshes = false, .obj = true, .glb = true};
    settings.up = up;
    GlbRun run;
    run.result = extractmap(mb::buildMap(scene).bytes, "level.map", host, settings);
    EXPECT_EQ(run.result.status, ExtractStatus::complete);
    EXPECT_EQ(files.files.size(), 2u);
    EXPECT_TRUE(files.folders.empty());
    if (run.result.levelFiles.size() != 2 || run.result.levelFiles[1].extension() != ".glb") {
        ADD_FAILURE() << "no glb among the files written";
        return run;
    }
    run.model = fixtures::loadGlb(files.files[run.result.levelFiles[1]]);
    return run;
}

TEST(ExtractGlb, HoldsTheBuiltMeshes) {
    struct Case {
        const char* name;
        std::function<mb::Scene()> scene;
        UpAxis up;
    };
    const Case cases[] = {
        {"the sample room", mb::samplescene, UpAxis::y},
        {"the sample room, Z up", mb::samplescene, UpAxis::z},
        // The index 65535 both kept and naming a missing vertex, degenerate
        // faces, meshes without vertices or faces, and an odd number of faces
        // whose section ends in two bytes of padding.
        {"the edge meshes", mb::edgeScene, UpAxis::y},
        {"the edge meshes, Z up", mb::edgeScene, UpAxis::z},
        {"meshes all empty: no buffer at all", [] { return mb::largeScene(3, 0, 0); }, UpAxis::y},
        {"no mesh: a scene without nodes", [] { return mb::largeScene(0, 0, 0); }, UpAxis::y},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mb::Scene scene = c.scene();
        const GlbRun run = extractGlb(scene, c.up);
        fixtures::expectGlbLevel(run.model, expectedNodes(scene, c.up), scene.mapname);
    }
}

TEST(ExtractGlb, SceneIsNamedAfterTheMapInUtf8) {
    struct Case {
        std::string stored;  // Windows-1252
        std::string utf8;
    };
    const Case cases[] = {
        {"\x01tab\t\x1f\x7f end", "\x01tab\t\x1f\x7f end"},
        {"\x80\x81\x8d\x8f\x90\x9d\x9f\x8a\x99\x85", "\u20ac\u0081\u008d\u008f\u0090\u009d\u0178\u0160\u2122\u2026"},
        {"\"q\" \\ \xe9\xff\xa0\xa9/..", "\"q\" \\ \u00e9\u00ff\u00a0\u00a9/.."},
        {"\x0a\x0d\x08\x0c\x22\x5c", "\n\r\b\f\"\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        mb::Scene scene;
        scene.mapname = c.stored;
        scene.tagnames = {"rocks"};
        scene.meshes = {fixtures::stripMesh(2, 0.5f)};
        const GlbRun run = extractGlb(scene, UpAxis::y);
        fixtures::expectGlbLevel(run.model, expectedNodes(scene, UpAxis::y), c.utf8);
    }
}

}  // namespace
}  // namespace v2bsp
