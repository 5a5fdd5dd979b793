#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "mapbuilder/mapbuilder.hpp"

namespace mb = v2bsp::mapbuilder;

namespace {

struct Totals {
    std::uint64_t vertices = 0;
    std::uint64_t triangles = 0;
};

// Sums the scene and checks that every triangle names three different vertices of its mesh.
Totals checkTriangles(const mb::Scene& scene) {
    Totals totals;
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        const auto& mesh = scene.meshes[m];
        totals.vertices += mesh.vertices.size();
        totals.triangles += mesh.triangles.size();
        for (const auto& t : mesh.triangles) {
            const auto count = mesh.vertices.size();
            if (t.a >= count || t.b >= count || t.c >= count || t.a == t.b || t.b == t.c || t.a == t.c) {
                ADD_FAILURE() << "mesh " << m << " has triangle " << t.a << " " << t.b << " " << t.c;
                return totals;
            }
        }
    }
    return totals;
}

TEST(MapBuilderScenes, SampleRoomIsAboutTenMeshesOfThousandsOfTriangles) {
    const auto scene = mb::samplescene();
    EXPECT_EQ(scene.mapname, "sample room");
    EXPECT_GE(scene.meshes.size(), 8u);
    EXPECT_LE(scene.meshes.size(), 12u);
    const auto totals = checkTriangles(scene);
    EXPECT_GE(totals.triangles, 2000u);
    EXPECT_LE(totals.triangles, 20000u);
    float lowest = 1e9f, highest = -1e9f;
    for (const auto& mesh : scene.meshes) {
        for (const auto& v : mesh.vertices) {
            lowest = std::min(lowest, v.y);
            highest = std::max(highest, v.y);
        }
    }
    EXPECT_EQ(lowest, 0.0f);
    EXPECT_EQ(highest, 4.0f);
}

TEST(MapBuilderScenes, LargeSceneSharesTheTotals) {
    struct Case {
        std::uint32_t meshes;
        std::uint64_t vertices, triangles;
    };
    const Case cases[] = {{3, 10, 7}, {4, 4001, 3999}, {1, 3, 5}, {2, 0, 0}, {5, 20, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.meshes) + " meshes, " + std::to_string(c.vertices) + " vertices, " +
                     std::to_string(c.triangles) + " triangles");
        const auto scene = mb::largeScene(c.meshes, c.vertices, c.triangles);
        ASSERT_EQ(scene.meshes.size(), c.meshes);
        const auto totals = checkTriangles(scene);
        EXPECT_EQ(totals.vertices, c.vertices);
        EXPECT_EQ(totals.triangles, c.triangles);
        for (const auto& mesh : scene.meshes) {
            for (std::size_t i = 1; i < mesh.vertices.size(); ++i) {
                const auto& p = mesh.vertices[i - 1];
                const auto& v = mesh.vertices[i];
                EXPECT_FALSE(p.x == v.x && p.z == v.z) << "vertex " << i << " repeats";
                EXPECT_NE(v.x, 0.0f);
            }
        }
    }
    EXPECT_THROW(mb::largeScene(1, 65537, 1), std::invalid_argument);
    EXPECT_THROW(mb::largeScene(1, 2, 1), std::invalid_argument);
    EXPECT_THROW(mb::largeScene(0, 1, 0), std::invalid_argument);
}

TEST(MapBuilderScenes, ScatteredSceneSpreadsItsVerticesAndTriangles) {
    const auto scene = mb::scatteredScene(2, 4000, 6000, 7);
    ASSERT_EQ(scene.meshes.size(), 2u);
    const auto totals = checkTriangles(scene);
    EXPECT_EQ(totals.vertices, 4000u);
    EXPECT_EQ(totals.triangles, 6000u);
    float lowest = 0, highest = 0;
    std::uint16_t highest_index = 0;
    for (const auto& mesh : scene.meshes) {
        for (const auto& v : mesh.vertices) {
            for (const float value : {v.x, v.y, v.z}) {
                lowest = std::min(lowest, value);
                highest = std::max(highest, value);
            }
        }
        for (const auto& t : mesh.triangles) highest_index = std::max({highest_index, t.a, t.b, t.c});
    }
    // Twelve thousand draws reach near both ends of the range, and triangles
    // reach the far end of each mesh of 2,000 vertices.
    EXPECT_GE(lowest, -5000.0f);
    EXPECT_LT(lowest, -4900.0f);
    EXPECT_LE(highest, 5000.0f);
    EXPECT_GT(highest, 4900.0f);
    EXPECT_GT(highest_index, 1900u);
    EXPECT_EQ(mb::buildMap(mb::scatteredScene(2, 4000, 6000, 7)).bytes, mb::buildMap(scene).bytes);
    EXPECT_NE(mb::buildMap(mb::scatteredScene(2, 4000, 6000, 8)).bytes, mb::buildMap(scene).bytes);
}

TEST(MapBuilderScenes, EdgeSceneHoldsEveryAwkwardShape) {
    const auto scene = mb::edgeScene();
    ASSERT_EQ(scene.meshes.size(), 5u);
    struct Shape {
        std::size_t vertices = 0, triangles = 0, kept = 0, missing = 0, degenerate = 0;
        bool kept65535 = false, missing65535 = false;
    };
    std::vector<Shape> shapes;
    for (const auto& mesh : scene.meshes) {
        Shape& shape = shapes.emplace_back();
        shape.vertices = mesh.vertices.size();
        shape.triangles = mesh.triangles.size();
        for (const auto& t : mesh.triangles) {
            const bool uses65535 = t.a == 65535 || t.b == 65535 || t.c == 65535;
            if (t.a >= shape.vertices || t.b >= shape.vertices || t.c >= shape.vertices) {
                ++shape.missing;
                shape.missing65535 |= uses65535;
            } else if (t.a == t.b || t.b == t.c || t.a == t.c) {
                ++shape.degenerate;
            } else {
                ++shape.kept;
                shape.kept65535 |= uses65535;
            }
        }
    }
    EXPECT_GT(shapes[0].kept, 0u);
    EXPECT_EQ(shapes[0].missing, 2u);
    EXPECT_TRUE(shapes[0].missing65535);
    EXPECT_EQ(shapes[0].degenerate, 4u);
    EXPECT_EQ(shapes[1].vertices, 0u);
    EXPECT_GT(shapes[1].triangles, 0u);
    EXPECT_GT(shapes[2].vertices, 0u);
    EXPECT_EQ(shapes[2].triangles, 0u);
    EXPECT_EQ(shapes[3].vertices + shapes[3].triangles, 0u);
    EXPECT_EQ(shapes[4].vertices, 65536u);
    EXPECT_TRUE(shapes[4].kept65535);
    EXPECT_EQ(shapes[4].kept, shapes[4].triangles);
    EXPECT_NO_THROW(mb::buildMap(scene));
}

class Mkmap : public testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("v2bsp-mkmap-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    int run(std::vector<std::string_view> args) {
        out_.str("");
        err_.str("");
        return mb::runMkmap(args, out_, err_);
    }
    std::vector<std::uint8_t> fileBytes(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path folder_;
    std::ostringstream out_, err_;
};

TEST_F(Mkmap, WritesTheMapsOfTheLibrary) {
    const std::string path = (folder_ / "out.map").string();
    auto truncated = mb::buildMap(mb::samplescene());
    mb::corruptionCase(mb::Corruption::Truncated).apply(truncated);
    struct Case {
        std::vector<std::string_view> args;
        std::vector<std::uint8_t> expected;
    };
    mb::Scene renamed = mb::largeScene(2, 8, 4);
    renamed.mapname = "\x01\x80\x9d\\\"";
    mb::Scene edge_renamed = mb::edgeScene();
    edge_renamed.mapname = "x";
    const Case cases[] = {
        {{"sample", path}, mb::buildMap(mb::samplescene()).bytes},
        {{"edge", path}, mb::buildMap(mb::edgeScene()).bytes},
        {{"edge", path, "--name", "x"}, mb::buildMap(edge_renamed).bytes},
        {{"large", path, "--name", renamed.mapname, "--meshes", "2", "--vertices", "8", "--triangles", "4"},
         mb::buildMap(renamed).bytes},
        {{"corrupt", "truncated", path}, truncated.bytes},
        {{"large", path, "--meshes", "3", "--vertices", "30", "--triangles", "12"},
         mb::buildMap(mb::largeScene(3, 30, 12)).bytes},
        {{"large", path, "--meshes", "3", "--vertices", "30", "--triangles", "12", "--scatter", "7"},
         mb::buildMap(mb::scatteredScene(3, 30, 12, 7)).bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.args[0]));
        EXPECT_EQ(run(c.args), 0) << err_.str();
        EXPECT_EQ(fileBytes(path), c.expected);
        EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    }
}

TEST_F(Mkmap, RejectsBadArguments) {
    const std::string path = (folder_ / "bad.map").string();
    const std::string unwritable = (folder_ / "no such folder" / "x.map").string();
    struct Case {
        std::vector<std::string_view> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "no command"},
        {{"corrupt", "no-such", path}, 2, "unknown corruption \"no-such\""},
        {{"large", path, "--meshes"}, 2, "--meshes needs a value"},
        {{"large", path, "--vertices", "12x"}, 2, "--vertices needs a whole number"},
        {{"large", path, "--colour", "red"}, 2, "unknown option --colour"},
        {{"sample", path, "--scatter", "1"}, 2, "unknown option --scatter"},
        {{"sample"}, 2, "bad arguments for \"sample\""},
        {{"sample", path, "--name"}, 2, "--name needs a value"},
        {{"edge", path, "--meshes", "2"}, 2, "unknown option --meshes"},
        {{"sample", path, "--name", "a name of thirty-four bytes, too long"}, 1, "map name has"},
        {{"large", path, "--meshes", "1", "--vertices", "70000"}, 1, "70000 vertices"},
        {{"sample", unwritable}, 1, "cannot create"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(run(c.args), c.status);
        EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(Mkmap, HelpIsTheUsageOnStandardOutput) {
    for (const std::string_view help : {"--help", "-h"}) {
        EXPECT_EQ(run({help}), 0);
        EXPECT_EQ(out_.str().rfind("usage: v2bsp-mkmap sample OUT.map", 0), 0u) << out_.str();
        EXPECT_EQ(err_.str(), "");
    }
}

TEST_F(Mkmap, ListsEveryCorruption) {
    EXPECT_EQ(run({"list"}), 0);
    const std::string text = out_.str();
    std::size_t lines = 0;
    for (const auto& c : mb::corruptions()) {
        EXPECT_NE(text.find(std::string(c.name) + "\t" + std::string(c.expected) + "\n"), std::string::npos);
        ++lines;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), lines);
}

}  // namespace
