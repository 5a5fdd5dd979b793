// The whole-level glb, read back by an independent glTF parser and compared
// with the geometry each test builds its mesh bytes from.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "writers/writers.hpp"

namespace v2bsp {
namespace {

using Face = std::array<std::uint16_t, 3>;

// One mesh as a test states it: the values its vertex section stores, its
// stored faces, and stray bytes after the last whole group of each section.
struct TestMesh {
    std::int64_t number = 0;
    std::vector<Position> vertices;
    std::vector<Face> faces;
    std::size_t vertexTail = 0;
    std::size_t faceTail = 0;
    MeshSkip skip = MeshSkip::none;
};

void pushu32le(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift & 0xFF));
}

std::vector<std::uint8_t> vertexBytes(const TestMesh& mesh) {
    std::vector<std::uint8_t> bytes;
    for (const Position& vertex : mesh.vertices) {
        for (const float value : vertex) pushu32le(bytes, std::bit_cast<std::uint32_t>(value));
    }
    bytes.insert(bytes.end(), mesh.vertexTail, 0x41);
    return bytes;
}

std::vector<std::uint8_t> faceBytes(const TestMesh& mesh) {
    std::vector<std::uint8_t> bytes;
    for (const Face& face : mesh.faces) {
        for (const std::uint16_t index : face) {
            bytes.push_back(static_cast<std::uint8_t>(index & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(index >> 8));
        }
    }
    bytes.insert(bytes.end(), mesh.faceTail, 0x01);
    return bytes;
}

// A plan over the test's own bytes, with the summaries the writer is given.
struct Level {
    std::vector<std::vector<std::uint8_t>> storage;
    MeshPlan plan;
    std::vector<MeshSummary> summaries;
};

Level makeLevel(const std::vector<TestMesh>& meshes, UpAxis up) {
    Level level;
    level.storage.reserve(2 * meshes.size());
    for (const TestMesh& mesh : meshes) {
        PlannedMesh planned;
        planned.number = mesh.number;
        planned.skip = mesh.skip;
        if (mesh.skip == MeshSkip::none) {
            planned.vertices = level.storage.emplace_back(vertexBytes(mesh));
            planned.faces = level.storage.emplace_back(faceBytes(mesh));
        }
        level.plan.meshes.push_back(planned);
        level.summaries.push_back(summarizeMesh(planned, up));
    }
    level.plan.meshcount = static_cast<std::int64_t>(meshes.size());
    return level;
}

// The whole file; no piece but the first (the header and the JSON) may be
// larger than two megabytes.
std::string drain(ByteSource& source) {
    std::string file;
    std::string chunk;
    bool first = true;
    while (source.next(chunk)) {
        if (!first) {
            EXPECT_LE(chunk.size(), std::size_t{2} << 20);
        }
        EXPECT_FALSE(chunk.empty());
        first = false;
        file += chunk;
    }
    return file;
}

std::string glbOf(const Level& level, const LevelInfo& info) {
    return drain(*levelSource(LevelFormat::glb, level.plan, level.summaries, info));
}

// What a written mesh must read back as, found from the test's own rules.
struct ExpectedNode {
    std::string name;
    std::vector<Position> positions;
    std::vector<std::uint32_t> indices;
    bool wide = false;
    bool hasMesh() const { return !positions.empty() && !indices.empty(); }
};

// A stored normal single or +0 is its own position; the stored -0 decodes
// as -2^-127 (levelmesh.hpp). The tests store no other pattern.
float storedPosition(float stored) {
    if (std::bit_cast<std::uint32_t>(stored) == 0x80000000u) return -std::ldexp(1.0f, -127);
    return stored;
}

std::optional<ExpectedNode> expectedNode(const TestMesh& mesh, UpAxis up) {
    if (mesh.skip != MeshSkip::none) return std::nullopt;
    ExpectedNode node;
    node.name = "mesh" + std::to_string(mesh.number);
    for (const Position& stored : mesh.vertices) {
        const float x = storedPosition(stored[0]);
        const float y = storedPosition(stored[1]);
        const float z = storedPosition(stored[2]);
        node.positions.push_back(up == UpAxis::z ? Position{x, z, 0.0f - y} : Position{x, y, z});
    }
    for (const auto& [a, b, c] : mesh.faces) {
        if (a == b || a == c || b == c) continue;
        const std::size_t count = node.positions.size();
        if (a >= count || b >= count || c >= count) continue;
        node.indices.insert(node.indices.end(), {a, b, c});
        node.wide |= a == 65535 || b == 65535 || c == 65535;
    }
    return node;
}

std::uint32_t loadu32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

const unsigned char* accessorData(const tinygltf::Model& model,
                                  const tinygltf::Accessor& accessor) {
    const tinygltf::BufferView& view =
        model.bufferViews.at(static_cast<std::size_t>(accessor.bufferView));
    const tinygltf::Buffer& buffer = model.buffers.at(static_cast<std::size_t>(view.buffer));
    return buffer.data.data() + view.byteOffset + accessor.byteOffset;
}

std::vector<Position> readPositions(const tinygltf::Model& model,
                                    const tinygltf::Accessor& accessor) {
    const unsigned char* data = accessorData(model, accessor);
    std::vector<Position> positions(accessor.count);
    for (std::size_t i = 0; i < accessor.count; ++i) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            positions[i][axis] = std::bit_cast<float>(loadu32le(data + 12 * i + 4 * axis));
        }
    }
    return positions;
}

std::vector<std::uint32_t> readIndices(const tinygltf::Model& model,
                                       const tinygltf::Accessor& accessor) {
    const unsigned char* data = accessorData(model, accessor);
    std::vector<std::uint32_t> indices(accessor.count);
    for (std::size_t i = 0; i < accessor.count; ++i) {
        indices[i] = accessor.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT
                         ? loadu32le(data + 4 * i)
                         : static_cast<std::uint32_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    return indices;
}

tinygltf::Model loadGlb(const std::string& file) {
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error;
    std::string warning;
    const bool loaded = loader.LoadBinaryFromMemory(
        &model, &error, &warning, reinterpret_cast<const unsigned char*>(file.data()),
        static_cast<unsigned int>(file.size()));
    EXPECT_TRUE(loaded) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(warning, "");
    return model;
}

void expectNode(const tinygltf::Model& model, const tinygltf::Node& node,
                const ExpectedNode& expected) {
    EXPECT_EQ(node.name, expected.name);
    EXPECT_TRUE(node.matrix.empty() && node.translation.empty() && node.rotation.empty() &&
                node.scale.empty());
    EXPECT_TRUE(node.children.empty());
    if (!expected.hasMesh()) {
        EXPECT_EQ(node.mesh, -1);
        return;
    }
    ASSERT_GE(node.mesh, 0);
    ASSERT_LT(static_cast<std::size_t>(node.mesh), model.meshes.size());
    const tinygltf::Mesh& mesh = model.meshes[static_cast<std::size_t>(node.mesh)];
    EXPECT_EQ(mesh.name, expected.name);
    ASSERT_EQ(mesh.primitives.size(), 1u);
    const tinygltf::Primitive& primitive = mesh.primitives[0];
    EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
    EXPECT_EQ(primitive.material, -1);
    ASSERT_EQ(primitive.attributes.size(), 1u);
    ASSERT_EQ(primitive.attributes.count("POSITION"), 1u);

    const tinygltf::Accessor& positions =
        model.accessors.at(static_cast<std::size_t>(primitive.attributes.at("POSITION")));
    EXPECT_EQ(positions.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    EXPECT_EQ(positions.type, TINYGLTF_TYPE_VEC3);
    ASSERT_EQ(positions.count, expected.positions.size());
    EXPECT_EQ(readPositions(model, positions), expected.positions);
    std::vector<double> min(3, std::numeric_limits<double>::infinity());
    std::vector<double> max(3, -std::numeric_limits<double>::infinity());
    for (const Position& position : expected.positions) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            min[axis] = std::min(min[axis], static_cast<double>(position[axis]));
            max[axis] = std::max(max[axis], static_cast<double>(position[axis]));
        }
    }
    EXPECT_EQ(positions.minValues, min);
    EXPECT_EQ(positions.maxValues, max);
    EXPECT_EQ(model.bufferViews.at(static_cast<std::size_t>(positions.bufferView)).target,
              TINYGLTF_TARGET_ARRAY_BUFFER);

    ASSERT_GE(primitive.indices, 0);
    const tinygltf::Accessor& indices =
        model.accessors.at(static_cast<std::size_t>(primitive.indices));
    EXPECT_EQ(indices.componentType, expected.wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT
                                                   : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    EXPECT_EQ(indices.type, TINYGLTF_TYPE_SCALAR);
    EXPECT_EQ(readIndices(model, indices), expected.indices);
    const tinygltf::BufferView& index_view =
        model.bufferViews.at(static_cast<std::size_t>(indices.bufferView));
    EXPECT_EQ(index_view.target, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    EXPECT_NE(index_view.buffer, -1);
}

// A mesh of `count` vertices on a slanted grid, and faces that use the last ones.
TestMesh bigMesh(std::int64_t number, std::size_t vertices, std::size_t faces) {
    TestMesh mesh;
    mesh.number = number;
    for (std::size_t i = 0; i < vertices; ++i) {
        const auto step = static_cast<float>(i);
        mesh.vertices.push_back({step * 0.25f, -step * 0.125f, static_cast<float>(i % 7) - 3.0f});
    }
    const std::size_t top = std::min<std::size_t>(vertices, 65536);
    for (std::size_t i = 0; i < faces; ++i) {
        const auto a = static_cast<std::uint16_t>(top - 1 - i % (top - 2));
        mesh.faces.push_back(
            {a, static_cast<std::uint16_t>(a - 1), static_cast<std::uint16_t>(i % (a - 1))});
    }
    return mesh;
}

struct GlbCase {
    const char* name;  // also the file name when the files are kept
    std::vector<TestMesh> meshes;
    UpAxis up = UpAxis::y;
    std::string mapname = "test level";
};

std::vector<GlbCase> glbCases() {
    const TestMesh square{0, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}, {{0, 1, 2}, {0, 2, 3}}};
    const TestMesh odd{
        1,
        {{0.1f, -1e-30f, 3.4e38f}, {-2.5f, -0.0f, 0.3f}, {1.17549435e-38f, -3.4e38f, 1e10f}},
        {{2, 1, 0}}};
    TestMesh numbered = square;
    numbered.number = 7;
    return {
        {"several_meshes", {square, odd, numbered}},
        {"wide_and_narrow_indices",
         {bigMesh(0, 65536, 40), bigMesh(1, 65535, 40), bigMesh(2, 70000, 30)}},
        {"pieces_across_boundaries", {bigMesh(4, 140000, 140000), odd}},
        {"faces_outside_and_degenerate",
         {{3,
           {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
           {{0, 1, 2},
            {0, 1, 3},
            {3, 1, 0},
            {0, 0, 1},
            {1, 2, 2},
            {2, 1, 2},
            {2, 0, 1},
            {65535, 0, 1}}}}},
        {"mesh_without_vertices", {square, {1, {}, {{0, 1, 2}}}, odd}},
        {"mesh_without_faces", {{0, {{1, 2, 3}, {4, 5, 6}}, {}}, odd}},
        {"mesh_with_only_dropped_faces",
         {{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 0, 1}, {0, 1, 3}}}}},
        {"partial_trailing_groups",
         {{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}}, 11, 5}, {1, {{1, 2, 3}}, {}, 1, 1}}},
        {"skipped_meshes",
         {{0, {}, {}, 0, 0, MeshSkip::outside},
          odd,
          {2, {}, {}, 0, 0, MeshSkip::shared},
          numbered}},
        {"empty_plan", {}},
        {"only_skipped_meshes",
         {{0, {}, {}, 0, 0, MeshSkip::outside}, {1, {}, {}, 0, 0, MeshSkip::shared}}},
        {"no_geometry", {{0, {}, {}}, {1, {{1, 2, 3}}, {}}}},
        {"z_up", {square, odd}, UpAxis::z},
        {"control_characters_in_name",
         {square},
         UpAxis::y,
         std::string("a\x01\x1f\"\\\n\t\x7f b\0c", 12) +
             "\u0080\u0081\u0085\u008a\u009f\u00a0\u00ff\u0100\u2028\u2029\ufeff\U0001f600"},
    };
}

void PrintTo(const GlbCase& glb_case, std::ostream* out) { *out << glb_case.name; }

class LevelGlbTest : public ::testing::TestWithParam<GlbCase> {};

TEST_P(LevelGlbTest, ReadsBackAsTheMeshBytes) {
    const GlbCase& glb_case = GetParam();
    const Level level = makeLevel(glb_case.meshes, glb_case.up);
    const std::string file = glbOf(level, {glb_case.mapname, "folder", glb_case.up});
    // With V2BSP_GLB_FOLDER set, each case's file is kept there (to run a
    // glTF validator over them).
    if (const char* folder = std::getenv("V2BSP_GLB_FOLDER")) {
        std::ofstream(std::filesystem::path(folder) / (std::string(glb_case.name) + ".glb"),
                      std::ios::binary)
            << file;
    }

    const tinygltf::Model model = loadGlb(file);
    EXPECT_EQ(model.asset.version, "2.0");
    EXPECT_EQ(model.asset.generator.rfind("v2bsp-extract ", 0), 0u) << model.asset.generator;
    EXPECT_TRUE(model.materials.empty());
    EXPECT_TRUE(model.extensionsUsed.empty());
    EXPECT_TRUE(model.extensionsRequired.empty());
    EXPECT_EQ(model.defaultScene, 0);
    ASSERT_EQ(model.scenes.size(), 1u);
    EXPECT_EQ(model.scenes[0].name, glb_case.mapname);

    std::vector<ExpectedNode> expected;
    for (const TestMesh& mesh : glb_case.meshes) {
        if (auto node = expectedNode(mesh, glb_case.up)) expected.push_back(std::move(*node));
    }
    ASSERT_EQ(model.nodes.size(), expected.size());
    std::vector<int> scene_nodes(expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) scene_nodes[i] = static_cast<int>(i);
    EXPECT_EQ(model.scenes[0].nodes, scene_nodes);
    std::size_t with_mesh = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        expectNode(model, model.nodes[i], expected[i]);
        with_mesh += expected[i].hasMesh();
    }
    EXPECT_EQ(model.meshes.size(), with_mesh);
    EXPECT_EQ(model.accessors.size(), 2 * with_mesh);
    EXPECT_EQ(model.buffers.size(), with_mesh > 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, LevelGlbTest, ::testing::ValuesIn(glbCases()),
                         [](const ::testing::TestParamInfo<GlbCase>& info) {
                             return std::string(info.param.name);
                         });

// The container read by hand: the header's length, 4-byte chunks, blanks
// after the JSON and zeros after the last index.
TEST(LevelGlbContainer, ChunksArePaddedAndTheHeaderStatesTheLength) {
    // One narrow triangle: six index bytes, so two bytes of padding. Names of
    // four lengths give the JSON each of the four remainders.
    const Level level = makeLevel({{5, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}}}}, UpAxis::y);
    for (const std::string mapname : {"m", "mm", "mmm", "mmmm"}) {
        SCOPED_TRACE(mapname);
        const std::string file = glbOf(level, {mapname, "folder", UpAxis::y});
        const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
        ASSERT_GE(file.size(), 20u);
        EXPECT_EQ(file.substr(0, 4), "glTF");
        EXPECT_EQ(loadu32le(bytes + 4), 2u);
        EXPECT_EQ(loadu32le(bytes + 8), file.size());

        const std::uint32_t json_length = loadu32le(bytes + 12);
        EXPECT_EQ(json_length % 4, 0u);
        EXPECT_EQ(file.substr(16, 4), "JSON");
        ASSERT_LE(json_length, file.size() - 20);
        const std::string json = file.substr(20, json_length);
        const std::size_t end = json.rfind('}') + 1;
        EXPECT_LT(json.size() - end, 4u);
        EXPECT_EQ(json.substr(end), std::string(json.size() - end, ' '));
        EXPECT_TRUE(nlohmann::json::accept(json));

        const std::size_t bin_at = 20 + json_length;
        ASSERT_LE(bin_at + 8, file.size());
        const std::uint32_t bin_length = loadu32le(bytes + bin_at);
        EXPECT_EQ(file.substr(bin_at + 4, 4), std::string("BIN\0", 4));
        EXPECT_EQ(bin_length % 4, 0u);
        EXPECT_EQ(bin_at + 8 + bin_length, file.size());
        // Three positions, then indices 0 1 2 as little-endian shorts and two zeros.
        ASSERT_EQ(bin_length, 36u + 8u);
        EXPECT_EQ(file.substr(bin_at + 8 + 36), std::string("\0\0\1\0\2\0\0\0", 8));
        EXPECT_EQ(std::bit_cast<float>(loadu32le(bytes + bin_at + 8 + 20)), 6.0f);
    }
}

TEST(LevelGlbContainer, ALevelWithoutGeometryHasNoBinaryChunk) {
    for (const std::vector<TestMesh>& meshes :
         {std::vector<TestMesh>{}, std::vector<TestMesh>{{0, {{1, 2, 3}}, {}}}}) {
        const Level level = makeLevel(meshes, UpAxis::y);
        const std::string file = glbOf(level, {"empty", "folder", UpAxis::y});
        const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
        ASSERT_GE(file.size(), 20u);
        EXPECT_EQ(loadu32le(bytes + 8), file.size());
        EXPECT_EQ(20 + loadu32le(bytes + 12), file.size());
        const nlohmann::json json = nlohmann::json::parse(file.substr(20));
        for (const char* key : {"meshes", "accessors", "bufferViews", "buffers"})
            EXPECT_FALSE(json.contains(key)) << key;
        EXPECT_EQ(json.contains("nodes"), !meshes.empty());
        EXPECT_EQ(json["scenes"][0].contains("nodes"), !meshes.empty());
    }
}

// The lengths come from the summaries; a mesh that holds more or less than
// its summary says must not make the file's lengths wrong.
TEST(LevelGlbContainer, LengthsFollowTheSummariesWhateverTheMeshHolds) {
    struct Case {
        const char* name;
        std::int64_t vertices;
        std::int64_t triangles;
    };
    const Case cases[] = {{"more than the mesh", 5, 3}, {"less than the mesh", 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Level level =
            makeLevel({{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}, {2, 1, 0}}}}, UpAxis::y);
        level.summaries[0].vertices = c.vertices;
        level.summaries[0].triangles = c.triangles;
        const tinygltf::Model model = loadGlb(glbOf(level, {"lying", "folder", UpAxis::y}));
        ASSERT_EQ(model.accessors.size(), 2u);
        EXPECT_EQ(model.accessors[0].count, static_cast<std::size_t>(c.vertices));
        EXPECT_EQ(model.accessors[1].count, static_cast<std::size_t>(3 * c.triangles));
        const std::vector<Position> positions = readPositions(model, model.accessors[0]);
        EXPECT_EQ(positions[1], (Position{4, 5, 6}));
        if (c.vertices > 3) {
            EXPECT_EQ(positions[4], (Position{0, 0, 0}));
        }
        const std::vector<std::uint32_t> indices = readIndices(model, model.accessors[1]);
        EXPECT_EQ(indices[2], 2u);
    }
}

TEST(LevelGlbContainer, ALevelBeyondWhatTheHeaderCanStateIsRefused) {
    Level level = makeLevel({{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}}}}, UpAxis::y);
    level.summaries[0].triangles = std::int64_t{1} << 29;  // 3 * 4 bytes each: 6 GiB of indices
    level.summaries[0].index65535 = true;
    EXPECT_THROW(levelSource(LevelFormat::glb, level.plan, level.summaries, {"huge", "folder", UpAxis::y}),
                 std::length_error);
    level.summaries[0].triangles = std::int64_t{1} << 20;
    EXPECT_NO_THROW(levelSource(LevelFormat::glb, level.plan, level.summaries, {"large", "folder", UpAxis::y}));
}

}  // namespace
}  // namespace v2bsp
