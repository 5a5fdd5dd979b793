// The whole-level files of an extraction, read back by independent parsers
// and compared with the builder's own mesh data.
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

#include <charconv>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "memoryfiles.hpp"
#include "meshfixtures.hpp"
#include "platform/utf8path.hpp"
#include "recordinghost.hpp"

namespace v2bsp {
namespace {

namespace mb = mapbuilder;
using fixtures::logFor;
using fixtures::MemoryFiles;
using fixtures::RecordingHost;
using fixtures::stripMesh;

// The faces a whole-level file keeps: three different vertices of the mesh.
std::vector<mb::Triangle> keptTriangles(const mb::Mesh& mesh) {
    std::vector<mb::Triangle> kept;
    for (const mb::Triangle& t : mesh.triangles) {
        if (t.a == t.b || t.a == t.c || t.b == t.c) continue;
        const std::size_t count = mesh.vertices.size();
        if (t.a >= count || t.b >= count || t.c >= count) continue;
        kept.push_back(t);
    }
    return kept;
}

// Meshes of every shape the whole-level files must take: plain strips, one
// with faces naming missing vertices and a degenerate face, one without
// vertices, one without faces.
mb::Scene shapesScene() {
    mb::Scene scene;
    scene.mapname = "level one";
    scene.tagnames = {"textures\\wall"};
    scene.meshes = {stripMesh(3, 0.0f), stripMesh(2, 1.5f), {}, stripMesh(1, -2.25f)};
    scene.meshes[1].triangles.push_back({0, 1, 40});  // names no vertex of mesh 1
    scene.meshes[1].triangles.push_back({2, 2, 3});   // degenerate
    scene.meshes[1].triangles.push_back({65535, 0, 1});
    scene.meshes[2].triangles = {{0, 1, 2}};  // a mesh without vertices
    scene.meshes[3].triangles.clear();        // a mesh without faces
    return scene;
}

struct LevelRun {
    RecordingHost host;
    MemoryFiles files;
    ExtractResult result;
};

void extract(LevelRun& run, const mb::Scene& scene, OutputFormats formats, UpAxis up = UpAxis::y) {
    ExtractSettings settings;
    settings.outputParent = "out";
    settings.files = &run.files;
    settings.formats = formats;
    settings.up = up;
    run.result = extractmap(mb::buildMap(scene).bytes, "level.map", run.host, settings);
}

struct ObjMesh {
    std::string name;
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<long, 3>> faces;  // as written: from 1 over the whole file
};

// The OBJ read line by line with an exact number parser.
std::vector<ObjMesh> readObjExactly(const std::string& text) {
    std::vector<ObjMesh> meshes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "o") {
            meshes.push_back({});
            fields >> meshes.back().name;
        } else if (kind == "v" || kind == "f") {
            std::string words[3];
            fields >> words[0] >> words[1] >> words[2];
            if (kind == "v") {
                std::array<float, 3> position{};
                // The C locale's strtof: the WebAssembly build's library has no from_chars of floats.
                for (int i = 0; i < 3; ++i) position[i] = std::strtof(words[i].c_str(), nullptr);
                meshes.back().positions.push_back(position);
            } else {
                std::array<long, 3> face{};
                for (int i = 0; i < 3; ++i)
                    std::from_chars(words[i].data(), words[i].data() + words[i].size(), face[i]);
                meshes.back().faces.push_back(face);
            }
        }
    }
    return meshes;
}

TEST(LevelObj, HoldsEveryWrittenMeshAsBuilt) {
    const mb::Scene scene = shapesScene();
    for (const UpAxis up : {UpAxis::y, UpAxis::z}) {
        SCOPED_TRACE(up == UpAxis::z ? "z up" : "y up");
        LevelRun run;
        extract(run, scene, {.meshes = false, .obj = true, .glb = false}, up);
        ASSERT_EQ(run.result.status, ExtractStatus::complete);
        ASSERT_EQ(run.files.files.count("out/level one.obj"), 1u);
        const std::string& text = run.files.files["out/level one.obj"];

        EXPECT_EQ(text.substr(0, text.find('\n')), "# v2bsp-extract 1.00: 4 meshes of level one");
        EXPECT_EQ(text.find('\r'), std::string::npos);
        EXPECT_EQ(text.find(" \n"), std::string::npos);
        EXPECT_EQ(text.back(), '\n');

        const std::vector<ObjMesh> meshes = readObjExactly(text);
        ASSERT_EQ(meshes.size(), scene.meshes.size());
        long base = 0;
        for (std::size_t m = 0; m < meshes.size(); ++m) {
            SCOPED_TRACE(m);
            const mb::Mesh& built = scene.meshes[m];
            EXPECT_EQ(meshes[m].name, "mesh" + std::to_string(m));
            ASSERT_EQ(meshes[m].positions.size(), built.vertices.size());
            for (std::size_t v = 0; v < built.vertices.size(); ++v) {
                const mb::Vertex& b = built.vertices[v];
                const std::array<float, 3> expected =
                    up == UpAxis::z ? std::array<float, 3>{b.x, b.z, 0.0f - b.y} : std::array<float, 3>{b.x, b.y, b.z};
                EXPECT_EQ(meshes[m].positions[v], expected) << "vertex " << v;
            }
            std::vector<std::array<long, 3>> expected_faces;
            for (const mb::Triangle& t : keptTriangles(built))
                expected_faces.push_back({base + t.a + 1, base + t.b + 1, base + t.c + 1});
            EXPECT_EQ(meshes[m].faces, expected_faces);
            base += static_cast<long>(built.vertices.size());
        }

        // An independent OBJ parser takes it too, and sees the same geometry.
        tinyobj::ObjReader reader;
        tinyobj::ObjReaderConfig config;
        config.triangulate = false;
        ASSERT_TRUE(reader.ParseFromString(text, "", config)) << reader.Error();
        EXPECT_EQ(reader.GetAttrib().vertices.size(), 3 * static_cast<std::size_t>(base));
        std::size_t faces = 0;
        for (const tinyobj::shape_t& shape : reader.GetShapes()) faces += shape.mesh.num_face_vertices.size();
        std::size_t expected = 0;
        for (const mb::Mesh& mesh : scene.meshes) expected += keptTriangles(mesh).size();
        EXPECT_EQ(faces, expected);
    }
}

TEST(LevelFiles, LogAndMeshFilesStayThoseOfTheMeshesAlone) {
    const mb::Scene scene = shapesScene();
    LevelRun alone;
    extract(alone, scene, {});
    LevelRun all;
    extract(all, scene, {.meshes = true, .obj = true, .glb = true});

    std::vector<std::string> expected = logFor(4);
    EXPECT_EQ(alone.host.log, expected);
    for (const auto& [mesh, faces] : {std::pair{1, 2}, std::pair{2, 1}}) {
        const auto at = std::find(expected.begin(), expected.end(), "Making Mesh #" + std::to_string(mesh));
        expected.insert(at + 1, "Mesh #" + std::to_string(mesh) + ": " + std::to_string(faces) +
                                    " faces name vertices the mesh does not have; left out of the whole-level files");
    }
    EXPECT_EQ(all.host.log, expected);
    for (int m = 0; m < 4; ++m) {
        const std::string mesh = "out/level one/mesh" + std::to_string(m) + ".obj";
        EXPECT_EQ(all.files.files.at(mesh), alone.files.files.at(mesh)) << mesh;
    }
    EXPECT_EQ(all.files.files.size(), 6u);
    EXPECT_EQ(all.result.levelFiles, (std::vector<std::filesystem::path>{"out/level one.obj", "out/level one.glb"}));
}

TEST(LevelFiles, OnlyTheMeshFilesMakeTheFolder) {
    LevelRun run;
    extract(run, shapesScene(), {.meshes = false, .obj = true, .glb = true});
    EXPECT_TRUE(run.files.folders.empty());
    EXPECT_EQ(run.result.outputfolder, std::filesystem::path());
    EXPECT_EQ(run.files.files.size(), 2u);
    EXPECT_EQ(run.result.status, ExtractStatus::complete);
}

TEST(LevelFiles, SkippedMeshesAreLeftOut) {
    mb::BuiltMap built = mb::buildMap(shapesScene());
    mb::corruptionCase(mb::Corruption::RawRangePastEnd).apply(built);
    RecordingHost host;
    MemoryFiles files;
    ExtractSettings settings;
    settings.outputParent = "out";
    settings.files = &files;
    settings.formats = {.meshes = false, .obj = true, .glb = false};
    const ExtractResult result = extractmap(built.bytes, "level.map", host, settings);
    EXPECT_EQ(result.status, ExtractStatus::incomplete);
    ASSERT_EQ(result.meshesSkipped, 1);
    const std::vector<ObjMesh> meshes = readObjExactly(files.files.at("out/level one.obj"));
    ASSERT_EQ(meshes.size(), 3u);
    const std::string& text = files.files.at("out/level one.obj");
    EXPECT_EQ(text.substr(0, text.find('\n')), "# v2bsp-extract 1.00: 3 meshes of level one");
    EXPECT_EQ(meshes.back().name, "mesh2");
}

TEST(LevelFiles, AFileThatCannotBeWrittenIsReported) {
    for (const std::string name : {"level one.obj", "level one.glb"}) {
        SCOPED_TRACE(name);
        LevelRun run;
        run.files.refused.insert("out/" + name);
        extract(run, shapesScene(), {.meshes = true, .obj = true, .glb = true});
        EXPECT_EQ(run.result.status, ExtractStatus::incomplete);
        EXPECT_EQ(run.result.writeFailures, 1);
        EXPECT_EQ(run.result.levelFiles.size(), 1u);
        const std::string line = "Could not write " + shownPath("out/" + name) + ": " +
                                 std::make_error_code(std::errc::no_space_on_device).message();
        // After the last mesh, before the closing lines.
        const auto& log = run.host.log;
        const auto at = std::find(log.begin(), log.end(), line);
        ASSERT_NE(at, log.end());
        EXPECT_LT(std::find(log.begin(), log.end(), "Making Mesh #3"), at);
        EXPECT_GT(std::find(log.begin(), log.end(), "Locating Collections..."), at);
    }
}

TEST(LevelFiles, AMapThatIsNotAMapMakesNone) {
    LevelRun run;
    ExtractSettings settings;
    settings.files = &run.files;
    settings.formats = {.meshes = true, .obj = true, .glb = true};
    const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'm', 'a', 'p'};
    EXPECT_EQ(extractmap(text, "text.map", run.host, settings).status, ExtractStatus::failed);
    EXPECT_TRUE(run.files.files.empty());
    EXPECT_TRUE(run.files.folders.empty());
}

}  // namespace
}  // namespace v2bsp
