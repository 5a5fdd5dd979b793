// The glb of whole extractions of builder maps, read back by an independent
// glTF parser and compared with the builder's own scene: what the map stores
// must come out of the extraction unchanged, bit for bit.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "recordinghost.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;
using fixtures::MemoryFiles;
using fixtures::RecordingHost;

using Bits = std::array<std::uint32_t, 3>;

// A stored normal single or +0 reads as itself. The builder's scenes store no
// other value; the test refuses one that does rather than guess its decoding.
std::uint32_t storedBits(float value) {
    EXPECT_TRUE(std::isnormal(value) || std::bit_cast<std::uint32_t>(value) == 0)
        << value << " is a value this test has no expectation for";
    return std::bit_cast<std::uint32_t>(value);
}

// One written mesh as the builder made it: its node, and its mesh when it has
// a vertex and a kept triangle.
struct ExpectedNode {
    std::string name;
    std::vector<Bits> positions;
    std::vector<std::uint32_t> indices;  // the kept triangles, corner by corner
    bool wide = false;                   // a kept triangle uses the index 65535
};

std::vector<ExpectedNode> expectedNodes(const mb::Scene& scene, UpAxis up) {
    std::vector<ExpectedNode> nodes;
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        const mb::Mesh& mesh = scene.meshes[m];
        ExpectedNode& node = nodes.emplace_back();
        node.name = "mesh" + std::to_string(m);
        for (const mb::Vertex& v : mesh.vertices) {
            // Z up turns (x, y, z) into (x, z, -y), a zero staying positive.
            node.positions.push_back(
                up == UpAxis::z ? Bits{storedBits(v.x), storedBits(v.z), storedBits(0.0f - v.y)}
                                : Bits{storedBits(v.x), storedBits(v.y), storedBits(v.z)});
        }
        const std::size_t count = mesh.vertices.size();
        for (const mb::Triangle& t : mesh.triangles) {
            if (t.a == t.b || t.a == t.c || t.b == t.c) continue;
            if (t.a >= count || t.b >= count || t.c >= count) continue;
            node.indices.insert(node.indices.end(), {t.a, t.b, t.c});
            node.wide |= t.a == 65535 || t.b == 65535 || t.c == 65535;
        }
    }
    return nodes;
}

// Equal sequences, or a failure naming the first place they differ (the
// meshes are too large to print whole).
template <typename T>
void expectSame(const std::vector<T>& read, const std::vector<T>& expected, const char* what) {
    ASSERT_EQ(read.size(), expected.size()) << what;
    const auto [at, want] = std::mismatch(read.begin(), read.end(), expected.begin());
    if (at == read.end()) return;
    ADD_FAILURE() << what << " " << (at - read.begin()) << " is " << testing::PrintToString(*at)
                  << ", built as " << testing::PrintToString(*want);
}

std::uint32_t loadu32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The bytes of an accessor's elements, checked to lie inside its buffer view.
const unsigned char* accessorData(const tinygltf::Model& model, const tinygltf::Accessor& accessor,
                                  std::size_t element) {
    const tinygltf::BufferView& view =
        model.bufferViews.at(static_cast<std::size_t>(accessor.bufferView));
    const tinygltf::Buffer& buffer = model.buffers.at(static_cast<std::size_t>(view.buffer));
    EXPECT_LE(accessor.byteOffset + accessor.count * element, view.byteLength);
    EXPECT_LE(view.byteOffset + view.byteLength, buffer.data.size());
    return buffer.data.data() + view.byteOffset + accessor.byteOffset;
}

void expectNode(const tinygltf::Model& model, const tinygltf::Node& node,
                const ExpectedNode& expected) {
    EXPECT_EQ(node.name, expected.name);
    if (expected.positions.empty() || expected.indices.empty()) {
        EXPECT_EQ(node.mesh, -1);
        return;
    }
    ASSERT_GE(node.mesh, 0);
    const tinygltf::Mesh& mesh = model.meshes.at(static_cast<std::size_t>(node.mesh));
    EXPECT_EQ(mesh.name, expected.name);
    ASSERT_EQ(mesh.primitives.size(), 1u);
    const tinygltf::Primitive& primitive = mesh.primitives[0];
    EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
    ASSERT_EQ(primitive.attributes.count("POSITION"), 1u);

    const tinygltf::Accessor& positions =
        model.accessors.at(static_cast<std::size_t>(primitive.attributes.at("POSITION")));
    ASSERT_EQ(positions.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    ASSERT_EQ(positions.type, TINYGLTF_TYPE_VEC3);
    ASSERT_EQ(positions.count, expected.positions.size());
    const unsigned char* data = accessorData(model, positions, 12);
    std::vector<Bits> read(positions.count);
    for (std::size_t i = 0; i < positions.count; ++i) {
        for (std::size_t axis = 0; axis < 3; ++axis)
            read[i][axis] = loadu32le(data + 12 * i + 4 * axis);
    }
    expectSame(read, expected.positions, "position");
    std::vector<double> min(3, INFINITY), max(3, -INFINITY);
    for (const Bits& position : expected.positions) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double value = std::bit_cast<float>(position[axis]);
            min[axis] = std::min(min[axis], value);
            max[axis] = std::max(max[axis], value);
        }
    }
    EXPECT_EQ(positions.minValues, min);
    EXPECT_EQ(positions.maxValues, max);

    ASSERT_GE(primitive.indices, 0);
    const tinygltf::Accessor& indices =
        model.accessors.at(static_cast<std::size_t>(primitive.indices));
    ASSERT_EQ(indices.componentType, expected.wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT
                                                   : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    ASSERT_EQ(indices.count, expected.indices.size());
    const std::size_t size = expected.wide ? 4 : 2;
    const unsigned char* index_data = accessorData(model, indices, size);
    std::vector<std::uint32_t> read_indices(indices.count);
    for (std::size_t i = 0; i < indices.count; ++i) {
        const unsigned char* p = index_data + size * i;
        read_indices[i] =
            expected.wide ? loadu32le(p) : static_cast<std::uint32_t>(p[0] | p[1] << 8);
    }
    expectSame(read_indices, expected.indices, "index");
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
    const std::string& glb = files.files[run.result.levelFiles[1]];
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromMemory(&run.model, &error, &warning,
                                            reinterpret_cast<const unsigned char*>(glb.data()),
                                            static_cast<unsigned int>(glb.size())))
        << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(warning, "");
    return run;
}

void expectScene(const GlbRun& run, const mb::Scene& scene, UpAxis up, const std::string& name) {
    const tinygltf::Model& model = run.model;
    ASSERT_EQ(model.scenes.size(), 1u);
    EXPECT_EQ(model.defaultScene, 0);
    EXPECT_EQ(model.scenes[0].name, name);
    const std::vector<ExpectedNode> expected = expectedNodes(scene, up);
    ASSERT_EQ(model.nodes.size(), expected.size());
    std::vector<int> order(expected.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    EXPECT_EQ(model.scenes[0].nodes, order);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        expectNode(model, model.nodes[i], expected[i]);
    }
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
        expectScene(run, scene, c.up, scene.mapname);
    }
}

TEST(ExtractGlb, SceneIsNamedAfterTheMapInUtf8) {
    struct Case {
        std::string stored;  // Windows-1252
        std::string utf8;
    };
    const Case cases[] = {
        {"\x01tab\t\x1f\x7f end", "\x01tab\t\x1f\x7f end"},
        {"\x80\x81\x8d\x8f\x90\x9d\x9f\x8a\x99\x85",
         "\u20ac\u0081\u008d\u008f\u0090\u009d\u0178\u0160\u2122\u2026"},
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
        expectScene(run, scene, UpAxis::y, c.utf8);
    }
}

}  // namespace
}  // namespace v2bsp
