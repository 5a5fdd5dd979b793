// The whole-level glb, read back by an independent glTF parser and compared
// with the geometry each test builds its mesh bytes from.
#define TINYGLTF_IMPLEMENTATION
#include "glbreadback.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mapimage/portable.hpp"
#include "writers/writers.hpp"

namespace v2bsp {
namespace {

using fixtures::GlbNode;
using fixtures::loadGlb;
using fixtures::loadu32le;
using fixtures::readIndices;
using fixtures::readPositions;
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
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift & 0xFF));
}

std::vector<std::uint8_t> vertexBytes(const TestMesh& mesh) {
    std::vector<std::uint8_t> bytes;
    for (const Position& vertex : mesh.vertices) {
        for (const float value : vertex) pushu32le(bytes, v2bsp::bitCast<std::uint32_t>(value));
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

// A stored normal single or +0 is its own position; the stored -0 decodes
// as -2^-127 (levelmesh.hpp). The tests store no other pattern.
float storedPosition(float stored) {
    if (v2bsp::bitCast<std::uint32_t>(stored) == 0x80000000u) return -std::ldexp(1.0f, -127);
    return stored;
}

std::optional<GlbNode> expectedNode(const TestMesh& mesh, UpAxis up) {
    if (mesh.skip != MeshSkip::none) return std::nullopt;
    GlbNode node;
    node.name = "mesh" + std::to_string(mesh.number);
    for (const Position& stored : mesh.vertices) {
        const float x = storedPosition(stored[0]);
        const float y = storedPosition(stored[1]);
        const float z = storedPosition(stored[2]);
        node.positions.push_back(up == UpAxis::z ? Position{x, z, 0.0f - y} : Position{x, y, z});
    }
    for (const auto& [a, b, c] : mesh.faces) fixtures::addFace(node, a, b, c);
    return node;
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
        mesh.faces.push_back({a, static_cast<std::uint16_t>(a - 1), static_cast<std::uint16_t>(i % (a - 1))});
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
        1, {{0.1f, -1e-30f, 3.4e38f}, {-2.5f, -0.0f, 0.3f}, {1.17549435e-38f, -3.4e38f, 1e10f}}, {{2, 1, 0}}};
    TestMesh numbered = square;
    numbered.number = 7;
    return {
        {"several_meshes", {square, odd, numbered}},
        {"wide_and_narrow_indices", {bigMesh(0, 65536, 40), bigMesh(1, 65535, 40), bigMesh(2, 70000, 30)}},
        {"index_65535_only_third", {[] {
             TestMesh mesh = bigMesh(0, 65536, 0);
             mesh.faces = {{0, 1, 2}, {3, 4, 65535}};
             return mesh;
         }()}},
        {"pieces_across_boundaries", {bigMesh(4, 140000, 140000), odd}},
        {"faces_outside_and_degenerate",
         {{3,
           {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
           {{0, 1, 2}, {0, 1, 3}, {3, 1, 0}, {0, 0, 1}, {1, 2, 2}, {2, 1, 2}, {2, 0, 1}, {65535, 0, 1}}}}},
        {"mesh_without_vertices", {square, {1, {}, {{0, 1, 2}}}, odd}},
        {"mesh_without_faces", {{0, {{1, 2, 3}, {4, 5, 6}}, {}}, odd}},
        {"mesh_with_only_dropped_faces", {{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 0, 1}, {0, 1, 3}}}}},
        {"partial_trailing_groups",
         {{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}}, 11, 5}, {1, {{1, 2, 3}}, {}, 1, 1}}},
        {"skipped_meshes", {{0, {}, {}, 0, 0, MeshSkip::outside}, odd, {2, {}, {}, 0, 0, MeshSkip::shared}, numbered}},
        {"empty_plan", {}},
        {"only_skipped_meshes", {{0, {}, {}, 0, 0, MeshSkip::outside}, {1, {}, {}, 0, 0, MeshSkip::shared}}},
        {"no_geometry", {{0, {}, {}}, {1, {{1, 2, 3}}, {}}}},
        {"z_up", {square, odd}, UpAxis::z},
        {"control_characters_in_name",
         {square},
         UpAxis::y,
         std::string("a\x01\x1f\"\\\n\t\x7f b\0c", 12) +
             "\u0080\u0081\u0085\u008a\u009f\u00a0\u00ff\u0100\u2028\u2029\ufeff\U0001f600"},
    };
}

void PrintTo(const GlbCase& glb_case, std::ostream* out) {
    *out << glb_case.name;
}

class LevelGlbTest : public ::testing::TestWithParam<GlbCase> {};

TEST_P(LevelGlbTest, ReadsBackAsTheMeshBytes) {
    const GlbCase& glb_case = GetParam();
    const Level level = makeLevel(glb_case.meshes, glb_case.up);
    const std::string file = glbOf(level, {glb_case.mapname, "folder", glb_case.up});
    // With V2BSP_GLB_FOLDER set, each case's file is kept there (to run a
    // glTF validator over them).
    if (const char* folder = std::getenv("V2BSP_GLB_FOLDER")) {
        std::ofstream(std::filesystem::path(folder) / (std::string(glb_case.name) + ".glb"), std::ios::binary) << file;
    }

    std::vector<GlbNode> expected;
    for (const TestMesh& mesh : glb_case.meshes) {
        if (auto node = expectedNode(mesh, glb_case.up)) expected.push_back(std::move(*node));
    }
    fixtures::expectGlbLevel(loadGlb(file), expected, glb_case.mapname);
}

INSTANTIATE_TEST_SUITE_P(Levels, LevelGlbTest, ::testing::ValuesIn(glbCases()),
                         [](const ::testing::TestParamInfo<GlbCase>& info) { return std::string(info.param.name); });

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
        EXPECT_EQ(v2bsp::bitCast<float>(loadu32le(bytes + bin_at + 8 + 20)), 6.0f);
    }
}

TEST(LevelGlbContainer, ALevelWithoutGeometryHasNoBinaryChunk) {
    for (const std::vector<TestMesh>& meshes : {std::vector<TestMesh>{}, std::vector<TestMesh>{{0, {{1, 2, 3}}, {}}}}) {
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
        Level level = makeLevel({{0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}, {2, 1, 0}}}}, UpAxis::y);
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
